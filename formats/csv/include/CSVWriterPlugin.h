#pragma once

#include <CSVWriter.h>

#include <common/AbstractWriterPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::csv {

/// Descriptor of the CSV writer, exported as `g_writerPlugin`.
class CSVWriterPlugin : public common::AbstractWriterPlugin<CSVWriter> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~CSVWriterPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::csv

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::csv::CSVWriter>::s_name;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::csv::CSVWriter>::s_version;
