#include <dravik/RandomAccessFactory.h>

#include "AccessSupport.h"
#include "FileHandle.h"
#include "FileRandomAccess.h"
#include "FileStreamAccess.h"
#include "MemoryBlock.h"
#include "MemoryRandomAccess.h"
#include "MemoryStreamAccess.h"
#include "RandomAccessStream.h"
#include "StreamRandomAccess.h"
#include "SubRandomAccess.h"

#include <dravik/Error.h>
#include <dravik/StreamAccess.h>

#include <fmt/format.h>

#include <fcntl.h>

#include <new>

namespace dravik {

std::shared_ptr<RandomAccess> RandomAccessFactory::openFileRead(const std::string& path)
{
    return std::make_shared<FileRandomAccess>(FileHandle::open(path, O_RDONLY, true));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::openFile(const std::string& path)
{
    return std::make_shared<FileRandomAccess>(FileHandle::open(path, O_RDWR, true));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::fromBytes(std::vector<uint8_t> bytes)
{
    return std::make_shared<MemoryRandomAccess>(std::make_shared<MemoryBlock>(std::move(bytes)));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::fromStream(std::shared_ptr<StreamAccess> stream)
{
    if (!stream) {
        throw InvalidArgument("Cannot make a random access over an empty stream");
    }
    if (auto* file = dynamic_cast<FileStreamAccess*>(stream.get()); file && file->file()->seekable()) {
        // Positioned reads bypass the stream's buffer: what it holds must reach the file first.
        file->flush();
        return std::make_shared<FileRandomAccess>(file->file());
    }
    if (auto* memory = dynamic_cast<MemoryStreamAccess*>(stream.get())) {
        RandomAccessCapabilitySet capabilities{RandomAccessCapability::MEMORY_ACCESS};
        if (memory->support(StreamAccessCapability::READ)) {
            capabilities.add(RandomAccessCapability::READ);
        }
        if (memory->support(StreamAccessCapability::WRITE)) {
            capabilities.add(RandomAccessCapability::WRITE);
        }
        return std::make_shared<MemoryRandomAccess>(memory->block(), capabilities, memory->storage(),
                                                    memory->resourceId());
    }
    if (auto* overRandom = dynamic_cast<RandomAccessStream*>(stream.get())) {
        return overRandom->random();
    }
    return std::make_shared<StreamRandomAccess>(std::move(stream));
}

std::shared_ptr<RandomAccess> RandomAccessFactory::extractRegion(std::shared_ptr<RandomAccess> random, uint64_t offset,
                                                                 uint64_t size)
{
    if (!random) {
        throw InvalidArgument("Cannot extract a region of an empty random access");
    }
    return std::make_shared<SubRandomAccess>(std::move(random), offset, size);
}

std::shared_ptr<RandomAccess> RandomAccessFactory::copyInMemory(const std::shared_ptr<RandomAccess>& random)
{
    if (!random) {
        throw InvalidArgument("Cannot copy an empty random access in memory");
    }
    if (!random->support(RandomAccessCapability::READ)) {
        throw InvalidArgument("Cannot copy a random access that cannot read in memory");
    }
    const uint64_t size = random->size();
    checkMemorySize(size, "a copy of a random access");
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        throw Error(fmt::format("Cannot hold {} bytes in memory for a copy of a random access", size));
    }
    uint64_t done = 0;
    while (done < size) {
        const uint64_t got = random->read(done, size - done, bytes.data() + done);
        if (got == 0) {
            break;
        }
        done += got;
    }
    bytes.resize(done);
    return fromBytes(std::move(bytes));
}

} // namespace dravik
