#include "KmTestSupport.h"
#include "TestSupport.h"

#include <KmExtractor.h>
#include <KmMetadata.h>
#include <KmWriter.h>
#include <KmWriterPlugin.h>

#include <dravik/DataFrameView.h>
#include <dravik/DataFrameViewFactory.h>
#include <dravik/MultiImageView.h>
#include <dravik/ImageProperties.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <libdeflate.h>

#include <cmath>

namespace quenza::km::test {
namespace {

using dravik::VariantDataValueFactory;

struct Written {
    std::string text;
    Bytes bytes;
};

Written written(const std::shared_ptr<dravik::StreamAccess>& stream)
{
    const auto* data = static_cast<const uint8_t*>(stream->bufferReadOnly());
    Bytes bytes(data, data + stream->bufferSize());
    return {std::string(bytes.begin(), bytes.end()), bytes};
}

/// `image` with calibration and metadata of its own.
std::shared_ptr<dravik::ImageView> calibrated(const std::shared_ptr<dravik::ImageView>& image,
                                              const dravik::Vector3d& origin, const dravik::Vector3d& spacing,
                                              const std::string& unit,
                                              dravik::ImageInterpretation interpretation = dravik::ImageInterpretation::UNKNOWN,
                                              std::shared_ptr<dravik::MetadataNode> metadata = nullptr)
{
    auto properties = dravik::ImageProperties::fromDataType(image->dataType());
    properties->calibration().setOrigin(origin);
    properties->calibration().setSpacing(spacing);
    properties->calibration().setUnit(unit);
    if (interpretation != dravik::ImageInterpretation::UNKNOWN) {
        properties->imageInfo().setInterpretation(interpretation);
    }
    return dravik::ImageViewFactory::fromImageView(image, properties, metadata);
}

Written writeToMemory(const std::shared_ptr<dravik::View>& view,
                      const std::vector<std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>>>& options = {})
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    KmWriter writer(view, stream, "KM");
    for (const auto& [name, value] : options) {
        writer.setOption(name, value);
    }
    writer.writeAll();
    EXPECT_EQ(writer.state(), KmWriter::DONE);
    return written(stream);
}

std::shared_ptr<dravik::VariantDataValue> text(const char* value)
{
    return VariantDataValueFactory::create(value);
}

TEST(KmWriterTest, HeaderOfAFloatVolumeByteForByte)
{
    auto image = calibrated(dravik::ImageViewFactory::allocate({8, 8, 4}, dravik::DataTypeId::FLOAT), {0, 0, 0},
                            {1, 1, 1}, "mm");
    const Written w = writeToMemory(image, {{"compressor", text("RAW")}});
    const std::string expected = "# KorvelMesh BINARY-LITTLE-ENDIAN 0.0\n"
                                 "\n# Exported with Quenza 1.8.0\n\n"
                                 "define Lattice 8 8 4\n"
                                 "Parameters {\n"
                                 "  Units {\n"
                                 "    Coordinates \"mm\"\n"
                                 "  },\n"
                                 "  BoundingBox  0 8 0 8 0 4\n"
                                 "}\n\n"
                                 "Lattice { float Data } @1\n\n"
                                 "@1\n";
    ASSERT_EQ(w.text.substr(0, expected.size()), expected);
    EXPECT_EQ(w.bytes.size(), expected.size() + 8 * 8 * 4 * 4);
}

TEST(KmWriterTest, AutoCompressionFollowsTheInterpretation)
{
    auto values = counting(24, 1);
    auto plain = imageOf({4, 3, 2}, dravik::DataTypeId::UINT8, values);
    auto labels = calibrated(plain, {0, 0, 0}, {1, 1, 1}, "", dravik::ImageInterpretation::LABEL);
    auto binary = calibrated(plain, {0, 0, 0}, {1, 1, 1}, "", dravik::ImageInterpretation::BINARY);
    EXPECT_NE(writeToMemory(labels).text.find("Lattice { byte Labels } @1(HxByteRLE,"), std::string::npos);
    EXPECT_NE(writeToMemory(binary).text.find("Lattice { byte Data } @1(HxByteRLE,"), std::string::npos);
    EXPECT_NE(writeToMemory(plain).text.find("Lattice { byte Data } @1\n\n@1\n"), std::string::npos);

    // "AUTO" set again after writeInit is resolved the same way when the data is written.
    auto stream = dravik::StreamAccessFactory::createInMemory();
    KmWriter writer(labels, stream, "KM");
    writer.setOption("compressor", text("RAW"));
    writer.writeInit();
    writer.setOption("compressor", text("AUTO"));
    EXPECT_EQ(writer.compression(), KmWriter::AUTO_COMPRESSION);
    writer.writeData();
    writer.writeFinish();
    EXPECT_EQ(writer.compression(), KmWriter::RLE_COMPRESSION);
    const Written w = written(stream);
    EXPECT_NE(w.text.find("@1(HxByteRLE,"), std::string::npos);
    auto back = KmExtractor(streamOf(w.bytes), "KM");
    EXPECT_EQ(readAll(back), values);
}

TEST(KmWriterTest, OptionsAndTheirMessages)
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    KmWriter writer(dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataTypeId::UINT8), stream, "KM");
    EXPECT_EQ(writer.name(), "KorvelMeshPlugin");
    EXPECT_EQ(writer.version(), "1.3.0");
    EXPECT_EQ(writer.compression(), KmWriter::AUTO_COMPRESSION);
    const std::pair<std::string, KmWriter::CompressionMethod> methods[] = {
        {"RAW", KmWriter::NO_COMPRESSION}, {"RLE", KmWriter::RLE_COMPRESSION},
        {"ZIP", KmWriter::ZLIB_COMPRESSION}, {"AUTO", KmWriter::AUTO_COMPRESSION}};
    for (const auto& [name, method] : methods) {
        writer.setOption("compressor", VariantDataValueFactory::create(name));
        EXPECT_EQ(writer.compression(), method);
    }
    writer.setOption("compressor", text("ZIP"));
    const std::pair<std::function<void()>, std::string> failures[] = {
        {[&] { writer.setOption("compressor", text("zip")); }, "invalid compression mode zip"},
        {[&] { writer.setOption("compressor", text("")); }, "invalid compression mode "},
        {[&] { writer.setOption("compressor", VariantDataValueFactory::create(int64_t(2))); },
         "compressor option must be a string"},
        {[&] { writer.setOption("compressor", nullptr); }, "compressor option must be a string"},
        {[&] { writer.setOption("zipLevel", VariantDataValueFactory::create(int64_t(0))); },
         "Invalid level of compression: should be between 1 and 9"},
        {[&] { writer.setOption("zipLevel", VariantDataValueFactory::create(int64_t(10))); },
         "Invalid level of compression: should be between 1 and 9"},
        {[&] { writer.setOption("zipLevel", VariantDataValueFactory::create(6.5)); },
         "Invalid level of compression: should be between 1 and 9"},
        {[&] { writer.setOption("zipLevel", text("six")); }, "Invalid level of compression: should be between 1 and 9"},
        {[&] { writer.setOption("zipLevel", nullptr); }, "Invalid level of compression: should be between 1 and 9"},
        {[&] { writer.setOption("tileSize", VariantDataValueFactory::create(int64_t(64))); },
         "Not supported option tileSize"},
    };
    for (const auto& [action, message] : failures) {
        EXPECT_EQ(errorOf(action), message);
    }
    EXPECT_EQ(writer.compression(), KmWriter::ZLIB_COMPRESSION) << "a failed option changes nothing";
    writer.setOption("zipLevel", VariantDataValueFactory::create(int64_t(9)));
    writer.setOption("zipLevel", VariantDataValueFactory::create(1.0));
    writer.setOption("zipLevel", text("6"));
}

