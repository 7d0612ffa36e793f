#include "TestSupport.h"

#include <dravik/dravik.h>

#include <gtest/gtest.h>

namespace {

using namespace dravik;
using test::expectedRegion;
using test::pattern;

std::vector<uint8_t> readAll(ImageView& view)
{
    std::vector<uint8_t> out(view.byteCount());
    view.readRegion(RegionXu64::fullRegion(view.shape()), out.data());
    return out;
}

std::shared_ptr<ImageView> imageOf(const VectorXu64& shape, const DataType& type, const std::vector<uint8_t>& bytes)
{
    auto view = ImageViewFactory::allocate(shape, type);
    view->writeRegion(RegionXu64::fullRegion(shape), bytes.data());
    return view;
}

TEST(ExtractRegion, ReadsAndWritesThroughAndMovesTheCalibrationOrigin)
{
    const VectorXu64 shape{8, 6, 3};
    auto bytes = pattern(shape.prod());
    auto source = ImageViewFactory::fromBuffer(shape, DataTypeId::UINT8, bytes.data(), bytes.size());
    auto props = ImageProperties::fromDataType(DataTypeId::UINT8);
    props->calibration().setOrigin(Vector3d{10, 20, 30});
    props->calibration().setSpacing(Vector3d{0.5, 2, 4});
    source->setProperties(props);

    const RegionXu64 box({2, 1, 1}, {4, 3, 2});
    auto view = ImageViewFactory::extractRegion(source, box);
    EXPECT_EQ(view->shape(), box.size());
    EXPECT_EQ(view->properties()->calibration().origin(), (Vector3d{11, 22, 34}));
    EXPECT_EQ(readAll(*view), expectedRegion(bytes, shape, DataTypeId::UINT8, box));

    bytes[Indexer(shape, DataTypeId::UINT8).offset({2, 1, 1})] = 0xAB; // after the view was made
    uint8_t first = 0;
    view->read({0, 0, 0}, &first);
    EXPECT_EQ(first, 0xAB) << "the region reads its source on each call";

    const uint8_t written = 0x5C;
    view->write({3, 2, 1}, &written);
    EXPECT_EQ(bytes[Indexer(shape, DataTypeId::UINT8).offset({5, 3, 2})], 0x5C);

    EXPECT_THROW(ImageViewFactory::extractRegion(source, RegionXu64({5, 0, 0}, {4, 1, 1})), InvalidArgument);
    EXPECT_THROW(view->read({4, 0, 0}, &first), InvalidArgument);
}

TEST(SubSample, KeepsEverySecondElementFromTheFirst)
{
    struct Case {
        VectorXu64 shape;
        uint64_t factor;
        VectorXu64 expectedShape;
    };
    const Case cases[] = {
        {{5, 4, 3}, 2, {3, 2, 2}},
        {{7}, 3, {3}},
        {{6, 6}, 1, {6, 6}},
        // Large slabs: the source is read in several chunks.
        {{2000, 1000, 9}, 2, {1000, 500, 5}},
    };
    for (const Case& c : cases) {
        const auto bytes = pattern(c.shape.prod(), 3);
        auto source = imageOf(c.shape, DataTypeId::UINT8, bytes);
        auto view = ImageViewFactory::subSample(source, c.factor);
        ASSERT_EQ(view->shape(), c.expectedShape);
        const auto got = readAll(*view);
        // Element i of the result is element factor × i of the source.
        const Indexer src(c.shape, DataTypeId::UINT8);
        const Indexer dst(c.expectedShape, DataTypeId::UINT8);
        VectorXu64 i(c.shape.size(), 0);
        bool same = true;
        for (uint64_t n = 0; n < c.expectedShape.prod() && same; ++n) {
            same = got[dst.offset(i)] == bytes[src.offset(i * c.factor)];
            for (size_t a = 0; a < i.size() && ++i[a] == c.expectedShape[a]; ++a) {
                i[a] = 0;
            }
        }
        EXPECT_TRUE(same) << c.shape.toString();
    }

    auto source = imageOf({6, 6}, DataTypeId::UINT16, pattern(72));
    auto props = ImageProperties::fromDataType(DataTypeId::UINT16);
    props->calibration().setSpacing(Vector3d{0.5, 0.25, 1});
    source->setProperties(props);
    auto half = ImageViewFactory::subSample(source, 2);
    EXPECT_EQ(half->properties()->calibration().spacing(), (Vector3d{1, 0.5, 1}));
    // A sub-region of the subsampled view equals that region of the whole subsampled image.
    const RegionXu64 box({1, 1}, {2, 2});
    std::vector<uint8_t> part(box.elementCount() * 2);
    half->readRegion(box, part.data());
    EXPECT_EQ(part, expectedRegion(readAll(*half), {3, 3}, DataTypeId::UINT16, box));
    EXPECT_THROW(ImageViewFactory::subSample(source, 0), InvalidArgument);
    EXPECT_FALSE(half->support(ImageCapability::WRITE));
}

TEST(Stack, FramesBecomeTheLastAxis)
{
    std::vector<std::shared_ptr<ImageView>> frames;
    std::vector<uint8_t> all;
    for (uint32_t k = 0; k < 3; ++k) {
        auto bytes = pattern(4, k + 1);
        all.insert(all.end(), bytes.begin(), bytes.end());
        frames.push_back(imageOf({2, 2}, DataTypeId::UINT8, bytes));
    }
    auto stacked = ImageViewFactory::stack(MultiImageViewFactory::create(frames));
    EXPECT_EQ(stacked->shape(), (VectorXu64{2, 2, 3}));
    EXPECT_EQ(readAll(*stacked), all);
    EXPECT_EQ(stacked->properties()->imageInfo().axesInterpretation(), ImageType(ImageTypeId::VOLUME));
    const RegionXu64 box({1, 0, 1}, {1, 2, 2});
    std::vector<uint8_t> part(4);
    stacked->readRegion(box, part.data());
    EXPECT_EQ(part, expectedRegion(all, {2, 2, 3}, DataTypeId::UINT8, box));

    auto alongSlice = ImageViewFactory::stack(MultiImageViewFactory::create(frames), ImageTypeDimension::SLICE);
    EXPECT_EQ(readAll(*alongSlice), all);

    // Writing a stack writes its frames.
    const std::vector<uint8_t> ones(12, 1);
    stacked->writeRegion(RegionXu64::fullRegion(stacked->shape()), ones.data());
    EXPECT_EQ(readAll(*frames[2]), std::vector<uint8_t>(4, 1));

    frames.push_back(imageOf({2, 3}, DataTypeId::UINT8, pattern(6)));
    EXPECT_THROW(ImageViewFactory::stack(MultiImageViewFactory::create(frames)), InvalidArgument);
    EXPECT_THROW(ImageViewFactory::stack(MultiImageViewFactory::create({})), InvalidArgument);
}

TEST(Stack, ChannelsGoBeforeTheSequenceAxis)
{
    // Frames of x, y and time; the new CHANNEL axis lands between y and time.
    const VectorXu64 frameShape{3, 2, 4};
    std::vector<std::shared_ptr<ImageView>> frames;
    std::vector<std::vector<uint8_t>> frameBytes;
    for (uint32_t c = 0; c < 2; ++c) {
        frameBytes.push_back(pattern(frameShape.prod() * 2, 10 + c));
        auto frame = imageOf(frameShape, DataTypeId::INT16, frameBytes.back());
        auto props = ImageProperties::fromDataType(DataTypeId::INT16);
        props->imageInfo().setAxesInterpretation(ImageTypeId::IMAGE_SEQUENCE);
        frame->setProperties(props);
        frames.push_back(frame);
    }
    auto stacked = ImageViewFactory::stack(MultiImageViewFactory::create(frames), ImageTypeDimension::CHANNEL);
    ASSERT_EQ(stacked->shape(), (VectorXu64{3, 2, 2, 4}));
    EXPECT_EQ(stacked->properties()->imageInfo().axesInterpretation(),
              ImageType(ImageTypeId::MULTICHANNEL_IMAGE_SEQUENCE));
    const auto got = readAll(*stacked);
    const Indexer stackedLayout(stacked->shape(), DataTypeId::INT16);
    const Indexer frameLayout(frameShape, DataTypeId::INT16);
    for (uint64_t t = 0; t < 4; ++t) {
        for (uint64_t c = 0; c < 2; ++c) {
            for (uint64_t y = 0; y < 2; ++y) {
                for (uint64_t x = 0; x < 3; ++x) {
                    const auto at = stackedLayout.offset({x, y, c, t});
                    const auto from = frameLayout.offset({x, y, t});
                    ASSERT_EQ(std::memcmp(&got[at], &frameBytes[c][from], 2), 0) << x << y << c << t;
                }
            }
        }
    }
    EXPECT_THROW(ImageViewFactory::stack(MultiImageViewFactory::create(frames), ImageTypeDimension::SEQUENCE),
                 InvalidArgument);
}

TEST(Deinterlace, ComponentsBecomeFramesAndAssembleBack)
{
    const VectorXu64 shape{4, 3};
    const auto rgb = pattern(shape.prod() * 3, 5);
    auto colour = imageOf(shape, DataTypeId::VEC3_UINT8, rgb);

    auto planes = MultiImageViewFactory::deinterlace(colour);
    ASSERT_EQ(planes->frameCount(), 3u);
    EXPECT_FALSE(planes->support(MultiImageCapability::WRITE));
    for (uint64_t c = 0; c < 3; ++c) {
        auto frame = planes->frame(c);
        EXPECT_EQ(frame->dataType(), DataType(DataTypeId::UINT8));
        const auto got = readAll(*frame);
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i], rgb[i * 3 + c]) << "component " << c << " element " << i;
        }
    }

    auto channels = ImageViewFactory::stack(planes, ImageTypeDimension::CHANNEL);
    EXPECT_EQ(channels->shape(), (VectorXu64{4, 3, 3}));
    auto assembled = ImageViewFactory::assembleChannels(channels);
    EXPECT_EQ(assembled->dataType(), DataType(DataTypeId::VEC3_UINT8));
    EXPECT_EQ(assembled->shape(), shape);
    EXPECT_EQ(readAll(*assembled), rgb);
    std::vector<uint8_t> pixel(3);
    assembled->read({2, 1}, pixel.data());
    EXPECT_EQ(pixel, expectedRegion(rgb, shape, DataTypeId::VEC3_UINT8, RegionXu64({2, 1}, {1, 1})));

    EXPECT_THROW(ImageViewFactory::assembleChannels(colour), InvalidArgument) << "no CHANNEL axis";
    auto complex = MultiImageViewFactory::deinterlace(ImageViewFactory::allocate({2}, DataTypeId::COMPLEX_DOUBLE));
    EXPECT_EQ(complex->frameCount(), 2u);
    EXPECT_EQ(complex->frame(1)->dataType(), DataType(DataTypeId::DOUBLE));
}

