#include "TarnisTestSupport.h"

#include <TarnisEditableImageView.h>
#include <TarnisExtractor.h>

#include <gtest/gtest.h>

namespace quenza::tarnis::test {
namespace {

using dravik::DataType;
using dravik::DataTypeId;
using dravik::ImageInterpretation;
using dravik::VectorXu64;

// An editable main frame over an in-memory file, with access to the file's bytes.
struct Editable {
    explicit Editable(const Bytes& file)
        : stream(memoryStream(file))
        , extractor(std::make_shared<TarnisExtractor>(stream))
        , view(std::dynamic_pointer_cast<TarnisEditableImageView>(extractor->frame(0)))
    {
        EXPECT_NE(view, nullptr);
    }
    Bytes bytes() const
    {
        const auto* p = static_cast<const uint8_t*>(stream->bufferReadOnly());
        return Bytes(std::vector<uint8_t>(p, p + stream->bufferSize()));
    }
    std::shared_ptr<dravik::ImageView> reopen(uint64_t frame = 0) const
    {
        return std::make_shared<TarnisExtractor>(memoryStream(bytes()))->frame(frame);
    }

    std::shared_ptr<dravik::StreamAccess> stream;
    std::shared_ptr<TarnisExtractor> extractor;
    std::shared_ptr<TarnisEditableImageView> view;
};

Bytes greyFile(int32_t gx = 10, int32_t gy = 4, int32_t gcode = 20, int32_t gbits = 8)
{
    V6Fields f;
    f.gx = gx;
    f.gy = gy;
    f.gcode = gcode;
    f.gbits = gbits;
    Blocks blocks;
    blocks.header = Bytes().text("\x01Stain:blue").zeros(1);
    blocks.calibration = calibrationBlock(4424);
    blocks.calibration.setAt<double>(cal::real_size, 2.0);
    blocks.lut = lutBlock(4);
    return v6File(f, pattern(static_cast<size_t>(gx * gy * gbits / 8)), blocks);
}

std::string headerText(const Bytes& file)
{
    const auto headersize = static_cast<size_t>(file.at<int32_t>(68));
    const uint64_t pixels = uint64_t(file.at<int32_t>(4)) * file.at<int32_t>(8) * file.at<int32_t>(12)
        * file.at<int32_t>(16) * file.at<int32_t>(20) * (file.at<int32_t>(56) / 8);
    return std::string(reinterpret_cast<const char*>(file.data().data()) + 116 + pixels, headersize);
}

size_t count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++n;
    }
    return n;
}

TEST(TarnisEditableImageViewTest, CapabilitiesAndPixelWrites)
{
    Editable e(greyFile(10, 4, 18, 16));
    EXPECT_EQ(e.view->capabilities(),
              (dravik::ImageCapabilitySet{dravik::ImageCapability::READ, dravik::ImageCapability::WRITE,
                                          dravik::ImageCapability::RESHAPE}));
    const uint16_t value = 0xA1B2;
    e.view->write({2, 3}, &value);
    EXPECT_EQ(e.bytes().at<uint16_t>(116 + 2 * 2 + 3 * 20), 0xA1B2);

    const uint16_t block[4] = {1, 2, 3, 4};
    e.view->writeRegion(dravik::RegionXu64({5, 1}, {2, 2}), block);
    const Bytes file = e.bytes();
    EXPECT_EQ(file.at<uint16_t>(116 + 5 * 2 + 20), 1);
    EXPECT_EQ(file.at<uint16_t>(116 + 6 * 2 + 20), 2);
    EXPECT_EQ(file.at<uint16_t>(116 + 5 * 2 + 40), 3);
    uint16_t back[4] = {};
    e.view->readRegion(dravik::RegionXu64({5, 1}, {2, 2}), back);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 4), std::vector<uint16_t>(block, block + 4));

    EXPECT_EQ(errorOf([&] { e.view->write({2, 3}, nullptr); }), "Invalid buffer");
    EXPECT_EQ(errorOf([&] { e.view->write({10, 0}, &value); }), "Invalid index: 10, 0");
    EXPECT_EQ(errorOf([&] { e.view->writeRegion(dravik::RegionXu64({0, 0}, {1, 1}), nullptr); }), "Invalid buffer");
    EXPECT_EQ(errorOf([&] { e.view->writeRegion(dravik::RegionXu64({9, 0}, {2, 1}), block); }), "Invalid region");
}