TEST(KmWriterTest, StepsAreAcceptedOnlyInTheirState)
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    KmWriter writer(dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataTypeId::UINT8), stream, "KM");
    EXPECT_EQ(errorOf([&] { writer.writeData(); }), "Korvel Writer not in DATA state");
    EXPECT_EQ(errorOf([&] { writer.writeFinish(); }), "Korvel Writer not in FOOTER state");
    writer.writeInit();
    EXPECT_EQ(writer.state(), KmWriter::DATA);
    EXPECT_EQ(errorOf([&] { writer.writeInit(); }), "Korvel Writer not in HEADER state");
    EXPECT_EQ(errorOf([&] { writer.writeFinish(); }), "Korvel Writer not in FOOTER state");
    writer.writeData();
    EXPECT_EQ(writer.state(), KmWriter::FOOTER);
    EXPECT_EQ(errorOf([&] { writer.writeData(); }), "Korvel Writer not in DATA state");
    writer.writeFinish();
    EXPECT_EQ(writer.state(), KmWriter::DONE);
    EXPECT_EQ(errorOf([&] { writer.writeAll(); }), "Korvel Writer not in HEADER state");
}

/// A destination that writes but cannot seek, and takes at most `room` bytes.
class ForwardOnlyStream : public dravik::StreamAccess {
public:
    explicit ForwardOnlyStream(uint64_t room = UINT64_MAX)
        : m_room(room)
    {
    }
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return ""; }
    dravik::StreamAccessCapabilitySet capabilities() const override { return dravik::StreamAccessCapability::WRITE; }
    bool eof() const override { return false; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t, void*) override { return 0; }
    uint64_t write(uint64_t size, const void* src) override
    {
        const auto* bytes = static_cast<const uint8_t*>(src);
        const uint64_t n = std::min<uint64_t>(size, m_room - m_bytes.size());
        m_bytes.insert(m_bytes.end(), bytes, bytes + n);
        return n;
    }
    uint64_t tell() const override { return m_bytes.size(); }
    uint64_t m_room;
    Bytes m_bytes;
};

