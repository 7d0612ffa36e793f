#include <KmWriterPlugin.h>
#include <KorvelMeshExtractorPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::km::KorvelMeshExtractorPlugin g_extractorPlugin;
QUENZA_PLUGIN_EXPORT quenza::km::KmWriterPlugin g_writerPlugin;
