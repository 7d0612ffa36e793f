#pragma once

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <vector>

namespace dravik {

/// Bytes shared by memory streams, memory random accesses and memory storages.
///
/// Reads may run on several threads at once; a write takes the block for itself.
/// `data()` gives the bytes without any lock: a write that grows the block moves them,
/// so pointers taken earlier are then invalid.
class MemoryBlock {
public:
    MemoryBlock() = default;
    explicit MemoryBlock(std::vector<uint8_t> bytes);

    uint64_t size() const;
    /// Copies up to `size` bytes at `offset`; returns the count copied (0 past the end).
    uint64_t read(uint64_t offset, uint64_t size, void* dst) const;
    /// The byte at `offset`, or nothing past the end.
    std::optional<uint8_t> byteAt(uint64_t offset) const;
    /// Writes `size` bytes at `offset`, filling any gap after the end with zeros.
    /// Throws Error when the block cannot grow that far.
    uint64_t write(uint64_t offset, uint64_t size, const void* src);
    /// Empties the block.
    void clear();

    uint8_t* data() { return m_bytes.data(); }
    const uint8_t* data() const { return m_bytes.data(); }

private:
    mutable std::shared_mutex m_mutex;
    std::vector<uint8_t> m_bytes;
};

} // namespace dravik
