#pragma once

#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>
#include <string>

namespace dravik {

class MemoryBlock;

/// A stream over shared in-memory bytes. `buffer()` exposes the whole content; a
/// write that grows it moves the bytes and invalidates pointers taken before.
class MemoryStreamAccess : public StreamAccess {
public:
    static constexpr StreamAccessCapabilitySet ALL_CAPABILITIES{
        StreamAccessCapability::READ, StreamAccessCapability::WRITE, StreamAccessCapability::SEEK,
        StreamAccessCapability::MEMORY_ACCESS};

    /// A stream of its own, in no storage.
    explicit MemoryStreamAccess(std::shared_ptr<MemoryBlock> block);
    /// A stream over the resource `resourceId` of `storage`; `capabilities` may leave
    /// out READ or WRITE.
    MemoryStreamAccess(std::shared_ptr<MemoryBlock> block, StreamAccessCapabilitySet capabilities,
                       std::shared_ptr<DataStorage> storage, std::string resourceId);

    std::shared_ptr<DataStorage> storage() const override { return m_storage; }
    std::string resourceId() const override { return m_resourceId; }

    StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool eof() const override { return m_eof; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t size, void* dst) override;
    uint8_t peek() override;
    uint64_t write(uint64_t size, const void* src) override;
    uint64_t tell() const override { return m_position; }
    void seek(int64_t offset, SeekOrigin origin) override;
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

    const std::shared_ptr<MemoryBlock>& block() const { return m_block; }

private:
    std::shared_ptr<MemoryBlock> m_block;
    StreamAccessCapabilitySet m_capabilities;
    std::shared_ptr<DataStorage> m_storage;
    std::string m_resourceId;
    uint64_t m_position = 0;
    bool m_eof = false;
};

} // namespace dravik
