#include "RandomAccessStream.h"

#include "AccessSupport.h"

#include <dravik/Error.h>

namespace dravik {

RandomAccessStream::RandomAccessStream(std::shared_ptr<RandomAccess> random)
    : m_random(std::move(random))
{
    const RandomAccessCapabilitySet source = m_random->capabilities();
    if (source.has(RandomAccessCapability::READ)) {
        m_capabilities.add(StreamAccessCapability::READ);
    }
    if (source.has(RandomAccessCapability::WRITE)) {
        m_capabilities.add(StreamAccessCapability::WRITE);
    }
    if (source.has(RandomAccessCapability::MEMORY_ACCESS)) {
        m_capabilities.add(StreamAccessCapability::MEMORY_ACCESS);
    }
}

template <typename Operation>
auto RandomAccessStream::guarded(Operation operation)
{
    try {
        return operation();
    } catch (const Error&) {
        m_fail = true;
        throw;
    }
}

uint64_t RandomAccessStream::read(uint64_t size, void* dst)
{
    if (!m_capabilities.has(StreamAccessCapability::READ)) {
        throw NotImplemented("The random access under this stream cannot read");
    }
    const uint64_t count = guarded([&] { return m_random->read(m_position, size, dst); });
    m_position += count;
    if (count < size) {
        m_eof = true;
    }
    return count;
}

uint8_t RandomAccessStream::peek()
{
    if (!m_capabilities.has(StreamAccessCapability::READ)) {
        throw NotImplemented("The random access under this stream cannot read");
    }
    uint8_t byte = 0;
    if (guarded([&] { return m_random->read(m_position, 1, &byte); }) == 0) {
        throw Error("Cannot peek past the end of the stream");
    }
    return byte;
}

uint64_t RandomAccessStream::write(uint64_t size, const void* src)
{
    if (!m_capabilities.has(StreamAccessCapability::WRITE)) {
        throw NotImplemented("The random access under this stream cannot write");
    }
    const uint64_t count = guarded([&] { return m_random->write(m_position, size, src); });
    m_position += count;
    return count;
}

void RandomAccessStream::flush()
{
    guarded([&] { m_random->flush(); });
}

void RandomAccessStream::seek(int64_t offset, SeekOrigin origin)
{
    m_position = seekTarget(seekBase(origin, m_position, [this] { return m_random->size(); }), offset);
    m_eof = false;
}

void* RandomAccessStream::buffer()
{
    return m_random->buffer();
}

const void* RandomAccessStream::bufferReadOnly() const
{
    return m_random->bufferReadOnly();
}

uint64_t RandomAccessStream::bufferSize() const
{
    return m_random->bufferSize();
}

} // namespace dravik