TEST(FromImageView, ReplacesPropertiesAndMetadataOnly)
{
    const auto bytes = pattern(16);
    auto source = imageOf({4, 4}, DataTypeId::UINT8, bytes);
    auto props = ImageProperties::fromDataType(DataTypeId::UINT8);
    props->calibration().setUnit("nm");
    auto meta = MetadataNodeFactory::create("root");
    auto view = ImageViewFactory::fromImageView(source, props, meta);
    EXPECT_EQ(view->properties()->calibration().unit(), "nm");
    EXPECT_EQ(view->metadata(), meta);
    EXPECT_EQ(readAll(*view), bytes);
    EXPECT_EQ(source->properties()->calibration().unit(), "") << "the source keeps its own";

    auto bare = ImageViewFactory::fromImageView(source, nullptr, nullptr);
    EXPECT_EQ(bare->properties(), nullptr);
    EXPECT_EQ(bare->metadata(), nullptr);
    EXPECT_FALSE(bare->support(ImageCapability::RESHAPE));
    EXPECT_EQ(bare->viewOrigin()->parent(0)->uid(), source->viewOrigin()->uid());
}

TEST(MultiImageView, FramesCanBeAddedReplacedAndRemoved)
{
    auto a = ImageViewFactory::allocate({2}, DataTypeId::UINT8);
    auto b = ImageViewFactory::allocate({3}, DataTypeId::UINT8);
    auto multi = MultiImageViewFactory::create({a});
    multi->addFrame(b);
    EXPECT_EQ(multi->frameCount(), 2u);
    EXPECT_EQ(multi->frame(1), b);
    multi->setFrame(0, b);
    multi->removeFrame(1);
    EXPECT_EQ(multi->frameCount(), 1u);
    EXPECT_EQ(multi->frame(0), b);
    EXPECT_THROW(multi->frame(1), InvalidArgument);
    EXPECT_THROW(multi->addFrame(nullptr), InvalidArgument);
    EXPECT_THROW(MultiImageViewFactory::create({a, nullptr}), InvalidArgument);
}

} // namespace
