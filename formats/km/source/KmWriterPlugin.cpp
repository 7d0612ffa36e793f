#include <KmWriterPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::km::KmWriter>::s_name = quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::km::KmWriter>::s_version = "1.3.0";

namespace quenza::km {

const solvane::FormatList KmWriterPlugin::s_supportedFormats{KmWriter::FORMAT};
const solvane::ExtensionMap KmWriterPlugin::s_extensionMapping{{"km", KmWriter::FORMAT}};

KmWriterPlugin::~KmWriterPlugin() = default;

} // namespace quenza::km