TEST(TarnisEditableImageViewTest, ReshapeRewritesTheDescriptor)
{
    Editable e(greyFile());
    const Bytes before = e.bytes();
    e.view->reshape({10, 4}, DataTypeId::UINT8);
    EXPECT_EQ(e.bytes().data(), before.data()) << "the same shape and type write nothing";

    e.view->reshape({20, 10}, DataTypeId::UINT16);
    const Bytes file = e.bytes();
    EXPECT_EQ(file.at<int32_t>(0), 0x6934);
    EXPECT_EQ(file.at<int32_t>(4), 20);
    EXPECT_EQ(file.at<int32_t>(8), 10);
    EXPECT_EQ(file.at<int32_t>(44), 0x100);
    EXPECT_EQ(file.at<int32_t>(52), 18);
    EXPECT_EQ(file.at<int32_t>(56), 16);
    EXPECT_EQ(file.at<int32_t>(68), 0) << "no header text";
    EXPECT_EQ(file.at<int32_t>(88), 0) << "no look-up table";
    EXPECT_EQ(file.at<int32_t>(80), 4424);
    const size_t calibration = 116 + 400;
    EXPECT_EQ(file.at<double>(calibration + cal::real_size), 1.0) << "default calibration";
    EXPECT_EQ(e.view->shape(), (VectorXu64{20, 10}));
    EXPECT_EQ(e.view->dataType(), DataType(DataTypeId::UINT16));
    auto version = dravik::MetadataNodeHelper::getNode(e.view->metadata(), "TARNIS/Version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(dravik::VariantDataValueConverter::toString(*version->value()), "6");
    EXPECT_FALSE(dravik::MetadataNodeHelper::exists(e.view->metadata(), "TARNIS/Stain"));
    EXPECT_EQ(e.reopen()->shape(), (VectorXu64{20, 10}));

    e.view->reshape({20, 10, 4}, DataTypeId::FLOAT);
    EXPECT_EQ(e.bytes().at<int32_t>(12), 4);
    EXPECT_EQ(e.bytes().at<int32_t>(44), 0x900);
    EXPECT_EQ(e.bytes().at<int32_t>(52), 0);
    EXPECT_EQ(e.reopen()->shape(), (VectorXu64{20, 10, 4}));
}

TEST(TarnisEditableImageViewTest, FailedReshapesLeaveTheViewAsItWas)
{
    Editable e(greyFile());
    const Bytes before = e.bytes();
    const struct {
        VectorXu64 shape;
        DataType type;
        const char* message;
    } cases[] = {
        {{20, 10}, DataTypeId::VEC3_UINT8, "Unsupported data type (vector)"},
        {{}, DataTypeId::UINT8, "Unsupported shape"},
        {{20}, DataTypeId::UINT8, "Unsupported shape"},
        {{2, 2, 2, 2, 2, 2}, DataTypeId::UINT8, "Unsupported shape"},
        {{20, 0}, DataTypeId::UINT8, "Unsupported shape"},
        {{20, 10}, DataTypeId::DOUBLE, "Unsupported data type"},
        {{20, 10}, DataTypeId::UINT32, "Unsupported data type"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf([&] { e.view->reshape(c.shape, c.type); }), c.message) << c.shape.toString();
        EXPECT_EQ(e.view->shape(), (VectorXu64{10, 4}));
        EXPECT_EQ(e.view->dataType(), DataType(DataTypeId::UINT8));
        EXPECT_EQ(e.view->tarnisInformation().gx, 10);
        EXPECT_EQ(e.view->tarnisInformation().header, "\x01Stain:blue");
    }
    EXPECT_EQ(e.bytes().data(), before.data());
    EXPECT_EQ(readAll(*e.view), std::vector<uint8_t>(before.data().begin() + 116, before.data().begin() + 156));
}

TEST(TarnisEditableImageViewTest, FourAndFiveExtentsKeepSliceChannelTimeOrder)
{
    for (const VectorXu64& shape : {VectorXu64{6, 5, 4, 3}, VectorXu64{6, 5, 4, 3, 2}, VectorXu64{6, 5, 1, 2}}) {
        Editable e(greyFile());
        e.view->reshape(shape, DataTypeId::UINT16);
        EXPECT_EQ(e.view->shape(), shape);
        const Bytes values = pattern(e.view->byteCount(), 5);
        e.view->writeRegion(dravik::RegionXu64::fullRegion(shape), values.data().data());
        const Bytes file = e.bytes();
        EXPECT_EQ(file.at<int32_t>(12), static_cast<int32_t>(shape[2])) << "gz";
        EXPECT_EQ(file.at<int32_t>(16), static_cast<int32_t>(shape[3])) << "gc";
        EXPECT_EQ(file.at<int32_t>(20), shape.size() > 4 ? static_cast<int32_t>(shape[4]) : 1) << "gt";
        auto reopened = e.reopen();
        EXPECT_EQ(reopened->shape(), shape);
        const auto& axes = reopened->properties()->imageInfo().axesInterpretation();
        EXPECT_EQ(axes.position(dravik::ImageTypeDimension::SLICE), 2);
        EXPECT_EQ(axes.position(dravik::ImageTypeDimension::CHANNEL), 3);
        EXPECT_EQ(axes.position(dravik::ImageTypeDimension::SEQUENCE), shape.size() > 4 ? 4 : -1);
        EXPECT_EQ(readAll(*reopened), values.data()) << shape.toString();
        EXPECT_EQ(readAll(*e.view), values.data());
    }
}

TEST(TarnisEditableImageViewTest, PropertyChangesRewriteTheFile)
{
    Editable e(greyFile(4, 3, 0, 32));
    auto properties = e.view->properties()->clone();
    properties->imageInfo().setInterpretation(ImageInterpretation::GRAYSCALE);
    properties->calibration().setSpacing({0.5, 0.5, 1.0});
    e.view->setProperties(properties);
    const Bytes file = e.bytes();
    EXPECT_EQ(file.at<int32_t>(52), 0) << "gcode of a float image";
    const size_t calibration = 116 + 48 + static_cast<size_t>(file.at<int32_t>(68));
    EXPECT_EQ(file.at<double>(calibration + cal::rxy), 0.5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data().data()) + calibration + cal::c_name), "unknown")
        << "the calibration is named after the image, which has no name here";
    EXPECT_EQ(e.reopen()->properties()->calibration().spacing()[0], 0.5);
    EXPECT_EQ(*e.view->properties(), *properties);

    auto label = properties->clone();
    label->imageInfo().setInterpretation(ImageInterpretation::LABEL);
    EXPECT_EQ(errorOf([&] { e.view->setProperties(label); }), "Invalid image interpretation");
    auto wrongAxes = properties->clone();
    wrongAxes->imageInfo().setAxesInterpretation(dravik::ImageTypeId::VOLUME);
    EXPECT_EQ(errorOf([&] { e.view->setProperties(wrongAxes); }), "Invalid properties");
    auto colour = properties->clone();
    colour->imageInfo().setInterpretation(ImageInterpretation::RGB);
    EXPECT_EQ(errorOf([&] { e.view->setProperties(colour); }), "Unsupported image interpretation");
    EXPECT_EQ(e.bytes().data(), file.data()) << "refused properties change nothing";
}