TEST(KmWriterTest, ConstructionRefusals)
{
    auto volume = dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataTypeId::UINT8);
    auto memory = [] { return dravik::StreamAccessFactory::createInMemory(); };
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { KmWriter(volume, memory(), "RAW"); }, "Format RAW not supported by the plugin KorvelMeshPlugin"},
        {[&] { KmWriter(volume, dravik::RandomAccessFactory::fromBytes(Bytes(4)), "KM"); },
         "output storage does not have writing capabilities"},
        {[&] { KmWriter(volume, streamOf(Bytes(4)), "KM").writeAll(); }, "(no error)"},
        {[&] { KmWriter(dravik::ImageViewFactory::allocate({2, 2}, dravik::DataTypeId::UINT8), memory(), "KM"); },
         "image views with a dimension count different of 3 are not supported"},
        {[&] {
             KmWriter(dravik::ImageViewFactory::allocate({2, 2, 2, 2}, dravik::DataTypeId::UINT8), memory(), "KM");
         },
         "image views with a dimension count different of 3 are not supported"},
        {[&] {
             auto line = dravik::ImageViewFactory::allocate({4}, dravik::DataTypeId::UINT8);
             KmWriter(dravik::MultiImageViewFactory::create({line, line}), memory(), "KM");
         },
         "image views with a dimension count different of 3 are not supported"},
        {[&] {
             KmWriter(dravik::DataFrameViewFactory::allocate({1, 2}, {"a"}, {dravik::DataTypeId::FLOAT}), memory(),
                      "KM");
         },
         "view type not supported"},
        {[&] {
             KmWriter(dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataType(dravik::PrimitiveType::FLOATING_POINT, 10, 32)),
                      memory(), "KM");
         },
         "Unsupported data type"},
        {[&] {
             KmWriter(dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataType(dravik::PrimitiveType::FLOATING_POINT, 12, 32)),
                      memory(), "KM");
         },
         "Unsupported data type"},
    };
    for (const auto& [action, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(errorOf(action), message);
    }
    // The stack of two-dimensional frames is a volume.
    auto frame = imageOf({2, 2}, dravik::DataTypeId::UINT8, Bytes{1, 2, 3, 4});
    auto back = KmExtractor(streamOf(writeToMemory(dravik::MultiImageViewFactory::create({frame, frame, frame})).bytes), "KM");
    EXPECT_EQ(back.shape(), (dravik::VectorXu64{2, 2, 3}));
    EXPECT_EQ(readAll(back), (Bytes{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(KmWriter::DataTypeToKorvel(dravik::DataType(dravik::PrimitiveType::SIGNED_INTEGER, 9, 16)), "short[9]");
    for (const dravik::DataType& type : {dravik::DataType(dravik::DataTypeId::UTF8_STRING), dravik::DataType()}) {
        EXPECT_EQ(errorOf([&] { KmWriter::DataTypeToKorvel(type); }), "Unsupported data type");
    }

    // Compressed sections need to come back to their declaration.
    auto forward = std::make_shared<ForwardOnlyStream>();
    KmWriter writer(volume, forward, "KM");
    writer.setOption("compressor", text("RLE"));
    writer.writeInit();
    const size_t headerBytes = forward->m_bytes.size();
    EXPECT_EQ(errorOf([&] { writer.writeData(); }), "HxByteRLE and HxZip sections need an output that can seek");
    EXPECT_EQ(forward->m_bytes.size(), headerBytes);
    writer.setOption("compressor", text("RAW"));
    writer.writeData();
    EXPECT_EQ(forward->m_bytes.size(), headerBytes + std::string("Lattice { byte Data } @1\n\n@1\n").size() + 8);

    // A destination that takes fewer bytes than it is given is a failure, not a short file.
    KmWriter full(volume, std::make_shared<ForwardOnlyStream>(20), "KM");
    EXPECT_EQ(errorOf([&] { full.writeInit(); }).rfind("KorvelMesh writer could write only 20 of ", 0), 0u);
    EXPECT_EQ(full.state(), KmWriter::HEADER);

    // A rejected view leaves an existing file as it was.
    const std::string path = ::testing::TempDir() + "km-writer-kept.km";
    writeFile(path, Bytes{1, 2, 3});
    EXPECT_EQ(errorOf([&] { KmWriter(dravik::ImageViewFactory::allocate({2, 2}, dravik::DataTypeId::UINT8), path); }),
              "image views with a dimension count different of 3 are not supported");
    EXPECT_EQ(fileBytes(path), (Bytes{1, 2, 3}));
    KmWriter(volume, path).writeAll();
    EXPECT_EQ(readAll(*std::make_shared<KmExtractor>(path)), Bytes(8, 0));
    std::remove(path.c_str());
}

TEST(KmWriterTest, ElementTypesAndTheirNames)
{
    const std::pair<dravik::DataType, std::string> cases[] = {
        {dravik::DataTypeId::UINT8, "byte"},       {dravik::DataTypeId::INT8, "sbyte"},
        {dravik::DataTypeId::UINT16, "ushort"},    {dravik::DataTypeId::INT16, "short"},
        {dravik::DataTypeId::UINT32, "uint"},      {dravik::DataTypeId::INT32, "int"},
        {dravik::DataTypeId::UINT64, "uint64"},    {dravik::DataTypeId::INT64, "int64"},
        {dravik::DataTypeId::FLOAT, "float"},      {dravik::DataTypeId::DOUBLE, "double"},
        {dravik::DataTypeId::VEC3_UINT8, "byte[3]"}, {dravik::DataTypeId::COMPLEX_FLOAT, "complex"},
        {dravik::DataTypeId::VEC4_FLOAT, "float[4]"},
    };
    for (const auto& [type, name] : cases) {
        EXPECT_EQ(KmWriter::DataTypeToKorvel(type), name);
    }
    auto rgb = dravik::ImageViewFactory::allocate({2, 1, 1}, dravik::DataTypeId::VEC3_UINT8);
    EXPECT_NE(writeToMemory(rgb, {{"compressor", text("RAW")}}).text.find("Lattice { byte[3] Data } @1\n"),
              std::string::npos);
}

TEST(KmWriterTest, RunLengthEncodings)
{
    Bytes distinct(200);
    for (size_t i = 0; i < distinct.size(); ++i) {
        distinct[i] = static_cast<uint8_t>(i);
    }
    Bytes pairAt126(126);
    for (size_t i = 0; i < pairAt126.size(); ++i) {
        pairAt126[i] = static_cast<uint8_t>(i % 2);
    }
    pairAt126.push_back(9);
    pairAt126.push_back(9);
    Bytes expectedPair{0xFF};
    expectedPair.insert(expectedPair.end(), pairAt126.begin(), pairAt126.begin() + 127);
    expectedPair.push_back(0x81);
    expectedPair.push_back(9);
    Bytes expectedDistinct{0xFF};
    expectedDistinct.insert(expectedDistinct.end(), distinct.begin(), distinct.begin() + 127);
    expectedDistinct.push_back(0x80 + 73);
    expectedDistinct.insert(expectedDistinct.end(), distinct.begin() + 127, distinct.end());
    const std::pair<Bytes, Bytes> cases[] = {
        {Bytes(300, 4), Bytes{127, 4, 127, 4, 46, 4}},
        {Bytes{1, 2, 3}, Bytes{0x83, 1, 2, 3}},
        {Bytes{5, 5}, Bytes{0x82, 5, 5}},
        {Bytes{7, 7, 7}, Bytes{3, 7}},
        {Bytes(129, 6), Bytes{127, 6, 0x82, 6, 6}},
        {Bytes{1, 2, 2, 2, 3}, Bytes{0x81, 1, 3, 2, 0x81, 3}},
        {distinct, expectedDistinct},
        {pairAt126, expectedPair},
        {Bytes{}, Bytes{}},
    };
    for (const auto& [input, expected] : cases) {
        Bytes out(input.size() + input.size() / 127 + 2);
        const uint64_t n = KmWriter::compressRLE(input.data(), input.size(), out.data(), out.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), expected);
    }
    Bytes small(3);
    EXPECT_EQ(errorOf([&] { KmWriter::compressRLE(distinct.data(), 10, small.data(), small.size()); }),
              "Buffer too small to store compressed data");
    EXPECT_EQ(errorOf([&] { KmWriter::compressRLE(Bytes(10, 1).data(), 10, small.data(), 1); }),
              "Buffer too small to store compressed data");
}

TEST(KmWriterTest, CompressedDeclarationIsRewrittenWithPadding)
{
    auto image = imageOf({4, 1, 1}, dravik::DataTypeId::UINT8, Bytes{7, 7, 7, 7});
    const Written rle = writeToMemory(image, {{"compressor", text("RLE")}});
    const std::string tail = "Lattice { byte Data } @1(HxByteRLE,2)\n\n" + std::string(9, '\n') + "@1\n";
    ASSERT_GE(rle.bytes.size(), tail.size() + 2);
    EXPECT_EQ(rle.text.substr(rle.text.size() - 2 - tail.size(), tail.size()), tail);
    EXPECT_EQ(Bytes(rle.bytes.end() - 2, rle.bytes.end()), (Bytes{4, 7}));

    const Written zip = writeToMemory(image, {{"compressor", text("ZIP")}});
    const size_t declaration = zip.text.find("Lattice { byte Data } @1(HxZip,");
    ASSERT_NE(declaration, std::string::npos);
    const size_t marker = zip.text.find("\n# Data section follows\n@1\n");
    ASSERT_NE(marker, std::string::npos);
    const std::string line = zip.text.substr(declaration, zip.text.find('\n', declaration) - declaration);
    const uint64_t size = std::stoull(line.substr(line.find(',') + 1));
    EXPECT_EQ(marker - declaration, std::string("Lattice { byte Data } @1(HxZip,4294967295)\n\n").size());
    EXPECT_EQ(zip.bytes.size() - (marker + std::string("\n# Data section follows\n@1\n").size()), size);

    EXPECT_EQ(KmWriter::reservedSizeFor({64, 64, 64}, dravik::DataTypeId::FLOAT, KmWriter::RLE_COMPRESSION),
              KmWriter::RESERVED_SIZE);
    EXPECT_EQ(KmWriter::reservedSizeFor({64, 64, 64}, dravik::DataTypeId::FLOAT, KmWriter::ZLIB_COMPRESSION),
              KmWriter::RESERVED_SIZE);
    // Above ten digits the reserved number is the bound of the encoded size.
    const uint64_t slice = 65536ull * 65536ull;
    EXPECT_EQ(KmWriter::reservedSizeFor({65536, 65536, 1}, dravik::DataTypeId::UINT8, KmWriter::RLE_COMPRESSION),
              slice + slice / 127 + 2);
    EXPECT_GT(KmWriter::reservedSizeFor({65536, 65536, 2}, dravik::DataTypeId::UINT8, KmWriter::ZLIB_COMPRESSION),
              2 * slice);
}

TEST(KmWriterTest, ZipSectionsInflateWithZlib)
{
    Bytes noisy(64 * 32 * 8 * 2);
    uint32_t x = 5;
    for (size_t i = 0; i < noisy.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        noisy[i] = static_cast<uint8_t>(i % 2 == 0 ? x >> 27 : i / 512);
    }
    auto memory = imageOf({64, 32, 8}, dravik::DataTypeId::UINT16, noisy);
    // Not in memory: the writer streams it through zlib's deflate.
    auto derived = dravik::ImageViewFactory::extractRegion(memory, dravik::RegionXu64::fullRegion({64, 32, 8}));
    const struct {
        const char* what;
        std::shared_ptr<dravik::ImageView> image;
        int64_t level;
    } cases[] = {
        {"memory, level 1", memory, 1},
        {"memory, level 6", memory, 6},
        {"memory, level 9", memory, 9},
        {"streamed, level 1", derived, 1},
        {"one element", imageOf({1, 1, 1}, dravik::DataTypeId::UINT8, Bytes{42}), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Written w = writeToMemory(c.image, {{"compressor", text("ZIP")}, {"zipLevel", VariantDataValueFactory::create(c.level)}});
        KmExtractor km(streamOf(w.bytes), "KM");
        ASSERT_EQ(km.compression().mode, KmParser::DataCompression::COMPRESSION_HX_ZIP);
        ASSERT_EQ(km.dataOffset() + km.compression().size, w.bytes.size());
        const Bytes expected = readAll(*c.image);
        Bytes inflated(expected.size() + 1);
        uLongf length = inflated.size();
        ASSERT_EQ(uncompress(inflated.data(), &length, w.bytes.data() + km.dataOffset(), km.compression().size), Z_OK);
        inflated.resize(length);
        EXPECT_EQ(inflated, expected);
    }
    // The declaration reserved before compressing has room for the largest stream of a section.
    for (const dravik::VectorXu64& shape : {dravik::VectorXu64{1, 1, 1}, {64, 64, 64}, {1024, 1024, 1024}, {65536, 58000, 1}}) {
        const uint64_t bytes = shape[0] * shape[1] * shape[2];
        EXPECT_GE(KmWriter::reservedSizeFor(shape, dravik::DataTypeId::UINT8, KmWriter::ZLIB_COMPRESSION),
                  libdeflate_zlib_compress_bound(nullptr, bytes))
            << bytes;
    }
}

TEST(KmWriterTest, SmallIncompressibleImagesAndStreamedSourcesCompress)
{
    Bytes noise(9);
    uint32_t x = 99;
    for (auto& b : noise) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 23);
    }
    auto tiny = imageOf({3, 3, 1}, dravik::DataTypeId::UINT8, noise);
    EXPECT_EQ(readAll(*std::make_shared<KmExtractor>(streamOf(writeToMemory(tiny, {{"compressor", text("ZIP")}}).bytes), "KM")),
              noise);
    // No elements at all still make a valid stream.
    auto empty = dravik::ImageViewFactory::extractRegion(dravik::ImageViewFactory::allocate({0, 2, 2}, dravik::DataTypeId::UINT8),
                                                         dravik::RegionXu64::fullRegion({0, 2, 2}));
    auto emptyBack = std::make_shared<KmExtractor>(streamOf(writeToMemory(empty, {{"compressor", text("ZIP")}}).bytes), "KM");
    EXPECT_EQ(emptyBack->shape(), (dravik::VectorXu64{0, 2, 2}));
    EXPECT_EQ(readAll(*emptyBack), Bytes{});

    const Bytes values = counting(7 * 5 * 3, 4);
    auto derived = dravik::ImageViewFactory::extractRegion(imageOf({7, 5, 3}, dravik::DataTypeId::FLOAT, values),
                                                           dravik::RegionXu64::fullRegion({7, 5, 3}));
    for (const char* method : {"ZIP", "RLE", "RAW"}) {
        SCOPED_TRACE(method);
        const Written w = writeToMemory(derived, {{"compressor", text(method)}, {"zipLevel", VariantDataValueFactory::create(int64_t(9))}});
        EXPECT_EQ(readAll(*std::make_shared<KmExtractor>(streamOf(w.bytes), "KM")), values);
    }
}

TEST(KmWriterTest, MetadataReadsBackUnchanged)
{
    auto metadata = dravik::MetadataNodeFactory::create("root", nullptr);
    auto set = [&](const std::string& path, std::shared_ptr<dravik::VariantDataValue> value) {
        dravik::MetadataNodeHelper::createPath(metadata, path, std::move(value));
    };
    const std::string tricky = "say \"hi\" \\d \\n and\nnew line\r\f end\\";
    set("KM/Note", VariantDataValueFactory::create(tricky));
    set("KM/HistoryLogHead", text("private"));
    set("KM/Values", VariantDataValueFactory::create(std::vector<double>{0.1, 1.0 / 3, 1e-300, 12345678, -2.5e-7}));
    set("KM/Counts", VariantDataValueFactory::create(std::vector<int32_t>{-3, 0, 7}));
    set("KM/Big", VariantDataValueFactory::create(std::vector<uint64_t>{18446744073709551615ull}));
    set("KM/Empty", VariantDataValueFactory::create(std::vector<double>{}));
    set("KM/Group/Inner/Deep", VariantDataValueFactory::create(int64_t(4)));
    set("KM/Image Data", text("key with a space"));
    set("KM/9lives", text("key starting with a digit"));
    set("Other/Thing", text("not written"));
    auto image = calibrated(dravik::ImageViewFactory::allocate({8, 4, 2}, dravik::DataTypeId::INT16),
                            {0, -2.5, 1234567}, {0.123456789, 0.5, 3}, "micron",
                            dravik::ImageInterpretation::UNKNOWN, metadata);
    const Written w = writeToMemory(image);
    EXPECT_EQ(w.text.find("HistoryLogHead"), std::string::npos);
    EXPECT_EQ(w.text.find("not written"), std::string::npos);
    EXPECT_NE(w.text.find("Note \"say \\\"hi\\\" \\\\d \\\\n and\\nnew line\\r\\f end\\\\\""), std::string::npos) << w.text;
    EXPECT_NE(w.text.find("BoundingBox  0 0.987654312 -2.5 -0.5 1234567 1234573\n"), std::string::npos) << w.text;

    auto back = std::make_shared<KmExtractor>(streamOf(w.bytes), "KM");
    const auto& calibration = back->properties()->calibration();
    EXPECT_EQ(calibration.origin(), (dravik::Vector3d{0, -2.5, 1234567}));
    EXPECT_EQ(calibration.spacing(), (dravik::Vector3d{0.123456789, 0.5, 3}));
    EXPECT_EQ(calibration.unit(), "micron");
    auto km = back->metadata()->child("KM");
    ASSERT_NE(km, nullptr);
    std::vector<std::string> names;
    for (const auto& child : km->children()) {
        names.push_back(child->name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Note", "Values", "Counts", "Big", "Empty", "Group", "Image_Data",
                                               "_9lives", "Units", "BoundingBox"}));
    EXPECT_EQ(km->child("Note")->value()->strings().front(), tricky);
    EXPECT_EQ(dravik::VariantDataValueConverter::toDoubleArray(*km->child("Values")->value()),
              (std::vector<double>{0.1, 1.0 / 3, 1e-300, 12345678, -2.5e-7}));
    EXPECT_EQ(dravik::VariantDataValueConverter::toDoubleArray(*km->child("Counts")->value()),
              (std::vector<double>{-3, 0, 7}));
    EXPECT_EQ(dravik::VariantDataValueConverter::toDoubleArray(*km->child("Big")->value()),
              (std::vector<double>{18446744073709551615.0}));
    EXPECT_FALSE(km->child("Empty")->hasValue());
    EXPECT_NE(dravik::MetadataNodeHelper::getNode(km, "Group/Inner/Deep"), nullptr);
}

