#include "TarnisTestSupport.h"

#include <TarnisFormat.h>
#include <TarnisImageView.h>

#include <gtest/gtest.h>

#include <cmath>

namespace quenza::tarnis::test {
namespace {

int32_t magicOf(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> b(bytes);
    int32_t v;
    std::memcpy(&v, b.data(), 4);
    return v;
}

TEST(TarnisLayoutTest, EveryMagicNumberSelectsItsFileType)
{
    const struct {
        std::initializer_list<uint8_t> bytes;
        int32_t type;
    } cases[] = {
        {{0x31, 0x69, 0, 0}, IDS_V3COMPATIBLE},
        {{0, 0, 0x69, 0x31}, IDS_V3COMPATIBLE | IDS_FILESWAPPED},
        {{0x32, 0x69, 0, 0}, IDS_V4COMPATIBLE},
        {{0, 0, 0x69, 0x32}, IDS_V4COMPATIBLE | IDS_FILESWAPPED},
        {{0x34, 0x69, 0, 0}, IDS_V6COMPATIBLE},
        {{0x35, 0x69, 0, 0}, IDS_V66COMPATIBLE},
        {{0, 0, 0x69, 0x34}, -1},
        {{0x33, 0x69, 0, 0}, -1},
        {{0, 0, 0, 0}, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFType(magicOf(c.bytes)), c.type) << std::hex << magicOf(c.bytes);
    }
    EXPECT_EQ(IDS_V3COMPATIBLE | IDS_FILESWAPPED, 3);
    EXPECT_EQ(IDS_V4COMPATIBLE | IDS_FILESWAPPED, 10);
}

TEST(TarnisLayoutTest, RowSizeCountsBitsWithoutPadding)
{
    const struct {
        int32_t gx, gbits;
        int64_t bytes;
    } cases[] = {{13, 8, 13}, {13, 16, 26}, {13, 32, 52}, {13, 1, 2}, {13, 136, 13}, {0x7fffffff, 32, 0x1fffffffcLL}};
    for (const auto& c : cases) {
        image img;
        img.gx = c.gx;
        img.gbits = c.gbits;
        EXPECT_EQ(GetV3Bwidth(&img), c.bytes) << c.gx << " x " << c.gbits;
    }
}

TEST(TarnisLayoutTest, TruncatedDescriptorsAreReportedAsShort)
{
    Bytes ten = pattern(10);
    for (auto* reader : {&ReadV3Descim, &ReadV4Descim, &ReadV6Descim}) {
        auto stream = memoryStream(ten);
        image img;
        initImage(img);
        EXPECT_EQ(reader(*stream, *stream, &img, IDS_V6COMPATIBLE), -1);
    }
    Bytes file = Bytes().i32(0x6934).zeros(6);
    RootView root;
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(file), "x", &root); }), "Invalid file format");
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(Bytes().i32(0x6934).zeros(100)), "x", &root); }),
              "Invalid file format");
}

