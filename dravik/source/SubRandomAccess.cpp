#include "SubRandomAccess.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace dravik {

SubRandomAccess::SubRandomAccess(std::shared_ptr<RandomAccess> source, uint64_t offset, uint64_t size)
    : m_source(std::move(source))
    , m_offset(offset)
    , m_size(size)
{
}

uint64_t SubRandomAccess::clip(uint64_t offset, uint64_t size) const
{
    if (offset >= m_size || offset > std::numeric_limits<uint64_t>::max() - m_offset) {
        return 0;
    }
    return std::min(size, m_size - offset);
}

uint64_t SubRandomAccess::size() const
{
    const uint64_t sourceSize = m_source->size();
    return sourceSize > m_offset ? std::min(m_size, sourceSize - m_offset) : 0;
}

uint64_t SubRandomAccess::read(uint64_t offset, uint64_t size, void* dst)
{
    const uint64_t count = clip(offset, size);
    // The source clips to its own end, which spares a size query per read.
    return count == 0 ? 0 : m_source->read(m_offset + offset, count, dst);
}

uint64_t SubRandomAccess::write(uint64_t offset, uint64_t size, const void* src)
{
    if (size == 0) {
        return 0;
    }
    if (offset > std::numeric_limits<uint64_t>::max() - m_offset) {
        throw Error(fmt::format("Cannot write at offset {} of a region starting at {}", offset, m_offset));
    }
    const uint64_t count = clip(offset, size);
    return count == 0 ? 0 : m_source->write(m_offset + offset, count, src);
}

void* SubRandomAccess::buffer()
{
    const uint64_t sourceSize = m_source->bufferSize();
    return static_cast<uint8_t*>(m_source->buffer()) + std::min(m_offset, sourceSize);
}

const void* SubRandomAccess::bufferReadOnly() const
{
    const uint64_t sourceSize = m_source->bufferSize();
    return static_cast<const uint8_t*>(m_source->bufferReadOnly()) + std::min(m_offset, sourceSize);
}

uint64_t SubRandomAccess::bufferSize() const
{
    const uint64_t sourceSize = m_source->bufferSize();
    return sourceSize > m_offset ? std::min(m_size, sourceSize - m_offset) : 0;
}

} // namespace dravik
