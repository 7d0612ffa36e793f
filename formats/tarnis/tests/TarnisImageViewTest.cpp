#include "TarnisTestSupport.h"

#include <TarnisImageView.h>

#include <gtest/gtest.h>

namespace quenza::tarnis::test {
namespace {

using dravik::DataType;
using dravik::DataTypeId;
using dravik::ImageInterpretation;
using dravik::ImageTypeDimension;
using dravik::RegionXu64;
using dravik::VectorXu64;

std::shared_ptr<TarnisImageView> openView(const Bytes& file, RootView& root)
{
    return std::make_shared<TarnisImageView>(memoryStream(file), "image", &root);
}

std::string metadataText(const dravik::ImageView& view, const std::string& path)
{
    auto node = dravik::MetadataNodeHelper::getNode(view.metadata(), path);
    return node && node->value() ? dravik::VariantDataValueConverter::toString(*node->value()) : "(none)";
}

TEST(TarnisImageViewTest, GreyImageShapeTypeAndOffsets)
{
    V6Fields f;
    f.gx = 64;
    f.gy = 32;
    const Bytes pixels = pattern(64 * 32);
    const Bytes file = v6File(f, pixels);
    RootView root;
    auto view = openView(file, root);
    EXPECT_EQ(view->shape(), (VectorXu64{64, 32}));
    EXPECT_EQ(view->dataType(), DataType(DataTypeId::UINT8));
    EXPECT_EQ(view->imageInterpretation(), ImageInterpretation::GRAYSCALE);
    EXPECT_EQ(view->properties()->imageInfo().axesInterpretation(), dravik::ImageType(dravik::ImageTypeId::IMAGE));
    EXPECT_EQ(view->capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));
    uint8_t value = 0;
    view->read({3, 2}, &value);
    EXPECT_EQ(value, file[116 + 3 + 2 * 64]);
    EXPECT_EQ(readAll(*view), pixels.data());
}

TEST(TarnisImageViewTest, ColourChannelsFollowThePlanes)
{
    V6Fields f;
    f.gx = 64;
    f.gy = 32;
    f.gc = 3;
    f.gtype = 0x401;
    const Bytes file = v6File(f, pattern(64 * 32 * 3));
    RootView root;
    auto view = openView(file, root);
    EXPECT_EQ(view->shape(), (VectorXu64{64, 32, 3}));
    EXPECT_EQ(view->imageInterpretation(), ImageInterpretation::RGB);
    EXPECT_TRUE(view->properties()->imageInfo().axesInterpretation().has(ImageTypeDimension::CHANNEL));
    uint8_t value = 0;
    view->read({0, 0, 1}, &value);
    EXPECT_EQ(value, file[116 + 2048]);
    EXPECT_EQ(metadataText(*view, "TARNIS/ColorType"), "RGB");
}

TEST(TarnisImageViewTest, SlicesTakeTheirSpacingFromTheCalibration)
{
    V6Fields f;
    f.gx = 64;
    f.gy = 32;
    f.gz = 5;
    f.gtype = 0x900;
    f.gcode = 18;
    f.gbits = 16;
    f.ox = 3;
    f.oy = 2;
    Blocks blocks;
    blocks.calibration = calibrationBlock(4424);
    blocks.calibration.setAt<double>(cal::real_size, 0.5);
    blocks.calibration.setAt<double>(cal::real_orig, 100.0);
    blocks.calibration.setAt<double>(cal::real_orig + 8, 200.0);
    blocks.calibration.setText(cal::c_unit, std::string("um\0\0\0", 5));
    blocks.calibration.setAt<float>(cal::oz, -3.0F);
    blocks.calibration.setAt<float>(cal::deltaz, 2.5F);
    RootView root;
    auto view = openView(v6File(f, pattern(64 * 32 * 5 * 2), blocks), root);
    EXPECT_EQ(view->shape(), (VectorXu64{64, 32, 5}));
    EXPECT_EQ(view->dataType(), DataType(DataTypeId::UINT16));
    EXPECT_TRUE(view->properties()->imageInfo().axesInterpretation().has(ImageTypeDimension::SLICE));
    const auto& calibration = view->properties()->calibration();
    EXPECT_EQ(calibration.spacing(), (dravik::Vector3d{0.5, 0.5, 2.5}));
    // (ox - ima_orig) x rxy + real_orig.
    EXPECT_EQ(calibration.origin(), (dravik::Vector3d{101.0, 200.5, -3.0}));
    EXPECT_EQ(calibration.unit(), "um");
}

TEST(TarnisImageViewTest, PixelCodesGiveElementTypes)
{
    const struct {
        int32_t gcode, gbits;
        DataTypeId type;
        ImageInterpretation interpretation;
    } cases[] = {
        {0, 32, DataTypeId::FLOAT, ImageInterpretation::GRAYSCALE},
        {1, 32, DataTypeId::INT32, ImageInterpretation::GRAYSCALE},
        {2, 16, DataTypeId::INT16, ImageInterpretation::GRAYSCALE},
        {4, 8, DataTypeId::INT8, ImageInterpretation::GRAYSCALE},
        {18, 16, DataTypeId::UINT16, ImageInterpretation::GRAYSCALE},
        {20, 8, DataTypeId::UINT8, ImageInterpretation::GRAYSCALE},
        {34, 8, DataTypeId::UINT8, ImageInterpretation::BINARY},
        {34, 16, DataTypeId::UINT16, ImageInterpretation::BINARY},
        {65, 32, DataTypeId::UINT32, ImageInterpretation::LABEL},
        {66, 16, DataTypeId::UINT16, ImageInterpretation::LABEL},
    };
    for (const auto& c : cases) {
        V6Fields f;
        f.gcode = c.gcode;
        f.gbits = c.gbits;
        RootView root;
        auto view = openView(v6File(f, pattern(12 * static_cast<size_t>(c.gbits) / 8)), root);
        EXPECT_EQ(view->dataType(), DataType(c.type)) << c.gcode;
        EXPECT_EQ(view->imageInterpretation(), c.interpretation) << c.gcode;
        EXPECT_EQ(view->tarnisInformation().ocode, c.gbits / 8);
    }

    const struct {
        int32_t magic, gcode, gbits;
        const char* message;
    } refused[] = {
        {0x6934, 2, 8, "Data type size error"},
        {0x6934, 0, 16, "Data type size error"},
        {0x6934, 32, 8, "Unsupported datatype (32 - 8)"},
        {0x6934, 3, 8, "Unsupported datatype (3 - 8)"},
        {0x12345678, 20, 8, "Invalid magic number 305419896"},
        {static_cast<int32_t>(0x80000001), 20, 8, "Invalid magic number -2147483647"},
    };
    for (const auto& c : refused) {
        V6Fields f;
        f.magic = c.magic;
        f.gcode = c.gcode;
        f.gbits = c.gbits;
        RootView root;
        EXPECT_EQ(errorOf([&] { openView(v6File(f, pattern(48)), root); }), c.message);
    }
    RootView root;
    EXPECT_EQ(errorOf([&] { openView(Bytes().u16(0x6934), root); }), "Impossible to read the magic number");
}

TEST(TarnisImageViewTest, Version3PlanesAreColourOnlyWhenThree)
{
    for (int32_t planes : {1, 3, 2}) {
        V3Fields f;
        f.dimz = planes;
        RootView root;
        auto view = openView(v3File(f, "", pattern(12 * static_cast<size_t>(planes))), root);
        EXPECT_EQ(view->shape(), planes == 3 ? (VectorXu64{4, 3, 3}) : (VectorXu64{4, 3})) << planes;
        EXPECT_EQ(view->imageInterpretation(),
                  planes == 3 ? ImageInterpretation::RGB : ImageInterpretation::GRAYSCALE);
        EXPECT_EQ(metadataText(*view, "TARNIS/Version"), "3");
    }
}

TEST(TarnisImageViewTest, ColourTypesAndInterpretations)
{
    const struct {
        int32_t gtype;
        const char* colorType;
        ImageInterpretation interpretation;
    } cases[] = {
        {0x401, "RGB", ImageInterpretation::RGB},
        {0x40a, "USER", ImageInterpretation::HSL},
        {0x402, "HLS", ImageInterpretation::HSL},
        {0x404, "YIQ", ImageInterpretation::YIQ},
        {0x408, "NRGB", ImageInterpretation::RGB_CHROMATICITY},
        {0x410, "MSRC", ImageInterpretation::MULTISPECTRAL},
        {0x400, "(none)", ImageInterpretation::MULTISPECTRAL},
    };
    for (const auto& c : cases) {
        V6Fields f;
        f.gc = 2;
        f.gtype = c.gtype;
        RootView root;
        auto view = openView(v6File(f, pattern(24)), root);
        EXPECT_EQ(metadataText(*view, "TARNIS/ColorType"), c.colorType) << std::hex << c.gtype;
        EXPECT_EQ(view->imageInterpretation(), c.interpretation) << std::hex << c.gtype;
        EXPECT_EQ(view->shape(), (VectorXu64{4, 3, 2}));
    }
}

TEST(TarnisImageViewTest, MetadataDescribesTheFile)
{
    V6Fields f;
    f.grid = 1;
    Blocks blocks;
    blocks.header = Bytes().text("\x01Stain:blue\x01" "Calibration:lab").zeros(1);
    blocks.calibration = calibrationBlock(4424);
    blocks.lut = lutBlock(2);
    RootView root;
    auto view = openView(v6File(f, pattern(12), blocks), root);
    EXPECT_EQ(metadataText(*view, "TARNIS/Version"), "6");
    EXPECT_EQ(metadataText(*view, "TARNIS/Stain"), "blue");
    EXPECT_EQ(metadataText(*view, "TARNIS/Calibration"), "lab");
    EXPECT_EQ(metadataText(*view, "TARNIS/Calibration/c_name"), "no_calib");
    EXPECT_EQ(metadataText(*view, "TARNIS/Lut/LutB"), "2000, 2001");
    EXPECT_EQ(metadataText(*view, "TARNIS/grid"), "1");
    EXPECT_EQ(metadataText(*view, "TARNIS/GridName"), "Hexagonal");
    EXPECT_EQ(metadataText(*view, "TARNIS/ColorType"), "(none)");
    auto versionNode = dravik::MetadataNodeHelper::getNode(view->metadata(), "TARNIS/Version");
    EXPECT_EQ(versionNode->value()->dataType(), DataType(DataTypeId::FLOAT));
    std::vector<std::string> names;
    for (const auto& child : view->metadata()->child("TARNIS")->children()) {
        names.push_back(child->name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Version", "Stain", "Calibration", "Lut", "grid", "GridName"}));

    f.magic = 0x6935;
    f.grid = 5;
    auto other = openView(v6File(f, pattern(12), blocks), root);
    EXPECT_EQ(metadataText(*other, "TARNIS/Version"), "6.6");
    EXPECT_EQ(metadataText(*other, "TARNIS/GridName"), "(none)");
    EXPECT_EQ(metadataText(*other, "TARNIS/grid"), "5");
}

TEST(TarnisImageViewTest, RegionsAreReadByteForByte)
{
    // x 5, y 4, 3 slices, 2 channels, 2 time steps of 16-bit values.
    V6Fields f;
    f.gx = 5;
    f.gy = 4;
    f.gz = 3;
    f.gc = 2;
    f.gt = 2;
    f.gtype = 0x410 | 0x800 | 0x1000;
    f.gcode = 18;
    f.gbits = 16;
    const Bytes file = v6File(f, pattern(5 * 4 * 3 * 2 * 2 * 2));
    RootView root;
    auto view = openView(file, root);
    ASSERT_EQ(view->shape(), (VectorXu64{5, 4, 3, 2, 2}));
    auto fileValue = [&](uint64_t x, uint64_t y, uint64_t z, uint64_t c, uint64_t t) {
        const uint64_t plane = c + 2 * (z + 3 * t);
        return file.at<uint16_t>(116 + plane * 40 + y * 10 + x * 2);
    };
    const RegionXu64 regions[] = {
        RegionXu64::fullRegion(view->shape()),
        RegionXu64({1, 1, 0, 0, 0}, {2, 2, 1, 1, 1}),
        RegionXu64({0, 2, 1, 1, 1}, {5, 2, 2, 1, 1}),
        RegionXu64({4, 0, 2, 0, 0}, {1, 4, 1, 2, 2}),
        RegionXu64({0, 0, 0, 1, 0}, {5, 4, 3, 1, 2}),
        RegionXu64({2, 3, 1, 0, 1}, {0, 1, 1, 1, 1}),
    };
    for (const RegionXu64& region : regions) {
        std::vector<uint16_t> values(region.elementCount() + 1, 0xBEEF);
        view->readRegion(region, values.data());
        size_t i = 0;
        const auto& o = region.origin();
        const auto& s = region.size();
        for (uint64_t t = 0; t < s[4]; ++t) {
            for (uint64_t c = 0; c < s[3]; ++c) {
                for (uint64_t z = 0; z < s[2]; ++z) {
                    for (uint64_t y = 0; y < s[1]; ++y) {
                        for (uint64_t x = 0; x < s[0]; ++x, ++i) {
                            ASSERT_EQ(values[i], fileValue(o[0] + x, o[1] + y, o[2] + z, o[3] + c, o[4] + t))
                                << region.toString() << " at " << i;
                        }
                    }
                }
            }
        }
        EXPECT_EQ(values[i], 0xBEEF) << "nothing written past the region";
    }
    uint16_t one = 0;
    view->read({3, 2, 1, 1, 1}, &one);
    EXPECT_EQ(one, fileValue(3, 2, 1, 1, 1));

    // A 2 x 2 region at (1, 1) of a 2-D image takes rows 1 and 2.
    V6Fields flat;
    const Bytes flatFile = v6File(flat, pattern(12));
    auto flatView = openView(flatFile, root);
    uint8_t four[4];
    flatView->readRegion(RegionXu64({1, 1}, {2, 2}), four);
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4),
              (std::vector<uint8_t>{flatFile[116 + 5], flatFile[116 + 6], flatFile[116 + 9], flatFile[116 + 10]}));
}

TEST(TarnisImageViewTest, ContiguousRowsAreReadTogether)
{
    const struct {
        const char* what;
        int32_t gz, gc, gtype;
        RegionXu64 region;
        uint64_t reads;
    } cases[] = {
        {"whole grey image", 1, 1, 0x100, RegionXu64({0, 0}, {64, 32}), 1},
        {"rows of a grey image", 1, 1, 0x100, RegionXu64({0, 4}, {64, 10}), 1},
        {"part of each row", 1, 1, 0x100, RegionXu64({1, 4}, {60, 10}), 10},
        {"whole colour image", 1, 3, 0x401, RegionXu64({0, 0, 0}, {64, 32, 3}), 1},
        {"whole volume", 4, 1, 0x900, RegionXu64({0, 0, 0}, {64, 32, 4}), 1},
        {"colour volume", 4, 3, 0xC01, RegionXu64({0, 0, 0, 0}, {64, 32, 4, 3}), 12},
        {"one slice of a colour volume", 4, 3, 0xC01, RegionXu64({0, 0, 2, 0}, {64, 32, 1, 3}), 1},
    };
    for (const auto& c : cases) {
        V6Fields f;
        f.gx = 64;
        f.gy = 32;
        f.gz = c.gz;
        f.gc = c.gc;
        f.gtype = c.gtype;
        const Bytes file = v6File(f, pattern(64 * 32 * static_cast<size_t>(c.gz * c.gc)));
        auto counting = std::make_shared<CountingStream>(memoryStream(file));
        RootView root;
        TarnisImageView view(counting, "x", &root);
        std::vector<uint8_t> values(c.region.elementCount());
        const uint64_t before = counting->reads;
        view.readRegion(c.region, values.data());
        EXPECT_EQ(counting->reads - before, c.reads) << c.what;
    }
}

TEST(TarnisImageViewTest, BadArgumentsAreRefused)
{
    RootView root;
    auto view = openView(v6File(V6Fields(), pattern(12)), root);
    uint8_t value = 0;
    std::vector<uint8_t> values(12);
    EXPECT_EQ(errorOf([&] { view->read({1, 2, 3}, &value); }), "Invalid index: 1, 2, 3");
    EXPECT_EQ(errorOf([&] { view->read({4, 0}, &value); }), "Invalid index: 4, 0");
    EXPECT_EQ(errorOf([&] { view->read({0, 0}, nullptr); }), "Invalid buffer");
    EXPECT_EQ(errorOf([&] { view->readRegion(RegionXu64({0, 0}, {4, 3}), nullptr); }), "Invalid buffer");
    EXPECT_EQ(errorOf([&] { view->readRegion(RegionXu64({0, 0, 0}, {4, 3, 1}), values.data()); }), "Invalid region");
    EXPECT_EQ(errorOf([&] { view->readRegion(RegionXu64({1, 0}, {4, 3}), values.data()); }), "Invalid region");
    EXPECT_THROW(view->read({9, 9}, &value), dravik::InvalidArgument);
}

Bytes fileWithOverlay(int32_t version, const Bytes& graphics, int32_t gtype = 0x100)
{
    V6Fields f;
    f.version = version;
    f.gtype = gtype;
    f.ox = 3;
    Blocks blocks;
    blocks.graphics = graphics;
    blocks.calibration = calibrationBlock(4424);
    return v6File(f, pattern(12), blocks);
}

TEST(TarnisImageViewTest, OverlaysOfOldAndNewFiles)
{
    RootView root;
    const Bytes labels = pattern(24, 9);
    const Bytes oldFile = fileWithOverlay(6000, labels);
    auto main = openView(oldFile, root);
    ASSERT_EQ(main->tarnisInformation().m_offsetOverlay, 116u + 12);
    TarnisImageView overlay(memoryStream(oldFile), main->tarnisInformation(), &root);
    EXPECT_EQ(overlay.shape(), (VectorXu64{4, 3}));
    EXPECT_EQ(overlay.dataType(), DataType(DataTypeId::UINT16));
    EXPECT_EQ(overlay.imageInterpretation(), ImageInterpretation::LABEL);
    EXPECT_TRUE(dravik::MetadataNodeHelper::exists(overlay.metadata(), "TARNIS/Overlay"));
    EXPECT_EQ(overlay.metadata()->child("TARNIS")->childCount(), 1u);
    EXPECT_EQ(readAll(overlay), labels.data());
    EXPECT_EQ(overlay.tarnisInformation().ox, 3);
    EXPECT_EQ(overlay.capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));

