#include "StorageTestSupport.h"

#include <dravik/DataStorage.h>
#include <dravik/Error.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <limits>
#include <random>
#include <thread>

using dravik::InvalidArgument;
using dravik::NotImplemented;
using dravik::RandomAccess;
using dravik::RandomAccessCapability;
using dravik::RandomAccessCapabilitySet;
using dravik::RandomAccessFactory;
using dravik::SeekOrigin;
using dravik::StreamAccess;
using dravik::StreamAccessCapability;
using dravik::StreamAccessFactory;
using namespace storagetest;

namespace {

constexpr size_t CONTENT_SIZE = 300 * 1024 + 77;
constexpr uint64_t UNBOUNDED = std::numeric_limits<uint64_t>::max();

struct RandomKind {
    const char* name;
    /// A random access holding `content`; files it needs go to `dir` as "data.bin".
    std::function<std::shared_ptr<RandomAccess>(const TemporaryDirectory& dir, const std::vector<uint8_t>& content)>
        open;
    bool inFile;
};

void PrintTo(const RandomKind& kind, std::ostream* out)
{
    *out << kind.name;
}

std::string kindName(const ::testing::TestParamInfo<RandomKind>& info)
{
    return info.param.name;
}

std::string dataFile(const TemporaryDirectory& dir, const std::vector<uint8_t>& content)
{
    const std::string path = dir.file("data.bin");
    writeFile(path, content);
    return path;
}

std::vector<uint8_t> framed(const std::vector<uint8_t>& content, size_t before, size_t after)
{
    std::vector<uint8_t> bytes(before + content.size() + after, 0xBB);
    std::fill_n(bytes.begin(), before, 0xAA);
    std::copy(content.begin(), content.end(), bytes.begin() + static_cast<std::ptrdiff_t>(before));
    return bytes;
}

const RandomKind KINDS[] = {
    {"FileRead", [](auto& dir, auto& content) { return RandomAccessFactory::openFileRead(dataFile(dir, content)); },
     true},
    {"FileUpdate", [](auto& dir, auto& content) { return RandomAccessFactory::openFile(dataFile(dir, content)); },
     true},
    {"Memory", [](auto&, auto& content) { return RandomAccessFactory::fromBytes(content); }, false},
    {"FromFileStream",
     [](auto& dir, auto& content) {
         return RandomAccessFactory::fromStream(StreamAccessFactory::openFileRead(dataFile(dir, content)));
     },
     true},
    {"FromMemoryStream",
     [](auto&, auto& content) { return RandomAccessFactory::fromStream(StreamAccessFactory::fromBytes(content)); },
     false},
    {"FromForeignStream",
     [](auto&, auto& content) {
         return RandomAccessFactory::fromStream(std::make_shared<ForeignStream>(
             content, dravik::StreamAccessCapabilitySet{StreamAccessCapability::READ, StreamAccessCapability::SEEK}));
     },
     false},
    {"RegionOfMemory",
     [](auto&, auto& content) {
         return RandomAccessFactory::extractRegion(RandomAccessFactory::fromBytes(framed(content, 1000, 500)), 1000,
                                                   content.size());
     },
     false},
    {"UnboundedRegionOfFile",
     [](auto& dir, auto& content) {
         auto file = RandomAccessFactory::openFileRead(dataFile(dir, framed(content, 77, 0)));
         return RandomAccessFactory::extractRegion(file, 77);
     },
     true},
    {"CopyOfFile",
     [](auto& dir, auto& content) {
         return RandomAccessFactory::copyInMemory(RandomAccessFactory::openFileRead(dataFile(dir, content)));
     },
     false},
};

class RandomAccessKinds : public ::testing::TestWithParam<RandomKind> {
protected:
    void SetUp() override
    {
        m_content = pattern(CONTENT_SIZE);
        m_random = GetParam().open(m_dir, m_content);
        ASSERT_NE(m_random, nullptr);
    }

