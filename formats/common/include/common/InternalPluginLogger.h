#pragma once

#include <dravik/LogLevel.h>

#include <spdlog/common.h>
#include <spdlog/logger.h>

#include <memory>
#include <mutex>
#include <string>

namespace quenza::common {

/// The one logger of a plug-in library, created by the first successful `init`.
/// Use it through PluginLogger, which passes the plug-in's name.
class InternalPluginLogger {
public:
    /// Creates the logger named `name` with `level`, once per library; later calls do
    /// nothing. Throws dravik::Error "unsupported log level" for a level outside
    /// dravik::LogLevel, and then registers nothing, so a later call can succeed.
    static void init(const std::string& name, dravik::LogLevel level);
    /// The instance, or empty before the first successful `init`.
    static std::shared_ptr<InternalPluginLogger> instance();
    /// The spdlog level standing for `level`; throws dravik::Error "unsupported log level".
    static spdlog::level::level_enum convertLogLevel(dravik::LogLevel level);

    std::shared_ptr<spdlog::logger> logger() const { return m_logger; }
    /// The level as the host gave it.
    dravik::LogLevel logLevel() const { return m_level; }

private:
    InternalPluginLogger(const std::string& name, dravik::LogLevel level);
    static void initialize(const std::string& name, dravik::LogLevel level);

    static std::once_flag s_initFlag;
    static std::shared_ptr<InternalPluginLogger> s_instance;

    std::shared_ptr<spdlog::logger> m_logger;
    dravik::LogLevel m_level;
};

} // namespace quenza::common
