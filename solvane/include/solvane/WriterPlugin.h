#pragma once

#include <solvane/Plugin.h>

#include <dravik/DataAccess.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <memory>
#include <string>

namespace solvane {

/// A plug-in that writes files; exported as `g_writerPlugin`.
class SOLVANE_API WriterPlugin : public Plugin {
public:
    /// A new writer of `view` to the file at `path`, owned by the caller.
    virtual std::shared_ptr<dravik::Writer> openFile(std::shared_ptr<dravik::View> view, const std::string& path) = 0;
    /// A new writer of `view` to `accessor`, in `format` (one of supportedFormats()).
    virtual std::shared_ptr<dravik::Writer> openDataAccess(std::shared_ptr<dravik::View> view,
                                                           std::shared_ptr<dravik::DataAccess> accessor,
                                                           const std::string& format) = 0;
};

} // namespace solvane
