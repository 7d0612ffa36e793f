#include <dravik/StreamAccessFactory.h>

#include "AccessSupport.h"
#include "FileHandle.h"
#include "FileStreamAccess.h"
#include "MemoryBlock.h"
#include "MemoryStreamAccess.h"
#include "RandomAccessStream.h"
#include "StdStreamAdapters.h"

#include <dravik/Error.h>
#include <dravik/RandomAccess.h>

#include <fmt/format.h>

#include <fcntl.h>

#include <algorithm>
#include <new>

namespace dravik {

namespace {

// Copies grow their chunk with what they already hold, up to this, to keep the
// number of reads low on big streams without trusting any announced size.
constexpr uint64_t MAX_COPY_CHUNK = 64ull << 20;

std::shared_ptr<StreamAccess> openFileStream(const std::string& path, int flags)
{
    return std::make_shared<FileStreamAccess>(FileHandle::open(path, flags, false));
}

} // namespace

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileRead(const std::string& path)
{
    return openFileStream(path, O_RDONLY);
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFileWrite(const std::string& path)
{
    return openFileStream(path, O_WRONLY | O_CREAT | O_TRUNC);
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openFile(const std::string& path)
{
    return openFileStream(path, O_RDWR);
}

std::shared_ptr<StreamAccess> StreamAccessFactory::createInMemory()
{
    return std::make_shared<MemoryStreamAccess>(std::make_shared<MemoryBlock>());
}

std::shared_ptr<StreamAccess> StreamAccessFactory::fromBytes(std::vector<uint8_t> bytes)
{
    return std::make_shared<MemoryStreamAccess>(std::make_shared<MemoryBlock>(std::move(bytes)));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::fromRandomAccess(std::shared_ptr<RandomAccess> random)
{
    if (!random) {
        throw InvalidArgument("Cannot make a stream over an empty random access");
    }
    return std::make_shared<RandomAccessStream>(std::move(random));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::copyInMemory(const std::shared_ptr<StreamAccess>& stream)
{
    if (!stream) {
        throw InvalidArgument("Cannot copy an empty stream in memory");
    }
    if (!stream->support(StreamAccessCapability::READ)) {
        throw InvalidArgument("Cannot copy a stream that cannot read in memory");
    }
    const bool failedBefore = stream->fail();
    std::vector<uint8_t> bytes;
    uint64_t chunk = STREAM_BUFFER_SIZE;
    for (;;) {
        const size_t held = bytes.size();
        checkMemorySize(held + chunk, "a copy of a stream");
        try {
            bytes.resize(held + chunk);
        } catch (const std::bad_alloc&) {
            throw Error(fmt::format("Cannot hold {} bytes in memory for a copy of a stream", held + chunk));
        }
        const uint64_t got = stream->read(chunk, bytes.data() + held);
        bytes.resize(held + got);
        if (got < chunk) {
            break;
        }
        chunk = std::clamp<uint64_t>(bytes.size(), STREAM_BUFFER_SIZE, MAX_COPY_CHUNK);
    }
    if (!failedBefore && stream->fail()) {
        const std::string id = stream->resourceId();
        throw Error(fmt::format("Cannot copy {} in memory: reading failed after {} bytes",
                                id.empty() ? std::string("the stream") : fmt::format("'{}'", id), bytes.size()));
    }
    return fromBytes(std::move(bytes));
}

std::shared_ptr<std::istream> StreamAccessFactory::toStdIStream(std::shared_ptr<StreamAccess> stream)
{
    if (!stream) {
        throw InvalidArgument("Cannot make a standard input stream over an empty stream");
    }
    if (!stream->support(StreamAccessCapability::READ)) {
        throw InvalidArgument("A standard input stream needs a stream that can read");
    }
    return std::make_shared<StdIStream>(std::move(stream));
}

std::shared_ptr<std::ostream> StreamAccessFactory::toStdOStream(std::shared_ptr<StreamAccess> stream)
{
    if (!stream) {
        throw InvalidArgument("Cannot make a standard output stream over an empty stream");
    }
    if (!stream->support(StreamAccessCapability::WRITE)) {
        throw InvalidArgument("A standard output stream needs a stream that can write");
    }
    return std::make_shared<StdOStream>(std::move(stream));
}

} // namespace dravik
