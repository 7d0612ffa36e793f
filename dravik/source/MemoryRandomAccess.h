#pragma once

#include <dravik/RandomAccess.h>

#include <cstdint>
#include <memory>
#include <string>

namespace dravik {

class MemoryBlock;

/// A random access over shared in-memory bytes; reads may run on several threads at
/// once. `buffer()` exposes the whole content; a write that grows it moves the bytes
/// and invalidates pointers taken before.
class MemoryRandomAccess : public RandomAccess {
public:
    static constexpr RandomAccessCapabilitySet ALL_CAPABILITIES{
        RandomAccessCapability::READ, RandomAccessCapability::WRITE, RandomAccessCapability::MEMORY_ACCESS};

    /// A random access of its own, in no storage.
    explicit MemoryRandomAccess(std::shared_ptr<MemoryBlock> block);
    /// A random access over the resource `resourceId` of `storage`; `capabilities` may
    /// leave out READ or WRITE.
    MemoryRandomAccess(std::shared_ptr<MemoryBlock> block, RandomAccessCapabilitySet capabilities,
                       std::shared_ptr<DataStorage> storage, std::string resourceId);

    std::shared_ptr<DataStorage> storage() const override { return m_storage; }
    std::string resourceId() const override { return m_resourceId; }

    RandomAccessCapabilitySet capabilities() const override { return m_capabilities; }
    uint64_t size() const override;
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override;
    uint64_t write(uint64_t offset, uint64_t size, const void* src) override;
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

private:
    std::shared_ptr<MemoryBlock> m_block;
    RandomAccessCapabilitySet m_capabilities;
    std::shared_ptr<DataStorage> m_storage;
    std::string m_resourceId;
};

} // namespace dravik
