#include "MemoryRandomAccess.h"

#include "MemoryBlock.h"

#include <dravik/Error.h>

namespace dravik {

MemoryRandomAccess::MemoryRandomAccess(std::shared_ptr<MemoryBlock> block)
    : MemoryRandomAccess(std::move(block), ALL_CAPABILITIES, nullptr, std::string())
{
}

MemoryRandomAccess::MemoryRandomAccess(std::shared_ptr<MemoryBlock> block, RandomAccessCapabilitySet capabilities,
                                       std::shared_ptr<DataStorage> storage, std::string resourceId)
    : m_block(std::move(block))
    , m_capabilities(capabilities)
    , m_storage(std::move(storage))
    , m_resourceId(std::move(resourceId))
{
}

uint64_t MemoryRandomAccess::size() const
{
    return m_block->size();
}

uint64_t MemoryRandomAccess::read(uint64_t offset, uint64_t size, void* dst)
{
    if (!m_capabilities.has(RandomAccessCapability::READ)) {
        throw NotImplemented("This memory random access was not opened for reading");
    }
    return m_block->read(offset, size, dst);
}

uint64_t MemoryRandomAccess::write(uint64_t offset, uint64_t size, const void* src)
{
    if (!m_capabilities.has(RandomAccessCapability::WRITE)) {
        throw NotImplemented("This memory random access was not opened for writing");
    }
    return m_block->write(offset, size, src);
}

void* MemoryRandomAccess::buffer()
{
    if (!m_capabilities.has(RandomAccessCapability::WRITE)) {
        throw NotImplemented("This memory random access is read-only: use bufferReadOnly");
    }
    return m_block->data();
}

const void* MemoryRandomAccess::bufferReadOnly() const
{
    return m_block->data();
}

uint64_t MemoryRandomAccess::bufferSize() const
{
    return m_block->size();
}

} // namespace dravik
