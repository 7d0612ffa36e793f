#pragma once

#include <quenza/Export.h>

#include <dravik/Error.h>

#include <string>

namespace quenza {

/// A writer's protocol or encoding step failed.
class QUENZA_API EncodingError : public dravik::Error {
public:
    explicit EncodingError(const char* message)
        : dravik::Error(std::string(message))
    {
    }
};

} // namespace quenza
