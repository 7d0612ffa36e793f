#pragma once

#include <cstdint>

namespace quenza {

/// A framework version: major, minor, patch.
struct VersionInfo {
    int32_t major;
    int32_t minor;
    int32_t patch;
};

} // namespace quenza

/// Version of the framework the plug-ins are built against.
inline constexpr quenza::VersionInfo QUENZA_VERSION{1, 8, 0};
#define QUENZA_VERSION_STRING "1.8.0"

// The build defines the revision of the checkout; a build outside it gets zeros.
#ifndef QUENZA_SHA
#define QUENZA_SHA "0000000000000000000000000000000000000000"
#endif
