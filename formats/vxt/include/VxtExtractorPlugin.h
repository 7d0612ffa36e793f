#pragma once

#include <VxtExtractor.h>

#include <common/AbstractExtractorPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::vxt {

/// Descriptor of the VXT reader, exported as `g_extractorPlugin`.
class VxtExtractorPlugin : public common::AbstractExtractorPlugin<VxtExtractor> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~VxtExtractorPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::vxt

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::vxt::VxtExtractor>::s_name;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::vxt::VxtExtractor>::s_version;
