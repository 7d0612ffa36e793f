#include <VxtExtractorPlugin.h>
#include <VxtWriterPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::vxt::VxtExtractorPlugin g_extractorPlugin;
QUENZA_PLUGIN_EXPORT quenza::vxt::VxtWriterPlugin g_writerPlugin;
