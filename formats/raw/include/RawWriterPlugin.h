#pragma once

#include <RawWriter.h>

#include <common/AbstractWriterPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::raw {

/// Descriptor of the RAW plug-in, exported as `g_writerPlugin`.
class RawWriterPlugin : public common::AbstractWriterPlugin<RawWriter> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~RawWriterPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::raw

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::raw::RawWriter>::s_name;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::raw::RawWriter>::s_version;
