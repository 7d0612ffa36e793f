#pragma once

#include <CSVExtractor.h>

#include <common/AbstractExtractorPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::csv {

/// Descriptor of the CSV reader, exported as `g_extractorPlugin`.
class CSVExtractorPlugin : public common::AbstractExtractorPlugin<CSVExtractor> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~CSVExtractorPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::csv

template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::csv::CSVExtractor>::s_name;
template <>
const std::string quenza::common::AbstractExtractorPlugin<quenza::csv::CSVExtractor>::s_version;
