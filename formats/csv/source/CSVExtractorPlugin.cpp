#include <CSVExtractorPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::csv::CSVExtractor>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::csv::CSVExtractor>::s_version = "1.2.0";

namespace quenza::csv {

const solvane::FormatList CSVExtractorPlugin::s_supportedFormats{CSVExtractor::FORMAT};
const solvane::ExtensionMap CSVExtractorPlugin::s_extensionMapping{{"csv", CSVExtractor::FORMAT}};

CSVExtractorPlugin::~CSVExtractorPlugin() = default;

} // namespace quenza::csv
