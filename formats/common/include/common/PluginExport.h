#pragma once

/// Put on the definitions of `g_extractorPlugin` and `g_writerPlugin`: the only symbols
/// a plug-in library built with hidden visibility exports.
#define QUENZA_PLUGIN_EXPORT __attribute__((visibility("default")))
