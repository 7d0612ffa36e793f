// The frames that "ImageList" entries become: element types, stored layouts, image
// properties, calibration and origin, on files written byte by byte.

#include "DmTestFile.h"
#include "TestSupport.h"

#include <GatanExtractor.h>
#include <GatanFrameExtractor.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace quenza::gatan::test {
namespace {

using common::test::expectError;
using dravik::DataType;
using dravik::DataTypeId;
using dravik::ImageInterpretation;
using dravik::RegionXu64;
using dravik::VectorXu64;

Bytes pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(7 * i + 1);
    }
    return bytes;
}

Bytes readAll(dravik::ImageView& image)
{
    Bytes bytes(image.byteCount());
    image.readRegion(RegionXu64::fullRegion(image.shape()), bytes.data());
    return bytes;
}

class GatanFrameTest : public ::testing::TestWithParam<int> {
protected:
    std::shared_ptr<dravik::ImageView> openImage(const DmImage& image) const
    {
        return openBytes(imageFile(GetParam(), {image}))->frame(0);
    }
};

INSTANTIATE_TEST_SUITE_P(Versions, GatanFrameTest, ::testing::Values(3, 4), versionName);

TEST_P(GatanFrameTest, EveryImageDataTypeHasItsElementType)
{
    struct Case {
        int32_t code;
        DataTypeId type;
        int64_t dataCode;
        uint64_t storedBytes;
    };
    const Case cases[] = {
        {1, DataTypeId::INT16, 2, 2},          {2, DataTypeId::FLOAT, 6, 4},
        {3, DataTypeId::COMPLEX_FLOAT, 6, 8},  {6, DataTypeId::UINT8, 10, 1},
        {7, DataTypeId::INT32, 3, 4},          {8, DataTypeId::VEC3_UINT8, 8, 4},
        {9, DataTypeId::INT8, 9, 1},           {10, DataTypeId::UINT16, 4, 2},
        {11, DataTypeId::UINT32, 5, 4},        {12, DataTypeId::DOUBLE, 7, 8},
        {13, DataTypeId::COMPLEX_DOUBLE, 7, 16}, {14, DataTypeId::UINT8, 8, 1},
        {23, DataTypeId::VEC3_UINT8, 3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("DataType " + std::to_string(c.code));
        const Bytes stored = pattern(6 * c.storedBytes);
        const auto frame = openImage({{3, 2}, c.code, c.dataCode, stored, std::nullopt});
        EXPECT_EQ(frame->shape(), (VectorXu64{3, 2}));
        EXPECT_EQ(frame->dataType(), DataType(c.type));
        EXPECT_TRUE(frame->support(dravik::ImageCapability::READ));
        EXPECT_FALSE(frame->support(dravik::ImageCapability::WRITE));
        EXPECT_EQ(std::dynamic_pointer_cast<GatanFrameExtractor>(frame)->imageDataType(), c.code);

        auto expected = dravik::ImageProperties::fromDataType(c.type);
        expected->imageInfo().setAxesInterpretation(dravik::ImageTypeId::IMAGE);
        if (c.type == DataTypeId::VEC3_UINT8) {
            expected->imageInfo().setInterpretation(ImageInterpretation::RGB);
        }
        if (c.code == 14) {
            expected->imageInfo().setBitDepth(1);
            expected->imageInfo().setValueRange(0.0, 1.0);
            expected->imageInfo().setInterpretation(ImageInterpretation::BINARY);
        }
        EXPECT_EQ(*frame->properties(), *expected);

        Bytes packed = stored;
        if (c.type == DataTypeId::VEC3_UINT8) {
            packed.clear();
            for (size_t i = 0; i < stored.size(); i += 4) {
                packed.insert(packed.end(), stored.begin() + static_cast<ptrdiff_t>(i),
                              stored.begin() + static_cast<ptrdiff_t>(i + 3));
            }
        }
        EXPECT_EQ(readAll(*frame), packed);
    }
}

TEST_P(GatanFrameTest, BinaryImagesAreOneBitBytes)
{
    const auto frame = openImage({{2, 2}, 14, 8, {0, 1, 1, 0}, std::nullopt});
    EXPECT_EQ(frame->dataType(), DataType(DataTypeId::UINT8));
    const auto& info = frame->properties()->imageInfo();
    EXPECT_EQ(info.bitDepth(), 1u);
    EXPECT_EQ(info.valueRange(), (dravik::Vector2d{0.0, 1.0}));
    EXPECT_EQ(info.interpretation(), ImageInterpretation::BINARY);
}

TEST_P(GatanFrameTest, UnsupportedDataTypesRefuseTheWholeFile)
{
    const DmImage good{{2}, 6, 10, {1, 2}, std::nullopt};
    EXPECT_EQ(openError(imageFile(GetParam(), {good, {{2}, 5, 6, Bytes(16), std::nullopt}})),
              "Unsupported packed complex format");
    for (int32_t code : {0, 4, 15, 16, 20, 22, 24, 27, -1, 1000}) {
        EXPECT_EQ(openError(imageFile(GetParam(), {good, {{2}, code, 6, Bytes(64), std::nullopt}})),
                  "Unsupported data type: " + std::to_string(code));
    }
}

TEST_P(GatanFrameTest, ASixteenBitImageIsReadFromItsOffset)
{
    const Bytes stored = pattern(512 * 512 * 2);
    const Bytes file = imageFile(GetParam(), {{{512, 512}, 1, 2, stored, std::nullopt}});
    const auto frame = openBytes(file)->frame(0);
    EXPECT_EQ(frame->shape(), (VectorXu64{512, 512}));
    EXPECT_EQ(frame->dataType(), DataType(DataTypeId::INT16));
    EXPECT_EQ(frame->properties()->imageInfo().axesInterpretation(), dravik::ImageType(dravik::ImageTypeId::IMAGE));
    const auto* gatanFrame = dynamic_cast<GatanFrameExtractor*>(frame.get());
    ASSERT_NE(gatanFrame, nullptr);
    EXPECT_EQ(gatanFrame->dataOffset(), find(file, stored));
    EXPECT_EQ(gatanFrame->storedLayout().byteCount(), 524288u);
    EXPECT_EQ(readAll(*frame), stored);

    // A region in the middle, and one element.
    Bytes box(4 * 3 * 2);
    frame->readRegion(RegionXu64({100, 200}, {4, 3}), box.data());
    for (size_t y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(box.data() + y * 8, stored.data() + ((200 + y) * 512 + 100) * 2, 8), 0);
    }
    int16_t one = 0;
    frame->read({511, 511}, &one);
    EXPECT_EQ(std::memcmp(&one, stored.data() + stored.size() - 2, 2), 0);
    EXPECT_THROW(frame->readRegion(RegionXu64({510, 0}, {4, 1}), box.data()), dravik::InvalidArgument);
}

