#include "KmTestSupport.h"

#include <KmExtractor.h>

#include "SectionDecoder.h"

#include <dravik/ImageProperties.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <variant>

#include <unistd.h>

namespace quenza::km::test {
namespace {

using dravik::RegionXu64;
using dravik::VectorXu64;

std::shared_ptr<KmExtractor> open(const Bytes& file)
{
    return std::make_shared<KmExtractor>(streamOf(file), "KM");
}

const VectorXu64 SHAPE{5, 4, 3};

/// The same 5 x 4 x 3 lattice of 16-bit values in every encoding the reader knows.
struct Encoded {
    std::string name;
    Bytes file;
};

std::vector<Encoded> everyEncoding(const Bytes& values)
{
    const std::string little = "BINARY-LITTLE-ENDIAN";
    const Bytes big = swapped(values, 2);
    const Bytes rle = literalRle(values);
    const Bytes bigRle = literalRle(big);
    const Bytes zip = zlibOf(values);
    const Bytes bigZip = zlibOf(big);
    auto declaration = [](const std::string& compression) {
        return "Lattice { ushort Data } @1" + compression;
    };
    return {
        {"raw", fileOf(header(little, "5 4 3", declaration("")), values)},
        {"raw big-endian", fileOf(header("BINARY", "5 4 3", declaration("")), big)},
        {"rle", fileOf(header(little, "5 4 3", declaration("(HxByteRLE," + std::to_string(rle.size()) + ")")), rle)},
        {"rle big-endian",
         fileOf(header("BINARY", "5 4 3", declaration("(HxByteRLE," + std::to_string(bigRle.size()) + ")")), bigRle)},
        {"zip", fileOf(header(little, "5 4 3", declaration("(HxZip," + std::to_string(zip.size()) + ")")), zip)},
        {"zip big-endian",
         fileOf(header("BINARY", "5 4 3", declaration("(HxZip," + std::to_string(bigZip.size()) + ")")), bigZip)},
    };
}

TEST(KmExtractorTest, EveryEncodingReadsTheSameValuesRegionByRegion)
{
    const Bytes values = counting(60, 2);
    const RegionXu64 regions[] = {
        RegionXu64::fullRegion(SHAPE),
        RegionXu64({0, 0, 0}, {1, 1, 1}),
        RegionXu64({4, 3, 2}, {1, 1, 1}),
        RegionXu64({1, 1, 1}, {3, 2, 2}),
        RegionXu64({0, 0, 1}, {5, 4, 2}),
        RegionXu64({0, 2, 0}, {5, 2, 3}),
        RegionXu64({2, 0, 0}, {3, 4, 3}),
        RegionXu64({0, 0, 2}, {5, 4, 1}),
        RegionXu64({3, 1, 0}, {2, 3, 1}),
    };
    for (const Encoded& e : everyEncoding(values)) {
        SCOPED_TRACE(e.name);
        auto km = open(e.file);
        EXPECT_EQ(km->shape(), SHAPE);
        EXPECT_EQ(km->dataType(), dravik::DataType(dravik::DataTypeId::UINT16));
        for (const RegionXu64& region : regions) {
            SCOPED_TRACE(region.toString());
            EXPECT_EQ(readRegion(*km, region), cut(values, SHAPE, 2, region));
        }
        uint16_t last = 0;
        km->read({4, 3, 2}, &last);
        EXPECT_EQ(last, uint16_t(values[118] | values[119] << 8));
        for (const RegionXu64& outside : {RegionXu64({0, 0, 0}, {6, 4, 3}), RegionXu64({4, 3, 2}, {1, 1, 2}),
                                          RegionXu64({0, 4, 0}, {1, 1, 1}), RegionXu64({0, 0}, {1, 1})}) {
            Bytes dst(1000);
            try {
                km->readRegion(outside, dst.data());
                ADD_FAILURE() << "read outside: " << outside.toString();
            } catch (const dravik::InvalidArgument& error) {
                EXPECT_STREQ(error.what(), "Required region out of image bounds");
            }
        }
    }
}

TEST(KmExtractorTest, BigEndianSwapsOnlyMultiByteComponents)
{
    const Bytes stored{1, 2, 3, 4, 5, 6, 7, 8};
    auto bytes = open(fileOf(header("BINARY", "8 1 1", "Lattice { byte Data } @1"), stored));
    EXPECT_EQ(readAll(*bytes), stored);
    auto rgb = open(fileOf(header("BINARY", "2 1 1", "Lattice { ushort[2] Data } @1"), stored));
    EXPECT_EQ(rgb->dataType(), dravik::DataType(dravik::DataTypeId::VEC2_UINT16));
    EXPECT_EQ(readAll(*rgb), swapped(stored, 2));
    auto floats = open(fileOf(header("BINARY", "2 1 1", "Lattice { float Data } @1"), swapped(Bytes{0, 0, 128, 63, 0, 0, 0, 64}, 4)));
    float f[2];
    floats->readRegion(RegionXu64::fullRegion(floats->shape()), f);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[1], 2.0f);
}

TEST(KmExtractorTest, RunLengthPackets)
{
    struct Case {
        std::string name;
        Bytes encoded;
        std::string lattice;
        std::variant<Bytes, std::string> expected;
    };
    Bytes repeat128(128, 9);
    const Case cases[] = {
        {"control 128 repeats 128 times", {128, 9}, "128 1 1", repeat128},
        {"control 0 produces nothing", {0, 5, 3, 7, 0x82, 1, 2}, "5 1 1", Bytes{7, 7, 7, 1, 2}},
        {"a repeat of two after a literal", {0x81, 4, 2, 6}, "3 1 1", Bytes{4, 6, 6}},
        {"packets after the lattice is full are not read", {3, 7, 9, 9}, "3 1 1", Bytes{7, 7, 7}},
        {"short output", {3, 7}, "4 1 1", std::string("Invalid uncompressed size")},
        {"overshoot", {5, 7}, "4 1 1", std::string("Buffer overflow at RLE uncompression")},
        {"literal overshoot", {0x81, 1, 0x83, 1, 2, 3}, "3 1 1", std::string("Buffer overflow at RLE uncompression")},
        {"value byte missing", {0x82, 1, 2, 4}, "6 1 1", std::string("Invalid uncompressed size")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string declaration = "Lattice { byte Labels } @1(HxByteRLE," + std::to_string(c.encoded.size()) + ")";
        auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", c.lattice, declaration), c.encoded));
        if (const auto* bytes = std::get_if<Bytes>(&c.expected)) {
            EXPECT_EQ(readAll(*km), *bytes);
        } else {
            EXPECT_EQ(errorOf([&] { readAll(*km); }), std::get<std::string>(c.expected));
            // A failed read leaves the extractor usable.
            EXPECT_EQ(errorOf([&] { readAll(*km); }), std::get<std::string>(c.expected));
        }
    }
    // The announced size bounds the section: bytes after it belong to no packet.
    auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", "6 1 1", "Lattice { byte Data } @1(HxByteRLE,2)"),
                          Bytes{3, 1, 3, 2}));
    EXPECT_EQ(errorOf([&] { readAll(*km); }), "Invalid uncompressed size");
}

