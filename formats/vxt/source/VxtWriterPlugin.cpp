#include <VxtWriterPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::vxt::VxtWriter>::s_name = quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::vxt::VxtWriter>::s_version = "3.3.1";

namespace quenza::vxt {

const solvane::FormatList VxtWriterPlugin::s_supportedFormats{VxtWriter::FORMAT};
const solvane::ExtensionMap VxtWriterPlugin::s_extensionMapping{{"vxa", VxtWriter::FORMAT},
                                                                {"vxt", VxtWriter::FORMAT}};

VxtWriterPlugin::~VxtWriterPlugin() = default;

} // namespace quenza::vxt
