#include <common/PluginLogger.h>

const char* const quenza::common::PLUGIN_NAME = "CsvPlugin";