TEST(TarnisEditableImageViewTest, MetadataChangesAppendHeaderFields)
{
    Editable e(greyFile());
    auto tiff = dravik::MetadataNodeFactory::create("root");
    dravik::MetadataNodeHelper::createPath(tiff, "TARNIS/Version", dravik::VariantDataValueFactory::create(6.0F));
    dravik::MetadataNodeHelper::createPath(tiff, "TIFF/Software", dravik::VariantDataValueFactory::create("scan"));
    dravik::MetadataNodeHelper::createPath(tiff, "TIFF/Artist", dravik::VariantDataValueFactory::create("kim"));
    e.view->setMetadata(tiff);
    e.view->setMetadata(tiff);
    const std::string header = headerText(e.bytes());
    EXPECT_EQ(count(header, "\x01Software:scan"), 2u);
    EXPECT_EQ(count(header, "\x01" "Artist:kim"), 2u);
    EXPECT_EQ(count(header, "\x01Stain:blue"), 1u) << "the text read from the file is kept";
    EXPECT_EQ(e.view->metadata(), tiff);
    EXPECT_EQ(e.bytes().at<int32_t>(88), 0) << "a TARNIS node without tables drops them";

    // A tree without a TARNIS node leaves tables and fields alone; so do later property changes.
    Editable kept(greyFile());
    auto bare = dravik::MetadataNodeFactory::create("root");
    kept.view->setMetadata(bare);
    EXPECT_EQ(kept.bytes().at<int32_t>(88), 6 * 4 + 4);
    kept.view->setProperties(kept.view->properties()->clone());
    EXPECT_EQ(kept.bytes().at<int32_t>(88), 6 * 4 + 4);
    EXPECT_EQ(headerText(kept.bytes()), std::string("\x01Stain:blue", 11) + '\0');

    const Bytes before = kept.bytes();
    EXPECT_EQ(errorOf([&] { kept.view->setMetadata(nullptr); }), "Invalid metadata");
    EXPECT_EQ(kept.bytes().data(), before.data());
    EXPECT_EQ(kept.view->metadata(), bare);

    auto longLut = dravik::MetadataNodeFactory::create("root");
    for (const char* table : {"LutR", "LutG", "LutB"}) {
        dravik::MetadataNodeHelper::createPath(longLut, std::string("TARNIS/Lut/") + table,
                                               dravik::VariantDataValueFactory::create(std::vector<uint16_t>(5000, 1)));
    }
    EXPECT_EQ(errorOf([&] { kept.view->setMetadata(longLut); }),
              "Unsupported look-up table of 5000 entries: a Tarnis file holds at most 4096");
    EXPECT_EQ(kept.bytes().data(), before.data());
}

