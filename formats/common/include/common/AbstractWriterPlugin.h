#pragma once

#include <common/PluginLogger.h>

#include <solvane/WriterPlugin.h>

#include <dravik/DataAccess.h>
#include <dravik/LogLevel.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <memory>
#include <string>

namespace quenza::common {

/// Descriptor of a plug-in that writes with the writer class `W`, built as
/// `W(view, path)` or `W(view, accessor, format)`. Each plug-in defines `s_name` and
/// `s_version`; a subclass holds `s_supportedFormats` and `s_extensionMapping` and
/// returns them from `supportedFormats()` and `extensionMap()`.
template <typename W>
class AbstractWriterPlugin : public solvane::WriterPlugin {
public:
    static const std::string s_name;
    static const std::string s_version;

    const std::string& name() const override { return s_name; }
    const std::string& version() const override { return s_version; }
    void initLogger(dravik::LogLevel level) override { PluginLogger::init(level); }
    dravik::LogLevel logLevel() override { return PluginLogger::logLevel(); }

    std::shared_ptr<dravik::Writer> openFile(std::shared_ptr<dravik::View> view, const std::string& path) override
    {
        return std::make_shared<W>(std::move(view), path);
    }
    std::shared_ptr<dravik::Writer> openDataAccess(std::shared_ptr<dravik::View> view,
                                                   std::shared_ptr<dravik::DataAccess> accessor,
                                                   const std::string& format) override
    {
        return std::make_shared<W>(std::move(view), std::move(accessor), format);
    }
};

} // namespace quenza::common