TEST_P(GatanFrameTest, ColourPixelsKeepThreeOfTheirFourStoredBytes)
{
    Bytes stored;
    for (uint8_t p = 0; p < 6; ++p) {
        stored.insert(stored.end(), {uint8_t(10 * p), uint8_t(10 * p + 1), uint8_t(10 * p + 2), 0xEE});
    }
    const auto frame = openImage({{3, 2}, 23, 3, stored, std::nullopt});
    const auto* gatanFrame = dynamic_cast<GatanFrameExtractor*>(frame.get());
    ASSERT_NE(gatanFrame, nullptr);
    EXPECT_EQ(gatanFrame->storedLayout().byteCount(), 24u);
    EXPECT_EQ(gatanFrame->storedLayout().strides(), (VectorXu64{4, 12}));
    EXPECT_EQ(frame->dataType(), DataType(DataTypeId::VEC3_UINT8));
    EXPECT_EQ(frame->properties()->imageInfo().interpretation(), ImageInterpretation::RGB);

    const Bytes packed = readAll(*frame);
    ASSERT_EQ(packed.size(), 18u);
    for (size_t y = 0; y < 2; ++y) {
        for (size_t x = 0; x < 3; ++x) {
            for (size_t c = 0; c < 3; ++c) {
                EXPECT_EQ(packed[3 * (x + 3 * y) + c], stored[4 * (x + 3 * y) + c]);
            }
        }
    }
    EXPECT_EQ(std::count(packed.begin(), packed.end(), 0xEE), 0);
    Bytes part(6);
    frame->readRegion(RegionXu64({1, 1}, {2, 1}), part.data());
    EXPECT_EQ(part, (Bytes{40, 41, 42, 50, 51, 52}));
}