TEST(TarnisLayoutTest, Version3DescriptorsPlainAndSwapped)
{
    for (bool swapped : {false, true}) {
        V3Fields f;
        f.dimx = 5;
        f.dimy = 2;
        f.dimz = 3;
        f.orix = 7;
        f.oriy = 8;
        f.oriz = 9;
        f.maille = 1;
        f.bstoc = 8 | 128;
        const Bytes pixels = pattern(30);
        const Bytes file = v3File(f, "free text", pixels, swapped);
        // A swapped file starts 00 00 69 31.
        EXPECT_EQ(file[0], swapped ? 0 : 0x31);
        auto stream = memoryStream(file);
        image img;
        initImage(img);
        const int32_t type = GetFType(magicOf({file[0], file[1], file[2], file[3]}));
        ASSERT_EQ(type, swapped ? 3 : 1);
        EXPECT_EQ(ReadV3Descim(*stream, *stream, &img, type), 76 + 9);
        EXPECT_EQ(img.m_offsetFirstPixel, 85u);
        EXPECT_EQ(img.gx, 5);
        EXPECT_EQ(img.gy, 2);
        EXPECT_EQ(img.gc, 3);
        EXPECT_EQ(img.gz, 1);
        EXPECT_EQ(img.gt, 1);
        EXPECT_EQ(img.ox, 7);
        EXPECT_EQ(img.oy, 8);
        EXPECT_EQ(img.oc, 9);
        EXPECT_EQ(img.oz, 1);
        EXPECT_EQ(img.grid, 1);
        EXPECT_EQ(img.gbits, 8) << "the packed bit is cleared";
        EXPECT_EQ(img.gtype, IM_COLOR_RGB);
        EXPECT_EQ(img.header, "free text");
        EXPECT_STREQ(img.m_calibration.c_unit, "pixel");

        RootView root;
        TarnisImageView view(memoryStream(file), "v3", &root);
        EXPECT_EQ(view.shape(), (dravik::VectorXu64{5, 2, 3}));
        EXPECT_EQ(view.imageInterpretation(), dravik::ImageInterpretation::RGB);
        EXPECT_EQ(readAll(view), pixels.data()) << "pixels are taken as stored, also when swapped";
    }
}

TEST(TarnisLayoutTest, Version4PlanesBecomeSlicesUnlessColour)
{
    const struct {
        int32_t gz, gtype;
        int32_t recordGz, recordGc, recordType;
    } cases[] = {{5, 0x100, 5, 1, 0x900}, {3, 0x401, 1, 3, 0x401}, {1, 0x120, 1, 1, 0x100}};
    for (const auto& c : cases) {
        V4Fields f;
        f.gz = c.gz;
        f.gtype = c.gtype;
        const Bytes file = v4File(f, pattern(12 * static_cast<size_t>(c.gz)));
        auto stream = memoryStream(file);
        image img;
        initImage(img);
        EXPECT_EQ(ReadV4Descim(*stream, *stream, &img, IDS_V4COMPATIBLE), 108);
        EXPECT_EQ(img.gz, c.recordGz);
        EXPECT_EQ(img.gc, c.recordGc);
        EXPECT_EQ(img.gtype, c.recordType);
        EXPECT_EQ(img.m_imageVersion, 4000);
        EXPECT_EQ(img.m_offsetFirstPixel, 108u);
    }
}

TEST(TarnisLayoutTest, Version4HeaderTextIsLostForVolumesOnly)
{
    Blocks blocks;
    blocks.header = Bytes().text("\x01Stain:blue").zeros(1);
    blocks.calibration = calibrationBlock(2336);
    for (int32_t planes : {1, 4}) {
        V4Fields f;
        f.gz = planes;
        const Bytes file = v4File(f, pattern(12 * static_cast<size_t>(planes)), blocks);
        auto stream = memoryStream(file);
        image img;
        initImage(img);
        ASSERT_EQ(ReadV4Descim(*stream, *stream, &img, IDS_V4COMPATIBLE), 108);
        EXPECT_EQ(img.header, planes == 1 ? "\x01Stain:blue" : "") << planes;
        EXPECT_EQ(stream->tell(), 108u) << "left at hdr_sys";
    }
}

