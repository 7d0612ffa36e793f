#include <RawWriterPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::raw::RawWriter>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::raw::RawWriter>::s_version = "2.2.0";

namespace quenza::raw {

const solvane::FormatList RawWriterPlugin::s_supportedFormats{RawWriter::FORMAT};
const solvane::ExtensionMap RawWriterPlugin::s_extensionMapping{{"raw", RawWriter::FORMAT}};

RawWriterPlugin::~RawWriterPlugin() = default;

} // namespace quenza::raw
