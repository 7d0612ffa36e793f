#pragma once

#include <dravik/DataAccess.h>
#include <dravik/Export.h>
#include <dravik/FlagSet.h>

#include <cstdint>

namespace dravik {

enum class StreamAccessCapability : uint32_t {
    READ = 1,
    WRITE = 2,
    SEEK = 4,
    /// READ and SEEK together.
    READ_SEEK = 5,
    /// `buffer`, `bufferReadOnly` and `bufferSize` expose the whole content in memory.
    MEMORY_ACCESS = 8,
};
using StreamAccessCapabilitySet = FlagSet<StreamAccessCapability>;

enum class SeekOrigin : uint8_t {
    BEGIN = 0,
    CURRENT = 1,
    END = 2,
};

/// A sequential byte stream with a position.
///
/// `read` and `write` return the count moved, below the request at the end of the
/// data or on an error. `eof()` is set by a read that reached the end of the data and
/// cleared by a successful seek; `fail()` reports an input/output error. The order of
/// the virtual operations is part of the binary contract with the plug-ins.
class DRAVIK_API StreamAccess : public DataAccess {
public:
    ~StreamAccess() override;

    virtual StreamAccessCapabilitySet capabilities() const = 0;
    /// Neither eof() nor fail().
    virtual bool good() const;
    virtual bool eof() const = 0;
    virtual bool fail() const = 0;
    /// Reads up to `size` bytes into `dst`; returns the count read.
    virtual uint64_t read(uint64_t size, void* dst) = 0;
    /// The next byte, without consuming it; throws Error at the end of the data.
    virtual uint8_t peek();
    /// Writes `size` bytes from `src`; returns the count written. The default throws NotImplemented.
    virtual uint64_t write(uint64_t size, const void* src);
    /// Pushes buffered bytes to their destination; the default does nothing.
    virtual void flush();
    /// The absolute position.
    virtual uint64_t tell() const = 0;
    /// Moves the position; throws Error for a position before the start, and
    /// NotImplemented for a stream without SEEK. Positions past the end are allowed.
    virtual void seek(int64_t offset, SeekOrigin origin);
    virtual void* buffer();
    virtual const void* bufferReadOnly() const;
    virtual uint64_t bufferSize() const;

    bool support(StreamAccessCapability capability) const { return capabilities().has(capability); }
};

} // namespace dravik
