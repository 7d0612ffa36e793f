#pragma once

#include <dravik/RandomAccess.h>

#include <cstdint>
#include <memory>

namespace dravik {

/// The bytes [offset, offset + size) of another random access, clipped to its size
/// when read. With a finite size, writes stop at the end of the region; without one
/// they may grow the source.
class SubRandomAccess : public RandomAccess {
public:
    SubRandomAccess(std::shared_ptr<RandomAccess> source, uint64_t offset, uint64_t size);

    std::shared_ptr<DataStorage> storage() const override { return m_source->storage(); }
    std::string resourceId() const override { return m_source->resourceId(); }

    RandomAccessCapabilitySet capabilities() const override { return m_source->capabilities(); }
    uint64_t size() const override;
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override;
    uint64_t write(uint64_t offset, uint64_t size, const void* src) override;
    void flush() override { m_source->flush(); }
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

private:
    /// How many of `size` bytes at `offset` of the region lie inside its bounds.
    uint64_t clip(uint64_t offset, uint64_t size) const;

    std::shared_ptr<RandomAccess> m_source;
    uint64_t m_offset;
    uint64_t m_size;
};

} // namespace dravik
