// Files that lie: cut anywhere, counts that the bytes cannot back, descriptors too short
// for their kind, hostile nesting, images that point outside their data. Each must fail
// with a clear dravik::Error before anything is allocated from the lie.

#include "DmTestFile.h"
#include "TestSupport.h"

#include <GatanExtractor.h>
#include <GatanFrameExtractor.h>

#include <dravik/Error.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace quenza::gatan::test {
namespace {

using ::testing::MatchesRegex;

class GatanUntrustedFileTest : public ::testing::TestWithParam<int> {
protected:
    int version() const { return GetParam(); }
    /// The largest count of the version's descriptor integers that the tests use.
    int64_t hugeCount() const { return version() == 3 ? 2147483647 : int64_t(1) << 61; }
    std::string treeError(std::vector<DmEntry> entries) const
    {
        return openError(treeFile(version(), std::move(entries)));
    }
    std::string imageError(const DmEntry& imageData) const
    {
        return openError(dmFile(version(), {dir("ImageList", {dir("", {imageData})})}));
    }
};

INSTANTIATE_TEST_SUITE_P(Versions, GatanUntrustedFileTest, ::testing::Values(3, 4), versionName);

const std::string LEFT = "but only [0-9]+ bytes are left in the file";

TEST_P(GatanUntrustedFileTest, EveryCutOfTheFileFails)
{
    const Bytes full = dmFile(
        version(),
        {dir("Tags", {scalar("S", 7, 1.0), tag("G", {15, 0, 2, 0, 2, 0, 8}, concat({le(int16_t(3)), {4}})),
                      tag("GA", {20, 15, 0, 1, 0, 3, 2}, leArray(std::vector<int32_t>{5, 6})),
                      string18("Str", u"abc"), text("Txt", u"de"), array("Arr", 5, std::vector<uint32_t>{7, 8})}),
         dir("ImageList", {dir("", {imageDataDirectory({{2, 3}, 1, 2, Bytes(12, 0x5A), std::vector<DmCalibration>{
                                                                                             {1, 2, u"nm"}}})})})});
    ASSERT_EQ(openBytes(full)->frameCount(), 1u);
    const std::regex expected("Unexpected end of file at offset [0-9]+: [0-9]+ bytes needed, [0-9]+ left"
                              "|.* declares (a descriptor of )?[0-9]+ (entries|elements of [0-9]+ bytes) "
                              + LEFT);
    for (size_t length = 0; length < full.size(); ++length) {
        const std::string message = openError(Bytes(full.begin(), full.begin() + static_cast<ptrdiff_t>(length)));
        EXPECT_TRUE(std::regex_match(message, expected)) << "cut at " << length << ": " << message;
    }
    EXPECT_EQ(openError(Bytes(full.begin(), full.begin() + 2)), "Unexpected end of file at offset 0: 4 bytes needed, 2 left");
    EXPECT_EQ(openError(Bytes(full.begin(), full.begin() + 5)), "Unexpected end of file at offset 4: "
                                                                    + std::to_string(version() == 3 ? 4 : 8)
                                                                    + " bytes needed, 1 left");
}

TEST_P(GatanUntrustedFileTest, CountsAreCheckedAgainstTheBytesLeft)
{
    DmEntry negative = dir("D");
    negative.count = -1;
    EXPECT_EQ(treeError({negative}), "Directory \"D\" has a negative entry count: -1");
    DmEntry tooMany = dir("D");
    tooMany.count = hugeCount();
    EXPECT_THAT(treeError({tooMany}),
                MatchesRegex("Directory \"D\" declares " + std::to_string(hugeCount()) + " entries " + LEFT));

    DmEntry longName = dir("");
    longName.nameLength = 30000;
    EXPECT_THAT(treeError({longName}), MatchesRegex("Unexpected end of file at offset [0-9]+: 30000 bytes needed, [0-9]+ left"));

    for (int64_t length : {0, -1}) {
        DmEntry t = scalar("T", 3, int32_t(1));
        t.infoLength = length;
        EXPECT_EQ(treeError({t}), "Tag \"T\" has an invalid descriptor length " + std::to_string(length));
    }
    DmEntry longInfo = scalar("T", 3, int32_t(1));
    longInfo.infoLength = hugeCount();
    EXPECT_THAT(treeError({longInfo}),
                MatchesRegex("Tag \"T\" declares a descriptor of " + std::to_string(hugeCount()) + " entries " + LEFT));

    const std::string huge = std::to_string(hugeCount());
    struct Case {
        std::vector<int64_t> info;
        std::string message;
    };
    const Case cases[] = {
        {{20, 7, hugeCount()}, "Tag \"T\" declares " + huge + " elements of 8 bytes " + LEFT},
        {{20, 4, hugeCount()}, "Tag \"T\" declares " + huge + " elements of 2 bytes " + LEFT},
        {{18, hugeCount()}, "Tag \"T\" declares " + huge + " elements of 2 bytes " + LEFT},
        {{20, 15, 0, 2, 0, 7, 0, 7, hugeCount()}, "Tag \"T\" declares " + huge + " elements of 16 bytes " + LEFT},
        {{15, 0, -1}, "Tag \"T\" has a negative field count: -1"},
        {{18, -1}, "Tag \"T\" has a negative string length: -1"},
        {{20, 2, -1}, "Tag \"T\" has a negative element count: -1"},
        {{20, 15, 0, -1}, "Tag \"T\" has a negative field count: -1"},
        {{20, 15, 0, 1, 0, 2, -5}, "Tag \"T\" has a negative element count: -5"},
        {{20, 15, 0, 0, 5}, "Tag \"T\" is an array of 5 groups without fields"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.info));
        EXPECT_THAT(treeError({tag("T", c.info, Bytes(64))}), MatchesRegex(c.message));
    }
    // A pixel array is skipped only over bytes that exist.
    EXPECT_THAT(treeError({tag("Data", {20, 7, hugeCount()}, Bytes(64))}),
                MatchesRegex("Tag \"Data\" declares " + huge + " elements of 8 bytes " + LEFT));
    // Arrays of groups without fields hold nothing: without elements, or as pixels, they are harmless.
    auto dm = openBytes(treeFile(version(), {tag("Empty", {20, 15, 0, 0, 0}), tag("Data", {20, 15, 0, 0, hugeCount()})}));
    EXPECT_EQ(dravik::MetadataNodeHelper::getNode(dm->metadata(), "GATAN/Empty")->childCount(), 0u);
    EXPECT_TRUE(dravik::MetadataNodeHelper::exists(dm->metadata(), "GATAN/DataOffset"));
}

