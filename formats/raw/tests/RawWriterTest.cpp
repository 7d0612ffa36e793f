#include "TestSupport.h"

#include <RawWriter.h>

#include <dravik/DataStorage.h>
#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageView.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenza::raw::test {
namespace {

using quenza::common::test::expectError;

// Records the regions read from an image in memory.
class RecordingImage : public dravik::ImageView {
public:
    explicit RecordingImage(std::shared_ptr<dravik::ImageView> source)
        : m_source(std::move(source))
    {
    }
    dravik::ImageCapabilitySet capabilities() const override { return dravik::ImageCapability::READ; }
    const dravik::VectorXu64& shape() const override { return m_source->shape(); }
    dravik::DataType dataType() const override { return m_source->dataType(); }
    void readRegion(const dravik::RegionXu64& region, void* dst) override
    {
        m_regions.push_back(region);
        m_source->readRegion(region, dst);
    }

    std::vector<dravik::RegionXu64> m_regions;

private:
    std::shared_ptr<dravik::ImageView> m_source;
};

// An in-memory destination that can be told to accept fewer bytes than asked, or to
// fail when flushed.
class ScriptedStream : public dravik::StreamAccess {
public:
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return {}; }
    dravik::StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool eof() const override { return false; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t /*size*/, void* /*dst*/) override { return 0; }
    uint64_t write(uint64_t size, const void* src) override
    {
        const uint64_t count = std::min(size, m_acceptPerWrite);
        const auto* bytes = static_cast<const uint8_t*>(src);
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        return count;
    }
    void flush() override
    {
        ++m_flushes;
        if (m_failFlush) {
            throw dravik::Error("disk full");
        }
    }
    uint64_t tell() const override { return m_bytes.size(); }

    dravik::StreamAccessCapabilitySet m_capabilities = dravik::StreamAccessCapability::WRITE;
    uint64_t m_acceptPerWrite = UINT64_MAX;
    bool m_failFlush = false;
    int m_flushes = 0;
    std::vector<uint8_t> m_bytes;
};

class UnreadableImage : public dravik::ImageView {
public:
    dravik::ImageCapabilitySet capabilities() const override { return {}; }
    const dravik::VectorXu64& shape() const override { return m_shape; }
    dravik::DataType dataType() const override { return dravik::DataTypeId::UINT8; }

private:
    dravik::VectorXu64 m_shape{2};
};

class PlainView : public dravik::View {};

// An image of `type` whose bytes count up from `first`.
std::shared_ptr<dravik::ImageView> countingImage(const dravik::VectorXu64& shape, dravik::DataType type,
                                                 uint8_t first = 0)
{
    auto image = dravik::ImageViewFactory::allocate(shape, type);
    auto* bytes = static_cast<uint8_t*>(image->buffer());
    std::iota(bytes, bytes + image->byteCount(), first);
    return image;
}

std::vector<uint8_t> bytesOf(const std::shared_ptr<dravik::ImageView>& image)
{
    const auto* bytes = static_cast<const uint8_t*>(image->bufferReadOnly());
    return {bytes, bytes + image->byteCount()};
}

std::vector<uint8_t> bytesOf(const std::shared_ptr<dravik::StreamAccess>& stream)
{
    const auto* bytes = static_cast<const uint8_t*>(stream->bufferReadOnly());
    return {bytes, bytes + stream->bufferSize()};
}

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RawWriterTest : public ::testing::Test {
protected:
    void TearDown() override { std::remove(m_path.c_str()); }

    std::string m_path = ::testing::TempDir() + "raw_writer_" + std::to_string(::getpid()) + ".raw";
};

TEST_F(RawWriterTest, WritesTheElementsInNativeOrder)
{
    auto image = dravik::ImageViewFactory::allocate({4, 3, 2}, dravik::DataTypeId::UINT16);
    auto* values = static_cast<uint16_t*>(image->buffer());
    for (uint16_t i = 0; i < 24; ++i) {
        values[i] = static_cast<uint16_t>(0x0100 * i + 7);
    }
    auto stream = dravik::StreamAccessFactory::createInMemory();
    RawWriter writer(image, stream, "RAW");
    writer.writeAll();

    const std::vector<uint8_t> written = bytesOf(stream);
    ASSERT_EQ(written.size(), 48u);
    EXPECT_EQ(written, bytesOf(image));
    uint16_t last = 0;
    std::memcpy(&last, written.data() + 46, 2);
    EXPECT_EQ(last, 0x0100 * 23 + 7);
}

TEST_F(RawWriterTest, AMultiImageIsWrittenAsItsStack)
{
    std::vector<std::shared_ptr<dravik::ImageView>> frames;
    for (uint8_t i = 0; i < 3; ++i) {
        frames.push_back(countingImage({2, 2}, dravik::DataTypeId::UINT8, static_cast<uint8_t>(10 * i)));
    }
    auto stream = dravik::StreamAccessFactory::createInMemory();
    RawWriter(dravik::MultiImageViewFactory::create(frames), stream, "RAW").writeAll();
    EXPECT_EQ(bytesOf(stream), (std::vector<uint8_t>{0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23}));
}

