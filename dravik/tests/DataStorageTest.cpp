#include "StorageTestSupport.h"

#include <dravik/DataStorage.h>
#include <dravik/DataStorageFactory.h>
#include <dravik/Error.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

using dravik::DataStorage;
using dravik::DataStorageFactory;
using dravik::InvalidArgument;
using dravik::NotImplemented;
using dravik::RandomAccessCapability;
using dravik::RandomAccessFactory;
using dravik::SeekOrigin;
using dravik::StreamAccess;
using dravik::StreamAccessCapability;
using dravik::StreamAccessCapabilitySet;
using dravik::StreamAccessFactory;
using namespace storagetest;

namespace {

constexpr StreamAccessCapabilitySet READ = StreamAccessCapability::READ;
constexpr StreamAccessCapabilitySet WRITE = StreamAccessCapability::WRITE;
constexpr StreamAccessCapabilitySet UPDATE{StreamAccessCapability::READ, StreamAccessCapability::WRITE};

struct StorageKind {
    const char* name;
    std::function<std::shared_ptr<DataStorage>(const TemporaryDirectory&)> create;
};

void PrintTo(const StorageKind& kind, std::ostream* out)
{
    *out << kind.name;
}

std::string kindName(const ::testing::TestParamInfo<StorageKind>& info)
{
    return info.param.name;
}

const StorageKind STORAGE_KINDS[] = {
    {"Directory", [](const TemporaryDirectory& dir) { return DataStorageFactory::directory(dir.path()); }},
    {"Memory", [](const TemporaryDirectory&) { return DataStorageFactory::createInMemory(); }},
};

std::vector<uint8_t> readResource(DataStorage& storage, const std::string& id)
{
    auto stream = storage.openStreamAccess(id, READ);
    return readToEnd(*stream);
}

void writeResource(DataStorage& storage, const std::string& id, StreamAccessCapabilitySet mode, const std::string& text,
                   int64_t at = 0)
{
    auto stream = storage.openStreamAccess(id, mode);
    stream->seek(at, SeekOrigin::BEGIN);
    ASSERT_EQ(stream->write(text.size(), text.data()), text.size());
}

class DataStorageKinds : public ::testing::TestWithParam<StorageKind> {
protected:
    void SetUp() override { m_storage = GetParam().create(m_dir); }