TEST_P(GatanFrameTest, OnlyTwoDimensionalFramesAreImages)
{
    const auto volume = openImage({{2, 2, 2}, 6, 10, Bytes(8), std::nullopt});
    EXPECT_TRUE(volume->properties()->imageInfo().axesInterpretation().isUnknown());
    const auto line = openImage({{4}, 6, 10, Bytes(4), std::nullopt});
    EXPECT_TRUE(line->properties()->imageInfo().axesInterpretation().isUnknown());
    const auto spectrum = openImage({{2048, 1}, 2, 6, Bytes(8192), std::nullopt});
    EXPECT_EQ(spectrum->shape(), (VectorXu64{2048, 1}));
    EXPECT_EQ(spectrum->properties()->imageInfo().axesInterpretation(), dravik::ImageType(dravik::ImageTypeId::IMAGE));
    const auto empty = openImage({{0, 3}, 2, 6, {}, std::nullopt});
    EXPECT_EQ(empty->shape(), (VectorXu64{0, 3}));
    EXPECT_EQ(empty->byteCount(), 0u);
    EXPECT_NO_THROW(empty->readRegion(RegionXu64::fullRegion(empty->shape()), nullptr));
}

TEST_P(GatanFrameTest, CalibrationComesFromTheDimensionEntries)
{
    const auto plain = openImage({{2, 2}, 6, 10, Bytes(4), std::nullopt});
    EXPECT_EQ(plain->properties()->calibration(), dravik::SpatialCalibrationProperty());

    const auto example =
        openImage({{2, 2}, 6, 10, Bytes(4), std::vector<DmCalibration>{{10, 0.5f, u"nm"}, {20, 0.25f, u"pm"}}});
    const auto& cal = example->properties()->calibration();
    EXPECT_EQ(cal.origin(), (dravik::Vector3d{10, 20, 0}));
    EXPECT_EQ(cal.spacing(), (dravik::Vector3d{0.5, 0.25, 1}));
    EXPECT_EQ(cal.unit(), "nm");

    // Entries past the frame's dimensions are not used.
    const auto extra = openImage(
        {{2, 2}, 6, 10, Bytes(4), std::vector<DmCalibration>{{1, 2, u"\u00b5m"}, {3, 4, u""}, {5, 6, u"s"}}});
    EXPECT_EQ(extra->properties()->calibration().origin(), (dravik::Vector3d{1, 3, 0}));
    EXPECT_EQ(extra->properties()->calibration().spacing(), (dravik::Vector3d{2, 4, 1}));
    EXPECT_EQ(extra->properties()->calibration().unit(), "\xC2\xB5m");
    // Nor past the three axes of a calibration.
    const auto fourD = openImage({{1, 1, 1, 2}, 6, 10, Bytes(2),
                                  std::vector<DmCalibration>{{1, 2, u"a"}, {3, 4, u"b"}, {5, 6, u"c"}, {7, 8, u"d"}}});
    EXPECT_EQ(fourD->properties()->calibration().origin(), (dravik::Vector3d{1, 3, 5}));
    EXPECT_EQ(fourD->properties()->calibration().spacing(), (dravik::Vector3d{2, 4, 6}));
    // Fewer entries than dimensions leave the other axes as they were.
    const auto stack = openImage({{2, 2, 3}, 6, 10, Bytes(12), std::vector<DmCalibration>{{1, 2, u"x"}, {3, 4, u"x"}}});
    EXPECT_EQ(stack->properties()->calibration().origin(), (dravik::Vector3d{1, 3, 0}));
    EXPECT_EQ(stack->properties()->calibration().spacing(), (dravik::Vector3d{2, 4, 1}));
    const auto none = openImage({{2, 2}, 6, 10, Bytes(4), std::vector<DmCalibration>{}});
    EXPECT_EQ(none->properties()->calibration(), dravik::SpatialCalibrationProperty());
}

