#pragma once

#include <solvane/WriterPlugin.h>

#include <dravik/DataAccess.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <memory>
#include <string>

namespace quenza::tarnis {

/// Writer descriptor, exported as `g_writerPlugin`; it checks that a view can be stored
/// before it makes a writer. The library has no logger.
class TarnisWriterPlugin : public solvane::WriterPlugin {
public:
    static const std::string s_name;
    static const std::string s_version;
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMap;

    ~TarnisWriterPlugin() override;

    const std::string& name() const override { return s_name; }
    const std::string& version() const override { return s_version; }
    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMap; }

    /// A writer to `path`, created only once the view is accepted. A null view or an
    /// empty path gives a null writer.
    std::shared_ptr<dravik::Writer> openFile(std::shared_ptr<dravik::View> view, const std::string& path) override;
    /// A writer to a stream access; the format name is not used.
    std::shared_ptr<dravik::Writer> openDataAccess(std::shared_ptr<dravik::View> view,
                                                   std::shared_ptr<dravik::DataAccess> accessor,
                                                   const std::string& format) override;

    /// True when `view` can be stored; otherwise false with the reason in `errorMessage`.
    static bool checkImageView(const std::shared_ptr<dravik::View>& view, std::string& errorMessage);
};

} // namespace quenza::tarnis
