#pragma once

#include <common/PluginLogger.h>

#include <solvane/ExtractorPlugin.h>

#include <dravik/DataAccess.h>
#include <dravik/LogLevel.h>
#include <dravik/View.h>

#include <memory>
#include <string>

namespace quenza::common {

/// Descriptor of a plug-in that reads one format with the extractor class `T`, built
/// as `T(path)` or `T(accessor, format)`. Each plug-in defines `s_name` and
/// `s_version`; a subclass adds `supportedFormats()` and `extensionMap()`.
template <typename T>
class AbstractExtractorPlugin : public solvane::ExtractorPlugin {
public:
    static const std::string s_name;
    static const std::string s_version;

    const std::string& name() const override { return s_name; }
    const std::string& version() const override { return s_version; }
    void initLogger(dravik::LogLevel level) override { PluginLogger::init(level); }
    dravik::LogLevel logLevel() override { return PluginLogger::logLevel(); }

    std::shared_ptr<dravik::View> openFile(const std::string& path) override { return std::make_shared<T>(path); }
    std::shared_ptr<dravik::View> openDataAccess(std::shared_ptr<dravik::DataAccess> accessor,
                                                 const std::string& format) override
    {
        return std::make_shared<T>(std::move(accessor), format);
    }
};

} // namespace quenza::common
