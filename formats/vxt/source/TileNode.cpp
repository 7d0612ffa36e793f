#include <TileNode.h>

#include <dravik/Error.h>

#include <fmt/format.h>

#include <cstring>

namespace quenza::vxt {

BufferView::BufferView(uint64_t capacity)
    : buffer(capacity, 0)
{
}

BufferView::~BufferView() = default;

void BufferView::copy(uint64_t from, uint64_t to, void* dst) const
{
    if (from > to || to > size) {
        throw dravik::InvalidArgument(fmt::format("Bytes [{}, {}) are outside the {} of a compressed tile", from, to, size));
    }
    std::memcpy(dst, buffer.data() + from, to - from);
}

} // namespace quenza::vxt
