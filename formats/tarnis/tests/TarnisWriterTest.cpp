#include "TarnisTestSupport.h"

#include <TarnisExtractor.h>
#include <TarnisImageView.h>
#include <TarnisWriter.h>
#include <TarnisWriterPlugin.h>

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

namespace quenza::tarnis::test {
namespace {

using dravik::DataType;
using dravik::DataTypeId;
using dravik::ImageInterpretation;
using dravik::ImageTypeDimension;
using dravik::VectorXu64;

// Descriptor word offsets.
namespace w {
constexpr size_t magic = 0, gx = 4, gy = 8, gz = 12, gc = 16, gt = 20, ox = 24, oy = 28, oz = 32, oc = 36, ot = 40,
                 gtype = 44, grid = 48, gcode = 52, gbits = 56, order = 60, access_r = 64, headersize = 68,
                 aoilistsize = 72, graphicsize = 76, scalesize = 80, data3dsize = 84, lutsize = 88, version = 92,
                 res2 = 96, res3 = 100, hdr_sys = 104, hdr_other = 108, hdr_data = 112;
}

struct Image {
    Image(VectorXu64 imageShape, DataType imageType)
        : shape(std::move(imageShape))
        , type(imageType)
    {
    }
    VectorXu64 shape;
    DataType type;
    ImageInterpretation interpretation = ImageInterpretation::GRAYSCALE;
    dravik::ImageType axes;
    std::shared_ptr<dravik::MetadataNode> metadata;
    dravik::Vector3d spacing{1.0, 1.0, 1.0};
    dravik::Vector3d origin{0.0, 0.0, 0.0};
    std::string unit;
};

std::shared_ptr<dravik::ImageView> make(const Image& input, uint32_t seed = 1)
{
    auto memory = dravik::ImageViewFactory::allocate(input.shape, input.type);
    const Bytes values = pattern(memory->byteCount(), seed);
    std::memcpy(memory->buffer(), values.data().data(), values.size());
    auto properties = dravik::ImageProperties::fromDataType(input.type);
    properties->imageInfo().setInterpretation(input.interpretation);
    properties->imageInfo().setAxesInterpretation(input.axes);
    properties->calibration().setSpacing(input.spacing);
    properties->calibration().setOrigin(input.origin);
    properties->calibration().setUnit(input.unit);
    return dravik::ImageViewFactory::fromImageView(memory, properties, input.metadata);
}

Bytes written(const std::shared_ptr<dravik::View>& view)
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    auto writer = TarnisWriterPlugin().openDataAccess(view, stream, "TARNIS_6");
    writer->writeAll();
    const auto* bytes = static_cast<const uint8_t*>(stream->bufferReadOnly());
    return Bytes(std::vector<uint8_t>(bytes, bytes + stream->bufferSize()));
}

std::shared_ptr<dravik::ImageView> reread(const Bytes& file)
{
    auto extractor = std::make_shared<TarnisExtractor>(memoryStream(file));
    return extractor->frame(0);
}

TEST(TarnisWriterTest, GreyImageDescriptorAndSize)
{
    Image input{{100, 50}, DataTypeId::UINT8};
    input.axes = dravik::ImageTypeId::IMAGE;
    auto image = make(input);
    const Bytes file = written(image);
    ASSERT_EQ(file.size(), 116u + 5000 + 22 + 4424);
    const std::pair<size_t, int32_t> fields[] = {
        {w::magic, 0x6934}, {w::gx, 100},          {w::gy, 50},          {w::gz, 1},           {w::gc, 1},
        {w::gt, 1},         {w::ox, 1},            {w::oy, 1},           {w::oz, 1},           {w::oc, 1},
        {w::ot, 1},         {w::gtype, 0x100},     {w::grid, 0},         {w::gcode, 20},       {w::gbits, 8},
        {w::order, 0},      {w::access_r, 0},      {w::headersize, 22},  {w::aoilistsize, 0},  {w::graphicsize, 0},
        {w::scalesize, 4424}, {w::data3dsize, 0},  {w::lutsize, 0},      {w::version, 6500},   {w::res2, 0},
        {w::res3, 0},       {w::hdr_sys, 116},     {w::hdr_other, 4446}, {w::hdr_data, 4562},
    };
    for (const auto& [offset, value] : fields) {
        EXPECT_EQ(file.at<int32_t>(offset), value) << "descriptor byte " << offset;
    }
    EXPECT_EQ(std::vector<uint8_t>(file.data().begin() + 116, file.data().begin() + 5116), readAll(*image));
    const std::string header(reinterpret_cast<const char*>(file.data().data()) + 5116, 22);
    EXPECT_EQ(header, std::string("\x01" "Calibration:no_calib", 21) + '\0');
    const size_t calibration = 5116 + 22;
    EXPECT_EQ(file.at<int32_t>(calibration + cal::c_mode), 0);
    EXPECT_EQ(file.at<double>(calibration + cal::rxy), 1.0);
    EXPECT_EQ(file.at<double>(calibration + cal::ima_orig), 1.0);
    EXPECT_EQ(file.at<float>(calibration + cal::deltaz), 1.0F);
    EXPECT_EQ(file[calibration + cal::c_unit], 0) << "the image has no unit";
}

TEST(TarnisWriterTest, ColourPlanesChannelByChannel)
{
    for (DataTypeId type : {DataTypeId::VEC3_UINT8, DataTypeId::VEC4_UINT8}) {
        Image input{{6, 4}, type};
        input.interpretation = ImageInterpretation::RGB;
        auto image = make(input);
        const Bytes file = written(image);
        EXPECT_EQ(file.at<int32_t>(w::gc), 3);
        EXPECT_EQ(file.at<int32_t>(w::gtype), 0x401);
        const size_t components = DataType(type).elementCount();
        const auto pixels = readAll(*image);
        for (size_t c = 0; c < 3; ++c) {
            for (size_t i = 0; i < 24; ++i) {
                ASSERT_EQ(file[116 + c * 24 + i], pixels[i * components + c]) << "channel " << c << " pixel " << i;
            }
        }
        EXPECT_EQ(file.at<int32_t>(116 + 72), 0x01 | ('C' << 8) | ('a' << 16) | ('l' << 24))
            << "only three planes, then the header text";
        auto back = reread(file);
        EXPECT_EQ(back->shape(), (VectorXu64{6, 4, 3}));
        EXPECT_EQ(back->imageInterpretation(), ImageInterpretation::RGB);
    }

    // Scalar colour images with a channel axis, in an HSL and a chromaticity flavour.
    for (const auto& [interpretation, gtype] : std::vector<std::pair<ImageInterpretation, int32_t>>{
             {ImageInterpretation::HSL, 0x402}, {ImageInterpretation::RGB_CHROMATICITY, 0x408}}) {
        Image input{{5, 2, 3}, DataTypeId::UINT16};
        input.interpretation = interpretation;
        input.axes = dravik::ImageTypeId::MULTICHANNEL_IMAGE;
        auto image = make(input);
        const Bytes file = written(image);
        EXPECT_EQ(file.at<int32_t>(w::gtype), gtype);
        EXPECT_EQ(file.at<int32_t>(w::gcode), 18);
        EXPECT_EQ(readAll(*reread(file)), readAll(*image));
    }
}

TEST(TarnisWriterTest, RefusalsCarryTheirMessages)
{
    auto imageOf = [](VectorXu64 shape, DataType type, ImageInterpretation interpretation, dravik::ImageType axes = {}) {
        Image input{std::move(shape), type};
        input.interpretation = interpretation;
        input.axes = axes;
        return std::static_pointer_cast<dravik::View>(make(input));
    };
    auto tooLongLut = dravik::MetadataNodeFactory::create("root");
    for (const char* table : {"LutR", "LutG", "LutB"}) {
        dravik::MetadataNodeHelper::createPath(tooLongLut, std::string("TARNIS/Lut/") + table,
                                               dravik::VariantDataValueFactory::create(std::vector<uint16_t>(4097, 1)));
    }
    Image lutInput{{4, 4}, DataTypeId::UINT8};
    lutInput.metadata = tooLongLut;
    const struct {
        const char* what;
        std::shared_ptr<dravik::View> view;
        std::string message;
    } cases[] = {
        {"float labels", imageOf({4, 4}, DataTypeId::FLOAT, ImageInterpretation::LABEL),
         "Unsupported data type for LABEL image"},
        {"int32 binary", imageOf({4, 4}, DataTypeId::INT32, ImageInterpretation::BINARY),
         "Unsupported data type for BINARY image"},
        {"double grey", imageOf({4, 4}, DataTypeId::DOUBLE, ImageInterpretation::GRAYSCALE), "Unsupported data type"},
        {"double colour", imageOf({4, 4}, DataTypeId::VEC3_DOUBLE, ImageInterpretation::RGB),
         "Unsupported data type for color image"},
        {"uint32 grey", imageOf({4, 4}, DataTypeId::UINT32, ImageInterpretation::UNKNOWN), "Unsupported data type"},
        {"scalar RGB without channels", imageOf({4, 4}, DataTypeId::UINT8, ImageInterpretation::RGB),
         "Unsupported image interpretation"},
        {"RGB of two channels", imageOf({4, 4, 2}, DataTypeId::UINT8, ImageInterpretation::RGB,
                                        dravik::ImageTypeId::MULTICHANNEL_IMAGE),
         "Unsupported image interpretation"},
        {"two-component RGB", imageOf({4, 4}, DataTypeId::VEC2_UINT8, ImageInterpretation::RGB),
         "Unsupported image interpretation"},
        {"labels of two channels", imageOf({4, 4, 2}, DataTypeId::UINT16, ImageInterpretation::LABEL,
                                           dravik::ImageTypeId::MULTICHANNEL_IMAGE),
         "Unsupported multi-channel LABEL image"},
        {"binary of two channels", imageOf({4, 4, 2}, DataTypeId::UINT8, ImageInterpretation::BINARY,
                                           dravik::ImageTypeId::MULTICHANNEL_IMAGE),
         "Unsupported multi-channel BINARY image"},
        {"vector with channels", imageOf({4, 4, 3}, DataTypeId::VEC3_UINT8, ImageInterpretation::RGB,
                                         dravik::ImageTypeId::MULTICHANNEL_IMAGE),
         "Unsupported vector image with a CHANNEL axis"},
        {"six dimensions", imageOf({2, 2, 2, 2, 2, 2}, DataTypeId::UINT8, ImageInterpretation::GRAYSCALE),
         "Unsupported image dimension (6)"},
        {"long look-up table", make(lutInput),
         "Unsupported look-up table of 4097 entries: a Tarnis file holds at most 4096"},
        {"sequence of frames",
         dravik::MultiImageViewFactory::create({dravik::ImageViewFactory::allocate({2, 2}, DataTypeId::UINT8)}),
         "Unsupported view"},
    };
    for (const auto& c : cases) {
        std::string message = "unchanged";
        EXPECT_FALSE(TarnisWriterPlugin::checkImageView(c.view, message)) << c.what;
        EXPECT_EQ(message, c.message) << c.what;
        EXPECT_EQ(errorOf([&] {
                      TarnisWriterPlugin().openDataAccess(c.view, dravik::StreamAccessFactory::createInMemory(), "TARNIS_6");
                  }),
                  c.message)
            << c.what;
        // Refused before the file is created.
        const std::string path = tempPath("refused.im6");
        EXPECT_EQ(errorOf([&] { TarnisWriterPlugin().openFile(c.view, path); }), c.message) << c.what;
        EXPECT_FALSE(boost::filesystem::exists(path)) << c.what;
        // The writer made directly refuses the same at writeInit.
        if (dravik::ImageViewProvider::isImage(c.view)) {
            TarnisWriter direct(c.view, dravik::StreamAccessFactory::createInMemory());
            EXPECT_EQ(errorOf([&] { direct.writeInit(); }), c.message) << c.what;
        }
    }
    std::string message = "x";
    EXPECT_TRUE(TarnisWriterPlugin::checkImageView(imageOf({4, 4}, DataTypeId::INT16, ImageInterpretation::BINARY), message));
    EXPECT_EQ(message, "");
}

TEST(TarnisWriterTest, OpenCallsAndOptions)
{
    TarnisWriterPlugin plugin;
    auto image = make(Image{{3, 2}, DataTypeId::UINT8});
    EXPECT_EQ(plugin.openFile(nullptr, tempPath("x.im6")), nullptr);
    EXPECT_EQ(plugin.openFile(image, ""), nullptr);
    EXPECT_EQ(plugin.openDataAccess(nullptr, dravik::StreamAccessFactory::createInMemory(), "TARNIS_6"), nullptr);
    EXPECT_EQ(plugin.openDataAccess(image, nullptr, "TARNIS_6"), nullptr);
    EXPECT_EQ(errorOf([&] { plugin.openFile(image, "/no/such/dir/x.im6"); }), "Cannot create the file /no/such/dir/x.im6");
    EXPECT_EQ(errorOf([&] { plugin.openDataAccess(image, dravik::RandomAccessFactory::fromBytes({}), "TARNIS_6"); }),
              "Unsupported DataAccess");
    auto writer = plugin.openDataAccess(image, dravik::StreamAccessFactory::createInMemory(), "KM");
    ASSERT_NE(writer, nullptr) << "the format name is not used";
    EXPECT_EQ(writer->name(), "TarnisPlugin");
    EXPECT_EQ(writer->version(), "1.2.0");
    for (const char* option : {"compressor", ""}) {
        EXPECT_EQ(errorOf([&] { writer->setOption(option, dravik::VariantDataValueFactory::create(1)); }),
                  std::string("The Tarnis format does not support the option ") + option);
    }

    const std::string path = tempPath("written.im6");
    plugin.openFile(image, path)->writeAll();
    auto back = TarnisExtractor(path).frame(0);
    EXPECT_EQ(readAll(*back), readAll(*image));
    std::remove(path.c_str());

    // Short writes are reported with the step's message.
    for (const auto& [limit, message] : std::vector<std::pair<uint64_t, std::string>>{
             {100, "Cannot write the image description."},
             {120, "Cannot write a row"},
             {116 + 6 + 3, "Cannot write the header fields"},
             {116 + 6 + 22 + 10, "Cannot write the calibration"}}) {
        auto shortStream = std::make_shared<CountingStream>(dravik::StreamAccessFactory::createInMemory(), limit);
        auto shortWriter = plugin.openDataAccess(image, shortStream, "TARNIS_6");
        EXPECT_EQ(errorOf([&] { shortWriter->writeAll(); }), message) << limit;
    }
}

TEST(TarnisWriterTest, SpatialCalibrationRoundTrips)
{
    Image input{{8, 6, 3}, DataTypeId::INT16};
    input.axes = dravik::ImageTypeId::VOLUME;
    input.spacing = {0.5, 0.25, 2.0};
    input.origin = {10.0, -20.0, 4.0};
    input.unit = "mm";
    auto image = make(input);
    const Bytes file = written(image);
    EXPECT_EQ(file.at<int32_t>(w::gz), 3);
    EXPECT_EQ(file.at<int32_t>(w::gtype), 0x900);
    EXPECT_EQ(file.at<int32_t>(w::gcode), 2);
    const size_t calibration = 116 + 8 * 6 * 3 * 2 + 22;
    EXPECT_EQ(file.at<int32_t>(calibration + cal::c_mode), 2) << "CAL_RECT2 for unequal pixel sizes";
    EXPECT_EQ(file.at<double>(calibration + cal::rxy + 16), 2.0);
    auto back = reread(file);
    EXPECT_EQ(back->properties()->calibration().spacing(), input.spacing);
    EXPECT_EQ(back->properties()->calibration().origin(), input.origin);
    EXPECT_EQ(back->properties()->calibration().unit(), "mm");
    EXPECT_EQ(readAll(*back), readAll(*image));

    // A zero pixel size has no pixel origin: the first pixel is taken.
    input.spacing = {0.0, 1.0, 1.0};
    EXPECT_EQ(written(make(input)).at<int32_t>(w::ox), 1);
}

TEST(TarnisWriterTest, VolumesSequencesAndImagesWithoutAxes)
{
    Image volume{{4, 3, 5}, DataTypeId::UINT8};
    volume.axes = dravik::ImageTypeId::VOLUME;
    const Bytes file = written(make(volume));
    EXPECT_EQ(file.at<int32_t>(w::gz), 5);
    EXPECT_EQ(file.at<int32_t>(w::gtype), 0x900);

    // An image without an axes interpretation is stored whole, with the usual axes.
    Image bare{{4, 3, 5}, DataTypeId::FLOAT};
    auto image = make(bare);
    const Bytes bareFile = written(image);
    EXPECT_EQ(bareFile.at<int32_t>(w::gz), 5);
    EXPECT_EQ(bareFile.size(), 116u + 4 * 3 * 5 * 4 + 22 + 4424);
    EXPECT_EQ(readAll(*reread(bareFile)), readAll(*image));

    Image sequence{{4, 3, 2, 3}, DataTypeId::UINT8};
    sequence.axes = dravik::ImageTypeId::VOLUME_SEQUENCE;
    auto seq = make(sequence);
    const Bytes seqFile = written(seq);
    EXPECT_EQ(seqFile.at<int32_t>(w::gt), 3);
    EXPECT_EQ(seqFile.at<int32_t>(w::gtype), 0x1900);
    auto back = reread(seqFile);
    EXPECT_EQ(back->shape(), sequence.shape);
    EXPECT_EQ(readAll(*back), readAll(*seq));
}

TEST(TarnisWriterTest, GreyChannelsAreKeptAsMultiSpectral)
{
    Image input{{5, 4, 4}, DataTypeId::UINT16};
    input.axes = dravik::ImageTypeId::MULTICHANNEL_IMAGE;
    auto image = make(input);
    const Bytes file = written(image);
    EXPECT_EQ(file.at<int32_t>(w::gtype), 0x410);
    EXPECT_EQ(file.at<int32_t>(w::gc), 4);
    auto back = reread(file);
    EXPECT_EQ(back->shape(), input.shape);
    EXPECT_EQ(back->imageInterpretation(), ImageInterpretation::MULTISPECTRAL);
    EXPECT_EQ(readAll(*back), readAll(*image));

    input.shape = {5, 4, 1};
    EXPECT_EQ(written(make(input)).at<int32_t>(w::gtype), 0x100) << "one channel stays grey";
}

std::shared_ptr<dravik::MetadataNode> intensityMetadata(int32_t classes)
{
    auto root = dravik::MetadataNodeFactory::create("root");
    const std::string base = "TARNIS/Calibration/";
    dravik::MetadataNodeHelper::createPath(root, base + "rxy",
                                           dravik::VariantDataValueFactory::create(std::vector<double>{1, 1, 1, 0}));
    dravik::MetadataNodeHelper::createPath(root, base + "IntensityCalibration/GrayScaleSize",
                                           dravik::VariantDataValueFactory::create(classes));
    std::vector<float> starts(static_cast<size_t>(classes)), values(static_cast<size_t>(classes));
    for (int32_t i = 0; i < classes; ++i) {
        starts[static_cast<size_t>(i)] = 10.0F * static_cast<float>(i);
        values[static_cast<size_t>(i)] = 0.5F * static_cast<float>(i);
    }
    dravik::MetadataNodeHelper::createPath(root, base + "IntensityCalibration/Intensity",
                                           dravik::VariantDataValueFactory::create(starts));
    dravik::MetadataNodeHelper::createPath(root, base + "IntensityCalibration/RealValue",
                                           dravik::VariantDataValueFactory::create(values));
    dravik::MetadataNodeHelper::createPath(root, base + "IntensityCalibration/Unit",
                                           dravik::VariantDataValueFactory::create("OD"));
    return root;
}

TEST(TarnisWriterTest, IntensityCalibrationGivesRevision66)
{
    Image input{{4, 4}, DataTypeId::UINT8};
    input.metadata = intensityMetadata(10);
    const Bytes file = written(make(input));
    EXPECT_EQ(file.at<int32_t>(w::magic), 0x6935);
    EXPECT_EQ(file.at<int32_t>(w::scalesize), 4424);
    auto back = reread(file);
    auto node = dravik::MetadataNodeHelper::getNode(back->metadata(), "TARNIS/Calibration/IntensityCalibration");
    ASSERT_NE(node, nullptr);
    auto starts = node->child("Intensity")->value();
    ASSERT_EQ(starts->size(), 10u);
    EXPECT_EQ(starts->get<float>(9), 90.0F) << "revision 6.6 class starts are floats";
    EXPECT_EQ(node->child("RealValue")->value()->get<float>(4), 2.0F);
    EXPECT_EQ(node->child("Unit")->value()->strings().front(), "OD");
    EXPECT_EQ(dravik::VariantDataValueConverter::toString(
                  *dravik::MetadataNodeHelper::getNode(back->metadata(), "TARNIS/Version")->value()),
              "6.6");
}

TEST(TarnisWriterTest, FullCalibrationRecordReadsBack)
{
    Image input{{4, 4}, DataTypeId::UINT8};
    input.metadata = dravik::MetadataNodeFactory::create("root");
    dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/Calibration/rxy",
                                           dravik::VariantDataValueFactory::create(std::vector<double>{1, 1, 1, 0}));
    dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/Calibration/unitSequence",
                                           dravik::VariantDataValueFactory::create("min"));
    const Bytes file = written(make(input));
    EXPECT_EQ(file.at<int32_t>(w::magic), 0x6935);
    EXPECT_EQ(file.at<int32_t>(w::scalesize), 4512);
    EXPECT_EQ(file.size(), 116u + 16 + 22 + 4512);
    auto back = reread(file);
    auto unit = dravik::MetadataNodeHelper::getNode(back->metadata(), "TARNIS/Calibration/unitSequence");
    ASSERT_NE(unit, nullptr) << "a file this writer writes is read back";
    EXPECT_EQ(unit->value()->strings().front(), "min");

    // The same record under the version 6 magic is refused.
    Bytes version6 = file;
    version6.setAt<int32_t>(w::magic, 0x6934);
    EXPECT_EQ(errorOf([&] { reread(version6); }), "Invalid calibration size.");
}

