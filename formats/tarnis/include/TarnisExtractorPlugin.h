#pragma once

#include <solvane/ExtractorPlugin.h>

#include <dravik/DataAccess.h>
#include <dravik/View.h>

#include <memory>
#include <string>

namespace quenza::tarnis {

/// Reader descriptor, exported as `g_extractorPlugin`. Files are recognised by their
/// magic number whatever format name is asked for. The library has no logger.
class TarnisExtractorPlugin : public solvane::ExtractorPlugin {
public:
    static const std::string s_name;
    static const std::string s_version;
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;

    ~TarnisExtractorPlugin() override;

    const std::string& name() const override { return s_name; }
    const std::string& version() const override { return s_version; }
    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }

    /// The main image alone when the file has no overlay, else the extractor of both.
    std::shared_ptr<dravik::View> openFile(const std::string& path) override;
    /// The same for a stream access; a null access gives a null view.
    std::shared_ptr<dravik::View> openDataAccess(std::shared_ptr<dravik::DataAccess> accessor,
                                                 const std::string& format) override;
};

} // namespace quenza::tarnis
