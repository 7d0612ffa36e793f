#include "MemoryBlock.h"

#include "AccessSupport.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

namespace dravik {

MemoryBlock::MemoryBlock(std::vector<uint8_t> bytes)
    : m_bytes(std::move(bytes))
{
}

uint64_t MemoryBlock::size() const
{
    std::shared_lock lock(m_mutex);
    return m_bytes.size();
}

uint64_t MemoryBlock::read(uint64_t offset, uint64_t size, void* dst) const
{
    std::shared_lock lock(m_mutex);
    if (offset >= m_bytes.size()) {
        return 0;
    }
    const uint64_t count = std::min<uint64_t>(size, m_bytes.size() - offset);
    if (count > 0) {
        std::memcpy(dst, m_bytes.data() + offset, count);
    }
    return count;
}

std::optional<uint8_t> MemoryBlock::byteAt(uint64_t offset) const
{
    std::shared_lock lock(m_mutex);
    if (offset >= m_bytes.size()) {
        return std::nullopt;
    }
    return m_bytes[offset];
}

uint64_t MemoryBlock::write(uint64_t offset, uint64_t size, const void* src)
{
    if (size == 0) {
        return 0;
    }
    if (offset > std::numeric_limits<uint64_t>::max() - size) {
        throw Error(fmt::format("Cannot write {} bytes at offset {} in memory", size, offset));
    }
    const uint64_t end = offset + size;
    std::unique_lock lock(m_mutex);
    if (end > m_bytes.size()) {
        if (end > m_bytes.capacity()) {
            checkMemorySize(end, "a memory stream");
        }
        try {
            m_bytes.resize(end);
        } catch (const std::bad_alloc&) {
            throw Error(fmt::format("Cannot grow the memory content to {} bytes", end));
        } catch (const std::length_error&) {
            throw Error(fmt::format("Cannot grow the memory content to {} bytes", end));
        }
    }
    std::memcpy(m_bytes.data() + offset, src, size);
    return size;
}

void MemoryBlock::clear()
{
    std::unique_lock lock(m_mutex);
    m_bytes.clear();
}

} // namespace dravik
