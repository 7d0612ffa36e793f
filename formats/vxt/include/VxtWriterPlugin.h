#pragma once

#include <VxtWriter.h>

#include <common/AbstractWriterPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::vxt {

/// Descriptor of the VXT writer, exported as `g_writerPlugin`.
class VxtWriterPlugin : public common::AbstractWriterPlugin<VxtWriter> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~VxtWriterPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::vxt

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::vxt::VxtWriter>::s_name;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::vxt::VxtWriter>::s_version;
