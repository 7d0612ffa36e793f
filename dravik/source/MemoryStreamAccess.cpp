#include "MemoryStreamAccess.h"

#include "AccessSupport.h"
#include "MemoryBlock.h"

#include <dravik/Error.h>

namespace dravik {

MemoryStreamAccess::MemoryStreamAccess(std::shared_ptr<MemoryBlock> block)
    : MemoryStreamAccess(std::move(block), ALL_CAPABILITIES, nullptr, std::string())
{
}

MemoryStreamAccess::MemoryStreamAccess(std::shared_ptr<MemoryBlock> block, StreamAccessCapabilitySet capabilities,
                                       std::shared_ptr<DataStorage> storage, std::string resourceId)
    : m_block(std::move(block))
    , m_capabilities(capabilities)
    , m_storage(std::move(storage))
    , m_resourceId(std::move(resourceId))
{
}

uint64_t MemoryStreamAccess::read(uint64_t size, void* dst)
{
    if (!m_capabilities.has(StreamAccessCapability::READ)) {
        throw NotImplemented("This memory stream was not opened for reading");
    }
    const uint64_t count = m_block->read(m_position, size, dst);
    m_position += count;
    if (count < size) {
        m_eof = true;
    }
    return count;
}

uint8_t MemoryStreamAccess::peek()
{
    if (!m_capabilities.has(StreamAccessCapability::READ)) {
        throw NotImplemented("This memory stream was not opened for reading");
    }
    if (auto byte = m_block->byteAt(m_position)) {
        return *byte;
    }
    throw Error("Cannot peek past the end of the stream");
}

uint64_t MemoryStreamAccess::write(uint64_t size, const void* src)
{
    if (!m_capabilities.has(StreamAccessCapability::WRITE)) {
        throw NotImplemented("This memory stream was not opened for writing");
    }
    const uint64_t count = m_block->write(m_position, size, src);
    m_position += count;
    return count;
}

void MemoryStreamAccess::seek(int64_t offset, SeekOrigin origin)
{
    m_position = seekTarget(seekBase(origin, m_position, [this] { return m_block->size(); }), offset);
    m_eof = false;
}

void* MemoryStreamAccess::buffer()
{
    if (!m_capabilities.has(StreamAccessCapability::WRITE)) {
        throw NotImplemented("This memory stream is read-only: use bufferReadOnly");
    }
    return m_block->data();
}

const void* MemoryStreamAccess::bufferReadOnly() const
{
    return m_block->data();
}

uint64_t MemoryStreamAccess::bufferSize() const
{
    return m_block->size();
}

} // namespace dravik
