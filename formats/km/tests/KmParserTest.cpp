#include "KmTestSupport.h"
#include "TestSupport.h"

#include <KmParser.h>
#include <KorvelMeshExtractorPlugin.h>

#include <dravik/VariantDataValueConverter.h>

#include <gtest/gtest.h>

#include <variant>

namespace quenza::km::test {
namespace {

using Encoding = KmParser::DataEncoding;
using Mode = KmParser::DataCompression::CompressionMode;
using Role = KmParser::DataDescription;

TEST(KmParserTest, IdentificationLineGivesTheEncoding)
{
    struct Case {
        std::string text;
        std::variant<Encoding, std::string> expected;
    };
    const Case cases[] = {
        {"# KorvelMesh BINARY-LITTLE-ENDIAN 2.1", Encoding::BINARY_LITTLE_ENDIAN},
        {"# Belmor BINARY 2.1", Encoding::BINARY_BIG_ENDIAN},
        {"# KorvelMesh 3D ASCII 2.0", Encoding::ASCII},
        {"some text\n# KorvelMesh BINARY 2.1\n", Encoding::BINARY_BIG_ENDIAN},
        {"# KorvelMesh BINARY-BIG-ENDIAN 2.1", std::string("Invalid encoding type read from file (BINARY-BIG-ENDIAN)")},
        {"#KorvelMesh BINARY 2.1", std::string("Unrecognized header file")},
        {"x # KorvelMesh BINARY 2.1", std::string("Unrecognized header file")},
        {"", std::string("Unrecognized header file")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (const auto* encoding = std::get_if<Encoding>(&c.expected)) {
            EXPECT_EQ(KmParser::decodeHead(c.text), *encoding);
        } else {
            EXPECT_EQ(errorOf([&] { KmParser::decodeHead(c.text); }), std::get<std::string>(c.expected));
        }
    }
}

TEST(KmParserTest, LatticeLineGivesTheShape)
{
    EXPECT_EQ(KmParser::decodeShape("# head\ndefine Lattice 256 128 100\n"), (dravik::VectorXu64{256, 128, 100}));
    EXPECT_EQ(KmParser::decodeShape("define\tLattice\n1 2 3"), (dravik::VectorXu64{1, 2, 3}));
    for (const std::string text : {"", "define Lattice 10 20", "define  Lattice 1 2 3", " define Lattice 1 2 3",
                                   "define Lattice -1 2 3"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(errorOf([&] { KmParser::decodeShape(text); }), "Only 3D files are handled");
    }
    // Sizes are signed 32-bit numbers: a larger one is a clear error, not a foreign exception.
    EXPECT_EQ(errorOf([] { KmParser::decodeShape("define Lattice 2147483648 1 1"); }),
              "Number out of range in the header (2147483648)");
    EXPECT_EQ(KmParser::decodeShape("define Lattice 2147483647 1 1")[0], 2147483647u);
}

TEST(KmParserTest, DeclarationsGiveTheSections)
{
    struct Case {
        std::string text;
        uint64_t id;
        dravik::DataType type;
        Role role;
        Mode mode;
        uint64_t size;
    };
    const Case cases[] = {
        {"Lattice { byte[3] Data } @1", 1, dravik::DataTypeId::VEC3_UINT8, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { float Labels } @2(HxByteRLE,1234)", 2, dravik::DataTypeId::FLOAT, Role::LABELS,
         Mode::COMPRESSION_HX_BYTE_RLE, 1234},
        {"Lattice { ushort data } @3(HxZip,4096)", 3, dravik::DataTypeId::UINT16, Role::DATA,
         Mode::COMPRESSION_HX_ZIP, 4096},
        {"Lattice { float Data } @12", 1, dravik::DataTypeId::FLOAT, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { byte[10] Data } @1", 1, dravik::DataTypeId::UINT8, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { float[2][3] Data } @1", 1, dravik::DataTypeId::VEC3_FLOAT, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { complex[7] Data } @0", 0, dravik::DataTypeId::COMPLEX_FLOAT, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { sbyte Data } @1", 1, dravik::DataTypeId::INT8, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { short Data } @1", 1, dravik::DataTypeId::INT16, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { int Data } @1", 1, dravik::DataTypeId::INT32, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { uint Data } @1", 1, dravik::DataTypeId::UINT32, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { int64 Data } @1", 1, dravik::DataTypeId::INT64, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { uint64 Data } @1", 1, dravik::DataTypeId::UINT64, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { double Data } @1", 1, dravik::DataTypeId::DOUBLE, Role::DATA, Mode::NO_COMPRESSION, 0},
        {"Lattice { float Data } @1(HxZip,12,13)", 1, dravik::DataTypeId::FLOAT, Role::DATA, Mode::NO_COMPRESSION, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<KmParser::DataSection> sections;
        KmParser::decodeLattices(c.text, sections);
        ASSERT_EQ(sections.size(), 1u);
        EXPECT_EQ(sections[0].id, c.id);
        EXPECT_EQ(sections[0].type, c.type);
        EXPECT_EQ(sections[0].description, c.role);
        EXPECT_EQ(sections[0].compression.mode, c.mode);
        EXPECT_EQ(sections[0].compression.size, c.size);
    }
}

TEST(KmParserTest, UnknownTypesAndRolesAreSkippedAndBadDeclarationsFail)
{
    // A zero component count has no bytes to read: skipped like an unknown type.
    for (const std::string text : {"Lattice { float Normals } @3", "Lattice { half Data } @1",
                                   "Lattice { byte[0] Data } @1", "Lattice{ float Data } @1"}) {
        SCOPED_TRACE(text);
        std::vector<KmParser::DataSection> sections;
        KmParser::decodeLattices(text, sections);
        EXPECT_TRUE(sections.empty());
    }
    std::vector<KmParser::DataSection> sections;
    KmParser::decodeLattices("Lattice { float Normals } @1\nLattice { int Labels } @2\nLattice { byte Data } @3\n",
                             sections);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].id, 2u);
    EXPECT_EQ(sections[1].id, 3u);

    EXPECT_EQ(errorOf([] {
                  std::vector<KmParser::DataSection> s;
                  KmParser::decodeLattices("Lattice { float Data } @1(Gzip,10)", s);
              }),
              "Unrecognized compression mode ((Gzip,10))");
    EXPECT_EQ(errorOf([] { KmParser::decodeDataType(" float "); }), "Invalid Lattice definition ( float )");
    EXPECT_EQ(errorOf([] { KmParser::decodeDataDescription("[]"); }), "Invalid Lattice definition ([])");
    EXPECT_EQ(errorOf([] { KmParser::decodeDataType("[] Data"); }), "Type unrecognized ([])");
    EXPECT_EQ(errorOf([] { KmParser::decodeAddrData("@x"); }), "Data location not found");
    EXPECT_EQ(errorOf([] { KmParser::decodeCompressionMode("(HxZip,99999999999999999999)"); }),
              "Number out of range in the header (99999999999999999999)");
    EXPECT_EQ(KmParser::decodeCompressionMode("").mode, Mode::NO_COMPRESSION);
}

TEST(KmParserTest, ParametersBlockBecomesTheKmNode)
{
    const std::string text = "# KorvelMesh BINARY 2.1\nParameters {\n  Content \"a, b\",\n  BoundingBox 0 1 0 1 0 1\n}\n"
                             "Lattice { float Data } @1\n";
    std::pair<size_t, size_t> span;
    auto km = KmParser::extractMetadata(text, &span);
    ASSERT_NE(km, nullptr);
    EXPECT_EQ(km->name(), "KM");
    EXPECT_FALSE(km->hasValue());
    ASSERT_EQ(km->childCount(), 2u);
    EXPECT_EQ(km->child(size_t(0))->name(), "Content");
    EXPECT_EQ(km->child(size_t(1))->name(), "BoundingBox");
    EXPECT_EQ(text.substr(span.first, span.second).rfind("Parameters {", 0), 0u);
    EXPECT_EQ(text.substr(span.first + span.second - 1, 1), "}");

    EXPECT_EQ(KmParser::extractMetadata("Parameters{ a 1 }\n"), nullptr) << "no white space before the brace";
    EXPECT_EQ(KmParser::extractMetadata("x Parameters { a 1 }\n"), nullptr) << "not at a line start";
    EXPECT_EQ(KmParser::extractMetadata("Parameters { a word }\n"), nullptr) << "the block does not parse";
    EXPECT_EQ(KmParser::extractMetadata("no block at all"), nullptr);
}

using KmParserLogTest = common::test::FreshProcessTest;

common::test::Problems checkParserMessages()
{
    common::test::Problems p;
    KorvelMeshExtractorPlugin().initLogger(dravik::LOG_INFO);
    common::test::StdoutCapture capture;
    std::vector<KmParser::DataSection> sections;
    KmParser::decodeLattices("Lattice { float Normals } @3", sections);
    KmParser::extractMetadata("Parameters { a b }\n");
    const std::string out = capture.finish();
    p.expect(out.find("Data section ignored") != std::string::npos, "no 'Data section ignored' in: " + out);
    p.expect(out.find("Metadata parsing failed") != std::string::npos, "no 'Metadata parsing failed' in: " + out);
    return p;
}

TEST_F(KmParserLogTest, SkippedSectionsAndFailedBlocksAreLogged)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkParserMessages);
}

} // namespace
} // namespace quenza::km::test