TEST(TarnisWriterTest, LookUpTablesAndHeaderFields)
{
    Image input{{4, 4}, DataTypeId::UINT8};
    input.metadata = dravik::MetadataNodeFactory::create("root");
    auto lut = dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/Lut",
                                                      dravik::VariantDataValueFactory::create("Fire"));
    std::vector<uint16_t> red(256), green(256), blue(256);
    for (uint16_t i = 0; i < 256; ++i) {
        red[i] = i;
        green[i] = static_cast<uint16_t>(2 * i);
        blue[i] = static_cast<uint16_t>(3 * i);
    }
    dravik::MetadataNodeHelper::createPath(lut, "LutR", dravik::VariantDataValueFactory::create(red));
    dravik::MetadataNodeHelper::createPath(lut, "LutG", dravik::VariantDataValueFactory::create(green));
    dravik::MetadataNodeHelper::createPath(lut, "LutB", dravik::VariantDataValueFactory::create(blue));
    dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/Stain", dravik::VariantDataValueFactory::create("eosin"));
    dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/ColorType", dravik::VariantDataValueFactory::create("RGB"));
    dravik::MetadataNodeHelper::createPath(input.metadata, "TARNIS/grid", dravik::VariantDataValueFactory::create(int32_t(1)));
    const Bytes file = written(make(input));
    EXPECT_EQ(file.at<int32_t>(w::lutsize), 1540);
    EXPECT_EQ(file.at<int32_t>(w::grid), 1);
    const std::string header = "\x01" "Calibration:no_calib\x01Lut:Fire\x01Stain:eosin";
    EXPECT_EQ(file.at<int32_t>(w::headersize), static_cast<int32_t>(header.size() + 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data().data()) + 116 + 16, header.size()), header);
    const size_t lutAt = 116 + 16 + header.size() + 1 + 4424;
    EXPECT_EQ(file.at<uint16_t>(lutAt), 256);
    EXPECT_EQ(file.at<uint16_t>(lutAt + 2 + 2 * 255), 255);
    EXPECT_EQ(file.at<uint16_t>(lutAt + 2 + 512 + 2 * 10), 20);
    EXPECT_EQ(file.at<uint16_t>(lutAt + 2 + 1024 + 2 * 10), 30);
    EXPECT_EQ(file.at<uint16_t>(lutAt + 2 + 1536), 0);
    EXPECT_EQ(file.size(), lutAt + 1540);

    auto back = reread(file);
    auto backLut = dravik::MetadataNodeHelper::getNode(back->metadata(), "TARNIS/Lut");
    ASSERT_NE(backLut, nullptr);
    EXPECT_EQ(backLut->value()->strings().front(), "Fire");
    EXPECT_EQ(backLut->child("LutB")->value()->get<uint16_t>(255), 765);
    EXPECT_EQ(dravik::MetadataNodeHelper::getNode(back->metadata(), "TARNIS/Stain")->value()->strings().front(), "eosin");
}

