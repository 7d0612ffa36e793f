#include <KorvelMeshExtractorPlugin.h>

#include <common/PluginLogger.h>

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::km::KmExtractor>::s_name =
    quenza::common::PLUGIN_NAME;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::km::KmExtractor>::s_version = "1.3.0";

namespace quenza::km {

const solvane::FormatList KorvelMeshExtractorPlugin::s_supportedFormats{KmExtractor::FORMAT};
const solvane::ExtensionMap KorvelMeshExtractorPlugin::s_extensionMapping{{"km", KmExtractor::FORMAT}};

KorvelMeshExtractorPlugin::~KorvelMeshExtractorPlugin() = default;

} // namespace quenza::km