TEST_P(GatanFrameTest, MissingCalibrationValuesKeepTheirDefaults)
{
    DmEntry imageData = imageDataDirectory({{2, 2}, 6, 10, Bytes(4), std::nullopt});
    imageData.entries.push_back(dir("Calibrations", {dir("Dimension", {dir("", {scalar("Scale", 7, 0.5)}),
                                                                       dir("", {scalar("Origin", 3, int32_t(-4))})})}));
    const auto frame = openBytes(dmFile(GetParam(), {dir("ImageList", {dir("", {imageData})})}))->frame(0);
    const auto& cal = frame->properties()->calibration();
    EXPECT_EQ(cal.origin(), (dravik::Vector3d{0, -4, 0}));
    EXPECT_EQ(cal.spacing(), (dravik::Vector3d{0.5, 1, 1}));
    EXPECT_EQ(cal.unit(), "");
}

TEST_P(GatanFrameTest, FramesShareTheTreeAndOutliveTheExtractor)
{
    const DmImage a{{2}, 6, 10, {1, 2}, std::nullopt};
    const DmImage b{{3}, 6, 10, {3, 4, 5}, std::nullopt};
    auto dm = openBytes(imageFile(GetParam(), {a, b}));
    EXPECT_EQ(dm->frame(0)->metadata(), dm->metadata());
    EXPECT_EQ(dm->frame(1)->metadata(), dm->metadata());
    EXPECT_EQ(dm->metadata()->name(), "root");

    std::shared_ptr<dravik::ImageView> second = dm->frame(1);
    dm.reset();
    EXPECT_EQ(readAll(*second), (Bytes{3, 4, 5}));
    EXPECT_EQ(second->metadata()->name(), "root");
    EXPECT_EQ(second->viewOrigin()->parentCount(), 1u);
}

/// The elements of `region` picked one by one out of the stored bytes of an image of
/// `shape`, `storedBytes` a stored element, of which the first `elementBytes` are kept.
Bytes pickElements(const Bytes& stored, const VectorXu64& shape, uint64_t storedBytes, uint64_t elementBytes,
                   const RegionXu64& region)
{
    Bytes out;
    VectorXu64 index = region.origin();
    const size_t dims = shape.size();
    for (uint64_t n = 0; n < region.elementCount(); ++n) {
        uint64_t offset = 0;
        uint64_t stride = storedBytes;
        for (size_t i = 0; i < dims; ++i) {
            offset += index[i] * stride;
            stride *= shape[i];
        }
        out.insert(out.end(), stored.begin() + static_cast<ptrdiff_t>(offset),
                   stored.begin() + static_cast<ptrdiff_t>(offset + elementBytes));
        for (size_t i = 0; i < dims && ++index[i] == region.origin()[i] + region.size()[i]; ++i) {
            if (i + 1 < dims) {
                index[i] = region.origin()[i];
            }
        }
    }
    return out;
}

Bytes readRegionOf(dravik::ImageView& image, const RegionXu64& region)
{
    Bytes bytes(region.elementCount() * image.dataType().byteCount());
    image.readRegion(region, bytes.data());
    return bytes;
}

