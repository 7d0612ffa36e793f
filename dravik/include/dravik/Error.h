#pragma once

#include <dravik/Export.h>

#include <stdexcept>
#include <string>

namespace dravik {

/// Base of every failure reported by the library and by the plug-ins built on it.
class DRAVIK_API Error : public std::runtime_error {
public:
    explicit Error(const std::string& message);
    explicit Error(const char* message);
    ~Error() override;
};

/// An argument was rejected: out-of-range index, region outside a shape, unknown name...
class DRAVIK_API InvalidArgument : public Error {
public:
    explicit InvalidArgument(const std::string& message);
    explicit InvalidArgument(const char* message);
    ~InvalidArgument() override;
};

/// The object does not offer the requested operation.
class DRAVIK_API NotImplemented : public Error {
public:
    explicit NotImplemented(const std::string& message);
    explicit NotImplemented(const char* message);
    ~NotImplemented() override;
};

} // namespace dravik
