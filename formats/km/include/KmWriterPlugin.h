#pragma once

#include <KmWriter.h>

#include <common/AbstractWriterPlugin.h>

#include <solvane/Plugin.h>

#include <string>

namespace quenza::km {

/// Writing descriptor of the KorvelMesh plug-in, exported as `g_writerPlugin`.
class KmWriterPlugin : public common::AbstractWriterPlugin<KmWriter> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~KmWriterPlugin() override;

    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};

} // namespace quenza::km

template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::km::KmWriter>::s_name;
template <>
const std::string quenza::common::AbstractWriterPlugin<quenza::km::KmWriter>::s_version;
