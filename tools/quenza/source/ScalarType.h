#pragma once

#include <dravik/DataType.h>
#include <dravik/Error.h>

#include <fmt/format.h>

#include <cstdint>

namespace quenza::cli {

/// Calls `f` with a value of the C++ type of the scalar type `scalar`; throws
/// dravik::Error for a type without one.
template <typename F>
void withScalarType(const dravik::DataType& scalar, F&& f)
{
    const uint32_t bits = scalar.bitDepth();
    switch (scalar.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        if (bits == 8) return f(uint8_t{});
        if (bits == 16) return f(uint16_t{});
        if (bits == 32) return f(uint32_t{});
        if (bits == 64) return f(uint64_t{});
        break;
    case dravik::PrimitiveType::SIGNED_INTEGER:
        if (bits == 8) return f(int8_t{});
        if (bits == 16) return f(int16_t{});
        if (bits == 32) return f(int32_t{});
        if (bits == 64) return f(int64_t{});
        break;
    case dravik::PrimitiveType::FLOATING_POINT:
        if (bits == 32) return f(float{});
        if (bits == 64) return f(double{});
        break;
    default: break;
    }
    throw dravik::Error(fmt::format("Elements of type {} cannot be shown", scalar.toString()));
}

} // namespace quenza::cli
