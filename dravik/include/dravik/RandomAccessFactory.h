#pragma once

#include <dravik/Export.h>
#include <dravik/RandomAccess.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

class StreamAccess;

/// Makes random accesses: files, memory, and adapters.
class DRAVIK_API RandomAccessFactory {
public:
    /// An existing file, read with positioned reads (READ).
    static std::shared_ptr<RandomAccess> openFileRead(const std::string& path);
    /// An existing file, read and written with positioned reads and writes.
    static std::shared_ptr<RandomAccess> openFile(const std::string& path);

    /// An in-memory random access holding `bytes` (READ, WRITE, MEMORY_ACCESS).
    static std::shared_ptr<RandomAccess> fromBytes(std::vector<uint8_t> bytes);

    /// A random access over a stream. A file stream gives a positioned-read access to
    /// the same file (its pending writes are flushed first); any other stream must
    /// SEEK, and is then read by seeking it under a lock. Throws InvalidArgument for
    /// an empty pointer or a stream that can neither.
    static std::shared_ptr<RandomAccess> fromStream(std::shared_ptr<StreamAccess> stream);
    /// The bytes of `random` from `offset` on, `size` of them at most, seen as a
    /// random access of their own (offset 0 is `offset` of the source).
    static std::shared_ptr<RandomAccess> extractRegion(std::shared_ptr<RandomAccess> random, uint64_t offset,
                                                       uint64_t size = std::numeric_limits<uint64_t>::max());
    /// An in-memory copy of all the bytes of `random`.
    static std::shared_ptr<RandomAccess> copyInMemory(const std::shared_ptr<RandomAccess>& random);
};

} // namespace dravik
