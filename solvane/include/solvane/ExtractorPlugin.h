#pragma once

#include <solvane/Plugin.h>

#include <dravik/DataAccess.h>
#include <dravik/View.h>

#include <memory>
#include <string>

namespace solvane {

/// A plug-in that reads files; exported as `g_extractorPlugin`.
class SOLVANE_API ExtractorPlugin : public Plugin {
public:
    /// A new reader of the file at `path`, owned by the caller.
    virtual std::shared_ptr<dravik::View> openFile(const std::string& path) = 0;
    /// A new reader of `accessor`, whose bytes are in `format` (one of supportedFormats()).
    virtual std::shared_ptr<dravik::View> openDataAccess(std::shared_ptr<dravik::DataAccess> accessor,
                                                         const std::string& format) = 0;
};

} // namespace solvane