TEST_F(RawWriterTest, WritesAFileByPath)
{
    auto image = countingImage({5, 3}, dravik::DataTypeId::FLOAT);
    RawWriter writer(image, m_path);
    writer.writeAll();
    EXPECT_EQ(fileBytes(m_path), bytesOf(image));
}

TEST_F(RawWriterTest, EachWriteDataAppendsOneCopy)
{
    auto image = countingImage({3}, dravik::DataTypeId::UINT8, 1);
    auto stream = dravik::StreamAccessFactory::createInMemory();
    RawWriter writer(image, stream, "RAW");
    writer.writeInit();
    writer.writeData();
    writer.writeData();
    writer.writeFinish();
    EXPECT_EQ(bytesOf(stream), (std::vector<uint8_t>{1, 2, 3, 1, 2, 3}));
}

TEST_F(RawWriterTest, AnEmptyImageWritesNothing)
{
    auto recording = std::make_shared<RecordingImage>(dravik::ImageViewFactory::allocate({4, 0, 2}, dravik::DataTypeId::UINT8));
    auto stream = dravik::StreamAccessFactory::createInMemory();
    RawWriter(recording, stream, "RAW").writeAll();
    EXPECT_EQ(stream->bufferSize(), 0u);
    EXPECT_TRUE(recording->m_regions.empty());
}