    TemporaryDirectory m_dir;
    std::vector<uint8_t> m_content;
    std::shared_ptr<RandomAccess> m_random;
};

TEST_P(RandomAccessKinds, ReadsAreClippedToTheSize)
{
    EXPECT_TRUE(m_random->support(RandomAccessCapability::READ));
    ASSERT_EQ(m_random->size(), CONTENT_SIZE);
    struct Read {
        uint64_t offset;
        uint64_t size;
    };
    const Read reads[] = {
        {0, 0},
        {0, 16},
        {1000, 70000},
        {CONTENT_SIZE - 5, 16},
        {CONTENT_SIZE, 16},
        {CONTENT_SIZE + 1000, 16},
        {0, CONTENT_SIZE + 100},
        {UNBOUNDED - 3, 16},
        {static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), 16},
    };
    for (const Read& read : reads) {
        SCOPED_TRACE(::testing::Message() << read.offset << "+" << read.size);
        const std::vector<uint8_t> expected = slice(m_content, read.offset, read.size);
        // A margin shows writes past the count returned.
        const size_t room = static_cast<size_t>(std::min<uint64_t>(read.size, CONTENT_SIZE + 100));
        std::vector<uint8_t> got(room + 8, 0xEE);
        const uint64_t count = m_random->read(read.offset, read.size, got.data());
        ASSERT_EQ(count, expected.size());
        EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(count), got.end(),
                                [](uint8_t byte) { return byte == 0xEE; }));
        got.resize(count);
        EXPECT_TRUE(sameBytes(got, expected));
    }
}