TEST(KmExtractorTest, ZlibStreamsAndTheirFailures)
{
    const Bytes values = counting(200, 1);
    const Bytes zip = zlibOf(values);
    auto file = [](const std::string& lattice, const std::string& size, const Bytes& data) {
        return fileOf(header("BINARY-LITTLE-ENDIAN", lattice, "Lattice { byte Data } @1(HxZip," + size + ")"), data);
    };
    EXPECT_EQ(readAll(*open(file("200 1 1", std::to_string(zip.size()), zip))), values);
    EXPECT_EQ(readAll(*open(file("10 10 2", std::to_string(zip.size()), concat(zip, Bytes(50, 1))))), values)
        << "bytes after the stream's end are not read";

    Bytes corrupt = zip;
    corrupt[0] = 0x12;
    const Bytes cut = Bytes(zip.begin(), zip.begin() + 20);
    const std::pair<Bytes, std::string> failures[] = {
        // The stream ends (or its announced bytes do) before the lattice is full.
        {file("201 1 1", std::to_string(zip.size()), zip), "Invalid uncompressed size"},
        {file("200 1 1", "20", zip), "Invalid uncompressed size"},
        {file("200 1 1", std::to_string(zip.size()), corrupt), "Problem occured when inflating compressed data"},
        // The file ends inside the announced bytes.
        {file("200 1 1", std::to_string(zip.size()), cut), "Zlib inflate was not able to finalize"},
    };
    for (const auto& [bytes, message] : failures) {
        SCOPED_TRACE(message);
        auto km = open(bytes);
        EXPECT_EQ(errorOf([&] { readAll(*km); }), message);
    }
}