TEST_P(GatanUntrustedFileTest, DescriptorsMustHoldWhatTheirKindReads)
{
    const std::pair<std::vector<int64_t>, std::string> cases[] = {
        {{15}, "a group"},
        {{15, 0}, "a group"},
        {{15, 0, 2, 0, 2}, "a group"},
        {{18}, "a string"},
        {{20}, "an array"},
        {{20, 2}, "an array"},
        {{20, 15}, "an array of groups"},
        {{20, 15, 0}, "an array of groups"},
        {{20, 15, 0, 1}, "an array of groups"},
        {{20, 15, 0, 1, 0, 2}, "an array of groups"},
        {{20, 15, 0, 2, 0, 2, 0, 2}, "an array of groups"},
    };
    for (const auto& [info, kind] : cases) {
        SCOPED_TRACE(::testing::PrintToString(info));
        EXPECT_EQ(treeError({tag("T", info, Bytes(64))}),
                  "Tag \"T\" has a descriptor of " + std::to_string(info.size()) + " entries, too short for " + kind);
    }
}

/// Bytes of a file whose root holds `depth` - 1 directories, each inside the one before.
Bytes nestedFile(int version, size_t depth)
{
    DmWriter w(version);
    w.bigEndian(static_cast<uint32_t>(version), 4);
    w.bigEndian(0, w.width());
    w.bigEndian(1, 4);
    for (size_t level = 1; level <= depth; ++level) {
        if (level > 1) {
            w.append({20, 0, 0});
            if (version == 4) {
                w.bigEndian(0, 8);
            }
        }
        w.append({0, 0});
        w.bigEndian(level < depth ? 1 : 0, w.width());
    }
    return w.bytes();
}

TEST_P(GatanUntrustedFileTest, NestingOfDirectoriesIsBounded)
{
    const size_t limit = GatanExtractor::MAX_DIRECTORY_DEPTH;
    // Within the bound the parse reaches the end, where "ImageList" is missing.
    EXPECT_EQ(openError(nestedFile(version(), limit)), "The file has no \"ImageList\" directory");
    const std::string tooDeep = "Tag directories are nested more than " + std::to_string(limit) + " levels deep";
    EXPECT_EQ(openError(nestedFile(version(), limit + 1)), tooDeep);
    EXPECT_EQ(openError(nestedFile(version(), 200000)), tooDeep);
}

TEST_P(GatanUntrustedFileTest, TheTreeCannotOutgrowItsBound)
{
    // One byte a group, two nodes a group: the bytes alone would allow this tree.
    const uint64_t groups = GatanExtractor::MAX_TREE_NODES / 2;
    EXPECT_EQ(treeError({tag("GA", {20, 15, 0, 1, 0, 8, static_cast<int64_t>(groups)}, Bytes(groups, 1))}),
              "The tag tree holds more than " + std::to_string(GatanExtractor::MAX_TREE_NODES) + " entries");
    auto dm = openBytes(treeFile(version(), {tag("GA", {20, 15, 0, 1, 0, 8, 1000}, Bytes(1000, 1))}));
    EXPECT_EQ(dravik::MetadataNodeHelper::getNode(dm->metadata(), "GATAN/GA")->childCount(), 1000u);
}