TEST(TarnisLayoutTest, SwappedVersion4ReversesDescriptorAndTablesOnly)
{
    V4Fields f;
    f.magic = 0x6932;
    f.gx = 3;
    f.gy = 2;
    f.gcode = 18;
    f.gbits = 16;
    f.ox = 5;
    Blocks blocks;
    blocks.calibration = calibrationBlock(2336);
    blocks.calibration.setAt<double>(cal::real_size, 4.0);
    blocks.lut = lutBlock(3, true);
    const Bytes pixels = pattern(12);
    const Bytes file = v4File(f, pixels, blocks, true);
    EXPECT_EQ(file[0], 0);
    EXPECT_EQ(file[3], 0x32);
    auto stream = memoryStream(file);
    image img;
    initImage(img);
    ASSERT_EQ(ReadV4Descim(*stream, *stream, &img, IDS_V4COMPATIBLE | IDS_FILESWAPPED), 108);
    EXPECT_EQ(img.gx, 3);
    EXPECT_EQ(img.gy, 2);
    EXPECT_EQ(img.gcode, 18);
    EXPECT_EQ(img.ox, 5);
    EXPECT_EQ(img.m_lutR, (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(img.m_lutG, (std::vector<uint16_t>{1000, 1001, 1002}));
    EXPECT_EQ(img.m_lutB, (std::vector<uint16_t>{2000, 2001, 2002}));
    EXPECT_DOUBLE_EQ(img.m_calibration.real_size[0], 4.0) << "the calibration record is taken as stored";
    EXPECT_DOUBLE_EQ(img.m_calibration.rxy[0], 4.0);

    RootView root;
    TarnisImageView view(memoryStream(file), "swapped", &root);
    EXPECT_EQ(view.dataType(), dravik::DataType(dravik::DataTypeId::UINT16));
    EXPECT_EQ(readAll(view), pixels.data());
}

TEST(TarnisLayoutTest, Version6BlocksAreReadInOrder)
{
    V6Fields f;
    f.gx = 2;
    f.gy = 2;
    Blocks blocks;
    blocks.header = Bytes().text("\x01" "Calibration:mine\x01Stain:blue").zeros(1);
    blocks.aoi = pattern(7);
    blocks.calibration = calibrationBlock(4424);
    blocks.calibration.setAt<int32_t>(cal::ClasseDeb, 42);
    blocks.calibration.setAt<int32_t>(cal::GrayScaleSize, 1);
    blocks.segment = Bytes().zeros(112).i32(0).i32(5);
    blocks.lut = lutBlock(256);
    ASSERT_EQ(blocks.lut.size(), 1540u);
    const Bytes file = v6File(f, pattern(4), blocks);
    auto stream = memoryStream(file);
    image img;
    initImage(img);
    ASSERT_EQ(ReadV6Descim(*stream, *stream, &img, IDS_V6COMPATIBLE), 116);
    EXPECT_EQ(img.header, "\x01" "Calibration:mine\x01Stain:blue");
    EXPECT_EQ(img.m_offsetAoiList, 116u + 4 + blocks.header.size());
    EXPECT_EQ(img.m_aoiListSize, 7u);
    EXPECT_EQ(img.m_offsetOverlay, 0u);
    EXPECT_FLOAT_EQ(img.m_calibration.ClasseDeb[0], 42.0F) << "version 6 class starts are integers";
    EXPECT_EQ(img.m_segment.size(), blocks.segment.size() + 1);
    EXPECT_EQ(img.m_segment.back(), '\0');
    EXPECT_EQ(img.m_lutR.size(), 256u);
    EXPECT_EQ(img.m_lutB[255], 2255);
    EXPECT_EQ(stream->tell(), 116u);
}

TEST(TarnisLayoutTest, LookUpTableSizesAndPosition)
{
    for (uint16_t n : {uint16_t(256), uint16_t(4096)}) {
        const Bytes block = lutBlock(n).zeros(10);
        auto stream = memoryStream(Bytes().zeros(3).add(block).i32(77));
        stream->seek(3, dravik::SeekOrigin::BEGIN);
        image img;
        readLutinFile(&img, *stream, *stream, block.size(), IDS_V6COMPATIBLE);
        EXPECT_EQ(img.m_lutG.size(), n);
        EXPECT_EQ(stream->tell(), 3 + block.size()) << "left at the end of the block";
    }
    const struct {
        Bytes block;
        size_t size;
        const char* message;
    } refused[] = {
        {Bytes().u16(4097).zeros(6 * 4097 + 2), 6 * 4097 + 4, "Invalid LUT size"},
        {Bytes().u16(4).zeros(10), 12, "Invalid LUT size"},
        {Bytes().put(uint8_t(1)), 1, "Invalid LUT"},
        {Bytes().u16(4).zeros(4), 40, "Invalid red LUT"},
        {Bytes().u16(4).zeros(12), 40, "Invalid green LUT"},
        {Bytes().u16(4).zeros(20), 40, "Invalid blue LUT"},
    };
    for (const auto& c : refused) {
        auto stream = memoryStream(c.block);
        image img;
        EXPECT_EQ(errorOf([&] { readLutinFile(&img, *stream, *stream, c.size, IDS_V6COMPATIBLE); }), c.message);
    }
}

TEST(TarnisLayoutTest, CalibrationBlockSizesByFileType)
{
    const struct {
        int32_t type;
        size_t size;
        const char* error;
    } cases[] = {
        {IDS_V6COMPATIBLE, 4424, nullptr},
        {IDS_V6COMPATIBLE, 4512, "Invalid calibration size."},
        {IDS_V66COMPATIBLE, 4424, nullptr},
        {IDS_V66COMPATIBLE, 4512, nullptr},
        {IDS_V66COMPATIBLE, 2336, "Invalid calibration size."},
        {IDS_V74COMPATIBLE, 4512, nullptr},
        {IDS_V74COMPATIBLE, 4424, "Invalid calibration size."},
        {IDS_V4COMPATIBLE, 2336, nullptr},
        {IDS_V4COMPATIBLE | IDS_FILESWAPPED, 2336, nullptr},
        {IDS_V4COMPATIBLE, 4424, "Invalid calibration size."},
    };
    for (const auto& c : cases) {
        Bytes block = calibrationBlock(4512);
        block.setText(cal::unitSequence, "s");
        block.setAt<double>(cal::deltaSequence, 0.5);
        block.setAt<float>(cal::ClasseDeb, 1.5F);
        block.setAt<int32_t>(cal::GrayScaleSize, 2);
        block.setText(cal::GrayScaleUnit, "OD");
        auto stream = memoryStream(block);
        image img;
        initImage(img);
        const std::string error = errorOf([&] { readCalibrationInFile(&img, *stream, c.size, c.type); });
        EXPECT_EQ(error, c.error ? c.error : "(no error)") << c.type << " " << c.size;
        if (c.error != nullptr) {
            continue;
        }
        const mcalib& m = img.m_calibration;
        EXPECT_EQ(std::string(m.unitSequence), c.size == 4512 ? "s" : "") << c.type;
        EXPECT_DOUBLE_EQ(m.deltaSequence, c.size == 4512 ? 0.5 : 1.0);
        if ((c.type & IDS_V4COMPATIBLE) != 0) {
            EXPECT_EQ(m.GrayScaleSize, 0);
            EXPECT_STREQ(m.GrayScaleUnit, "");
        } else {
            EXPECT_EQ(m.GrayScaleSize, 2);
            EXPECT_STREQ(m.GrayScaleUnit, "OD");
            // Version 6 stores the class starts as integers: the bits of 1.5F read as one.
            int32_t bits;
            const float half = 1.5F;
            std::memcpy(&bits, &half, 4);
            EXPECT_FLOAT_EQ(m.ClasseDeb[0], c.type == IDS_V6COMPATIBLE ? static_cast<float>(bits) : 1.5F);
        }
    }
    auto shortStream = memoryStream(pattern(100));
    image img;
    EXPECT_EQ(errorOf([&] { readCalibrationInFile(&img, *shortStream, 4424, IDS_V6COMPATIBLE); }),
              "Invalid calibration.");
    auto empty = memoryStream(Bytes());
    readCalibrationInFile(&img, *empty, 0, IDS_V6COMPATIBLE);
    EXPECT_STREQ(img.m_calibration.c_name, "no_calib");
}

TEST(TarnisLayoutTest, NoTrailingBlocksGiveTheDefaultCalibration)
{
    const Bytes file = v6File(V6Fields(), pattern(12));
    EXPECT_EQ(file.at<int32_t>(108), 0) << "hdr_other";
    RootView root;
    TarnisImageView view(memoryStream(file), "x", &root);
    EXPECT_EQ(view.properties()->calibration().unit(), "pixel");
    EXPECT_EQ(view.properties()->calibration().spacing(), dravik::Vector3d(1.0));
    EXPECT_STREQ(view.tarnisInformation().m_calibration.c_name, "no_calib");
}

TEST(TarnisLayoutTest, DescriptorsTheFileCannotBackAreRefusedAtOpen)
{
    auto v6 = [](std::function<void(V6Fields&, Blocks&)> change, size_t pixelBytes = 12) {
        V6Fields f;
        Blocks blocks;
        blocks.calibration = calibrationBlock(4424);
        change(f, blocks);
        return v6File(f, pattern(pixelBytes), blocks);
    };
    Bytes truncatedBlocks = v6([](V6Fields&, Blocks&) {});
    truncatedBlocks = Bytes(std::vector<uint8_t>(truncatedBlocks.data().begin(), truncatedBlocks.data().end() - 1));
    Bytes negative = v6([](V6Fields&, Blocks&) {});
    negative.setAt<int32_t>(88, -4);        // lutsize
    Bytes overlapping = v6([](V6Fields&, Blocks&) {});
    overlapping.setAt<int32_t>(104, 16);    // hdr_sys
    Bytes huge = v6([](V6Fields& f, Blocks&) { f.gx = f.gy = f.gz = f.gc = f.gt = 0x7fffffff; });
    const struct {
        const char* what;
        Bytes file;
        const char* message;
    } cases[] = {
        {"zero width", v6([](V6Fields& f, Blocks&) { f.gx = 0; }), "Invalid image extents (0, 3, 1, 1, 1)"},
        {"negative slices", v6([](V6Fields& f, Blocks&) { f.gz = -2; }), "Invalid image extents (4, 3, -2, 1, 1)"},
        {"zero time steps", v6([](V6Fields& f, Blocks&) { f.gt = 0; }), "Invalid image extents (4, 3, 1, 1, 0)"},
        {"no bits", v6([](V6Fields& f, Blocks&) { f.gbits = 0; }), "Data type size error"},
        {"pixels past the end", v6([](V6Fields& f, Blocks&) { f.gy = 3000; }, 12),
         "Pixel data beyond the end of the file"},
        {"blocks past the end", truncatedBlocks, "Trailing blocks beyond the end of the file"},
        {"negative block", negative, "Invalid block size (lutsize -4)"},
        {"blocks over the pixels", overlapping, "Invalid descriptor size (16)"},
        {"extents past 64 bits", huge, "Invalid image extents: the pixel data cannot be counted"},
    };
    for (const auto& c : cases) {
        RootView root;
        const std::string error = errorOf([&] { TarnisImageView(memoryStream(c.file), "x", &root); });
        EXPECT_EQ(error.substr(0, std::strlen(c.message)), c.message) << c.what << ": " << error;
    }

    // Version 3: a user header longer than the file, and missing planes.
    V3Fields f3;
    Bytes longHeader = v3File(f3, "abc", pattern(12));
    longHeader.setAt<int32_t>(64, 1 << 30);
    RootView root;
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(longHeader), "x", &root); }), "Invalid file format");
    f3.dimz = 2;
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(v3File(f3, "", pattern(12))), "x", &root); })
                  .substr(0, 37),
              "Pixel data beyond the end of the file");
    V4Fields f4;
    f4.gy = -1;
    EXPECT_EQ(errorOf([&] { TarnisImageView(memoryStream(v4File(f4, pattern(12))), "x", &root); }),
              "Invalid image extents (4, -1, 1, 1, 1)");
}