    TemporaryDirectory m_dir;
    std::shared_ptr<DataStorage> m_storage;
};

TEST_P(DataStorageKinds, CapabilitiesChooseTheOpenMode)
{
    const std::string missingMessage = errorMessageOf([&] { m_storage->openStreamAccess("a.bin", READ); });
    EXPECT_NE(missingMessage.find("a.bin"), std::string::npos) << missingMessage;
    EXPECT_THROW(m_storage->openRandomAccess("a.bin", RandomAccessCapability::READ), dravik::Error);
    EXPECT_FALSE(m_storage->exists("a.bin")) << "opening for reading creates nothing";

    writeResource(*m_storage, "a.bin", WRITE, "hello");
    EXPECT_TRUE(m_storage->exists("a.bin"));
    EXPECT_EQ(readResource(*m_storage, "a.bin"), bytesOf("hello"));

    writeResource(*m_storage, "a.bin", WRITE, "xy");
    EXPECT_EQ(readResource(*m_storage, "a.bin"), bytesOf("xy")) << "WRITE alone empties";

    writeResource(*m_storage, "a.bin", UPDATE, "Z", 1);
    EXPECT_EQ(readResource(*m_storage, "a.bin"), bytesOf("xZ")) << "READ and WRITE update in place";

    writeResource(*m_storage, "b.bin", UPDATE, "new");
    EXPECT_EQ(readResource(*m_storage, "b.bin"), bytesOf("new")) << "READ and WRITE create when missing";

    auto readOnly = m_storage->openStreamAccess("a.bin", READ);
    EXPECT_FALSE(readOnly->support(StreamAccessCapability::WRITE));
    EXPECT_THROW(readOnly->write(1, "q"), NotImplemented);
    auto writeOnly = m_storage->openStreamAccess("a.bin", WRITE);
    uint8_t byte = 0;
    EXPECT_THROW(writeOnly->read(1, &byte), NotImplemented);
}

TEST_P(DataStorageKinds, RemoveDeletesWhatExists)
{
    EXPECT_FALSE(m_storage->remove("gone.bin"));
    writeResource(*m_storage, "gone.bin", WRITE, "bytes");
    ASSERT_TRUE(m_storage->exists("gone.bin"));
    EXPECT_TRUE(m_storage->remove("gone.bin"));
    EXPECT_FALSE(m_storage->exists("gone.bin"));
    EXPECT_FALSE(m_storage->remove("gone.bin"));
    EXPECT_THROW(m_storage->openStreamAccess("gone.bin", READ), dravik::Error);
}

TEST_P(DataStorageKinds, AccessesReportTheStorageAndTheirName)
{
    writeResource(*m_storage, "header.hdr", WRITE, "data.raw");
    writeResource(*m_storage, "data.raw", WRITE, "pixels");

    auto header = m_storage->openStreamAccess("header.hdr", READ);
    EXPECT_EQ(header->storage(), m_storage);
    EXPECT_EQ(header->resourceId(), "header.hdr");
    const std::vector<uint8_t> named = readToEnd(*header);

    // A header opens the data it names through its own storage.
    auto data =
        header->storage()->openRandomAccess(std::string(named.begin(), named.end()), RandomAccessCapability::READ);
    EXPECT_EQ(data->storage(), m_storage);
    EXPECT_EQ(data->resourceId(), "data.raw");
    char pixels[6];
    ASSERT_EQ(data->read(0, 6, pixels), 6u);
    EXPECT_EQ(std::string(pixels, 6), "pixels");
}

TEST_P(DataStorageKinds, RandomAccessesAndStreamsSeeTheSameBytes)
{
    const std::vector<uint8_t> content = pattern(100000);
    {
        auto stream = m_storage->openStreamAccess("shared.bin", WRITE);
        ASSERT_EQ(stream->write(content.size(), content.data()), content.size());
    }
    auto random =
        m_storage->openRandomAccess("shared.bin", {RandomAccessCapability::READ, RandomAccessCapability::WRITE});
    ASSERT_EQ(random->size(), content.size());
    std::vector<uint8_t> got(content.size());
    ASSERT_EQ(random->read(0, got.size(), got.data()), got.size());
    EXPECT_TRUE(sameBytes(got, content));

    ASSERT_EQ(random->write(content.size(), 3, "end"), 3u);
    std::vector<uint8_t> expected = content;
    expected.insert(expected.end(), {'e', 'n', 'd'});
    EXPECT_TRUE(sameBytes(readResource(*m_storage, "shared.bin"), expected));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DataStorageKinds, ::testing::ValuesIn(STORAGE_KINDS), kindName);

class DataStorageDirectory : public ::testing::Test {
protected:
    TemporaryDirectory m_dir;
};

TEST_F(DataStorageDirectory, IdsThatLeaveTheDirectoryAreRefused)
{
    const std::string inner = m_dir.file("inner");
    std::filesystem::create_directory(inner);
    auto storage = DataStorageFactory::directory(inner);
    struct Refused {
        std::string id;
        std::string shown;
    };
    const Refused refused[] = {{"", ""},
                               {"..", ".."},
                               {"../x", "../x"},
                               {"a/../b", "a/../b"},
                               {"sub/..", "sub/.."},
                               {"/etc/passwd", "/etc/passwd"},
                               {std::string("a\0b", 3), "a\\0b"}};
    for (const Refused& entry : refused) {
        SCOPED_TRACE(entry.shown);
        const std::string& id = entry.id;
        const std::string expected = "Resource id '" + entry.shown + "' must name a file inside the storage";
        const std::function<void()> operations[] = {
            [&] { storage->exists(id); },
            [&] { storage->openStreamAccess(id, READ); },
            [&] { storage->openStreamAccess(id, WRITE); },
            [&] { storage->openRandomAccess(id, RandomAccessCapability::READ); },
            [&] { storage->remove(id); },
        };
        for (const auto& operation : operations) {
            EXPECT_THROW(operation(), InvalidArgument);
            EXPECT_EQ(errorMessageOf(operation), expected);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("x")));

    // Dots that are not a whole component, and subdirectories, stay inside.
    std::filesystem::create_directory(inner + "/sub");
    for (const std::string id : {"..x", "a..b", "sub/y.dat", "./c"}) {
        SCOPED_TRACE(id);
        writeResource(*storage, id, WRITE, "ok");
        EXPECT_TRUE(storage->exists(id));
        EXPECT_EQ(readFile(inner + "/" + id), bytesOf("ok"));
    }
}

TEST_F(DataStorageDirectory, FailuresNameThePath)
{
    auto storage = DataStorageFactory::directory(m_dir.path());
    std::filesystem::create_directory(m_dir.file("sub"));
    EXPECT_EQ(storage->location(), m_dir.path());
    EXPECT_FALSE(storage->exists("sub")) << "a directory is not a resource";
    EXPECT_EQ(errorMessageOf([&] { storage->openStreamAccess("missing.dat", READ); }),
              "Cannot open file '" + m_dir.file("missing.dat") + "' for reading: " + systemText(ENOENT));
    EXPECT_EQ(errorMessageOf([&] { storage->openStreamAccess("sub", UPDATE); }),
              "Cannot open file '" + m_dir.file("sub") + "' for reading and writing: " + systemText(EISDIR));
    EXPECT_THROW(storage->openStreamAccess("x.bin", StreamAccessCapabilitySet()), InvalidArgument);
    EXPECT_THROW(storage->openRandomAccess("x.bin", RandomAccessCapability::MEMORY_ACCESS), dravik::Error);
    EXPECT_FALSE(storage->exists("x.bin"));
    EXPECT_THROW(DataStorageFactory::directory(""), InvalidArgument);
}

TEST_F(DataStorageDirectory, AFileOpenedByPathOpensItsSiblings)
{
    const std::string dir = m_dir.file("scan");
    std::filesystem::create_directory(dir);
    writeFile(dir + "/x.vxt", bytesOf("header"));
    writeFile(dir + "/x.dat", pattern(300));

    auto header = StreamAccessFactory::openFileRead(dir + "/x.vxt");
    EXPECT_EQ(header->resourceId(), "x.vxt");
    ASSERT_NE(header->storage(), nullptr);
    EXPECT_EQ(header->storage()->location(), dir);
    auto data = header->storage()->openStreamAccess("x.dat", READ);
    EXPECT_TRUE(sameBytes(readToEnd(*data), pattern(300)));
    EXPECT_EQ(data->storage(), header->storage());

    auto random = RandomAccessFactory::openFileRead(dir + "/x.dat");
    EXPECT_EQ(random->resourceId(), "x.dat");
    EXPECT_TRUE(random->storage()->exists("x.vxt"));
}

TEST_F(DataStorageDirectory, AMovedPairStillOpens)
{
    const std::string before = m_dir.file("before");
    const std::string after = m_dir.file("after");
    std::filesystem::create_directory(before);
    writeFile(before + "/x.vxt", bytesOf("x.dat"));
    writeFile(before + "/x.dat", pattern(500));
    std::filesystem::rename(before, after);

    auto header = StreamAccessFactory::openFileRead(after + "/x.vxt");
    const std::vector<uint8_t> named = readToEnd(*header);
    auto data = header->storage()->openStreamAccess(std::string(named.begin(), named.end()), READ);
    EXPECT_TRUE(sameBytes(readToEnd(*data), pattern(500)));
    EXPECT_EQ(header->storage()->location(), after);
}

TEST(DataStorageMemory, AMissingResourceIsNamed)
{
    auto storage = DataStorageFactory::createInMemory();
    EXPECT_EQ(errorMessageOf([&] { storage->openStreamAccess("nothing", READ); }),
              "Resource 'nothing' not found in the memory storage");
    EXPECT_EQ(errorMessageOf([&] { storage->openRandomAccess("nothing", RandomAccessCapability::READ); }),
              "Resource 'nothing' not found in the memory storage");
    EXPECT_THROW(storage->openStreamAccess("", WRITE), InvalidArgument);
}

TEST(DataStorageMemory, AStreamStillOpenSharesItsBytesWithLaterAccesses)
{
    auto storage = DataStorageFactory::createInMemory();
    auto stream = storage->openStreamAccess("live.bin", UPDATE);
    ASSERT_EQ(stream->write(5, "abcde"), 5u);

    auto random = storage->openRandomAccess("live.bin", RandomAccessCapability::READ);
    ASSERT_TRUE(random->support(RandomAccessCapability::MEMORY_ACCESS));
    EXPECT_EQ(random->size(), 5u);
    EXPECT_EQ(std::string(static_cast<const char*>(random->bufferReadOnly()), 5), "abcde");
    EXPECT_THROW(random->write(0, 1, "q"), NotImplemented);

    ASSERT_EQ(stream->write(3, "fgh"), 3u);
    char got[8];
    ASSERT_EQ(random->read(0, 8, got), 8u);
    EXPECT_EQ(std::string(got, 8), "abcdefgh");

    // Accesses keep the storage, and the bytes outlive their name, as an unlinked file does.
    EXPECT_TRUE(storage->remove("live.bin"));
    storage.reset();
    EXPECT_EQ(random->size(), 8u);
    ASSERT_NE(stream->storage(), nullptr);
    EXPECT_FALSE(stream->storage()->exists("live.bin"));
    EXPECT_EQ(stream->storage()->location(), "memory");
}

} // namespace