TEST_P(GatanUntrustedFileTest, MissingImageKeysAreNamed)
{
    EXPECT_EQ(openError(dmFile(version(), {dir("Other")})), "The file has no \"ImageList\" directory");
    const DmEntry good = dir("", {imageDataDirectory({{2}, 6, 8, {1, 2}, std::nullopt})});
    for (const DmEntry& second : {dir("", {text("Name", u"x")}), scalar("", 3, int32_t(1))}) {
        EXPECT_EQ(openError(dmFile(version(), {dir("ImageList", {good, second})})),
                  "ImageList entry 1 has no \"ImageData\"");
    }

    const DmEntry data = tag("Data", {20, 8, 2}, {1, 2});
    const DmEntry type = scalar("DataType", 3, int32_t(6));
    const DmEntry dims = dir("Dimensions", {scalar("", 5, uint32_t(2))});
    EXPECT_EQ(imageError(dir("ImageData", {data, type})), "ImageData has no \"Dimensions\"");
    EXPECT_EQ(imageError(dir("ImageData", {data, dims})), "ImageData has no \"DataType\"");
    EXPECT_EQ(imageError(dir("ImageData", {type, dims})), "ImageData has no \"DataOffset\" (its \"Data\" array is missing)");
    // A group has no value.
    EXPECT_EQ(imageError(dir("ImageData", {tag("DataType", {15, 0, 0}), data, dims})), "ImageData has no \"DataType\"");
    EXPECT_EQ(imageError(dir("ImageData", {data, type, dir("Dimensions")})), "ImageData \"Dimensions\" has no entries");
    EXPECT_EQ(imageError(dir("ImageData", {data, type, dir("Dimensions", {tag("", {15, 0, 0})})})), "ImageData dimension 0 has no value");
    EXPECT_EQ(imageError(dir("ImageData", {data, type, dir("Dimensions", {scalar("", 3, int32_t(1)), scalar("", 3, int32_t(-2))})})),
              "ImageData dimension 1 has the negative size -2");
    const DmEntry bigDims = dir("Dimensions", {scalar("", 5, uint32_t(4294967295u)), scalar("", 5, uint32_t(4294967295u)),
                                               scalar("", 5, uint32_t(4294967295u))});
    EXPECT_EQ(imageError(dir("ImageData", {data, scalar("DataType", 3, int32_t(2)), bigDims})),
              "ImageData dimensions (4294967295, 4294967295, 4294967295) describe more bytes than a file can hold");
}

TEST_P(GatanUntrustedFileTest, ImagesMustLieWithinTheirDataArray)
{
    // 4 x 4 floats need 64 bytes; the array holds 32, and the bytes after it belong to other tags.
    const DmImage shortImage{{4, 4}, 2, 6, Bytes(32, 1), std::nullopt};
    EXPECT_EQ(openError(imageFile(version(), {shortImage})), "The image needs 64 bytes but its \"Data\" array holds 32");
    // A colour image needs four stored bytes a pixel.
    const DmImage rgb{{2, 2}, 23, 8, Bytes(12, 1), std::nullopt};
    EXPECT_EQ(openError(imageFile(version(), {rgb})), "The image needs 16 bytes but its \"Data\" array holds 12");
    // A longer array is read as far as the image goes.
    const DmImage longer{{2}, 2, 6, leArray(std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f}), std::nullopt};
    auto dm = openBytes(imageFile(version(), {longer}));
    float values[2] = {};
    dm->frame(0)->readRegion(dravik::RegionXu64::fullRegion(dm->frame(0)->shape()), values);
    EXPECT_EQ(values[0], 1.5f);
    EXPECT_EQ(values[1], 2.5f);
}

TEST(GatanFrameExtractorTest, PixelsPastTheEndOfTheStreamAreRefused)
{
    auto parent = openBytes(treeFile(3, {}));
    auto handle = std::make_shared<GatanHandle>();
    handle->m_reader = dravik::StreamAccessFactory::fromBytes(Bytes(100, 7));
    handle->m_metadata = dravik::MetadataNodeFactory::create("root");
    auto imageData = [](uint64_t offset) {
        auto node = dravik::MetadataNodeFactory::create("ImageData");
        dravik::MetadataNodeHelper::createPath(node, "Dimensions/item000", dravik::VariantDataValueFactory::create(10));
        dravik::MetadataNodeHelper::createPath(node, "DataType", dravik::VariantDataValueFactory::create(int32_t(2)));
        dravik::MetadataNodeHelper::createPath(node, "DataOffset", dravik::VariantDataValueFactory::create(offset));
        return node;
    };
    common::test::expectError([&] { GatanFrameExtractor(handle, imageData(80), parent.get()); },
                              "The image needs 40 bytes from offset 80, past the end of the file at 100");
    common::test::expectError([&] { GatanFrameExtractor(handle, imageData(uint64_t(1) << 63), parent.get()); },
                              "The image needs 40 bytes from offset 9223372036854775808, past the end of the file at 100");
    GatanFrameExtractor fits(handle, imageData(60), parent.get());
    uint8_t bytes[40] = {};
    fits.readRegion(dravik::RegionXu64::fullRegion(fits.shape()), bytes);
    EXPECT_EQ(bytes[39], 7);
    EXPECT_EQ(fits.dataOffset(), 60u);
}

} // namespace
} // namespace quenza::gatan::test