TEST(TarnisWriterTest, ReadFilesKeepTheirCalibrationAndFields)
{
    V6Fields f;
    f.gx = 6;
    f.gy = 5;
    Blocks blocks;
    blocks.header = Bytes().text("\x01" "Calibration:stage\x01Operator:kim").zeros(1);
    blocks.calibration = calibrationBlock(4424);
    blocks.calibration.setAt<int32_t>(cal::c_mode, CAL_SQUARE);
    blocks.calibration.setAt<double>(cal::ima_size, 20.0);
    blocks.calibration.setAt<double>(cal::real_size, 5.0);
    blocks.calibration.setText(cal::c_name, std::string("stage\0", 6));
    blocks.calibration.setText(cal::c_comments, std::string("ruler\0", 6));
    const Bytes original = v6File(f, pattern(30), blocks);
    auto first = reread(original);
    EXPECT_EQ(first->properties()->calibration().spacing()[0], 0.25);
    const Bytes copy = written(first);
    const size_t calibration = 116 + 30 + static_cast<size_t>(copy.at<int32_t>(w::headersize));
    EXPECT_EQ(copy.at<double>(calibration + cal::ima_size), 20.0) << "the measurements of the file are kept";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.data().data()) + calibration + cal::c_comments), "ruler");
    auto second = reread(copy);
    EXPECT_EQ(second->properties()->calibration().spacing(), first->properties()->calibration().spacing());
    EXPECT_EQ(readAll(*second), readAll(*first));
    auto op = dravik::MetadataNodeHelper::getNode(second->metadata(), "TARNIS/Operator");
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->value()->strings().front(), "kim");
}

} // namespace
} // namespace quenza::tarnis::test
