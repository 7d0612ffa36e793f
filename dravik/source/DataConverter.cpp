#include <dravik/DataConverter.h>
#include <dravik/Error.h>

#include <cstring>
#include <utility>

namespace dravik {

namespace {

template <typename T>
void swapAll(const uint8_t* src, uint8_t* dst, uint64_t count, T (*swap)(T))
{
    for (uint64_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, src + i * sizeof(T), sizeof(T));
        v = swap(v);
        std::memcpy(dst + i * sizeof(T), &v, sizeof(T));
    }
}

uint16_t swap16(uint16_t v)
{
    return __builtin_bswap16(v);
}
uint32_t swap32(uint32_t v)
{
    return __builtin_bswap32(v);
}
uint64_t swap64(uint64_t v)
{
    return __builtin_bswap64(v);
}

} // namespace

void DataConverter::endianReverse(const DataType& type, const void* src, void* dst, uint64_t elementCount)
{
    const uint64_t componentBytes = (type.bitDepth() + 7) / 8;
    const uint64_t components = elementCount * type.elementCount();
    const auto* s = static_cast<const uint8_t*>(src);
    auto* d = static_cast<uint8_t*>(dst);
    switch (componentBytes) {
    case 0: return;
    case 1:
        if (s != d) {
            std::memmove(d, s, components);
        }
        return;
    case 2: swapAll<uint16_t>(s, d, components, swap16); return;
    case 4: swapAll<uint32_t>(s, d, components, swap32); return;
    case 8: swapAll<uint64_t>(s, d, components, swap64); return;
    default:
        for (uint64_t i = 0; i < components; ++i) {
            uint8_t* out = d + i * componentBytes;
            if (s != d) {
                std::memcpy(out, s + i * componentBytes, componentBytes);
            }
            for (uint64_t a = 0, b = componentBytes - 1; a < b; ++a, --b) {
                std::swap(out[a], out[b]);
            }
        }
    }
}

} // namespace dravik
