#include <RawWriterPlugin.h>

#include <common/PluginExport.h>

QUENZA_PLUGIN_EXPORT quenza::raw::RawWriterPlugin g_writerPlugin;
