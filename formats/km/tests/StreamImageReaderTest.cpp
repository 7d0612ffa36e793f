#include "KmTestSupport.h"

#include <StreamImageReader.h>

#include <dravik/ImageViewFactory.h>

#include <gtest/gtest.h>

namespace quenza::km::test {
namespace {

using dravik::SeekOrigin;

std::shared_ptr<dravik::ImageView> bytesImage(const dravik::VectorXu64& shape, const Bytes& values)
{
    return imageOf(shape, dravik::DataTypeId::UINT8, values);
}

/// The same image seen through a derived view, which has no memory access.
std::shared_ptr<dravik::ImageView> withoutMemory(const std::shared_ptr<dravik::ImageView>& image)
{
    return dravik::ImageViewFactory::extractRegion(image, dravik::RegionXu64::fullRegion(image->shape()));
}

TEST(StreamImageReaderTest, ReadsFrameAfterFrame)
{
    const Bytes values = counting(24, 1);
    auto image = bytesImage({4, 3, 2}, values);
    for (bool memory : {false, true}) {
        SCOPED_TRACE(memory ? "memory access" : "frame by frame");
        StreamImageReader stream(memory ? image : withoutMemory(image));
        EXPECT_EQ(stream.support(dravik::StreamAccessCapability::MEMORY_ACCESS), memory);
        EXPECT_TRUE(stream.support(dravik::StreamAccessCapability::READ));
        EXPECT_EQ(stream.peek(), values[0]);
        EXPECT_EQ(stream.tell(), 0u);
        // A read goes on into the next frame.
        Bytes got(15, 0);
        EXPECT_EQ(stream.read(5, got.data()), 5u);
        EXPECT_EQ(stream.read(5, got.data() + 5), 5u);
        EXPECT_TRUE(stream.good());
        EXPECT_EQ(stream.read(5, got.data() + 10), 5u);
        EXPECT_EQ(got, Bytes(values.begin(), values.begin() + 15));
        Bytes rest(20, 0);
        EXPECT_EQ(stream.read(20, rest.data()), 9u);
        EXPECT_EQ(Bytes(rest.begin(), rest.begin() + 9), Bytes(values.begin() + 15, values.end()));
        EXPECT_TRUE(stream.eof());
        EXPECT_FALSE(stream.fail());
        EXPECT_EQ(stream.read(1, rest.data()), 0u);
        EXPECT_EQ(errorOf([&] { stream.peek(); }), "StreamImageReader::peek: end of stream");

        stream.seek(0, SeekOrigin::END);
        EXPECT_EQ(stream.tell(), 24u);
        stream.seek(0, SeekOrigin::BEGIN);
        Bytes again(24, 0);
        EXPECT_EQ(stream.read(24, again.data()), 24u);
        EXPECT_EQ(again, values);
        stream.seek(-11, SeekOrigin::CURRENT);
        EXPECT_EQ(stream.peek(), values[13]);
        stream.seek(100, SeekOrigin::BEGIN);
        EXPECT_EQ(stream.read(1, again.data()), 0u);

        EXPECT_EQ(errorOf([&] { stream.seek(-1, SeekOrigin::BEGIN); }), "StreamImageReader::seek: negative offset");
        EXPECT_EQ(errorOf([&] { stream.seek(-101, SeekOrigin::CURRENT); }), "StreamImageReader::seek: negative offset");
        EXPECT_EQ(errorOf([&] { stream.seek(-25, SeekOrigin::END); }), "StreamImageReader::seek: positive offset");
        EXPECT_EQ(errorOf([&] { stream.seek(0, static_cast<SeekOrigin>(7)); }), "StreamImageReader::seek: unknown origin");
        EXPECT_EQ(errorOf([&] { stream.storage(); }), "no storage");
        EXPECT_EQ(errorOf([&] { stream.resourceId(); }), "no resource id");
        if (memory) {
            EXPECT_EQ(stream.bufferReadOnly(), image->bufferReadOnly());
            EXPECT_EQ(stream.bufferSize(), 24u);
        } else {
            EXPECT_EQ(errorOf([&] { stream.buffer(); }), "Unsupported operation");
            EXPECT_EQ(errorOf([&] { stream.bufferReadOnly(); }), "Unsupported operation");
            EXPECT_EQ(errorOf([&] { stream.bufferSize(); }), "Unsupported operation");
        }
    }
}

TEST(StreamImageReaderTest, ShortReadsOnlyAtTheEnd)
{
    const Bytes values = counting(12, 1);
    StreamImageReader stream(withoutMemory(bytesImage({4, 3, 1}, values)));
    Bytes got(12, 0);
    EXPECT_EQ(stream.read(5, got.data()), 5u);
    EXPECT_EQ(stream.read(5, got.data() + 5), 5u);
    EXPECT_EQ(stream.read(5, got.data() + 10), 2u);
    EXPECT_TRUE(stream.eof());
    EXPECT_EQ(got, values);
}

TEST(StreamImageReaderTest, ShapesItAccepts)
{
    const Bytes values = counting(6, 1);
    StreamImageReader flat(withoutMemory(bytesImage({3, 2}, values)));
    Bytes got(6, 0);
    EXPECT_EQ(flat.read(10, got.data()), 6u);
    EXPECT_EQ(got, values);
    for (const dravik::VectorXu64& shape : {dravik::VectorXu64{6}, dravik::VectorXu64{1, 2, 3, 1}}) {
        EXPECT_EQ(errorOf([&] { StreamImageReader(bytesImage(shape, values)); }),
                  "Unsupported image shape in StreamImageReader");
    }
    // No elements: nothing to read, and positions are still valid.
    StreamImageReader empty(withoutMemory(dravik::ImageViewFactory::allocate({0, 3, 2}, dravik::DataTypeId::UINT8)));
    EXPECT_EQ(empty.read(4, got.data()), 0u);
    EXPECT_TRUE(empty.eof());
    empty.seek(5, SeekOrigin::BEGIN);
    EXPECT_EQ(empty.tell(), 5u);
    EXPECT_EQ(empty.read(4, got.data()), 0u);
}

/// Reads of slice 1 fail until `healed`.
class FlakyImage : public dravik::ImageView {
public:
    dravik::ImageCapabilitySet capabilities() const override { return dravik::ImageCapability::READ; }
    const dravik::VectorXu64& shape() const override { return m_shape; }
    dravik::DataType dataType() const override { return dravik::DataTypeId::UINT8; }
    void readRegion(const dravik::RegionXu64& region, void* dst) override
    {
        if (region.origin()[2] == 1 && !healed) {
            throw dravik::Error("slice 1 unreadable");
        }
        std::memset(dst, static_cast<int>(region.origin()[2] + 1), static_cast<size_t>(region.elementCount()));
    }
    bool healed = false;

private:
    dravik::VectorXu64 m_shape{2, 2, 3};
};

TEST(StreamImageReaderTest, AFailedReadLeavesThePositionWhereItStarted)
{
    auto image = std::make_shared<FlakyImage>();
    StreamImageReader stream(image);
    Bytes got(12, 0);
    EXPECT_EQ(stream.read(2, got.data()), 2u);
    EXPECT_EQ(errorOf([&] { stream.read(6, got.data()); }), "slice 1 unreadable");
    EXPECT_EQ(stream.tell(), 2u);
    image->healed = true;
    EXPECT_EQ(stream.read(6, got.data()), 6u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), (Bytes{1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(stream.tell(), 8u);
}

} // namespace
} // namespace quenza::km::test
