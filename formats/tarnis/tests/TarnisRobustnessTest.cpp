#include "RobustnessSweep.h"
#include "TarnisTestSupport.h"

#include <TarnisExtractor.h>

#include <gtest/gtest.h>

namespace quenza::tarnis::test {
namespace {

using common::test::SweepFixture;

SweepFixture fixture(const std::string& name, const Bytes& bytes)
{
    return {name, bytes.data()};
}

/// One small valid file of each version and layout: blocks, both kinds of overlay, the
/// other byte order, a user header.
std::vector<SweepFixture> fixtures()
{
    V6Fields described;
    described.grid = 1;
    Blocks blocks;
    blocks.header = Bytes().text("\x01Stain:blue\x01" "Calibration:lab").zeros(1);
    blocks.calibration = calibrationBlock(4424);
    blocks.lut = lutBlock(2);

    V6Fields labelled;
    labelled.version = 6000;
    labelled.ox = 3;
    Blocks labels;
    labels.graphics = pattern(24, 9);
    labels.calibration = calibrationBlock(4424);

    V6Fields overlaid = labelled;
    overlaid.version = 6500;
    Blocks planes;
    planes.graphics = Bytes()
                          .i32(1).i32(1).i32(1).i32(1).i32(1).i32(2).i32(2).i32(2).i32(1).i32(1).i32(20).i32(0x900)
                          .add(pattern(8, 4));

    V6Fields colour;
    colour.gc = 2;
    colour.gtype = 0x401;

    V3Fields three;
    three.dimz = 3;
    return {
        fixture("v6-blocks", v6File(described, pattern(12), blocks)),
        fixture("v6-labels", v6File(labelled, pattern(12), labels)),
        fixture("v65-overlay", v6File(overlaid, pattern(12), planes)),
        fixture("v6-colour", v6File(colour, pattern(24))),
        fixture("v4-swapped", v4File(V4Fields(), pattern(12), {}, true)),
        fixture("v3-user-header", v3File(three, "user text", pattern(36))),
    };
}

void exercise(const std::vector<uint8_t>& bytes)
{
    TarnisExtractor images(dravik::StreamAccessFactory::fromBytes(bytes));
    common::test::readEveryFrame(images);
}

TEST(TarnisRobustnessTest, FixturesRead)
{
    const auto all = fixtures();
    const uint64_t frames[] = {1, 2, 2, 1, 1, 1};
    for (size_t i = 0; i < all.size(); ++i) {
        TarnisExtractor images(dravik::StreamAccessFactory::fromBytes(all[i].bytes));
        EXPECT_EQ(images.frameCount(), frames[i]) << all[i].name;
        const auto result = common::test::runExercise(exercise, all[i].bytes);
        EXPECT_EQ(result.outcome, common::test::SweepOutcome::READ) << all[i].name << ": " << result.message;
    }
    common::test::writeSeeds("tarnis_reader", all);
}

TEST(TarnisRobustnessTest, EveryPrefixIsReadOrRefused)
{
    for (const SweepFixture& f : fixtures()) {
        // No descriptor is shorter than 76 bytes.
        common::test::prefixSweep(f, exercise, 76);
    }
}

TEST(TarnisRobustnessTest, SingleByteCorruptionsAreReadOrRefused)
{
    uint32_t seed = 41;
    for (const SweepFixture& f : fixtures()) {
        const auto counts = common::test::corruptionSweep(f, exercise, 300, seed++);
        EXPECT_GT(counts.refused, 0u) << f.name;
    }
}

} // namespace
} // namespace quenza::tarnis::test
