#pragma once

#include <quenza/Export.h>

#include <dravik/Error.h>

#include <string>

namespace quenza {

/// The input cannot be represented in the target format (a data type a writer cannot store).
class QUENZA_API UnsupportedFormat : public dravik::Error {
public:
    using dravik::Error::Error;
};

} // namespace quenza
