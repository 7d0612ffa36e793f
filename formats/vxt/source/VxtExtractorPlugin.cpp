#include <VxtExtractorPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::vxt::VxtExtractor>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::vxt::VxtExtractor>::s_version = "3.3.1";

namespace quenza::vxt {

const solvane::FormatList VxtExtractorPlugin::s_supportedFormats{VxtExtractor::FORMAT};
const solvane::ExtensionMap VxtExtractorPlugin::s_extensionMapping{{"vxa", VxtExtractor::FORMAT},
                                                                   {"vxt", VxtExtractor::FORMAT}};

VxtExtractorPlugin::~VxtExtractorPlugin() = default;

} // namespace quenza::vxt