TEST(TarnisLayoutTest, HeadingAndEndingAreWrittenAtTheirPlaces)
{
    V6desc_im d{};
    d.i_magic = I_MAGICV6D;
    d.gx = 2;
    d.gy = 3;
    d.gz = d.gc = d.gt = 1;
    d.gbits = 16;
    d.headersize = 5;
    d.scalesize = 4424;
    d.lutsize = 6 * 2 + 4;
    d.hdr_sys = 116;
    d.hdr_other = 5 + 4424 + 16;
    image img;
    initImage(img);
    img.header = "\x01" "A:b";
    img.m_lutR = {1, 2};
    img.m_lutG = {3, 4};
    img.m_lutB = {5, 6};
    auto stream = dravik::StreamAccessFactory::createInMemory();
    EXPECT_EQ(writeV6Heading(*stream, *stream, d), 116);
    writeV6Ending(*stream, *stream, &img, d);
    const Bytes file(std::vector<uint8_t>(static_cast<const uint8_t*>(stream->bufferReadOnly()),
                                          static_cast<const uint8_t*>(stream->bufferReadOnly()) + stream->bufferSize()));
    const size_t trailing = 116 + 2 * 3 * 2;
    ASSERT_EQ(file.size(), trailing + 5 + 4424 + 16);
    EXPECT_EQ(file[0], 0x34);
    EXPECT_EQ(file.at<int32_t>(4), 2);
    EXPECT_EQ(file[trailing], 0x01);
    EXPECT_EQ(file[trailing + 4], 0) << "the header text ends with its NUL";
    EXPECT_EQ(file.at<double>(trailing + 5 + cal::rxy), 1.0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file.data()[trailing + 5 + cal::c_name])), "no_calib");
    const size_t lut = trailing + 5 + 4424;
    EXPECT_EQ(file.at<uint16_t>(lut), 2);
    EXPECT_EQ(file.at<uint16_t>(lut + 2), 1);
    EXPECT_EQ(file.at<uint16_t>(lut + 6), 3);
    EXPECT_EQ(file.at<uint16_t>(lut + 12), 6);
    EXPECT_EQ(file.at<uint16_t>(lut + 14), 0);

    CountingStream shortOne(dravik::StreamAccessFactory::createInMemory(), 100);
    EXPECT_EQ(writeV6Heading(shortOne, shortOne, d), -1);
}