    // From version 6500 on the block carries the overlay's own descriptor.
    const Bytes planes = pattern(2 * 2 * 2, 4);
    const Bytes header = Bytes().i32(1).i32(1).i32(1).i32(1).i32(1).i32(2).i32(2).i32(2).i32(1).i32(1).i32(20).i32(0x900);
    const Bytes newFile = fileWithOverlay(6500, Bytes().add(header).add(planes));
    auto newMain = openView(newFile, root);
    TarnisImageView newOverlay(memoryStream(newFile), newMain->tarnisInformation(), &root);
    EXPECT_EQ(newOverlay.shape(), (VectorXu64{2, 2, 2}));
    EXPECT_EQ(newOverlay.dataType(), DataType(DataTypeId::UINT8));
    EXPECT_EQ(readAll(newOverlay), planes.data());

    const struct {
        const char* what;
        Bytes graphics;
        const char* message;
    } refused[] = {
        {"unknown code", Bytes().add(header).add(planes).setAt<int32_t>(40, 3), "Invalid gcode: 3"},
        {"planes beyond the block", Bytes().add(header).add(pattern(7)), "Invalid overlay"},
        {"zero extent", Bytes().add(header).add(planes).setAt<int32_t>(20, 0), "Invalid overlay"},
        {"short header", pattern(10), "Invalid overlay"},
    };
    for (const auto& c : refused) {
        const Bytes bad = fileWithOverlay(6500, c.graphics);
        auto badMain = openView(bad, root);
        EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(bad), badMain->tarnisInformation(), &root); }), c.message)
            << c.what;
    }
    const Bytes shortLabels = fileWithOverlay(6000, pattern(23));
    auto shortMain = openView(shortLabels, root);
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(shortLabels), shortMain->tarnisInformation(), &root); }),
              "Invalid overlay");
}

TEST(TarnisImageViewTest, FramesDeriveTheirOriginFromTheRoot)
{
    RootView root(dravik::ViewDataOrigin::DRIVE);
    auto view = openView(v6File(V6Fields(), pattern(12)), root);
    auto origin = view->viewOrigin();
    ASSERT_NE(origin, nullptr);
    EXPECT_EQ(origin->displayName(), "TarnisPlugin frame Extractor");
    EXPECT_EQ(origin->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    EXPECT_EQ(origin->parentCount(), 1u);
    view->addMetadata("TARNIS/Extra", dravik::VariantDataValueFactory::create("yes"));
    EXPECT_EQ(metadataText(*view, "TARNIS/Extra"), "yes");
    EXPECT_EQ(errorOf([&] { view->extension(1); }), "Extension 1 not found");
}

} // namespace
} // namespace quenza::tarnis::test
