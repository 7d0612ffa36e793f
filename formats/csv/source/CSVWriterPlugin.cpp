#include <CSVWriterPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::csv::CSVWriter>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::csv::CSVWriter>::s_version = "1.2.0";

namespace quenza::csv {

const solvane::FormatList CSVWriterPlugin::s_supportedFormats{CSVWriter::FORMAT};
const solvane::ExtensionMap CSVWriterPlugin::s_extensionMapping{{"csv", CSVWriter::FORMAT}};

CSVWriterPlugin::~CSVWriterPlugin() = default;

} // namespace quenza::csv
