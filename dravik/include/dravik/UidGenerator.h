#pragma once

#include <dravik/Export.h>

#include <cstdint>

namespace dravik {

class DRAVIK_API UidGenerator {
public:
    /// A value never returned before in this process; safe to call from any thread.
    static uint64_t generate();
};

} // namespace dravik