namespace {

/// What `read` gives: its bytes, or the message of its error.
std::variant<Bytes, std::string> outcomeOf(const std::function<Bytes()>& read)
{
    try {
        return read();
    } catch (const dravik::Error& e) {
        return std::string(e.what());
    }
}

} // namespace

/// A whole-section read inflates with one call; a section that does not inflate to exactly
/// its lattice ends as the streamed decoder says, error or not, from memory and from a file.
TEST(KmExtractorTest, OneCallAndStreamedInflateAgreeOnEverySection)
{
    Bytes values(4000);
    uint32_t noise = 7;
    for (size_t i = 0; i < values.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        values[i] = static_cast<uint8_t>(i / 16 + (noise >> 29));
    }
    const Bytes zip = zlibOf(values);
    const std::string all = std::to_string(zip.size());
    auto flipped = [&](size_t at, uint8_t bits) {
        Bytes b = zip;
        b[at] ^= bits;
        return b;
    };
    const Bytes half(zip.begin(), zip.begin() + static_cast<std::ptrdiff_t>(zip.size() / 2));
    const std::string problem = "Problem occured when inflating compressed data";
    const std::string shortOutput = "Invalid uncompressed size";
    const Bytes first3960(values.begin(), values.begin() + 3960);
    const Bytes first200(values.begin(), values.begin() + 200);
    const struct {
        const char* what;
        std::string lattice;
        std::string size;
        Bytes data;
        bool oneCall;
        std::variant<Bytes, std::string> outcome;
    } cases[] = {
        {"the lattice's bytes", "40 100 1", all, zip, true, values},
        {"bytes after the stream", "40 100 1", std::to_string(zip.size() + 30), concat(zip, Bytes(30, 7)), true,
         values},
        {"a stream longer than the lattice", "40 99 1", all, zip, false, first3960},
        {"a longer stream with a wrong checksum", "40 99 1", all, flipped(zip.size() - 1, 1), false, first3960},
        {"a stream shorter than the lattice", "40 101 1", all, zip, false, shortOutput},
        {"a shorter stream with a wrong checksum", "40 101 1", all, flipped(zip.size() - 1, 1), false, problem},
        {"a wrong checksum", "40 100 1", all, flipped(zip.size() - 1, 1), false, problem},
        {"announced bytes that end inside the stream", "40 100 1", "20", zip, false, shortOutput},
        {"no announced bytes", "100 2 1", "0", zip, false, shortOutput},
        {"the file ending inside the stream", "40 100 1", all, half, false, "Zlib inflate was not able to finalize"},
        {"a corrupt stream header", "40 100 1", all, flipped(0, 0x10), false, problem},
        {"a reserved block type", "40 100 1", all, flipped(2, 0x02), false, problem},
        {"a first block longer than a short lattice", "100 2 1", all, zip, false, first200},
    };
    const std::string path = ::testing::TempDir() + "km-one-call-" + std::to_string(::getpid()) + ".km";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes file = fileOf(header("BINARY-LITTLE-ENDIAN", c.lattice, "Lattice { byte Data } @1(HxZip," + c.size + ")"),
                                  c.data);
        writeFile(path, file);
        for (const bool fromFile : {false, true}) {
            SCOPED_TRACE(fromFile ? "from a file" : "from memory");
            auto km = fromFile ? std::make_shared<KmExtractor>(path) : open(file);
            const uint64_t lattice = km->byteCount();
            const auto ours = outcomeOf([&] { return readAll(*km); });
            const auto streamed = outcomeOf([&] {
                ZipStreamDecoder decoder(dravik::RandomAccessFactory::fromBytes(file), km->dataOffset(),
                                         km->compression().size);
                Bytes out(static_cast<size_t>(lattice));
                if (decoder.produce(out.data(), lattice) != lattice) {
                    throw dravik::Error("Invalid uncompressed size");
                }
                return out;
            });
            EXPECT_EQ(ours, c.outcome);
            EXPECT_EQ(ours, streamed);
            Bytes scratch(static_cast<size_t>(lattice));
            EXPECT_EQ(inflateWholeStream(*dravik::RandomAccessFactory::fromBytes(file), km->dataOffset(),
                                         km->compression().size, scratch.data(), lattice),
                      c.oneCall);
        }
    }
    std::remove(path.c_str());
}

