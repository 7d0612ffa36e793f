#include "StorageTestSupport.h"

#include <dravik/DataStorage.h>
#include <dravik/Error.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <istream>
#include <limits>
#include <ostream>
#include <random>

using dravik::NotImplemented;
using dravik::RandomAccessFactory;
using dravik::SeekOrigin;
using dravik::StreamAccess;
using dravik::StreamAccessCapability;
using dravik::StreamAccessCapabilitySet;
using dravik::StreamAccessFactory;
using namespace storagetest;

namespace {

// Larger than three buffers of a file stream and not a multiple of anything.
constexpr size_t CONTENT_SIZE = 200 * 1024 + 123;
// The file stream's buffer size, to place reads across its boundaries.
constexpr size_t BUFFER = 64 * 1024;

struct StreamKind {
    const char* name;
    /// Opens a stream holding the bytes of the file at the given path.
    std::function<std::shared_ptr<StreamAccess>(const std::string&)> open;
    /// The stream reports the file's directory and name.
    bool inFile;
};

void PrintTo(const StreamKind& kind, std::ostream* out)
{
    *out << kind.name;
}

std::string kindName(const ::testing::TestParamInfo<StreamKind>& info)
{
    return info.param.name;
}

const StreamKind READABLE_KINDS[] = {
    {"FileRead", [](const std::string& path) { return StreamAccessFactory::openFileRead(path); }, true},
    {"FileUpdate", [](const std::string& path) { return StreamAccessFactory::openFile(path); }, true},
    {"Memory", [](const std::string& path) { return StreamAccessFactory::fromBytes(readFile(path)); }, false},
    {"OverFileRandom",
     [](const std::string& path) {
         return StreamAccessFactory::fromRandomAccess(RandomAccessFactory::openFileRead(path));
     },
     true},
    {"OverMemoryRandom",
     [](const std::string& path) {
         return StreamAccessFactory::fromRandomAccess(RandomAccessFactory::fromBytes(readFile(path)));
     },
     false},
    {"OverRegionOfFileStream",
     [](const std::string& path) {
         auto random = RandomAccessFactory::fromStream(StreamAccessFactory::openFileRead(path));
         return StreamAccessFactory::fromRandomAccess(RandomAccessFactory::extractRegion(random, 0));
     },
     true},
    {"CopyOfFile",
     [](const std::string& path) { return StreamAccessFactory::copyInMemory(StreamAccessFactory::openFileRead(path)); },
     false},
};

const StreamKind WRITABLE_KINDS[] = {
    {"FileUpdate", [](const std::string& path) { return StreamAccessFactory::openFile(path); }, true},
    {"Memory", [](const std::string& path) { return StreamAccessFactory::fromBytes(readFile(path)); }, false},
    {"OverFileRandom",
     [](const std::string& path) { return StreamAccessFactory::fromRandomAccess(RandomAccessFactory::openFile(path)); },
     true},
    {"OverRandomOfFileStream",
     [](const std::string& path) {
         return StreamAccessFactory::fromRandomAccess(
             RandomAccessFactory::fromStream(StreamAccessFactory::openFile(path)));
     },
     true},
    {"OverMemoryRandom",
     [](const std::string& path) {
         return StreamAccessFactory::fromRandomAccess(RandomAccessFactory::fromBytes(readFile(path)));
     },
     false},
};

class StreamAccessKinds : public ::testing::TestWithParam<StreamKind> {
protected:
    void SetUp() override
    {
        m_content = pattern(CONTENT_SIZE);
        m_path = m_dir.file("data.bin");
        writeFile(m_path, m_content);
        m_stream = GetParam().open(m_path);
        ASSERT_NE(m_stream, nullptr);
    }

    std::vector<uint8_t> readAt(uint64_t position, size_t size)
    {
        m_stream->seek(static_cast<int64_t>(position), SeekOrigin::BEGIN);
        std::vector<uint8_t> bytes(size);
        bytes.resize(m_stream->read(size, bytes.data()));
        return bytes;
    }