TEST(TarnisLayoutTest, RecordDefaultsAndByteReversal)
{
    image img;
    img.gx = 9;
    img.m_offsetOverlay = 5;
    initImage(img);
    EXPECT_EQ(img.gx, 0);
    EXPECT_EQ(img.m_offsetOverlay, 0u);
    const mcalib& m = img.m_calibration;
    EXPECT_EQ(m.c_mode, CAL_SQUARE);
    EXPECT_EQ(m.ima_size[5], 1.0);
    EXPECT_EQ(m.real_size[0], 1.0);
    EXPECT_EQ(m.ima_orig[1], 1.0);
    EXPECT_EQ(m.real_orig[0], 0.0);
    EXPECT_EQ(m.rxy[2], 1.0);
    EXPECT_EQ(m.rxy[3], 0.0);
    EXPECT_STREQ(m.c_unit, "pixel");
    EXPECT_STREQ(m.c_name, "no_calib");
    EXPECT_STREQ(m.cal_name, "no_calib");
    EXPECT_EQ(m.deltaz, 1.0F);
    EXPECT_EQ(m.deltaSequence, 1.0);
    EXPECT_EQ(m.deltaSpectral, 1.0);

    int32_t words[] = {0x11223344, 0x6934};
    endianReverse(words, 2);
    EXPECT_EQ(words[0], 0x44332211);
    EXPECT_EQ(words[1], 0x34690000);
    uint16_t half[] = {0x1234};
    endianReverse(half, 1);
    EXPECT_EQ(half[0], 0x3412);
}

} // namespace
} // namespace quenza::tarnis::test