TEST(TarnisEditableImageViewTest, OlderVersionsBecomeVersion6WithTheSamePixels)
{
    V3Fields f3;
    f3.dimx = 7;
    f3.dimy = 3;
    f3.dimz = 3;
    V4Fields f4;
    f4.gx = 7;
    f4.gy = 3;
    f4.gz = 4;
    Blocks v4Blocks;
    v4Blocks.calibration = calibrationBlock(2336);
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"version 3 colour, short header", v3File(f3, "notes", pattern(63))},
        {"version 3 colour, long header", v3File(f3, std::string(300, 'h'), pattern(63))},
        {"version 4 volume", v4File(f4, pattern(84), v4Blocks)},
        {"swapped version 4 volume", v4File(f4, pattern(84), v4Blocks, true)},
    };
    for (const auto& c : cases) {
        Editable e(c.file);
        const std::vector<uint8_t> pixels = readAll(*e.view);
        const VectorXu64 shape = e.view->shape();
        e.view->setProperties(e.view->properties()->clone());
        const Bytes file = e.bytes();
        EXPECT_EQ(file.at<int32_t>(0), 0x6934) << c.what;
        EXPECT_EQ(file.at<int32_t>(104), 116) << c.what;
        EXPECT_EQ(readAll(*e.view), pixels) << c.what;
        auto reopened = e.reopen();
        EXPECT_EQ(reopened->shape(), shape) << c.what;
        EXPECT_EQ(readAll(*reopened), pixels) << c.what;
        auto version = dravik::MetadataNodeHelper::getNode(reopened->metadata(), "TARNIS/Version");
        EXPECT_EQ(dravik::VariantDataValueConverter::toString(*version->value()), "6") << c.what;
    }
}