/// Blocks of a section larger than one zlib stream, read through the decoder directly.
TEST(KmExtractorTest, BlockDecoderConcatenatesIndependentStreams)
{
    const Bytes a = counting(300, 1);
    const Bytes b(77, 5);
    const Bytes c = counting(1000, 2);
    const Bytes za = zlibOf(a);
    const Bytes zb = zlibOf(b);
    const Bytes zc = zlibOf(c);
    // The first block's size covers bytes after its stream: the next block starts where the table says.
    const Bytes file = concat(concat(concat(Bytes(3, 0), concat(za, Bytes(9, 0xEE))), zb), zc);
    auto random = dravik::RandomAccessFactory::fromBytes(file);
    ZipBlockDecoder decoder(random, 3, {za.size() + 9, zb.size(), zc.size()});
    Bytes out(a.size() + b.size() + c.size() + 10);
    EXPECT_EQ(decoder.skip(100), 100u);
    EXPECT_EQ(decoder.produce(out.data(), 250), 250u);
    EXPECT_EQ(decoder.produce(out.data() + 250, out.size() - 250), a.size() + b.size() + c.size() - 350);
    const Bytes expected = concat(concat(a, b), c);
    EXPECT_TRUE(std::equal(expected.begin() + 100, expected.end(), out.begin()));
}

