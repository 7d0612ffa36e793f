#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>

#include <cstdint>

namespace dravik {

class DRAVIK_API DataConverter {
public:
    /// Reverses the byte order of every component of `elementCount` elements of
    /// `type` from `src` into `dst` (which may be `src`). Types of one-byte
    /// components are copied unchanged.
    static void endianReverse(const DataType& type, const void* src, void* dst, uint64_t elementCount);
};

} // namespace dravik