TEST_F(RawWriterTest, SlabsGiveTheSameBytesAndStayWithinTheirSize)
{
    // 5 x 4 x 3 elements of 3 bytes: a row is 15 bytes, a plane 60, the image 180.
    auto source = countingImage({5, 4, 3}, dravik::DataTypeId::VEC3_UINT8);
    const std::vector<uint8_t> expected = bytesOf(source);
    struct Case {
        uint64_t slab;
        size_t blocks;
    };
    const std::vector<Case> cases = {
        // Whole planes while one fits, then whole rows, then runs along a row.
        {RawWriter::DEFAULT_SLAB_BYTES, 1}, {180, 1}, {179, 2}, {120, 2}, {60, 3}, {59, 6}, {30, 6},
        {15, 12},                           {14, 24}, {6, 36},  {3, 60},  {1, 60}, {0, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("slab of " + std::to_string(c.slab) + " bytes");
        auto recording = std::make_shared<RecordingImage>(source);
        auto stream = dravik::StreamAccessFactory::createInMemory();
        RawWriter(recording, stream, "RAW", c.slab).writeAll();
        EXPECT_EQ(bytesOf(stream), expected);
        EXPECT_EQ(recording->m_regions.size(), c.blocks);
        uint64_t elements = 0;
        for (const dravik::RegionXu64& region : recording->m_regions) {
            EXPECT_LE(region.elementCount() * 3, std::max<uint64_t>(c.slab, 3)) << region.toString();
            elements += region.elementCount();
        }
        EXPECT_EQ(elements, 60u);
    }
}

TEST_F(RawWriterTest, FormatIsCheckedFirst)
{
    auto image = countingImage({2}, dravik::DataTypeId::UINT8);
    auto random = dravik::RandomAccessFactory::fromBytes({});
    for (const std::string format : {"KM", "raw", ""}) {
        expectError([&] { RawWriter(image, dravik::StreamAccessFactory::createInMemory(), format); },
                    "Format " + format + " not supported by the plugin RawPlugin");
        expectError([&] { RawWriter(nullptr, nullptr, format); },
                    "Format " + format + " not supported by the plugin RawPlugin");
        expectError([&] { RawWriter(std::make_shared<UnreadableImage>(), random, format); },
                    "Format " + format + " not supported by the plugin RawPlugin");
    }
    EXPECT_THROW(RawWriter(image, nullptr, "KM"), dravik::InvalidArgument);
}

TEST_F(RawWriterTest, TheDestinationMustBeAWritableStream)
{
    auto image = countingImage({2}, dravik::DataTypeId::UINT8);
    { std::ofstream(m_path) << "abc"; }
    auto readOnly = std::make_shared<ScriptedStream>();
    readOnly->m_capabilities = dravik::StreamAccessCapability::READ_SEEK;
    const std::vector<std::pair<std::string, std::shared_ptr<dravik::DataAccess>>> destinations = {
        {"random access", dravik::RandomAccessFactory::fromBytes({1, 2, 3})},
        {"file random access", dravik::RandomAccessFactory::openFile(m_path)},
        {"read-only stream", readOnly},
        {"read-only file stream", dravik::StreamAccessFactory::openFileRead(m_path)},
        {"nothing", nullptr},
    };
    for (const auto& [what, destination] : destinations) {
        SCOPED_TRACE(what);
        expectError([&destination = destination, &image] { RawWriter(image, destination, "RAW"); },
                    "output storage does not have writing capabilities");
        // Checked before the view.
        expectError([&destination = destination] { RawWriter(std::make_shared<PlainView>(), destination, "RAW"); },
                    "output storage does not have writing capabilities");
    }
    EXPECT_EQ(fileBytes(m_path), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST_F(RawWriterTest, TheViewMustBeReadable)
{
    for (const std::string& path : {std::string(), m_path}) {
        SCOPED_TRACE(path.empty() ? "to a stream" : "to a file");
        auto open = [&path](std::shared_ptr<dravik::View> view) {
            if (path.empty()) {
                RawWriter(std::move(view), dravik::StreamAccessFactory::createInMemory(), "RAW");
            } else {
                RawWriter(std::move(view), path);
            }
        };
        expectError([&] { open(std::make_shared<UnreadableImage>()); }, "Image is not readable");
        expectError([&] { open(std::make_shared<PlainView>()); }, "Unsupported view type");
        expectError([&] { open(nullptr); }, "Unsupported view type");
    }
}

TEST_F(RawWriterTest, ARejectedViewLeavesAnExistingFileAlone)
{
    { std::ofstream(m_path) << "keep me"; }
    EXPECT_THROW(RawWriter(std::make_shared<UnreadableImage>(), m_path), dravik::Error);
    EXPECT_EQ(fileBytes(m_path), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
}

TEST_F(RawWriterTest, AFileThatCannotBeCreatedFails)
{
    EXPECT_THROW(RawWriter(countingImage({2}, dravik::DataTypeId::UINT8), "/nonexistent-dir/out.raw"), dravik::Error);
}

TEST_F(RawWriterTest, OptionsAreRefused)
{
    RawWriter writer(countingImage({2}, dravik::DataTypeId::UINT8), dravik::StreamAccessFactory::createInMemory(),
                     "RAW");
    for (const std::string name : {"compressor", "zipLevel", "", "anything"}) {
        expectError([&] { writer.setOption(name, dravik::VariantDataValueFactory::create(int32_t(3))); },
                    "impossible to set options");
        expectError([&] { writer.setOption(name, nullptr); }, "impossible to set options");
    }
}

TEST_F(RawWriterTest, ReportsThePluginsNameAndVersion)
{
    RawWriter writer(countingImage({2}, dravik::DataTypeId::UINT8), dravik::StreamAccessFactory::createInMemory(),
                     "RAW");
    const dravik::Writer& base = writer;
    EXPECT_EQ(base.name(), "RawPlugin");
    EXPECT_EQ(base.version(), "2.2.0");
}

TEST_F(RawWriterTest, WriteFinishReleasesTheDestination)
{
    auto stream = std::make_shared<ScriptedStream>();
    RawWriter writer(countingImage({2}, dravik::DataTypeId::UINT8), stream, "RAW");
    EXPECT_EQ(stream.use_count(), 2);
    writer.writeData();
    writer.writeFinish();
    EXPECT_EQ(stream.use_count(), 1);
    EXPECT_EQ(stream->m_flushes, 1);
    EXPECT_NO_THROW(writer.writeFinish());
    expectError([&] { writer.writeData(); }, "RAW writer has no destination: writeFinish was already called");
    expectError([&] { writer.writeAll(); }, "RAW writer has no destination: writeFinish was already called");
    EXPECT_EQ(stream->m_bytes, (std::vector<uint8_t>{0, 1}));
}

TEST_F(RawWriterTest, AFailedFlushIsReportedAndTheDestinationReleased)
{
    auto stream = std::make_shared<ScriptedStream>();
    stream->m_failFlush = true;
    RawWriter writer(countingImage({2}, dravik::DataTypeId::UINT8), stream, "RAW");
    writer.writeData();
    expectError([&] { writer.writeFinish(); }, "disk full");
    EXPECT_EQ(stream.use_count(), 1);
}

TEST_F(RawWriterTest, AShortWriteFails)
{
    auto stream = std::make_shared<ScriptedStream>();
    stream->m_acceptPerWrite = 5;
    RawWriter writer(countingImage({4, 3, 2}, dravik::DataTypeId::UINT16), stream, "RAW");
    expectError([&] { writer.writeData(); }, "RAW writer could write only 5 of 48 bytes");
    RawWriter slabbed(countingImage({4, 3, 2}, dravik::DataTypeId::UINT16), stream, "RAW", 8);
    expectError([&] { slabbed.writeData(); }, "RAW writer could write only 5 of 8 bytes");
}

TEST_F(RawWriterTest, ReadErrorsPropagate)
{
    class FailingImage : public RecordingImage {
    public:
        using RecordingImage::RecordingImage;
        void readRegion(const dravik::RegionXu64& /*region*/, void* /*dst*/) override
        {
            throw dravik::Error("read failed");
        }
    };
    auto stream = dravik::StreamAccessFactory::createInMemory();
    RawWriter writer(std::make_shared<FailingImage>(countingImage({2}, dravik::DataTypeId::UINT8)), stream, "RAW");
    expectError([&] { writer.writeData(); }, "read failed");
}

} // namespace
} // namespace quenza::raw::test