TEST(TarnisEditableImageViewTest, RewritesCarryTheOverlayAndSegments)
{
    for (int32_t version : {6000, 6500}) {
        V6Fields f;
        f.version = version;
        Blocks blocks;
        const Bytes labels = pattern(24, 8);
        blocks.graphics = version >= 6500
            ? Bytes().i32(1).i32(1).i32(1).i32(1).i32(1).i32(4).i32(3).i32(1).i32(1).i32(1).i32(66).i32(0x100).add(labels)
            : labels;
        blocks.aoi = pattern(5, 2);
        blocks.calibration = calibrationBlock(4424);
        blocks.segment = Bytes().zeros(112).i32(0).i32(3);
        Editable e(v6File(f, pattern(12), blocks));
        ASSERT_EQ(e.extractor->frameCount(), 2u);
        auto overlay = e.extractor->frame(1);
        ASSERT_EQ(readAll(*overlay), labels.data());

        auto metadata = dravik::MetadataNodeFactory::create("root");
        dravik::MetadataNodeHelper::createPath(metadata, "TARNIS/Note",
                                               dravik::VariantDataValueFactory::create(std::string(200, 'n')));
        e.view->setMetadata(metadata);
        EXPECT_EQ(readAll(*overlay), labels.data()) << "the open overlay follows its block; version " << version;
        const Bytes file = e.bytes();
        EXPECT_EQ(file.at<int32_t>(72), 5) << "region list kept";
        EXPECT_EQ(file.at<int32_t>(84), static_cast<int32_t>(blocks.segment.size())) << "segments kept";
        auto reopened = std::make_shared<TarnisExtractor>(memoryStream(file));
        ASSERT_EQ(reopened->frameCount(), 2u);
        EXPECT_EQ(readAll(*reopened->frame(1)), labels.data());
        EXPECT_EQ(reopened->frame(1)->shape(), (VectorXu64{4, 3}));
        EXPECT_TRUE(dravik::MetadataNodeHelper::exists(reopened->frame(0)->metadata(), "TARNIS/Segment/Type"));

        e.view->reshape({2, 2}, DataTypeId::UINT8);
        EXPECT_EQ(readAll(*overlay), labels.data()) << "the overlay survives a reshape";
        EXPECT_EQ(e.bytes().at<int32_t>(84), 0) << "segments of the old shape are dropped";
        EXPECT_EQ(e.bytes().at<int32_t>(72), 0) << "so is the region list";
        EXPECT_EQ(readAll(*std::make_shared<TarnisExtractor>(memoryStream(e.bytes()))->frame(1)), labels.data());
    }
}

TEST(TarnisEditableImageViewTest, EditingAFileOnDisk)
{
    const std::string path = tempPath("edited.im6");
    writeFile(path, greyFile());
    {
        auto view = std::dynamic_pointer_cast<TarnisEditableImageView>(TarnisExtractor(path).frame(0));
        ASSERT_NE(view, nullptr);
        const uint8_t value = 200;
        view->write({1, 1}, &value);
        auto properties = view->properties()->clone();
        properties->calibration().setUnit("mm");
        view->setProperties(properties);
    }
    auto reopened = TarnisExtractor(path).frame(0);
    uint8_t value = 0;
    reopened->read({1, 1}, &value);
    EXPECT_EQ(value, 200);
    EXPECT_EQ(reopened->properties()->calibration().unit(), "mm");
    std::remove(path.c_str());
}

} // namespace
} // namespace quenza::tarnis::test
