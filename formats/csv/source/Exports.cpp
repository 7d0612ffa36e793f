#include <CSVExtractorPlugin.h>
#include <CSVWriterPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::csv::CSVExtractorPlugin g_extractorPlugin;
QUENZA_PLUGIN_EXPORT quenza::csv::CSVWriterPlugin g_writerPlugin;
