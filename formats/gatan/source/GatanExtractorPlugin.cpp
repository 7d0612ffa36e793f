#include <GatanExtractorPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::gatan::GatanExtractor>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::gatan::GatanExtractor>::s_version = "1.2.0";

namespace quenza::gatan {

const solvane::FormatList GatanExtractorPlugin::s_supportedFormats{GatanExtractor::FORMAT};
const solvane::ExtensionMap GatanExtractorPlugin::s_extensionMapping{{"dm3", GatanExtractor::FORMAT},
                                                                     {"dm4", GatanExtractor::FORMAT}};

GatanExtractorPlugin::~GatanExtractorPlugin() = default;

} // namespace quenza::gatan