/// A lattice above the one-stream limit: a block count, the size table, then the blocks.
/// Each block's size is padded so that the sizes could back the lattice.
TEST(KmExtractorTest, LargeZipSectionsAreReadBlockByBlock)
{
    const uint64_t row = 65536;
    const uint64_t rows = 59000; // 65536 x 59000 bytes is above 3865470565
    const std::vector<Bytes> blocks{counting(2 * row, 1), Bytes(row, 3), counting(row, 1)};
    const uint64_t padding = 1300000;
    Bytes section{static_cast<uint8_t>(blocks.size())};
    section.resize(8 + 8 * blocks.size(), 0);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Bytes stream = concat(zlibOf(blocks[i]), Bytes(padding, 0));
        for (int b = 0; b < 8; ++b) {
            section[8 + 8 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(uint64_t(stream.size()) >> (8 * b));
        }
        section = concat(section, stream);
    }
    const std::string lattice = std::to_string(row) + " " + std::to_string(rows) + " 1";
    auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", lattice, "Lattice { byte Data } @1(HxZip,1)"), section));
    const Bytes expected = concat(concat(blocks[0], blocks[1]), blocks[2]);
    EXPECT_EQ(readRegion(*km, RegionXu64({0, 0, 0}, {row, 4, 1})), expected);
    EXPECT_EQ(readRegion(*km, RegionXu64({10, 1, 0}, {5, 2, 1})),
              cut(expected, {row, 4, 1}, 1, RegionXu64({10, 1, 0}, {5, 2, 1})));
    EXPECT_EQ(errorOf([&] { readRegion(*km, RegionXu64({0, 4, 0}, {1, 1, 1})); }), "Invalid uncompressed size");

    // A table that does not fit the section, or sizes that cannot back the lattice.
    Bytes tooMany = section;
    tooMany[7] = 0x10;
    EXPECT_EQ(errorOf([&] { open(fileOf(header("BINARY-LITTLE-ENDIAN", lattice, "Lattice { byte Data } @1(HxZip,1)"), tooMany)); }),
              "Invalid HxZip block table");
    const Bytes stream = zlibOf(Bytes(10, 0));
    const Bytes small = concat(Bytes{1, 0, 0, 0, 0, 0, 0, 0, uint8_t(stream.size()), 0, 0, 0, 0, 0, 0, 0}, stream);
    EXPECT_EQ(errorOf([&] { open(fileOf(header("BINARY-LITTLE-ENDIAN", lattice, "Lattice { byte Data } @1(HxZip,1)"), small)); }),
              "A lattice of 3866624000 bytes cannot be decoded from " + std::to_string(stream.size())
                  + " bytes of compressed data");
}

TEST(KmExtractorTest, HeadersThatCannotBackTheirLattice)
{
    const std::string huge = "2147483647 2147483647 2147483647";
    const std::string big = "2000 2000 1000";
    const std::pair<Bytes, std::string> cases[] = {
        {fileOf(header("BINARY-LITTLE-ENDIAN", big, "Lattice { byte Data } @1(HxByteRLE,4)"), Bytes{127, 0, 127, 0}),
         "A lattice of 4000000000 bytes cannot be decoded from 4 bytes of compressed data"},
        {fileOf(header("BINARY-LITTLE-ENDIAN", big, "Lattice { byte Data } @1(HxByteRLE,99999999)"), Bytes{127, 0}),
         "A lattice of 4000000000 bytes cannot be decoded from 2 bytes of compressed data"},
        {fileOf(header("BINARY-LITTLE-ENDIAN", "2000 2000 10", "Lattice { byte Data } @1(HxZip,3)"), Bytes{1, 2, 3}),
         "A lattice of 40000000 bytes cannot be decoded from 3 bytes of compressed data"},
        {fileOf(header("BINARY-LITTLE-ENDIAN", huge, "Lattice { double Data } @1(HxZip,3)"), Bytes{1, 2, 3}),
         "Lattice size is too large"},
        {fileOf(header("BINARY-LITTLE-ENDIAN", "4 4 4", "Lattice { ushort Data } @1"), Bytes(127, 0)),
         "Unable to create an access to image data(Data is truncated)"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(errorOf([&] { open(file); }), message);
    }
    const std::string overflow = errorOf([&] {
        open(fileOf(header("BINARY-LITTLE-ENDIAN", huge, "Lattice { double Data } @1"), Bytes(8, 0)));
    });
    EXPECT_EQ(overflow.rfind("Unable to create an access to image data(", 0), 0u) << overflow;
    // At the ratio limit the lattice is accepted.
    auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", "128 2 1", "Lattice { byte Data } @1(HxByteRLE,4)"),
                          Bytes{128, 1, 128, 2}));
    EXPECT_EQ(readAll(*km), concat(Bytes(128, 1), Bytes(128, 2)));
}