TEST_P(RandomAccessKinds, ThreadsReadingAtOnceGetTheirBytes)
{
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 random(t + 1);
            std::vector<uint8_t> got;
            for (int i = 0; i < 150; ++i) {
                const uint64_t offset = random() % CONTENT_SIZE;
                const uint64_t size = 1 + random() % 40000;
                got.resize(size);
                got.resize(m_random->read(offset, size, got.data()));
                if (got != slice(m_content, offset, size)) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_P(RandomAccessKinds, ReportsTheStorageOfItsBytes)
{
    if (GetParam().inFile) {
        ASSERT_NE(m_random->storage(), nullptr);
        EXPECT_EQ(m_random->storage()->location(), m_dir.path());
        EXPECT_EQ(m_random->resourceId(), "data.bin");
    } else {
        EXPECT_EQ(m_random->storage(), nullptr);
        EXPECT_EQ(m_random->resourceId(), GetParam().name == std::string("FromForeignStream") ? "foreign" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RandomAccessKinds, ::testing::ValuesIn(KINDS), kindName);

TEST(RandomAccessRegion, SizeFollowsTheSourceAndTheBounds)
{
    constexpr uint64_t n = 1000;
    const std::vector<uint8_t> content = pattern(n);
    auto source = RandomAccessFactory::fromBytes(content);
    struct Case {
        uint64_t offset;
        uint64_t size;
        uint64_t expectedSize;
    };
    const Case cases[] = {
        {0, UNBOUNDED, n}, {10, 100, 100}, {n - 5, 100, 5}, {n, 10, 0}, {n + 10, UNBOUNDED, 0}, {10, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.offset << "+" << c.size);
        auto region = RandomAccessFactory::extractRegion(source, c.offset, c.size);
        EXPECT_EQ(region->size(), c.expectedSize);
        std::vector<uint8_t> got(n + 50);
        got.resize(region->read(0, got.size(), got.data()));
        EXPECT_TRUE(sameBytes(got, slice(content, c.offset, c.expectedSize)));
        std::vector<uint8_t> tail(8);
        tail.resize(region->read(3, tail.size(), tail.data()));
        EXPECT_TRUE(sameBytes(tail, slice(slice(content, c.offset, c.expectedSize), 3, 8)));

        ASSERT_TRUE(region->support(RandomAccessCapability::MEMORY_ACCESS));
        EXPECT_EQ(region->bufferSize(), c.expectedSize);
        if (c.expectedSize > 0) {
            EXPECT_EQ(region->bufferReadOnly(), static_cast<const uint8_t*>(source->bufferReadOnly()) + c.offset);
        }
    }
}

TEST(RandomAccessRegion, IsClippedAtReadTimeAsTheSourceGrows)
{
    auto source = RandomAccessFactory::fromBytes(pattern(100));
    auto region = RandomAccessFactory::extractRegion(source, 100, 10);
    EXPECT_EQ(region->size(), 0u);
    const std::vector<uint8_t> more = pattern(20, 7);
    ASSERT_EQ(source->write(100, more.size(), more.data()), more.size());
    EXPECT_EQ(region->size(), 10u);
    std::vector<uint8_t> got(20);
    got.resize(region->read(0, got.size(), got.data()));
    EXPECT_TRUE(sameBytes(got, slice(more, 0, 10)));
}

TEST(RandomAccessRegion, WritesStayInsideABoundedRegion)
{
    auto source = RandomAccessFactory::fromBytes(std::vector<uint8_t>(100, 0));
    auto bounded = RandomAccessFactory::extractRegion(source, 10, 4);
    EXPECT_EQ(bounded->write(2, 8, "ABCDEFGH"), 2u);
    EXPECT_EQ(bounded->write(4, 1, "Z"), 0u);
    std::vector<uint8_t> expected(100, 0);
    expected[12] = 'A';
    expected[13] = 'B';
    std::vector<uint8_t> got(100);
    ASSERT_EQ(source->read(0, 100, got.data()), 100u);
    EXPECT_TRUE(sameBytes(got, expected));

    auto unbounded = RandomAccessFactory::extractRegion(source, 90);
    EXPECT_EQ(unbounded->write(15, 3, "xyz"), 3u);
    EXPECT_EQ(source->size(), 108u);
    EXPECT_EQ(unbounded->size(), 18u);
}

TEST(RandomAccessRegion, ForwardsStorageAndRefusesAnEmptySource)
{
    TemporaryDirectory dir;
    writeFile(dir.file("data.bin"), pattern(100));
    auto region = RandomAccessFactory::extractRegion(RandomAccessFactory::openFileRead(dir.file("data.bin")), 10, 20);
    EXPECT_EQ(region->resourceId(), "data.bin");
    ASSERT_NE(region->storage(), nullptr);
    EXPECT_EQ(region->storage()->location(), dir.path());
    EXPECT_FALSE(region->support(RandomAccessCapability::MEMORY_ACCESS));
    EXPECT_THROW(RandomAccessFactory::extractRegion(nullptr, 0), InvalidArgument);
}

class RandomAccessFromStream : public ::testing::Test {
protected:
    TemporaryDirectory m_dir;
};

TEST_F(RandomAccessFromStream, FileStreamSharesTheFileAfterFlushing)
{
    const std::string path = m_dir.file("shared.bin");
    writeFile(path, pattern(1000));
    auto stream = StreamAccessFactory::openFile(path);
    ASSERT_EQ(stream->write(4, "ABCD"), 4u);
    auto random = RandomAccessFactory::fromStream(stream);
    EXPECT_EQ(random->capabilities(),
              RandomAccessCapabilitySet({RandomAccessCapability::READ, RandomAccessCapability::WRITE}));
    char got[4] = {};
    ASSERT_EQ(random->read(0, 4, got), 4u);
    EXPECT_EQ(std::string(got, 4), "ABCD") << "pending writes are flushed first";

    ASSERT_EQ(stream->write(4, "EFGH"), 4u);
    stream->flush();
    ASSERT_EQ(random->read(4, 4, got), 4u);
    EXPECT_EQ(std::string(got, 4), "EFGH");
    EXPECT_EQ(random->storage(), stream->storage());
    EXPECT_EQ(random->resourceId(), "shared.bin");

    stream.reset();
    ASSERT_EQ(random->read(0, 4, got), 4u) << "the file stays open while the random access lives";
    EXPECT_EQ(std::string(got, 4), "ABCD");
}

TEST_F(RandomAccessFromStream, MemoryStreamSharesItsBytes)
{
    auto stream = StreamAccessFactory::fromBytes(bytesOf("0123456789"));
    auto random = RandomAccessFactory::fromStream(stream);
    ASSERT_EQ(random->write(2, 2, "ab"), 2u);
    EXPECT_EQ(readToEnd(*stream), bytesOf("01ab456789"));
    ASSERT_EQ(stream->write(3, "XYZ"), 3u);
    EXPECT_EQ(random->size(), 13u);
    EXPECT_EQ(random->bufferReadOnly(), stream->bufferReadOnly());
}

TEST_F(RandomAccessFromStream, ForeignStreamKeepsItsPosition)
{
    auto stream = std::make_shared<ForeignStream>(pattern(500),
                                                  dravik::StreamAccessCapabilitySet{StreamAccessCapability::READ,
                                                                                    StreamAccessCapability::WRITE,
                                                                                    StreamAccessCapability::SEEK});
    stream->seek(7, SeekOrigin::BEGIN);
    auto random = RandomAccessFactory::fromStream(stream);
    EXPECT_EQ(random->size(), 500u);
    EXPECT_EQ(stream->tell(), 7u);
    std::vector<uint8_t> got(50);
    ASSERT_EQ(random->read(480, got.size(), got.data()), 20u);
    EXPECT_EQ(stream->tell(), 7u);
    ASSERT_EQ(random->write(498, 4, "WXYZ"), 4u);
    EXPECT_EQ(random->size(), 502u);
    EXPECT_EQ(slice(stream->bytes(), 498, 4), bytesOf("WXYZ"));
    EXPECT_EQ(stream->tell(), 7u);
}

TEST_F(RandomAccessFromStream, RefusesStreamsThatCannotReadAndSeek)
{
    using dravik::StreamAccessCapabilitySet;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    auto pipe = StreamAccessFactory::openFileRead("/dev/fd/" + std::to_string(fds[0]));
    ::close(fds[0]);
    ::close(fds[1]);

    const std::shared_ptr<StreamAccess> refused[] = {
        nullptr,
        pipe,
        std::make_shared<ForeignStream>(pattern(10), StreamAccessCapabilitySet(StreamAccessCapability::READ)),
        std::make_shared<ForeignStream>(
            pattern(10), StreamAccessCapabilitySet{StreamAccessCapability::WRITE, StreamAccessCapability::SEEK}),
    };
    for (const auto& stream : refused) {
        EXPECT_THROW(RandomAccessFactory::fromStream(stream), InvalidArgument);
    }
}

TEST(RandomAccessCopy, CopiesWhatCanBeRead)
{
    TemporaryDirectory dir;
    const std::vector<uint8_t> content = pattern(CONTENT_SIZE);
    writeFile(dir.file("data.bin"), content);
    auto file = RandomAccessFactory::openFile(dir.file("data.bin"));
    auto copy = RandomAccessFactory::copyInMemory(file);
    ASSERT_TRUE(copy->support(RandomAccessCapability::MEMORY_ACCESS));
    ASSERT_EQ(copy->bufferSize(), CONTENT_SIZE);
    const auto* held = static_cast<const uint8_t*>(copy->bufferReadOnly());
    EXPECT_TRUE(sameBytes(std::vector<uint8_t>(held, held + CONTENT_SIZE), content));
    ASSERT_EQ(copy->write(0, 4, "ABCD"), 4u);
    EXPECT_TRUE(sameBytes(readFile(dir.file("data.bin")), content)) << "the copy is independent";

    EXPECT_THROW(RandomAccessFactory::copyInMemory(nullptr), InvalidArgument);
}

// A random access whose size promises more than it holds.
class OverstatedRandomAccess : public RandomAccess {
public:
    OverstatedRandomAccess(std::vector<uint8_t> bytes, uint64_t size)
        : m_bytes(std::move(bytes))
        , m_size(size)
    {
    }
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return "overstated"; }
    RandomAccessCapabilitySet capabilities() const override { return RandomAccessCapability::READ; }
    uint64_t size() const override { return m_size; }
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override
    {
        if (offset >= m_bytes.size()) {
            return 0;
        }
        // Never more than 1000 bytes at once, as a network source might.
        const uint64_t count = std::min<uint64_t>({size, m_bytes.size() - offset, 1000});
        std::memcpy(dst, m_bytes.data() + offset, count);
        return count;
    }

private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_size;
};

TEST(RandomAccessCopy, CopiesOnlyTheBytesThatExist)
{
    const std::vector<uint8_t> content = pattern(5000);
    auto copy = RandomAccessFactory::copyInMemory(std::make_shared<OverstatedRandomAccess>(content, 9000));
    ASSERT_EQ(copy->size(), content.size());
    std::vector<uint8_t> got(content.size());
    ASSERT_EQ(copy->read(0, got.size(), got.data()), got.size());
    EXPECT_TRUE(sameBytes(got, content));

    EXPECT_THROW(RandomAccessFactory::copyInMemory(std::make_shared<OverstatedRandomAccess>(content, 1ull << 62)),
                 dravik::Error);
}

class RandomAccessFile : public ::testing::Test {
protected:
    TemporaryDirectory m_dir;
};

TEST_F(RandomAccessFile, WritesGrowTheFileWithZeros)
{
    const std::string path = m_dir.file("grow.bin");
    writeFile(path, bytesOf("abc"));
    auto random = RandomAccessFactory::openFile(path);
    ASSERT_EQ(random->write(6, 2, "yz"), 2u);
    EXPECT_EQ(random->size(), 8u);
    EXPECT_EQ(readFile(path), std::vector<uint8_t>({'a', 'b', 'c', 0, 0, 0, 'y', 'z'}));

    auto readOnly = RandomAccessFactory::openFileRead(path);
    EXPECT_EQ(readOnly->capabilities(), RandomAccessCapabilitySet(RandomAccessCapability::READ));
    EXPECT_THROW(readOnly->write(0, 1, "q"), NotImplemented);
    EXPECT_THROW(readOnly->buffer(), NotImplemented);
}

TEST_F(RandomAccessFile, ABigReadIsOneSystemCall)
{
    if (readSystemCalls() < 0) {
        GTEST_SKIP() << "the system does not count read calls";
    }
    const std::vector<uint8_t> content = pattern(CONTENT_SIZE);
    writeFile(m_dir.file("big.bin"), content);
    auto random = RandomAccessFactory::openFileRead(m_dir.file("big.bin"));
    std::vector<uint8_t> got(CONTENT_SIZE);
    const long start = readSystemCalls();
    const long probeCost = readSystemCalls() - start;
    ASSERT_EQ(random->read(0, got.size(), got.data()), got.size());
    EXPECT_LE(readSystemCalls() - start, 2 * probeCost + 1);
    EXPECT_TRUE(sameBytes(got, content));
}

TEST_F(RandomAccessFile, OpenFailuresNameThePath)
{
    const std::string missing = m_dir.file("missing.bin");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string pipePath = "/dev/fd/" + std::to_string(fds[0]);
    struct Failure {
        std::function<void()> open;
        std::string message;
    };
    const Failure failures[] = {
        {[&] { RandomAccessFactory::openFileRead(missing); },
         "Cannot open file '" + missing + "' for reading: " + systemText(ENOENT)},
        {[&] { RandomAccessFactory::openFile(missing); },
         "Cannot open file '" + missing + "' for reading and writing: " + systemText(ENOENT)},
        {[&] { RandomAccessFactory::openFileRead(m_dir.path()); },
         "Cannot open file '" + m_dir.path() + "' for reading: " + systemText(EISDIR)},
        {[&] { RandomAccessFactory::openFileRead(pipePath); },
         "Cannot open file '" + pipePath + "' for reading: not a regular file, which positioned reads need"},
    };
    for (const Failure& failure : failures) {
        EXPECT_EQ(errorMessageOf(failure.open), failure.message);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