TEST(GatanFrameRegionTest, RegionsOfEveryShapeReadTheirElements)
{
    struct Case {
        std::vector<uint32_t> dims;
        int32_t dataType;
        int64_t dataCode;
        uint64_t storedBytes;
        uint64_t elementBytes;
        std::vector<RegionXu64> regions;
    };
    const Case cases[] = {
        {{4096, 64}, 10, 4, 2, 2,
         {RegionXu64({0, 0}, {4096, 64}), RegionXu64({0, 10}, {4096, 3}), RegionXu64({100, 5}, {10, 50}),
          RegionXu64({4095, 0}, {1, 64}), RegionXu64({0, 63}, {4096, 1}), RegionXu64({7, 7}, {1, 1})}},
        {{5, 4, 3, 2}, 7, 3, 4, 4,
         {RegionXu64({0, 0, 0, 0}, {5, 4, 3, 2}), RegionXu64({1, 1, 1, 1}, {3, 2, 2, 1}),
          RegionXu64({0, 0, 1, 0}, {5, 4, 2, 2}), RegionXu64({0, 2, 0, 0}, {5, 1, 3, 2}),
          RegionXu64({4, 3, 2, 1}, {1, 1, 1, 1})}},
        {{300, 7}, 13, 7, 16, 16, {RegionXu64({0, 0}, {300, 7}), RegionXu64({299, 1}, {1, 6})}},
        // 2048 x 1100 colour pixels: more stored bytes than one scratch buffer holds.
        {{2048, 1100}, 23, 3, 4, 3,
         {RegionXu64({0, 0}, {2048, 1100}), RegionXu64({1, 1}, {2046, 1098}), RegionXu64({1000, 0}, {3, 1100}),
          RegionXu64({0, 1099}, {2048, 1})}},
        {{6, 5, 4}, 8, 8, 4, 3, {RegionXu64({0, 0, 0}, {6, 5, 4}), RegionXu64({2, 1, 1}, {3, 3, 2})}},
    };
    for (const Case& c : cases) {
        uint64_t elements = 1;
        for (uint32_t d : c.dims) {
            elements *= d;
        }
        const Bytes stored = pattern(elements * c.storedBytes);
        const auto frame = openBytes(imageFile(4, {{c.dims, c.dataType, c.dataCode, stored, std::nullopt}}))->frame(0);
        for (const RegionXu64& region : c.regions) {
            SCOPED_TRACE("DataType " + std::to_string(c.dataType) + ", region " + region.origin().toString() + " / "
                         + region.size().toString());
            EXPECT_EQ(readRegionOf(*frame, region),
                      pickElements(stored, frame->shape(), c.storedBytes, c.elementBytes, region));
        }
    }
}

TEST(GatanFrameRegionTest, RegionsOutsideTheImageAreRefused)
{
    const auto frame = openBytes(imageFile(3, {{{4, 3}, 6, 10, Bytes(12), std::nullopt}}))->frame(0);
    Bytes bytes(64);
    for (const RegionXu64& region : {RegionXu64({0, 0}, {5, 1}), RegionXu64({3, 2}, {1, 2}), RegionXu64({0}, {4}),
                                     RegionXu64({0, 0, 0}, {1, 1, 1})}) {
        EXPECT_THROW(frame->readRegion(region, bytes.data()), dravik::InvalidArgument) << region.size().toString();
    }
    expectError([&] { frame->readRegion(RegionXu64({2, 0}, {3, 1}), bytes.data()); },
                "Region origin (2, 0) size (3, 1) leaves the image of shape (4, 3)");
}