TEST(KmWriterTest, TextEscapes)
{
    EXPECT_EQ(KmWriter::escapeText("plain text"), "plain text");
    EXPECT_EQ(KmWriter::escapeText("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(KmWriter::escapeText("x\ny\rz\f\t"), "x\\ny\\rz\\f\t");
    EXPECT_EQ(KmWriter::escapeText(std::string("zero\0byte", 9)), "zerobyte") << "the header ends at a zero byte";
}

TEST(KmWriterTest, RealNumberTexts)
{
    const std::pair<double, std::string> cases[] = {
        {8, "8"},         {0.5, "0.5"},         {1e-5, "1e-05"},        {1e6, "1e+06"},
        {-0.25, "-0.25"}, {1234567, "1234567"}, {0.123456789, "0.123456789"}, {3.14159, "3.14159"},
        {1.0 / 3, "0.3333333333333333"}, {NAN, "nan"}, {INFINITY, "inf"}, {-INFINITY, "-inf"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(KmWriter::formatReal(value), expected);
    }
}

TEST(KmWriterTest, DeepMetadataIsRefusedRatherThanWrittenUnreadable)
{
    auto metadata = dravik::MetadataNodeFactory::create("root", nullptr);
    std::string path = "KM";
    for (size_t i = 0; i < 300; ++i) {
        path += "/n";
    }
    dravik::MetadataNodeHelper::createPath(metadata, path);
    auto image = dravik::ImageViewFactory::fromImageView(dravik::ImageViewFactory::allocate({1, 1, 1}, dravik::DataTypeId::UINT8),
                                                         nullptr, metadata);
    auto stream = dravik::StreamAccessFactory::createInMemory();
    KmWriter writer(image, stream, "KM");
    EXPECT_EQ(errorOf([&] { writer.writeInit(); }), "Metadata blocks nested 256 levels deep cannot be written");
    EXPECT_EQ(writer.state(), KmWriter::HEADER);
}

using KmWriterLogTest = common::test::FreshProcessTest;

common::test::Problems checkWriterMessages()
{
    common::test::Problems p;
    KmWriterPlugin().initLogger(dravik::LOG_INFO);
    common::test::StdoutCapture capture;
    {
        auto image = dravik::ImageViewFactory::allocate({2, 2, 2}, dravik::DataTypeId::UINT8);
        KmWriter writer(image, dravik::StreamAccessFactory::createInMemory(), "KM");
        writer.setOption("compressor", VariantDataValueFactory::create("ZIP"));
        writer.writeInit();
        writer.writeData();
    }
    const std::string out = capture.finish();
    p.expect(out.find("Writing data with ZLIB compression") != std::string::npos, "no compression message: " + out);
    p.expect(out.find("Korvel Writer not in DONE state, but will be destroyed") != std::string::npos,
             "no early destruction warning: " + out);
    return p;
}

TEST_F(KmWriterLogTest, ProgressAndEarlyDestructionAreLogged)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkWriterMessages);
}

} // namespace
} // namespace quenza::km::test
