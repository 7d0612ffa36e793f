#pragma once

#include <common/InternalPluginLogger.h>

#include <dravik/LogLevel.h>

#include <spdlog/common.h>
#include <spdlog/logger.h>

#include <memory>

namespace quenza::common {

/// The plug-in's name, which is also its logger's name; each plug-in library defines it.
extern const char* const PLUGIN_NAME;

/// Logging of the plug-in library it is built into.
class PluginLogger {
public:
    /// Creates the library's logger on the first call; later calls change nothing.
    static void init(dravik::LogLevel level) { InternalPluginLogger::init(PLUGIN_NAME, level); }
    /// The level given to the first successful `init`; LOG_OFF before it.
    static dravik::LogLevel logLevel()
    {
        auto instance = InternalPluginLogger::instance();
        return instance ? instance->logLevel() : dravik::LOG_OFF;
    }
    /// The library's logger; empty before the first successful `init`.
    static std::shared_ptr<spdlog::logger> logger()
    {
        auto instance = InternalPluginLogger::instance();
        return instance ? instance->logger() : nullptr;
    }
};

} // namespace quenza::common

// Log through the plug-in's logger with the source location of the call; nothing
// happens before the logger exists. The first argument is an fmt format string.
#define QUENZA_LOG(level, ...)                                                                                  \
    do {                                                                                                        \
        if (auto quenzaLogger_ = ::quenza::common::PluginLogger::logger()) {                                    \
            quenzaLogger_->log(::spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, level, __VA_ARGS__); \
        }                                                                                                       \
    } while (false)

#define QUENZA_LOG_TRACE(...) QUENZA_LOG(::spdlog::level::trace, __VA_ARGS__)
#define QUENZA_LOG_DEBUG(...) QUENZA_LOG(::spdlog::level::debug, __VA_ARGS__)
#define QUENZA_LOG_INFO(...) QUENZA_LOG(::spdlog::level::info, __VA_ARGS__)
#define QUENZA_LOG_WARN(...) QUENZA_LOG(::spdlog::level::warn, __VA_ARGS__)
#define QUENZA_LOG_ERROR(...) QUENZA_LOG(::spdlog::level::err, __VA_ARGS__)
#define QUENZA_LOG_CRITICAL(...) QUENZA_LOG(::spdlog::level::critical, __VA_ARGS__)
