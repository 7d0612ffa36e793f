#include <TarnisExtractorPlugin.h>
#include <TarnisWriterPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::tarnis::TarnisExtractorPlugin g_extractorPlugin;
QUENZA_PLUGIN_EXPORT quenza::tarnis::TarnisWriterPlugin g_writerPlugin;
