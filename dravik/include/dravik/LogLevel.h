#pragma once

namespace dravik {

/// Verbosity handed by a host to the plug-ins; higher values print more.
enum LogLevel : int {
    LOG_OFF = 0,
    LOG_CRITICAL = 1,
    LOG_ERR = 2,
    LOG_WARNING = 3,
    LOG_INFO = 4,
    LOG_DEBUG = 5,
    LOG_TRACE = 6,
};

} // namespace dravik