TEST(KmExtractorTest, OpenMessages)
{
    const std::string little = "BINARY-LITTLE-ENDIAN";
    const Bytes data(8, 0);
    const std::pair<Bytes, std::string> cases[] = {
        {bytesOf("# KorvelMesh BINARY 2.1\ndefine Lattice 1 1 1\nLattice { byte Data } @1\n"),
         "Expected section is not found"},
        {fileOf("define Lattice 1 1 1\nLattice { byte Data } @1\n", data), "Unrecognized header file"},
        {fileOf(header("BINARY-BIG-ENDIAN", "1 1 1", "Lattice { byte Data } @1"), data),
         "Invalid encoding type read from file (BINARY-BIG-ENDIAN)"},
        {fileOf("# KorvelMesh BINARY 2.1\ndefine Lattice 1 1\nLattice { byte Data } @1\n", data),
         "Only 3D files are handled"},
        {fileOf(header(little, "1 1 1", "Lattice { half Data } @1\nLattice { byte Normals } @2"), data),
         "No data section can be decoded"},
        {fileOf(header(little, "1 1 1", "Lattice { byte Data } @2"), data), "Expected section is not found"},
        {fileOf(header(little, "1 1 1", "Lattice { byte Data } @1(Gzip,10)"), data),
         "Unrecognized compression mode ((Gzip,10))"},
        {fileOf(header(little, "1 1 1", "Lattice { byte Data } @1", "Parameters { BoundingBox 0 1 0 1 0 }"), data),
         "Bounding box does not have expected content"},
        {fileOf(header(little, "1 1 1", "Lattice { byte Data } @1", "Parameters { BoundingBox \"0 1 0 1 0 1\" }"), data),
         "Bounding box does not have expected content"},
        {fileOf(header(little, "1 1 1", "Lattice { byte Data } @1", "Parameters { BoundingBox { } }"), data),
         "Bounding box does not have expected content"},
        {fileOf(header("ASCII", "1 1 1", "Lattice { byte Data } @1"), data), "ASCII mode not supported yet"},
        {fileOf(header(little, "99999999999 1 1", "Lattice { byte Data } @1"), data),
         "Number out of range in the header (99999999999)"},
        {fileOf("@1\n", data), "Unrecognized header file"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(errorOf([&] { open(file); }), message);
    }
    try {
        KmExtractor(streamOf(data), "CSV");
        ADD_FAILURE() << "format CSV accepted";
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Format CSV not supported by the plugin KorvelMeshPlugin");
    }
    EXPECT_EQ(errorOf([] {
                  auto writeOnly = dravik::StreamAccessFactory::openFileWrite(::testing::TempDir() + "km-write-only.km");
                  KmExtractor(writeOnly, "KM");
              }),
              "Accessor does not support the required capabilities");
}

TEST(KmExtractorTest, FirstDeclarationChoosesTheSectionAndRole)
{
    const Bytes labels{1, 2, 3, 4};
    const Bytes data{9, 9, 9, 9};
    const std::string text = header("BINARY-LITTLE-ENDIAN", "2 2 1", "Lattice { byte Labels } @1\nLattice { byte Data } @2",
                                    "Parameters { Content \"two sections\" }");
    const Bytes file = concat(concat(fileOf(text, labels), bytesOf("\n@2\n")), data);
    auto km = open(file);
    EXPECT_EQ(km->dataDescription(), KmParser::DataDescription::LABELS);
    EXPECT_EQ(km->properties()->imageInfo().interpretation(), dravik::ImageInterpretation::LABEL);
    EXPECT_EQ(km->properties()->imageInfo().axesInterpretation(), dravik::ImageType(dravik::ImageTypeId::VOLUME));
    EXPECT_EQ(readAll(*km), labels);

    // Without a Parameters block the role is kept all the same.
    auto bare = open(fileOf(header("BINARY-LITTLE-ENDIAN", "2 2 1", "Lattice { byte Labels } @1"), labels));
    EXPECT_EQ(bare->properties()->imageInfo().interpretation(), dravik::ImageInterpretation::LABEL);

    // The second section, chosen by the first accepted declaration.
    auto second = open(concat(concat(fileOf(header("BINARY-LITTLE-ENDIAN", "2 2 1",
                                                   "Lattice { byte Normals } @1\nLattice { byte Data } @2"),
                                            labels),
                                     bytesOf("\n@2\n")),
                              data));
    EXPECT_EQ(second->dataOffset(), fileOf(header("BINARY-LITTLE-ENDIAN", "2 2 1",
                                                  "Lattice { byte Normals } @1\nLattice { byte Data } @2"),
                                           labels).size() + 4);
    EXPECT_EQ(readAll(*second), data);
}

TEST(KmExtractorTest, CalibrationAndMetadataFromTheParametersBlock)
{
    const std::string parameters = "Parameters {\n  Units {\n    Coordinates \"mm\"\n  },\n"
                                   "  BoundingBox  -1 9 0 40 5 35,\n  Note \"a\\\"b\"\n}";
    auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", "10 20 30", "Lattice { byte Data } @1", parameters),
                          Bytes(6000, 0)));
    const auto& calibration = km->properties()->calibration();
    EXPECT_EQ(calibration.origin(), (dravik::Vector3d{-1, 0, 5}));
    EXPECT_EQ(calibration.spacing(), (dravik::Vector3d{1, 2, 1}));
    EXPECT_EQ(calibration.unit(), "mm");
    auto root = km->metadata();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name(), "root");
    ASSERT_EQ(root->childCount(), 1u);
    auto note = dravik::MetadataNodeHelper::getNode(root, "KM/Note");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(dravik::VariantDataValueConverter::toString(*note->value()), "a\"b");

    // A block that does not parse: no metadata, default calibration, the file still opens.
    auto failed = open(fileOf(header("BINARY-LITTLE-ENDIAN", "10 20 30", "Lattice { byte Data } @1",
                                     "Parameters { BoundingBox 0 1 0 1 0 1, Bad word }"),
                              Bytes(6000, 0)));
    EXPECT_EQ(failed->metadata()->childCount(), 0u);
    EXPECT_EQ(failed->properties()->calibration().origin(), (dravik::Vector3d{0, 0, 0}));
    EXPECT_EQ(failed->properties()->calibration().spacing(), (dravik::Vector3d{1, 1, 1}));
    EXPECT_EQ(failed->properties()->calibration().unit(), "");

    // An empty axis has no spacing to derive; a unit entry without value is no unit.
    auto empty = open(fileOf(header("BINARY-LITTLE-ENDIAN", "0 4 4", "Lattice { byte Data } @1",
                                    "Parameters { Units { Coordinates { } } BoundingBox 0 5 0 8 0 2 }"),
                             Bytes{}));
    EXPECT_EQ(empty->properties()->calibration().spacing(), (dravik::Vector3d{1, 2, 0.5}));
    EXPECT_EQ(empty->properties()->calibration().unit(), "");
    EXPECT_EQ(readAll(*empty), Bytes{});
}

