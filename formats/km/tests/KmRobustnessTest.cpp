#include "KmTestSupport.h"
#include "RobustnessSweep.h"

#include <KmExtractor.h>
#include <KmParser.h>
#include <MetadataGrammar.h>

#include <gtest/gtest.h>

namespace quenza::km::test {
namespace {

using common::test::SweepFixture;

const std::string PARAMETERS = "Parameters {\n  Units {\n    Coordinates \"um\"\n  },\n"
                               "  BoundingBox 0 4 0 3 0 2,\n  Content \"5x4x3 ushort, uniform coordinates\",\n"
                               "  Seed 1.5e-3 -2 7\n}";

struct ReaderFixture {
    SweepFixture file;
    /// What the full region holds.
    Bytes values;
    /// Bytes at the end that a read may do without; every shorter prefix must be refused.
    /// Reads decode only up to the last data byte a region needs, so the zlib stream's
    /// end-of-block byte and 4-byte checksum are never read.
    size_t refusedBelow;
};

/// Small valid files: one per encoding and byte order, one with parameters and two
/// sections (the first section is the one read).
std::vector<ReaderFixture> readerFixtures()
{
    const Bytes values = counting(5 * 4 * 3, 2);
    const Bytes labels = counting(5 * 4 * 3, 1);
    const Bytes big = swapped(values, 2);
    const Bytes rle = literalRle(values);
    const Bytes zip = zlibOf(values);
    const std::string little = "BINARY-LITTLE-ENDIAN";
    auto ushort = [](const std::string& compression) { return "Lattice { ushort Data } @1" + compression; };
    std::vector<ReaderFixture> fixtures = {
        {{"raw", fileOf(header(little, "5 4 3", ushort("")), values)}, values, 0},
        {{"raw-big-endian", fileOf(header("BINARY", "5 4 3", ushort("")), big)}, values, 0},
        {{"rle", fileOf(header(little, "5 4 3", ushort("(HxByteRLE," + std::to_string(rle.size()) + ")")), rle)},
         values, 0},
        {{"zip", fileOf(header(little, "5 4 3", ushort("(HxZip," + std::to_string(zip.size()) + ")")), zip)}, values, 5},
        {{"parameters-two-sections",
          concat(fileOf(header(little, "5 4 3", "Lattice { byte Labels } @1\nLattice { ushort Data } @2", PARAMETERS),
                        labels),
                 concat(bytesOf("\n@2\n"), values))},
         labels, values.size() + 4},
    };
    for (ReaderFixture& f : fixtures) {
        f.refusedBelow = f.file.bytes.size() - f.refusedBelow;
    }
    return fixtures;
}

std::vector<SweepFixture> readerFiles()
{
    std::vector<SweepFixture> files;
    for (const ReaderFixture& f : readerFixtures()) {
        files.push_back(f.file);
    }
    return files;
}

void exerciseReader(const Bytes& bytes)
{
    KmExtractor image(streamOf(bytes), "KM");
    common::test::readImageEverywhere(image);
}

/// The header decoders and the grammar on the same bytes, as the reader calls them.
void exerciseParsers(const Bytes& bytes)
{
    const std::string block(bytes.begin(), bytes.end());
    (void)MetadataGrammar().parse(block);
    (void)KmParser::extractMetadata(block);
    std::vector<KmParser::DataSection> sections;
    KmParser::decodeLattices(block, sections);
    (void)KmParser::decodeHead(block);
    (void)KmParser::decodeShape(block);
}

TEST(KmRobustnessTest, FixturesReadAsWritten)
{
    for (const ReaderFixture& f : readerFixtures()) {
        KmExtractor image(streamOf(f.file.bytes), "KM");
        EXPECT_EQ(image.shape(), (dravik::VectorXu64{5, 4, 3})) << f.file.name;
        EXPECT_EQ(readAll(image), f.values) << f.file.name;
    }
    common::test::writeSeeds("km_reader", readerFiles());
    common::test::writeSeeds("km_header", readerFiles());
    common::test::writeSeeds("km_parameters", {{"parameters", bytesOf(PARAMETERS)},
                                               {"nested", bytesOf("Parameters { A { B { C 1, D \"x\\\"y\" } } }")},
                                               {"list", bytesOf("Parameters { Colors 0.1 0.2 0.3, Name \"n\" }")}});
}

TEST(KmRobustnessTest, EveryPrefixIsReadOrRefused)
{
    for (const ReaderFixture& f : readerFixtures()) {
        common::test::prefixSweep(f.file, exerciseReader, f.refusedBelow);
    }
    const SweepFixture parameters{"parameters", bytesOf(PARAMETERS)};
    common::test::prefixSweep(parameters, exerciseParsers, 0);
}

TEST(KmRobustnessTest, SingleByteCorruptionsAreReadOrRefused)
{
    uint32_t seed = 11;
    for (const SweepFixture& f : readerFiles()) {
        const auto counts = common::test::corruptionSweep(f, exerciseReader, 300, seed++);
        EXPECT_GT(counts.refused, 0u) << f.name;
    }
    common::test::corruptionSweep({"parameters", bytesOf(PARAMETERS)}, exerciseParsers, 300, 7);
}

} // namespace
} // namespace quenza::km::test
