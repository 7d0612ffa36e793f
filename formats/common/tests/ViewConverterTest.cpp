#include "TestSupport.h"

#include <common/ViewConverter.h>

#include <dravik/DataFrameView.h>
#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageType.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageView.h>
#include <dravik/MultiImageViewFactory.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace quenza::common::test {
namespace {

using quenza::common::test::expectError;

using dravik::ImageTypeDimension;

class WriteOnlyImage : public dravik::ImageView {
public:
    dravik::ImageCapabilitySet capabilities() const override { return dravik::ImageCapability::WRITE; }
    const dravik::VectorXu64& shape() const override { return m_shape; }
    dravik::DataType dataType() const override { return dravik::DataTypeId::UINT8; }
    void writeRegion(const dravik::RegionXu64& /*region*/, const void* /*src*/) override {}

private:
    dravik::VectorXu64 m_shape{2, 2};
};

class UnreadableMulti : public dravik::MultiImageView {
public:
    dravik::MultiImageCapabilitySet capabilities() const override { return dravik::MultiImageCapability::WRITE; }
    uint64_t frameCount() const override { return 1; }
    std::shared_ptr<dravik::ImageView> frame(uint64_t /*index*/) override
    {
        return dravik::ImageViewFactory::allocate({2, 2}, dravik::DataTypeId::UINT8);
    }
};

class PlainView : public dravik::View {};

// A UINT8 image whose elements count up from `first`, with the given axes (none when empty).
std::shared_ptr<dravik::ImageView> countingImage(const dravik::VectorXu64& shape, uint8_t first = 0,
                                                 const std::vector<ImageTypeDimension>& axes = {})
{
    auto image = dravik::ImageViewFactory::allocate(shape, dravik::DataTypeId::UINT8);
    auto* data = static_cast<uint8_t*>(image->buffer());
    std::iota(data, data + image->elementCount(), first);
    if (axes.empty()) {
        return image;
    }
    auto properties = dravik::ImageProperties::fromDataType(dravik::DataTypeId::UINT8);
    properties->imageInfo().setAxesInterpretation(dravik::ImageType(axes));
    return dravik::ImageViewFactory::fromImageView(image, properties, nullptr);
}

std::vector<uint8_t> readAll(const std::shared_ptr<dravik::ImageView>& image)
{
    std::vector<uint8_t> bytes(image->byteCount());
    image->readRegion(dravik::RegionXu64::fullRegion(image->shape()), bytes.data());
    return bytes;
}

TEST(ViewConverterTest, AReadableImageComesBackItself)
{
    std::shared_ptr<dravik::ImageView> image = countingImage({3, 4, 5});
    EXPECT_EQ(ViewConverter::toImageView(image), image);
}

TEST(ViewConverterTest, AReadableMultiImageBecomesOneStackedImage)
{
    std::vector<std::shared_ptr<dravik::ImageView>> frames;
    for (uint8_t i = 0; i < 5; ++i) {
        frames.push_back(countingImage({10, 10}, static_cast<uint8_t>(i * 100)));
    }
    auto multi = dravik::MultiImageViewFactory::create(frames);
    auto image = ViewConverter::toImageView(multi);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->shape(), dravik::VectorXu64({10, 10, 5}));
    EXPECT_TRUE(image->support(dravik::ImageCapability::READ));
    std::vector<uint8_t> expected;
    for (const auto& frame : frames) {
        const std::vector<uint8_t> bytes = readAll(frame);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(readAll(image), expected);
}

TEST(ViewConverterTest, UnreadableOrUnknownViewsAreRejected)
{
    expectError([] { ViewConverter::toImageView(std::make_shared<WriteOnlyImage>()); }, "Image is not readable");
    expectError([] { ViewConverter::toImageView(std::make_shared<UnreadableMulti>()); },
                "Impossible to read the stack");
    // A readable sequence of unreadable frames stacks into an unreadable image.
    auto unreadableFrames = dravik::MultiImageViewFactory::create(
        {std::make_shared<WriteOnlyImage>(), std::make_shared<WriteOnlyImage>()});
    expectError([&] { ViewConverter::toImageView(unreadableFrames); }, "Image is not readable");
    expectError([] { ViewConverter::toImageView(std::make_shared<PlainView>()); }, "Unsupported view type");
    expectError([] { ViewConverter::toImageView(nullptr); }, "Unsupported view type");
    auto table = dravik::DataFrameViewFactory::allocate({1, 2}, {"a"}, {dravik::DataTypeId::INT32});
    expectError([&] { ViewConverter::toImageView(table); }, "Unsupported view type");
}

TEST(ViewConverterTest, TwoDimensionalImagesComeBackThemselves)
{
    std::shared_ptr<dravik::ImageView> image = countingImage({4, 3});
    EXPECT_EQ(ViewConverter::toImageView2D(image), image);
    auto withAxes = countingImage({4, 3}, 0, {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW});
    EXPECT_EQ(ViewConverter::toImageView2D(withAxes), withAxes);
}

TEST(ViewConverterTest, ChannelsAreFoldedIntoTheElementType)
{
    // Three planes of 2 x 2: channel c of pixel p holds 4c + p.
    auto image = countingImage({2, 2, 3}, 0,
                               {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW, ImageTypeDimension::CHANNEL});
    auto assembled = ViewConverter::toImageView2D(image);
    ASSERT_NE(assembled, nullptr);
    EXPECT_EQ(assembled->shape(), dravik::VectorXu64({2, 2}));
    EXPECT_EQ(assembled->dataType(), dravik::DataType(dravik::DataTypeId::VEC3_UINT8));
    EXPECT_EQ(readAll(assembled), (std::vector<uint8_t>{0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11}));
}

TEST(ViewConverterTest, OtherDimensionsAreRejected)
{
    const std::vector<std::pair<std::string, std::shared_ptr<dravik::ImageView>>> cases = {
        {"column row slice",
         countingImage({2, 2, 2}, 0, {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW, ImageTypeDimension::SLICE})},
        {"3-D without properties", countingImage({2, 2, 2})},
        {"1-D", countingImage({5})},
        // Folding the channels of a volume still leaves three dimensions.
        {"column row slice channel",
         countingImage({2, 2, 2, 3}, 0,
                       {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW, ImageTypeDimension::SLICE,
                        ImageTypeDimension::CHANNEL})},
    };
    for (const auto& [what, image] : cases) {
        SCOPED_TRACE(what);
        expectError([&image = image] { ViewConverter::toImageView2D(image); }, "Unsupported image dimension");
    }
}

TEST(ViewConverterTest, TwoDimensionalConversionNeedsAReadableImage)
{
    auto multi = dravik::MultiImageViewFactory::create({countingImage({2, 2})});
    expectError([&] { ViewConverter::toImageView2D(multi); }, "Unsupported view type");
    expectError([] { ViewConverter::toImageView2D(std::make_shared<PlainView>()); }, "Unsupported view type");
    expectError([] { ViewConverter::toImageView2D(std::make_shared<WriteOnlyImage>()); }, "Image is not readable");
}

} // namespace
} // namespace quenza::common::test
