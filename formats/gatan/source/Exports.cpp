#include <GatanExtractorPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::gatan::GatanExtractorPlugin g_extractorPlugin;
