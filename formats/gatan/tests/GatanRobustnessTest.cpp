#include "DmTestFile.h"
#include "RobustnessSweep.h"

#include <GatanExtractor.h>

#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quenza::gatan::test {
namespace {

using common::test::SweepFixture;

Bytes pattern(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i * 13 + seed * 7 + i / 251);
    }
    return b;
}

/// A tag tree of every kind the parser knows, and three images: 2-D signed 16-bit with
/// calibrations, 3-D float, 1-D unsigned 8-bit.
Bytes builtFile(int version)
{
    const std::vector<DmCalibration> calibrations{{1, 2, u"nm"}, {-3, 0.5, u"\u00b5m"}};
    const DmImage planar{{4, 3}, 1, 2, pattern(24, 1), calibrations};
    const DmImage volume{{3, 2, 2}, 2, 6, pattern(48, 2), std::nullopt};
    const DmImage line{{5}, 6, 10, pattern(5, 3), std::nullopt};
    std::vector<DmEntry> list;
    for (const DmImage* image : {&planar, &volume, &line}) {
        list.push_back(dir("", {imageDataDirectory(*image), text("Name", u"frame")}));
    }
    return dmFile(version,
                  {dir("DocumentTags", {scalar("S", 7, 1.0), tag("G", {15, 0, 2, 0, 2, 0, 8}, concat({le(int16_t(3)), {4}})),
                                        tag("GA", {20, 15, 0, 1, 0, 3, 2}, leArray(std::vector<int32_t>{5, 6})),
                                        string18("Str", u"abc"), array("Arr", 5, std::vector<uint32_t>{7, 8})}),
                   dir("ImageList", list)});
}

std::vector<SweepFixture> builtFixtures()
{
    return {{"built-dm3", builtFile(3)}, {"built-dm4", builtFile(4)}};
}

/// Two small real files of each version, when the shared folder holds them.
std::vector<SweepFixture> realFixtures()
{
    const char* shared = std::getenv("QUENZA_SHARED_TESTDATA");
    const std::filesystem::path folder = std::filesystem::path(shared ? shared : QUENZA_SHARED_TESTDATA_DIR) / "dm";
    std::vector<SweepFixture> fixtures;
    for (const char* name : {"2D_test-1.dm3", "2D_test-14.dm4"}) {
        std::ifstream in(folder / name, std::ios::binary);
        if (in) {
            fixtures.push_back({name, Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
        }
    }
    return fixtures;
}

void exercise(const Bytes& bytes)
{
    GatanExtractor images(dravik::StreamAccessFactory::fromBytes(bytes), "DM");
    common::test::readEveryFrame(images);
}

TEST(GatanRobustnessTest, FixturesReadAsBuilt)
{
    for (const SweepFixture& f : builtFixtures()) {
        GatanExtractor images(dravik::StreamAccessFactory::fromBytes(f.bytes), "DM");
        ASSERT_EQ(images.frameCount(), 3u) << f.name;
        EXPECT_EQ(images.frame(0)->shape(), (dravik::VectorXu64{4, 3})) << f.name;
        EXPECT_EQ(images.frame(1)->shape(), (dravik::VectorXu64{3, 2, 2})) << f.name;
        EXPECT_EQ(images.frame(2)->shape(), (dravik::VectorXu64{5})) << f.name;
        Bytes line(5);
        images.frame(2)->readRegion(dravik::RegionXu64::fullRegion(images.frame(2)->shape()), line.data());
        EXPECT_EQ(line, pattern(5, 3)) << f.name;
        exercise(f.bytes);
    }
    common::test::writeSeeds("dm_reader", builtFixtures());
}

TEST(GatanRobustnessTest, EveryPrefixIsRefused)
{
    for (const SweepFixture& f : builtFixtures()) {
        const auto counts = common::test::prefixSweep(f, exercise, f.bytes.size());
        EXPECT_EQ(counts.read, 0u) << f.name;
    }
}

TEST(GatanRobustnessTest, PrefixesOfRealFilesAreRefused)
{
    const auto real = realFixtures();
    if (real.empty()) {
        GTEST_SKIP() << "no shared DM files";
    }
    // Every 97th prefix and the last few: the whole range of each file at a tenth of the cost.
    for (const SweepFixture& f : real) {
        for (size_t length = 0; length < f.bytes.size(); length += length + 8 >= f.bytes.size() ? 1 : 97) {
            const auto result = common::test::runExercise(exercise, Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_EQ(result.outcome, common::test::SweepOutcome::REFUSED) << f.name << " cut to " << length << ": " << result.message;
        }
    }
}

TEST(GatanRobustnessTest, SingleByteCorruptionsAreReadOrRefused)
{
    uint32_t seed = 31;
    auto all = builtFixtures();
    for (SweepFixture& f : realFixtures()) {
        all.push_back(std::move(f));
    }
    for (const SweepFixture& f : all) {
        const auto counts = common::test::corruptionSweep(f, exercise, 300, seed++);
        EXPECT_GT(counts.refused, 0u) << f.name;
    }
}

} // namespace
} // namespace quenza::gatan::test