TEST(GatanFrameRegionTest, ThreadsReadOneFrameAtOnce)
{
    const Bytes stored = pattern(256 * 256 * 4);
    const Bytes file = imageFile(3, {{{256, 256}, 23, 3, stored, std::nullopt}});
    const std::string path = ::testing::TempDir() + "gatan_threads_" + std::to_string(::getpid()) + ".dm3";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    for (const auto& dm : {std::make_shared<GatanExtractor>(path),
                           std::make_shared<GatanExtractor>(dravik::StreamAccessFactory::fromBytes(file), "DM")}) {
        const auto frame = dm->frame(0);
        std::vector<int> mismatches(4, 0);
        std::vector<std::thread> threads;
        for (uint64_t t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                const RegionXu64 region({t * 10, 3 * t}, {200, 100 + t});
                const Bytes expected = pickElements(stored, frame->shape(), 4, 3, region);
                for (int k = 0; k < 25; ++k) {
                    mismatches[t] += readRegionOf(*frame, region) == expected ? 0 : 1;
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(mismatches, std::vector<int>(4, 0));
    }
    std::remove(path.c_str());
}

TEST(GatanFrameRegionTest, AFileCutAfterOpeningFailsToRead)
{
    const Bytes stored = pattern(1000 * 2);
    const Bytes file = imageFile(3, {{{1000}, 1, 2, stored, std::nullopt}});
    const std::string path = ::testing::TempDir() + "gatan_cut_" + std::to_string(::getpid()) + ".dm3";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    GatanExtractor dm(path);
    const auto frame = dm.frame(0);
    const auto offset = std::dynamic_pointer_cast<GatanFrameExtractor>(frame)->dataOffset();
    std::filesystem::resize_file(path, offset + 100);
    Bytes bytes(2000);
    EXPECT_NO_THROW(frame->readRegion(RegionXu64({0}, {50}), bytes.data()));
    expectError([&] { frame->readRegion(RegionXu64({0}, {1000}), bytes.data()); },
                "Unexpected end of file at offset " + std::to_string(offset) + ": 2000 bytes needed, 100 read");
    std::remove(path.c_str());
}

TEST(GatanFrameOriginTest, FramesDeriveTheirOriginFromTheExtractor)
{
    const Bytes file = imageFile(3, {{{2}, 6, 10, {1, 2}, std::nullopt}});
    const std::string path = ::testing::TempDir() + "gatan_origin_" + std::to_string(::getpid()) + ".dm3";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    struct Case {
        std::shared_ptr<GatanExtractor> dm;
        dravik::ViewDataOrigin origin;
    };
    const Case cases[] = {
        {std::make_shared<GatanExtractor>(path), dravik::ViewDataOrigin::DRIVE},
        {std::make_shared<GatanExtractor>(dravik::StreamAccessFactory::fromBytes(file), "DM"),
         dravik::ViewDataOrigin::UNKNOWN},
    };
    std::remove(path.c_str());
    for (const Case& c : cases) {
        const auto own = c.dm->viewOrigin();
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(own->displayName(), "GatanPlugin Extractor");
        EXPECT_EQ(own->dataOrigin(), c.origin);
        EXPECT_EQ(own->parentCount(), 0u);
        EXPECT_EQ(c.dm->extension(dravik::ViewOriginExtension::EXTENSION_ID), own);
        expectError([&] { c.dm->extension(1); }, "Extension 1 not found");

        const auto frameOrigin = c.dm->frame(0)->viewOrigin();
        ASSERT_NE(frameOrigin, nullptr);
        EXPECT_EQ(frameOrigin->displayName(), "GatanPlugin frame Extractor");
        EXPECT_EQ(frameOrigin->dataOrigin(), c.origin);
        ASSERT_EQ(frameOrigin->parentCount(), 1u);
        EXPECT_EQ(frameOrigin->parent(0)->uid(), own->uid());
        EXPECT_NE(frameOrigin->uid(), own->uid());
        expectError([&] { c.dm->frame(0)->extension(7); }, "Extension 7 not found");
    }
}

} // namespace
} // namespace quenza::gatan::test
