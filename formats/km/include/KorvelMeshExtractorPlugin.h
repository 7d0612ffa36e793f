#pragma once

#include <KmExtractor.h>

#include <common/AbstractExtractorPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::km {

/// Reading descriptor of the KorvelMesh plug-in, exported as `g_extractorPlugin`.
class KorvelMeshExtractorPlugin : public common::AbstractExtractorPlugin<KmExtractor> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~KorvelMeshExtractorPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::km

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::km::KmExtractor>::s_name;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::km::KmExtractor>::s_version;
