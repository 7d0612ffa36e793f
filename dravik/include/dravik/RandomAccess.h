#pragma once

#include <dravik/DataAccess.h>
#include <dravik/Export.h>
#include <dravik/FlagSet.h>

#include <cstdint>

namespace dravik {

enum class RandomAccessCapability : uint32_t {
    READ = 1,
    WRITE = 2,
    /// `buffer`, `bufferReadOnly` and `bufferSize` expose the whole content in memory.
    MEMORY_ACCESS = 8,
};
using RandomAccessCapabilitySet = FlagSet<RandomAccessCapability>;

/// Bytes addressed by offset, without a shared position: reads of file and memory
/// random accesses may run on several threads at once.
class DRAVIK_API RandomAccess : public DataAccess {
public:
    ~RandomAccess() override;

    virtual RandomAccessCapabilitySet capabilities() const = 0;
    /// Current size in bytes.
    virtual uint64_t size() const = 0;
    /// Reads up to `size` bytes at `offset` into `dst`; returns the count read
    /// (below `size` at the end of the data, 0 past it).
    virtual uint64_t read(uint64_t offset, uint64_t size, void* dst) = 0;
    /// Writes `size` bytes at `offset`, growing the data if needed; returns the count
    /// written. The default throws NotImplemented.
    virtual uint64_t write(uint64_t offset, uint64_t size, const void* src);
    /// Pushes written bytes to their destination; the default does nothing.
    virtual void flush();
    virtual void* buffer();
    virtual const void* bufferReadOnly() const;
    virtual uint64_t bufferSize() const;

    bool support(RandomAccessCapability capability) const { return capabilities().has(capability); }
};

} // namespace dravik