    TemporaryDirectory m_dir;
    std::string m_path;
    std::vector<uint8_t> m_content;
    std::shared_ptr<StreamAccess> m_stream;
};

using StreamAccessReadable = StreamAccessKinds;
using StreamAccessWritable = StreamAccessKinds;

TEST_P(StreamAccessReadable, ReadsInChunksOfAnySizeGiveTheContent)
{
    const size_t chunks[] = {1, 7, 4096, BUFFER - 1, BUFFER, BUFFER + 1, 3 * BUFFER + 5, CONTENT_SIZE + 10};
    for (const size_t chunk : chunks) {
        SCOPED_TRACE(chunk);
        m_stream->seek(0, SeekOrigin::BEGIN);
        ASSERT_TRUE(m_stream->good());
        std::vector<uint8_t> all;
        std::vector<uint8_t> piece(chunk);
        for (;;) {
            const uint64_t expected = std::min<uint64_t>(chunk, CONTENT_SIZE - all.size());
            const uint64_t got = m_stream->read(chunk, piece.data());
            ASSERT_EQ(got, expected);
            all.insert(all.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
            if (got < chunk) {
                break;
            }
            ASSERT_FALSE(m_stream->eof());
        }
        EXPECT_TRUE(m_stream->eof());
        EXPECT_FALSE(m_stream->fail());
        EXPECT_FALSE(m_stream->good());
        EXPECT_EQ(m_stream->tell(), CONTENT_SIZE);
        EXPECT_TRUE(sameBytes(all, m_content));
    }
}

TEST_P(StreamAccessReadable, EofComesFromTheFirstShortReadAndSeekClearsIt)
{
    std::vector<uint8_t> piece(10);
    m_stream->seek(-10, SeekOrigin::END);
    EXPECT_EQ(m_stream->read(10, piece.data()), 10u);
    EXPECT_TRUE(m_stream->good()) << "a read that exactly reaches the end is not short";
    EXPECT_EQ(m_stream->read(0, piece.data()), 0u);
    EXPECT_TRUE(m_stream->good()) << "an empty request is not short";
    EXPECT_EQ(m_stream->read(1, piece.data()), 0u);
    EXPECT_TRUE(m_stream->eof());
    m_stream->seek(0, SeekOrigin::CURRENT);
    EXPECT_TRUE(m_stream->good());
    EXPECT_EQ(m_stream->tell(), CONTENT_SIZE);
}

TEST_P(StreamAccessReadable, SeeksFromEveryOriginThenReads)
{
    struct Step {
        int64_t offset;
        SeekOrigin origin;
    };
    const auto size = static_cast<int64_t>(CONTENT_SIZE);
    const auto buffer = static_cast<int64_t>(BUFFER);
    const Step steps[] = {
        {1000, SeekOrigin::BEGIN},
        {-10, SeekOrigin::CURRENT},
        {70000, SeekOrigin::CURRENT},
        {-1, SeekOrigin::END},
        {-100000, SeekOrigin::END},
        {0, SeekOrigin::END},
        {5, SeekOrigin::END},
        {buffer - 3, SeekOrigin::BEGIN},
        {0, SeekOrigin::CURRENT},
        {-buffer, SeekOrigin::CURRENT},
        {3, SeekOrigin::CURRENT},
        {size + 100, SeekOrigin::BEGIN},
        {-size - 50, SeekOrigin::CURRENT},
    };
    uint64_t model = 0;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const Step& step = steps[i];
        const int64_t base = baseOf(step.origin, static_cast<int64_t>(model), size);
        model = static_cast<uint64_t>(base + step.offset);
        m_stream->seek(step.offset, step.origin);
        EXPECT_FALSE(m_stream->eof());
        ASSERT_EQ(m_stream->tell(), model);

        std::vector<uint8_t> piece(16);
        piece.resize(m_stream->read(16, piece.data()));
        const std::vector<uint8_t> expected = slice(m_content, model, 16);
        EXPECT_TRUE(sameBytes(piece, expected));
        EXPECT_EQ(m_stream->eof(), expected.size() < 16);
        model += piece.size();
        EXPECT_EQ(m_stream->tell(), model);
    }
}

TEST_P(StreamAccessReadable, SeeksBeforeTheStartAreRefusedAndChangeNothing)
{
    m_stream->seek(500, SeekOrigin::BEGIN);
    struct Step {
        int64_t offset;
        SeekOrigin origin;
    };
    const Step refused[] = {
        {-1, SeekOrigin::BEGIN},
        {-501, SeekOrigin::CURRENT},
        {-static_cast<int64_t>(CONTENT_SIZE) - 1, SeekOrigin::END},
        {std::numeric_limits<int64_t>::min(), SeekOrigin::CURRENT},
    };
    for (const Step& step : refused) {
        EXPECT_EQ(errorMessageOf([&] { m_stream->seek(step.offset, step.origin); }),
                  "Cannot seek before the start of the stream");
        EXPECT_EQ(m_stream->tell(), 500u);
    }
    std::vector<uint8_t> piece(4);
    ASSERT_EQ(m_stream->read(4, piece.data()), 4u);
    EXPECT_TRUE(sameBytes(piece, slice(m_content, 500, 4)));
    m_stream->seek(-504, SeekOrigin::CURRENT);
    EXPECT_EQ(m_stream->tell(), 0u);
}

TEST_P(StreamAccessReadable, PeekShowsTheNextByteWithoutMoving)
{
    EXPECT_EQ(m_stream->peek(), m_content[0]);
    EXPECT_EQ(m_stream->peek(), m_content[0]);
    EXPECT_EQ(m_stream->tell(), 0u);
    for (const uint64_t position : {uint64_t{1}, uint64_t{BUFFER - 1}, uint64_t{BUFFER}, uint64_t{CONTENT_SIZE - 1}}) {
        SCOPED_TRACE(position);
        m_stream->seek(static_cast<int64_t>(position), SeekOrigin::BEGIN);
        EXPECT_EQ(m_stream->peek(), m_content[position]);
        EXPECT_EQ(m_stream->tell(), position);
        uint8_t byte = 0;
        ASSERT_EQ(m_stream->read(1, &byte), 1u);
        EXPECT_EQ(byte, m_content[position]);
    }
    EXPECT_EQ(errorMessageOf([&] { m_stream->peek(); }), "Cannot peek past the end of the stream");
    EXPECT_EQ(m_stream->tell(), CONTENT_SIZE);
}

TEST_P(StreamAccessReadable, ReportsTheStorageOfItsBytes)
{
    const auto storage = m_stream->storage();
    if (GetParam().inFile) {
        ASSERT_NE(storage, nullptr);
        EXPECT_EQ(storage->location(), m_dir.path());
        EXPECT_EQ(m_stream->resourceId(), "data.bin");
        EXPECT_TRUE(storage->exists(m_stream->resourceId()));
    } else {
        EXPECT_EQ(storage, nullptr);
        EXPECT_EQ(m_stream->resourceId(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, StreamAccessReadable, ::testing::ValuesIn(READABLE_KINDS), kindName);

// Random reads, writes and seeks checked against a plain vector; the sizes straddle
// the file stream's buffer so that every switch between reading and writing occurs.
TEST_P(StreamAccessWritable, MixedOperationsFollowAModel)
{
    std::vector<uint8_t> model = m_content;
    uint64_t position = 0;
    std::mt19937 random(20240611);
    const size_t sizes[] = {1, 3, 100, 4000, BUFFER - 1, BUFFER, BUFFER + 7, 150000};
    for (int i = 0; i < 1000; ++i) {
        SCOPED_TRACE(i);
        const size_t size = sizes[random() % std::size(sizes)];
        switch (random() % 4) {
        case 0: {
            std::vector<uint8_t> got(size);
            got.resize(m_stream->read(size, got.data()));
            ASSERT_TRUE(sameBytes(got, slice(model, position, size)));
            position += got.size();
            break;
        }
        case 1: {
            const std::vector<uint8_t> bytes = pattern(size, static_cast<uint32_t>(i + 1));
            ASSERT_EQ(m_stream->write(size, bytes.data()), size);
            if (model.size() < position + size) {
                model.resize(position + size);
            }
            std::copy(bytes.begin(), bytes.end(), model.begin() + static_cast<std::ptrdiff_t>(position));
            position += size;
            break;
        }
        case 2: {
            const int64_t back = -static_cast<int64_t>(position);
            const int64_t offset = std::max(static_cast<int64_t>(random() % 2001) - 1000, back);
            m_stream->seek(offset, SeekOrigin::CURRENT);
            position = static_cast<uint64_t>(static_cast<int64_t>(position) + offset);
            break;
        }
        default: {
            if (random() % 2 == 0) {
                position = random() % (model.size() + 100);
                m_stream->seek(static_cast<int64_t>(position), SeekOrigin::BEGIN);
            } else {
                const auto back = static_cast<int64_t>(random() % model.size());
                const int64_t offset = static_cast<int64_t>(random() % 100) - back;
                m_stream->seek(offset, SeekOrigin::END);
                position = static_cast<uint64_t>(static_cast<int64_t>(model.size()) + offset);
            }
            break;
        }
        }
        ASSERT_EQ(m_stream->tell(), position);
        ASSERT_FALSE(m_stream->fail());
    }
    m_stream->seek(0, SeekOrigin::BEGIN);
    EXPECT_TRUE(sameBytes(readToEnd(*m_stream, 50000), model));
    if (GetParam().inFile) {
        m_stream.reset();
        EXPECT_TRUE(sameBytes(readFile(m_path), model));
    }
}

TEST_P(StreamAccessWritable, WritingPastTheEndFillsTheGapWithZeros)
{
    const std::vector<uint8_t> tail = bytesOf("abc");
    m_stream->seek(10, SeekOrigin::END);
    ASSERT_EQ(m_stream->write(tail.size(), tail.data()), tail.size());
    m_stream->seek(0, SeekOrigin::END);
    EXPECT_EQ(m_stream->tell(), CONTENT_SIZE + 13);

    std::vector<uint8_t> expected = m_content;
    expected.resize(CONTENT_SIZE + 10, 0);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_TRUE(sameBytes(readAt(CONTENT_SIZE - 5, 100), slice(expected, CONTENT_SIZE - 5, 100)));
    m_stream->flush();
    if (GetParam().inFile) {
        EXPECT_TRUE(sameBytes(readFile(m_path), expected)) << "flush() must push the bytes to the file";
    }
}

TEST_P(StreamAccessWritable, OverwritingPartOfRecentWritesKeepsTheRest)
{
    const std::string first(100, 'A');
    ASSERT_EQ(m_stream->write(first.size(), first.data()), first.size());
    m_stream->seek(-60, SeekOrigin::CURRENT);
    ASSERT_EQ(m_stream->write(10, "BBBBBBBBBB"), 10u);
    m_stream->seek(5, SeekOrigin::CURRENT);
    ASSERT_EQ(m_stream->write(1, "C"), 1u);
    EXPECT_EQ(m_stream->tell(), 56u);

    std::vector<uint8_t> expected = m_content;
    const std::string patched = std::string(40, 'A') + std::string(10, 'B') + "AAAAAC" + std::string(44, 'A');
    std::copy(patched.begin(), patched.end(), expected.begin());
    EXPECT_TRUE(sameBytes(readAt(0, 200), slice(expected, 0, 200)));
    if (GetParam().inFile) {
        m_stream.reset();
        EXPECT_TRUE(sameBytes(readFile(m_path), expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, StreamAccessWritable, ::testing::ValuesIn(WRITABLE_KINDS), kindName);

class StreamAccessFile : public ::testing::Test {
protected:
    /// A file stream reading a pipe that holds `bytes` and whose writer has left.
    std::shared_ptr<StreamAccess> openPipeHolding(const std::vector<uint8_t>& bytes)
    {
        int fds[2];
        if (::pipe(fds) != 0) {
            throw std::runtime_error("pipe failed");
        }
        EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        // Opened while the writer is still there, or the open would wait for one.
        auto stream = StreamAccessFactory::openFileRead("/dev/fd/" + std::to_string(fds[0]));
        ::close(fds[1]);
        ::close(fds[0]);
        return stream;
    }

    TemporaryDirectory m_dir;
};

TEST_F(StreamAccessFile, OpenModesGiveTheirCapabilities)
{
    const std::string path = m_dir.file("modes.bin");
    writeFile(path, pattern(100));
    struct Mode {
        const char* name;
        std::function<std::shared_ptr<StreamAccess>()> open;
        StreamAccessCapabilitySet capabilities;
    };
    const Mode modes[] = {
        {"openFileRead",
         [&] { return StreamAccessFactory::openFileRead(path); },
         {StreamAccessCapability::READ, StreamAccessCapability::SEEK}},
        {"openFile",
         [&] { return StreamAccessFactory::openFile(path); },
         {StreamAccessCapability::READ, StreamAccessCapability::WRITE, StreamAccessCapability::SEEK}},
        {"openFileWrite",
         [&] { return StreamAccessFactory::openFileWrite(path); },
         {StreamAccessCapability::WRITE, StreamAccessCapability::SEEK}},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        auto stream = mode.open();
        EXPECT_EQ(stream->capabilities(), mode.capabilities);
        uint8_t byte = 0;
        if (!mode.capabilities.has(StreamAccessCapability::READ)) {
            EXPECT_THROW(stream->read(1, &byte), NotImplemented);
            EXPECT_THROW(stream->peek(), NotImplemented);
        }
        if (!mode.capabilities.has(StreamAccessCapability::WRITE)) {
            EXPECT_THROW(stream->write(1, &byte), NotImplemented);
        }
        EXPECT_THROW(stream->buffer(), NotImplemented);
    }
}

TEST_F(StreamAccessFile, OpenFileWriteEmptiesAndOpenFileKeepsTheRest)
{
    const std::string path = m_dir.file("update.bin");
    const std::vector<uint8_t> original = pattern(1000);
    writeFile(path, original);
    {
        auto stream = StreamAccessFactory::openFile(path);
        stream->seek(10, SeekOrigin::BEGIN);
        ASSERT_EQ(stream->write(4, "ABCD"), 4u);
    }
    std::vector<uint8_t> patched = original;
    std::copy_n("ABCD", 4, patched.begin() + 10);
    EXPECT_TRUE(sameBytes(readFile(path), patched));

    {
        auto stream = StreamAccessFactory::openFileWrite(path);
        ASSERT_EQ(stream->write(2, "xy"), 2u);
    }
    EXPECT_EQ(readFile(path), bytesOf("xy"));
}

// Parsers make many small relative seeks and reads; inside the buffered window they
// must not reach the system, and a big read must not be cut into buffer-sized calls.
TEST_F(StreamAccessFile, SystemCallsStayFew)
{
    if (readSystemCalls() < 0) {
        GTEST_SKIP() << "the system does not count read calls";
    }
    const std::string path = m_dir.file("calls.bin");
    const std::vector<uint8_t> content = pattern(CONTENT_SIZE);
    writeFile(path, content);
    auto stream = StreamAccessFactory::openFileRead(path);
    std::vector<uint8_t> piece(16);
    ASSERT_EQ(stream->read(piece.size(), piece.data()), piece.size());

    long start = readSystemCalls();
    const long probeCost = readSystemCalls() - start;
    std::mt19937 random(7);
    for (int i = 0; i < 1000; ++i) {
        stream->seek(static_cast<int64_t>(random() % (BUFFER - 100)), SeekOrigin::BEGIN);
        stream->seek(static_cast<int64_t>(random() % 50) - 20, SeekOrigin::CURRENT);
        const uint64_t position = stream->tell();
        ASSERT_EQ(stream->peek(), content[position]);
        ASSERT_EQ(stream->read(piece.size(), piece.data()), piece.size());
        ASSERT_TRUE(sameBytes(piece, slice(content, position, piece.size())));
    }
    EXPECT_LE(readSystemCalls() - start, 2 * probeCost) << "seeks inside the buffer cost system calls";

    std::vector<uint8_t> all(CONTENT_SIZE);
    stream->seek(0, SeekOrigin::END);
    stream->seek(0, SeekOrigin::BEGIN);
    start = readSystemCalls();
    ASSERT_EQ(stream->read(all.size(), all.data()), all.size());
    EXPECT_LE(readSystemCalls() - start, 2 * probeCost + 1) << "a big read takes one call";
    EXPECT_TRUE(sameBytes(all, content));
}

TEST_F(StreamAccessFile, OpenFailuresNameThePathAndTheReason)
{
    const std::string missing = m_dir.file("missing.bin");
    const std::string nested = m_dir.file("no/such/dir.bin");
    struct Failure {
        std::function<void()> open;
        std::string message;
    };
    const Failure failures[] = {
        {[&] { StreamAccessFactory::openFileRead(missing); },
         "Cannot open file '" + missing + "' for reading: " + systemText(ENOENT)},
        {[&] { StreamAccessFactory::openFileRead(m_dir.path()); },
         "Cannot open file '" + m_dir.path() + "' for reading: " + systemText(EISDIR)},
        {[&] { StreamAccessFactory::openFileWrite(nested); },
         "Cannot open file '" + nested + "' for writing: " + systemText(ENOENT)},
        {[&] { StreamAccessFactory::openFileWrite(m_dir.path()); },
         "Cannot open file '" + m_dir.path() + "' for writing: " + systemText(EISDIR)},
        {[&] { StreamAccessFactory::openFile(missing); },
         "Cannot open file '" + missing + "' for reading and writing: " + systemText(ENOENT)},
    };
    for (const Failure& failure : failures) {
        EXPECT_EQ(errorMessageOf(failure.open), failure.message);
    }
    EXPECT_FALSE(std::filesystem::exists(missing)) << "openFile must not create";
}

TEST_F(StreamAccessFile, APipeReadsToItsEndButCannotSeek)
{
    const std::vector<uint8_t> bytes = pattern(5000);
    auto stream = openPipeHolding(bytes);
    EXPECT_EQ(stream->capabilities(), StreamAccessCapabilitySet(StreamAccessCapability::READ));
    EXPECT_THROW(stream->seek(0, SeekOrigin::BEGIN), NotImplemented);
    EXPECT_EQ(stream->peek(), bytes[0]);
    std::vector<uint8_t> got(6000);
    got.resize(stream->read(got.size(), got.data()));
    EXPECT_TRUE(sameBytes(got, bytes));
    EXPECT_TRUE(stream->eof());
    EXPECT_EQ(stream->tell(), bytes.size());
}

TEST_F(StreamAccessFile, WriteFailuresSetFailAndFlushReportsThem)
{
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    auto stream = StreamAccessFactory::openFileWrite("/dev/full");
    ASSERT_EQ(stream->write(10, "0123456789"), 10u) << "small writes are buffered";
    EXPECT_TRUE(stream->good());
    const std::string message = errorMessageOf([&] { stream->flush(); });
    EXPECT_NE(message.find("'/dev/full'"), std::string::npos) << message;
    EXPECT_TRUE(stream->fail());
    EXPECT_FALSE(stream->good());

    const std::vector<uint8_t> big(3 * BUFFER);
    EXPECT_EQ(stream->write(big.size(), big.data()), 0u);
    EXPECT_TRUE(stream->fail());
}

TEST_F(StreamAccessFile, ReadFailuresSetFailNotEof)
{
    // Offset 0 of a process's memory is never mapped: reading it fails with EIO.
    std::shared_ptr<StreamAccess> stream;
    try {
        stream = StreamAccessFactory::openFileRead("/proc/self/mem");
    } catch (const dravik::Error& error) {
        GTEST_SKIP() << error.what();
    }
    uint8_t bytes[16];
    EXPECT_EQ(stream->read(sizeof bytes, bytes), 0u);
    EXPECT_TRUE(stream->fail());
    EXPECT_FALSE(stream->eof());
    EXPECT_FALSE(stream->good());
    stream->seek(0, SeekOrigin::BEGIN);
    EXPECT_TRUE(stream->fail()) << "an input/output error stays";
}

TEST_F(StreamAccessFile, CopyInMemoryTakesTheRestOfAnyReadableStream)
{
    const std::vector<uint8_t> content = pattern(CONTENT_SIZE);
    const std::string path = m_dir.file("copy.bin");
    writeFile(path, content);

    auto file = StreamAccessFactory::openFileRead(path);
    file->seek(1000, SeekOrigin::BEGIN);
    auto copy = StreamAccessFactory::copyInMemory(file);
    EXPECT_TRUE(copy->support(StreamAccessCapability::MEMORY_ACCESS));
    EXPECT_EQ(copy->tell(), 0u);
    ASSERT_EQ(copy->bufferSize(), CONTENT_SIZE - 1000);
    const auto* held = static_cast<const uint8_t*>(copy->bufferReadOnly());
    EXPECT_TRUE(sameBytes(std::vector<uint8_t>(held, held + copy->bufferSize()), slice(content, 1000, CONTENT_SIZE)));

    // A pipe announces no size at all.
    auto fromPipe = StreamAccessFactory::copyInMemory(openPipeHolding(slice(content, 0, 3000)));
    EXPECT_TRUE(sameBytes(readToEnd(*fromPipe), slice(content, 0, 3000)));

    EXPECT_THROW(StreamAccessFactory::copyInMemory(nullptr), dravik::InvalidArgument);
    EXPECT_THROW(StreamAccessFactory::copyInMemory(StreamAccessFactory::openFileWrite(m_dir.file("w.bin"))),
                 dravik::InvalidArgument);
    EXPECT_THROW(StreamAccessFactory::fromRandomAccess(nullptr), dravik::InvalidArgument);
}

TEST(StreamAccessMemory, BufferExposesTheWholeContent)
{
    auto stream = StreamAccessFactory::createInMemory();
    EXPECT_EQ(stream->capabilities(),
              StreamAccessCapabilitySet({StreamAccessCapability::READ, StreamAccessCapability::WRITE,
                                         StreamAccessCapability::SEEK, StreamAccessCapability::MEMORY_ACCESS}));
    EXPECT_EQ(stream->bufferSize(), 0u);
    ASSERT_EQ(stream->write(5, "hello"), 5u);
    stream->seek(1, SeekOrigin::BEGIN);
    ASSERT_EQ(stream->write(1, "a"), 1u);
    ASSERT_EQ(stream->bufferSize(), 5u);
    EXPECT_EQ(std::string(static_cast<const char*>(stream->bufferReadOnly()), 5), "hallo");
    static_cast<uint8_t*>(stream->buffer())[0] = 'c';
    stream->seek(0, SeekOrigin::BEGIN);
    EXPECT_EQ(readToEnd(*stream), bytesOf("callo"));
}

class StreamAccessStdAdapters : public ::testing::Test {
protected:
    TemporaryDirectory m_dir;
};

TEST_F(StreamAccessStdAdapters, InputParsesTextAndReadsBigBlocks)
{
    const std::vector<uint8_t> big = pattern(3 * BUFFER + 17);
    std::vector<uint8_t> content = bytesOf("12 34 word\n");
    content.insert(content.end(), big.begin(), big.end());
    const std::string path = m_dir.file("text.bin");
    writeFile(path, content);

    auto in = StreamAccessFactory::toStdIStream(StreamAccessFactory::openFileRead(path));
    int first = 0;
    int second = 0;
    std::string word;
    *in >> first >> second >> word;
    EXPECT_EQ(first, 12);
    EXPECT_EQ(second, 34);
    EXPECT_EQ(word, "word");
    EXPECT_EQ(in->tellg(), std::streampos(10));
    EXPECT_EQ(in->get(), '\n');

    std::vector<uint8_t> got(big.size());
    in->read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(got.size()));
    EXPECT_EQ(in->gcount(), static_cast<std::streamsize>(big.size()));
    EXPECT_TRUE(sameBytes(got, big));
    EXPECT_EQ(in->get(), std::char_traits<char>::eof());
    EXPECT_TRUE(in->eof());

    in->clear();
    in->seekg(3);
    *in >> second;
    EXPECT_EQ(second, 34);
}

TEST_F(StreamAccessStdAdapters, InputGivesBackItsReadAheadWhenDestroyed)
{
    auto stream = StreamAccessFactory::fromBytes(pattern(1000));
    {
        auto in = StreamAccessFactory::toStdIStream(stream);
        char bytes[10];
        in->read(bytes, sizeof bytes);
    }
    EXPECT_EQ(stream->tell(), 10u);
}

TEST_F(StreamAccessStdAdapters, OutputFlushReachesTheFile)
{
    const std::string path = m_dir.file("out.txt");
    auto out = StreamAccessFactory::toStdOStream(StreamAccessFactory::openFileWrite(path));
    *out << "value " << 42 << '\n';
    out->flush();
    ASSERT_TRUE(out->good());
    EXPECT_EQ(readFile(path), bytesOf("value 42\n"));

    const std::vector<uint8_t> big = pattern(2 * BUFFER + 3);
    *out << 'x';
    out->write(reinterpret_cast<const char*>(big.data()), static_cast<std::streamsize>(big.size()));
    *out << 'y';
    EXPECT_EQ(out->tellp(), std::streampos(static_cast<std::streamoff>(9 + big.size() + 2)));
    out.reset();
    std::vector<uint8_t> expected = bytesOf("value 42\nx");
    expected.insert(expected.end(), big.begin(), big.end());
    expected.push_back('y');
    EXPECT_TRUE(sameBytes(readFile(path), expected)) << "destroying the output stream flushes it";
}

TEST_F(StreamAccessStdAdapters, RefuseStreamsGoingTheWrongWay)
{
    const std::string path = m_dir.file("ways.bin");
    writeFile(path, pattern(10));
    EXPECT_THROW(StreamAccessFactory::toStdIStream(nullptr), dravik::InvalidArgument);
    EXPECT_THROW(StreamAccessFactory::toStdOStream(nullptr), dravik::InvalidArgument);
    EXPECT_THROW(StreamAccessFactory::toStdIStream(StreamAccessFactory::openFileWrite(m_dir.file("w.bin"))),
                 dravik::InvalidArgument);
    EXPECT_THROW(StreamAccessFactory::toStdOStream(StreamAccessFactory::openFileRead(path)), dravik::InvalidArgument);
}

} // namespace
