#pragma once

#include <dravik/LogLevel.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>

// Descriptor classes keep default visibility inside plug-ins built with hidden
// visibility, so that host and plug-ins share their type information.
#define SOLVANE_API __attribute__((visibility("default")))

namespace solvane {

/// Format names, upper case, in the order the plug-in lists them.
using FormatList = std::list<std::string>;
/// File extension (lower case, without the dot) to format name.
using ExtensionMap = std::map<std::string, std::string>;

/// What the host sees of a plug-in library. The order of the virtual operations is
/// the binary contract between host and plug-ins: never reorder, insert or remove one.
class SOLVANE_API Plugin {
public:
    virtual ~Plugin() = default;

    /// Revision of this interface.
    virtual uint64_t api() const { return 6; }
    virtual const std::string& name() const = 0;
    virtual const std::string& version() const = 0;
    virtual const FormatList& supportedFormats() const = 0;
    virtual const ExtensionMap& extensionMap() const = 0;
    /// Creates the library's logger with `level`; only the first call of a library counts.
    virtual void initLogger(dravik::LogLevel level) { static_cast<void>(level); }
    virtual dravik::LogLevel logLevel() { return dravik::LOG_OFF; }
};

} // namespace solvane
