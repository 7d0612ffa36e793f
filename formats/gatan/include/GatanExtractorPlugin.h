#pragma once

#include <GatanExtractor.h>

#include <common/AbstractExtractorPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::gatan {

/// Descriptor of the DM plug-in, exported as `g_extractorPlugin`.
class GatanExtractorPlugin : public common::AbstractExtractorPlugin<GatanExtractor> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~GatanExtractorPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::gatan

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::gatan::GatanExtractor>::s_name;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::gatan::GatanExtractor>::s_version;
