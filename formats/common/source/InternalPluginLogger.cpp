#include <common/InternalPluginLogger.h>

#include <dravik/Error.h>

#include <spdlog/sinks/stdout_color_sinks.h>

#include <atomic>

namespace quenza::common {

std::once_flag InternalPluginLogger::s_initFlag;
std::shared_ptr<InternalPluginLogger> InternalPluginLogger::s_instance;

void InternalPluginLogger::init(const std::string& name, dravik::LogLevel level)
{
    // A rejected level is reported before call_once: unwinding out of call_once
    // leaves the flag usable only where pthread_once happens to support it.
    if (!instance()) {
        convertLogLevel(level);
    }
    std::call_once(s_initFlag, &InternalPluginLogger::initialize, name, level);
}

std::shared_ptr<InternalPluginLogger> InternalPluginLogger::instance()
{
    // Atomic because a log call may run on one thread while another is in init.
    return std::atomic_load(&s_instance);
}

spdlog::level::level_enum InternalPluginLogger::convertLogLevel(dravik::LogLevel level)
{
    switch (level) {
    case dravik::LOG_OFF: return spdlog::level::off;
    case dravik::LOG_CRITICAL: return spdlog::level::critical;
    case dravik::LOG_ERR: return spdlog::level::err;
    case dravik::LOG_WARNING: return spdlog::level::warn;
    case dravik::LOG_INFO: return spdlog::level::info;
    case dravik::LOG_DEBUG: return spdlog::level::debug;
    case dravik::LOG_TRACE: return spdlog::level::trace;
    }
    throw dravik::Error("unsupported log level");
}

void InternalPluginLogger::initialize(const std::string& name, dravik::LogLevel level)
{
    std::atomic_store(&s_instance, std::shared_ptr<InternalPluginLogger>(new InternalPluginLogger(name, level)));
}

InternalPluginLogger::InternalPluginLogger(const std::string& name, dravik::LogLevel level)
    : m_level(level)
{
    // Converted before the logger is registered under `name`: a rejected level must
    // leave the name free for a later init.
    const spdlog::level::level_enum spdlogLevel = convertLogLevel(level);
    m_logger = spdlog::stdout_color_mt(name);
    m_logger->set_level(spdlogLevel);
}

} // namespace quenza::common
