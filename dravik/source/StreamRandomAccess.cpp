#include "StreamRandomAccess.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace dravik {

namespace {

constexpr auto MAX_POSITION = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

std::string nameOf(const StreamAccess& stream)
{
    const std::string id = stream.resourceId();
    return id.empty() ? std::string("the stream") : fmt::format("'{}'", id);
}

} // namespace

StreamRandomAccess::StreamRandomAccess(std::shared_ptr<StreamAccess> stream)
    : m_stream(std::move(stream))
{
    if (!m_stream->support(StreamAccessCapability::READ) || !m_stream->support(StreamAccessCapability::SEEK)) {
        throw InvalidArgument(
            fmt::format("A random access needs a stream that can read and seek, which {} cannot", nameOf(*m_stream)));
    }
    if (m_stream->support(StreamAccessCapability::WRITE)) {
        m_capabilities.add(RandomAccessCapability::WRITE);
    }
    if (m_stream->support(StreamAccessCapability::MEMORY_ACCESS)) {
        m_capabilities.add(RandomAccessCapability::MEMORY_ACCESS);
    }
    const uint64_t saved = m_stream->tell();
    m_stream->seek(0, SeekOrigin::END);
    m_size = m_stream->tell();
    m_stream->seek(static_cast<int64_t>(std::min(saved, MAX_POSITION)), SeekOrigin::BEGIN);
}

uint64_t StreamRandomAccess::size() const
{
    std::lock_guard lock(m_mutex);
    return m_size;
}

template <typename Transfer>
uint64_t StreamRandomAccess::transferAt(uint64_t offset, uint64_t size, const char* action, Transfer transfer)
{
    const auto saved = static_cast<int64_t>(std::min(m_stream->tell(), MAX_POSITION));
    const bool failedBefore = m_stream->fail();
    m_stream->seek(static_cast<int64_t>(offset), SeekOrigin::BEGIN);
    uint64_t count = 0;
    try {
        count = transfer();
    } catch (...) {
        m_stream->seek(saved, SeekOrigin::BEGIN);
        throw;
    }
    const bool failed = !failedBefore && m_stream->fail();
    m_stream->seek(saved, SeekOrigin::BEGIN);
    if (failed) {
        throw Error(fmt::format("Cannot {} {} bytes at offset {} of {}", action, size, offset, nameOf(*m_stream)));
    }
    m_size = std::max(m_size, offset + count);
    return count;
}

uint64_t StreamRandomAccess::read(uint64_t offset, uint64_t size, void* dst)
{
    if (size == 0 || offset > MAX_POSITION) {
        return 0;
    }
    std::lock_guard lock(m_mutex);
    return transferAt(offset, size, "read", [&] { return m_stream->read(size, dst); });
}

uint64_t StreamRandomAccess::write(uint64_t offset, uint64_t size, const void* src)
{
    if (!m_capabilities.has(RandomAccessCapability::WRITE)) {
        throw NotImplemented(fmt::format("Cannot write to {}: it was not opened for writing", nameOf(*m_stream)));
    }
    if (size == 0) {
        return 0;
    }
    if (offset > MAX_POSITION) {
        throw Error(fmt::format("Cannot write at offset {} of {}", offset, nameOf(*m_stream)));
    }
    std::lock_guard lock(m_mutex);
    return transferAt(offset, size, "write", [&] { return m_stream->write(size, src); });
}

void StreamRandomAccess::flush()
{
    std::lock_guard lock(m_mutex);
    m_stream->flush();
}

void* StreamRandomAccess::buffer()
{
    return m_stream->buffer();
}

const void* StreamRandomAccess::bufferReadOnly() const
{
    return m_stream->bufferReadOnly();
}

uint64_t StreamRandomAccess::bufferSize() const
{
    return m_stream->bufferSize();
}

} // namespace dravik