TEST(KmExtractorTest, QuotedTextThatLooksLikeHeaderLinesIsOnlyMetadata)
{
    const std::string parameters = "Parameters {\n  Note \"Lattice { byte Labels } @1(HxZip,9)\",\n"
                                   "  Other \"# KorvelMesh ASCII 1.0\"\n}";
    auto km = open(fileOf(header("BINARY-LITTLE-ENDIAN", "2 1 1", "Lattice { ushort Data } @1", parameters),
                          Bytes{1, 0, 2, 0}));
    EXPECT_EQ(km->dataType(), dravik::DataType(dravik::DataTypeId::UINT16));
    EXPECT_EQ(km->compression().mode, KmParser::DataCompression::NO_COMPRESSION);
    EXPECT_EQ(readAll(*km), (Bytes{1, 0, 2, 0}));
}

TEST(KmExtractorTest, SectionSearchFindsMarkersAcrossWindowsAndOnlyAtLineStarts)
{
    const Bytes data{1, 2, 3, 4};
    // Pads the header so that the "@" of the marker line lands at `at`.
    auto withMarkerAt = [&](uint64_t at) {
        std::string text = header("BINARY-LITTLE-ENDIAN", "4 1 1", "Lattice { byte Data } @1");
        text += "# " + std::string(static_cast<size_t>(at - text.size() - 3), 'x') + "\n";
        return fileOf(text, data);
    };
    for (uint64_t at : {1020u, 1022u, 1023u, 1024u, 1025u, 2047u, 2048u}) {
        SCOPED_TRACE(at);
        auto km = open(withMarkerAt(at));
        EXPECT_EQ(km->dataOffset(), at + 3);
        EXPECT_EQ(readAll(*km), data);
    }
    // "@1" inside a line, at the first byte of a window, is no marker.
    std::string text = header("BINARY-LITTLE-ENDIAN", "4 1 1", "Lattice { byte Data } @1");
    text += "# " + std::string(1024 - text.size() - 2, 'x') + "@1 inside a comment\n";
    ASSERT_EQ(text.substr(1024, 2), "@1");
    auto km = open(fileOf(text, data));
    EXPECT_EQ(km->dataOffset(), text.size() + 3);
    EXPECT_EQ(readAll(*km), data);

    // "@1$": a line "@12" is not the marker of section 1.
    auto stream = streamOf(bytesOf("x\n@12\nabc\n@1\nDATA"));
    EXPECT_EQ(KmExtractor::findSectionFromStream(*stream, 2, "@1$"), 13u);
    EXPECT_EQ(KmExtractor::findSectionFromStream(*stream, 0, "@"), 3u);
    EXPECT_EQ(KmExtractor::findSectionFromStream(*stream, 3, "@"), 11u) << "the search starts at its offset";
    EXPECT_EQ(errorOf([&] { KmExtractor::findSectionFromStream(*stream, 0, "@3$"); }), "Expected section is not found");
    // Line starts after carriage returns and form feeds too, as the header's "^".
    auto cr = streamOf(bytesOf("a\r@1\rb"));
    EXPECT_EQ(KmExtractor::findSectionFromStream(*cr, 0, "@1$"), 5u);
    // A marker cut by a window's end, with "$" decided by the next window.
    std::string longText(1022, 'y');
    longText += "\n@1";
    auto cutStream = streamOf(bytesOf(longText + "2\n@1\n"));
    EXPECT_EQ(KmExtractor::findSectionFromStream(*cutStream, 0, "@1$"), longText.size() + 5);
}

TEST(KmExtractorTest, OriginExtensionSaysWhereTheDataComesFrom)
{
    const Bytes file = fileOf(header("BINARY-LITTLE-ENDIAN", "1 1 1", "Lattice { byte Data } @1"), Bytes{42});
    const std::string path = ::testing::TempDir() + "km-origin-" + std::to_string(::getpid()) + ".km";
    writeFile(path, file);
    KmExtractor fromPath(path);
    std::remove(path.c_str());
    auto drive = fromPath.viewOrigin();
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    EXPECT_EQ(drive->displayName(), "KorvelMeshPlugin Extractor");
    EXPECT_EQ(readAll(fromPath), Bytes{42});
    auto fromAccess = open(file);
    EXPECT_EQ(fromAccess->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::UNKNOWN);
    EXPECT_EQ(errorOf([&] { fromAccess->extension(1); }), "Extension 1 not found");
    EXPECT_EQ(fromAccess->capabilities(), dravik::ImageCapabilitySet{dravik::ImageCapability::READ});
}

} // namespace
} // namespace quenza::km::test
