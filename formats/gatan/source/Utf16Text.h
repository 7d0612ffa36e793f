#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quenza::gatan {

/// `units` UTF-16 code units stored little-endian at `bytes`, as UTF-8. Unpaired
/// surrogates are dropped on their own, so the characters next to them survive.
std::string utf16LittleEndianToUtf8(const uint8_t* bytes, size_t units);

} // namespace quenza::gatan
