// The tag tree that opening a DM3 or DM4 file builds, on files written byte by byte.

#include "DmTestFile.h"
#include "TestSupport.h"

#include <GatanExtractor.h>

#include <dravik/Error.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValue.h>
#include <dravik/VariantDataValueConverter.h>

#include <gtest/gtest.h>

#include <limits>

namespace quenza::gatan::test {
namespace {

using common::test::expectError;
using dravik::DataType;
using dravik::DataTypeId;

std::shared_ptr<const dravik::MetadataNode> nodeAt(const std::shared_ptr<GatanExtractor>& dm, const std::string& path)
{
    auto node = dravik::MetadataNodeHelper::getNode(dm->metadata(), path);
    if (!node) {
        throw std::runtime_error("no node at " + path);
    }
    return node;
}

std::vector<std::string> childNames(const dravik::MetadataNode& node)
{
    std::vector<std::string> names;
    for (const auto& child : node.children()) {
        names.push_back(child->name());
    }
    return names;
}

class GatanParserTest : public ::testing::TestWithParam<int> {
protected:
    int version() const { return GetParam(); }
    std::shared_ptr<GatanExtractor> openTree(std::vector<DmEntry> entries) const
    {
        return openBytes(treeFile(version(), std::move(entries)));
    }
    std::string treeError(std::vector<DmEntry> entries) const
    {
        return openError(treeFile(version(), std::move(entries)));
    }
};

INSTANTIATE_TEST_SUITE_P(Versions, GatanParserTest, ::testing::Values(3, 4), versionName);

TEST_P(GatanParserTest, RootHoldsTheFileDirectoryAsGatan)
{
    auto dm = openTree({scalar("Answer", 3, int32_t(42))});
    const auto root = dm->metadata();
    EXPECT_EQ(root->name(), "root");
    EXPECT_FALSE(root->hasValue());
    EXPECT_EQ(childNames(*root), std::vector<std::string>{"GATAN"});
    EXPECT_EQ(childNames(*nodeAt(dm, "GATAN")), (std::vector<std::string>{"Answer", "ImageList"}));
    EXPECT_EQ(dm->frameCount(), 0u);
    EXPECT_TRUE(dm->support(dravik::MultiImageCapability::READ));
    EXPECT_FALSE(dm->support(dravik::MultiImageCapability::WRITE));
}

TEST_P(GatanParserTest, DirectoriesHoldTheirEntryCountAndNameUnnamedEntriesInOrder)
{
    auto dm = openTree({dir("D", {scalar("", 8, uint8_t(1)), scalar("A", 8, uint8_t(2)), dir(""), scalar("", 8, uint8_t(3))})});
    const auto d = nodeAt(dm, "GATAN/D");
    EXPECT_EQ(childNames(*d), (std::vector<std::string>{"item000", "A", "item001", "item002"}));
    const DataType countType = version() == 3 ? DataTypeId::INT32 : DataTypeId::INT64;
    EXPECT_EQ(d->value()->dataType(), countType);
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt64(d->value()), 4);
    EXPECT_EQ(nodeAt(dm, "GATAN")->value()->dataType(), countType);
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt64(nodeAt(dm, "GATAN/D/item001")->value()), 0);

    // The counter only pads to three digits, so the 1001st unnamed entry is item1000.
    std::vector<DmEntry> many(1001, dir(""));
    many.insert(many.begin() + 500, dir("named"));
    auto big = openTree({dir("Many", many)});
    const auto names = childNames(*nodeAt(big, "GATAN/Many"));
    ASSERT_EQ(names.size(), 1002u);
    EXPECT_EQ(names[0], "item000");
    EXPECT_EQ(names[499], "item499");
    EXPECT_EQ(names[500], "named");
    EXPECT_EQ(names[501], "item500");
    EXPECT_EQ(names[1001], "item1000");
}

TEST_P(GatanParserTest, ScalarsTakeTheTypeOfTheirCode)
{
    struct Case {
        int64_t code;
        Bytes bytes;
        DataType type;
        std::string text;
    };
    const Case cases[] = {
        {2, le(int16_t(-2)), DataTypeId::INT16, "-2"},
        {3, le(int32_t(-70000)), DataTypeId::INT32, "-70000"},
        {4, le(uint16_t(65535)), DataTypeId::UINT16, "65535"},
        {5, le(uint32_t(4000000000u)), DataTypeId::UINT32, "4000000000"},
        {6, le(1.5f), DataTypeId::FLOAT, "1.5"},
        {7, le(-0.25), DataTypeId::DOUBLE, "-0.25"},
        {8, {0xFF}, DataTypeId::UINT8, "255"},
        {9, {0xFF}, DataTypeId::INT8, "-1"},
        // 10 and 12 are unsigned: bytes above 127 and 64-bit values with the top bit set stay positive.
        {10, {0xFF}, DataTypeId::UINT8, "255"},
        {11, Bytes(8, 0xFF), DataTypeId::INT64, "-1"},
        {12, Bytes(8, 0xFF), DataTypeId::UINT64, "18446744073709551615"},
    };
    std::vector<DmEntry> entries;
    for (const Case& c : cases) {
        entries.push_back(tag("code" + std::to_string(c.code), {c.code}, c.bytes));
    }
    auto dm = openTree(entries);
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        const auto node = nodeAt(dm, "GATAN/code" + std::to_string(c.code));
        ASSERT_TRUE(node->hasValue());
        EXPECT_EQ(node->value()->dataType(), c.type);
        EXPECT_EQ(node->value()->size(), 1u);
        EXPECT_EQ(dravik::VariantDataValueConverter::toString(node->value()), c.text);
        EXPECT_EQ(node->childCount(), 0u);
    }
    EXPECT_EQ(nodeAt(dm, "GATAN/code10")->value()->get<uint8_t>(0), 255);
    EXPECT_EQ(nodeAt(dm, "GATAN/code12")->value()->get<uint64_t>(0), std::numeric_limits<uint64_t>::max());
}

TEST_P(GatanParserTest, GroupsBecomeFieldsAndArraysOfGroupsBecomeItems)
{
    // d[1] and the odd entries between field types are not used: fill them with noise.
    const DmEntry group = tag("G", {15, 99, 3, 77, 2, 77, 6, 77, 10}, concat({le(int16_t(-5)), le(2.5f), {200}}));
    const DmEntry groups = tag("GA", {20, 15, 99, 3, 77, 5, 77, 2, 77, 8, 2},
                               concat({le(uint32_t(1)), le(int16_t(-1)), {7}, le(uint32_t(2)), le(int16_t(-2)), {8}}));
    auto dm = openTree({group, groups, tag("Empty", {15, 0, 0})});

    const auto g = nodeAt(dm, "GATAN/G");
    EXPECT_FALSE(g->hasValue());
    EXPECT_EQ(childNames(*g), (std::vector<std::string>{"Field0", "Field1", "Field2"}));
    EXPECT_EQ(g->child("Field0")->value()->get<int16_t>(0), -5);
    EXPECT_EQ(g->child("Field1")->value()->get<float>(0), 2.5f);
    EXPECT_EQ(g->child("Field2")->value()->get<uint8_t>(0), 200);

    const auto ga = nodeAt(dm, "GATAN/GA");
    EXPECT_FALSE(ga->hasValue());
    EXPECT_EQ(childNames(*ga), (std::vector<std::string>{"item000", "item001"}));
    for (uint32_t k = 0; k < 2; ++k) {
        const auto item = ga->child(k);
        EXPECT_FALSE(item->hasValue());
        EXPECT_EQ(childNames(*item), (std::vector<std::string>{"Field0", "Field1", "Field2"}));
        EXPECT_EQ(item->child("Field0")->value()->get<uint32_t>(0), k + 1);
        EXPECT_EQ(item->child("Field1")->value()->get<int16_t>(0), -int16_t(k + 1));
        EXPECT_EQ(item->child("Field2")->value()->get<uint8_t>(0), 7 + k);
    }
    EXPECT_EQ(nodeAt(dm, "GATAN/Empty")->childCount(), 0u);
    EXPECT_FALSE(nodeAt(dm, "GATAN/Empty")->hasValue());
}

TEST_P(GatanParserTest, GroupsHoldOnlyScalarFields)
{
    for (int64_t code : {15, 18, 20, 0, 13}) {
        SCOPED_TRACE(code);
        const std::string message = "Tag type " + std::to_string(code) + " is not convertible";
        EXPECT_EQ(treeError({tag("G", {15, 0, 2, 0, 3, 0, code}, Bytes(16))}), message);
        EXPECT_EQ(treeError({tag("GA", {20, 15, 0, 2, 0, 3, 0, code, 1}, Bytes(16))}), message);
    }
}

TEST_P(GatanParserTest, DataArraysBecomeTheirOffsetAndAreSkipped)
{
    Bytes pixels(200);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i);
    }
    const Bytes complex = concat({le(1.0f), le(2.0f), le(3.0f), le(4.0f)});
    auto bytes = treeFile(version(), {tag("Data", {20, 2, 100}, pixels), scalar("After", 3, int32_t(-9)),
                                      dir("Cplx", {tag("Data", {20, 15, 0, 2, 0, 6, 0, 6, 2}, complex)}),
                                      dir("Text", {text("Data", u"ab")})});
    const size_t pixelsAt = find(bytes, pixels);
    const size_t complexAt = find(bytes, complex);
    const size_t textAt = find(bytes, utf16(u"ab"));
    auto dm = openBytes(bytes);

    const auto offset = nodeAt(dm, "GATAN/DataOffset");
    EXPECT_EQ(offset->value()->dataType(), DataType(DataTypeId::UINT64));
    // Just after the descriptor: delimiter, length and three entries of the version's width.
    const size_t width = version() == 3 ? 4 : 8;
    EXPECT_EQ(offset->value()->get<uint64_t>(0), pixelsAt);
    EXPECT_EQ(pixelsAt, find(bytes, {'%', '%', '%', '%'}) + 4 + 4 * width);
    EXPECT_FALSE(dm->metadata()->child("GATAN")->hasChild("Data"));
    // The next entry was read 200 bytes further on.
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt64(nodeAt(dm, "GATAN/After")->value()), -9);
    EXPECT_EQ(nodeAt(dm, "GATAN/Cplx/DataOffset")->value()->get<uint64_t>(0), complexAt);
    EXPECT_EQ(nodeAt(dm, "GATAN/Text/DataOffset")->value()->get<uint64_t>(0), textAt);
    EXPECT_EQ(nodeAt(dm, "GATAN/Cplx")->childCount(), 1u);
}

TEST_P(GatanParserTest, ArraysOfSixteenBitUnitsBecomeText)
{
    auto dm = openTree({text("Units", u"\u00b5m"), text("Empty", u""), array("Ints", 3, std::vector<int32_t>{1, -2, 3}),
                        array("Bytes", 10, std::vector<uint8_t>{0, 128, 255}),
                        array("Shorts", 2, std::vector<int16_t>{-1, 1})});
    const auto units = nodeAt(dm, "GATAN/Units")->value();
    ASSERT_TRUE(units->isString());
    EXPECT_EQ(units->strings(), std::vector<std::string>{"\xC2\xB5m"});
    EXPECT_EQ(dravik::VariantDataValueConverter::toString(nodeAt(dm, "GATAN/Empty")->value()), "");

    const auto ints = nodeAt(dm, "GATAN/Ints")->value();
    EXPECT_EQ(ints->dataType(), DataType(DataTypeId::INT32));
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt32Array(*ints), (std::vector<int32_t>{1, -2, 3}));
    const auto bytes = nodeAt(dm, "GATAN/Bytes")->value();
    EXPECT_EQ(bytes->dataType(), DataType(DataTypeId::UINT8));
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt32Array(*bytes), (std::vector<int32_t>{0, 128, 255}));
    EXPECT_EQ(nodeAt(dm, "GATAN/Shorts")->value()->get<int16_t>(0), -1);
}

TEST_P(GatanParserTest, StringTagsAreConvertedFromUtf16)
{
    std::u16string broken = u"A";
    broken.push_back(char16_t(0xD800)); // a high surrogate with no low one after it
    broken += u"B";
    broken.push_back(char16_t(0xDC00)); // a low surrogate on its own
    broken += u"C";
    auto dm = openTree({string18("Text", u"Ab \u00b5 \U0001F600"), string18("Empty", u""), string18("Broken", broken),
                        text("BrokenArray", broken)});
    EXPECT_EQ(nodeAt(dm, "GATAN/Text")->value()->strings(), std::vector<std::string>{"Ab \xC2\xB5 \xF0\x9F\x98\x80"});
    const auto empty = nodeAt(dm, "GATAN/Empty")->value();
    ASSERT_TRUE(empty->isString());
    EXPECT_EQ(empty->strings(), std::vector<std::string>{""});
    // Invalid sequences are dropped and nothing around them.
    EXPECT_EQ(nodeAt(dm, "GATAN/Broken")->value()->strings(), std::vector<std::string>{"ABC"});
    EXPECT_EQ(nodeAt(dm, "GATAN/BrokenArray")->value()->strings(), std::vector<std::string>{"ABC"});
}

TEST_P(GatanParserTest, TagNamesAreKeptAsStoredBytes)
{
    // A Latin-1 micro sign: not UTF-8, kept as it is.
    auto dm = openTree({scalar("Emission Current (\xB5" "A)", 6, 1.0f)});
    EXPECT_EQ(childNames(*nodeAt(dm, "GATAN"))[0], "Emission Current (\xB5" "A)");
}

TEST_P(GatanParserTest, HeaderAndEntryFaultsCarryTheirMessages)
{
    auto wrongVersion = treeFile(version(), {});
    wrongVersion[3] = 5;
    EXPECT_EQ(openError(wrongVersion), "Unsupported version 5");
    EXPECT_EQ(openError(dmFile(version(), {dir("ImageList")}, 0)), "Unsupported endianess conversion");
    EXPECT_EQ(openError(dmFile(version(), {dir("ImageList")}, 0x01000000)), "Unsupported endianess conversion");

    DmEntry badSeparator = scalar("S", 3, int32_t(1));
    badSeparator.separator = "%%%#";
    EXPECT_EQ(treeError({badSeparator}), "Invalid tag separator");

    for (const auto& [kind, shown] : std::vector<std::pair<uint8_t, std::string>>{{0x16, "16"}, {0xFF, "-1"}, {0, "0"}}) {
        DmEntry e = dir("K");
        e.kind = kind;
        EXPECT_EQ(treeError({e}), "Invalid tag type " + shown);
    }
    EXPECT_EQ(treeError({tag("S", {0}, Bytes(8))}), "Tag type 0 is not convertible");
    EXPECT_EQ(treeError({tag("S", {-3}, Bytes(8))}), "Tag type -3 is not convertible");
    EXPECT_EQ(treeError({tag("A", {20, 13, 1}, Bytes(8))}), "Tag type 13 is not convertible");
    EXPECT_EQ(treeError({tag("A", {20, 18, 1}, Bytes(8))}), "Tag type 18 is not convertible");
}

TEST_P(GatanParserTest, EntrySizesOfDm4AreNotUsed)
{
    auto bytes = treeFile(version(), {scalar("A", 3, int32_t(5))});
    if (version() == 4) {
        // The entry size follows the kind, the name length and the name "A".
        const size_t at = find(bytes, {21, 0, 1, 'A'}) + 4;
        for (size_t i = 0; i < 8; ++i) {
            bytes[at + i] = 0xEE;
        }
    }
    EXPECT_EQ(dravik::VariantDataValueConverter::toInt64(nodeAt(openBytes(bytes), "GATAN/A")->value()), 5);
}

TEST(GatanExtractorTest, DataAccessesMustBeOpenedAsDm)
{
    const Bytes bytes = treeFile(3, {});
    expectError([&] { GatanExtractor(dravik::StreamAccessFactory::fromBytes(bytes), "dm3"); }, "Unsupported format dm3");
    expectError([&] { GatanExtractor(dravik::StreamAccessFactory::fromBytes(bytes), ""); }, "Unsupported format ");
    EXPECT_NO_THROW(GatanExtractor(dravik::StreamAccessFactory::fromBytes(bytes), "DM"));
    // A random access is read through a stream over it.
    EXPECT_NO_THROW(GatanExtractor(dravik::RandomAccessFactory::fromBytes(bytes), "DM"));
    // A stream that cannot read is refused by the common layer.
    expectError([&] { GatanExtractor(dravik::StreamAccessFactory::openFileWrite(::testing::TempDir() + "dm_out.dm3"), "DM"); },
                "Accessor does not support the required capabilities");
}

TEST(GatanExtractorTest, FramesAreHandedOutByIndex)
{
    const DmImage image{{2}, 6, 10, {1, 2}, std::nullopt};
    auto dm = openBytes(imageFile(3, {image, image}));
    ASSERT_EQ(dm->frameCount(), 2u);
    EXPECT_EQ(dm->frame(0), dm->frame(0));
    EXPECT_NE(dm->frame(0), dm->frame(1));
    try {
        dm->frame(2);
        ADD_FAILURE() << "frame 2 of 2 given";
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Out of bounds, trying to access index 2 when the max value is 1");
    }
    auto none = openBytes(treeFile(4, {}));
    expectError([&] { none->frame(0); }, "Out of bounds, trying to access index 0 when the max value is -1");
}

TEST(GatanExtractorTest, TagTypesConvertByTheTable)
{
    const std::pair<int64_t, DataTypeId> table[] = {
        {2, DataTypeId::INT16}, {3, DataTypeId::INT32}, {4, DataTypeId::UINT16}, {5, DataTypeId::UINT32},
        {6, DataTypeId::FLOAT}, {7, DataTypeId::DOUBLE}, {8, DataTypeId::UINT8},  {9, DataTypeId::INT8},
        {10, DataTypeId::UINT8}, {11, DataTypeId::INT64}, {12, DataTypeId::UINT64},
    };
    for (const auto& [code, id] : table) {
        EXPECT_EQ(GatanExtractor::convertTagDataType(static_cast<int32_t>(code)), DataType(id)) << code;
        EXPECT_EQ(GatanExtractor::convertTagDataType(code), DataType(id)) << code;
    }
    for (int64_t code : {0, 1, 13, 14, 15, 16, 17, 18, 19, 20, 21, -1}) {
        expectError([&] { GatanExtractor::convertTagDataType(code); },
                    "Tag type " + std::to_string(code) + " is not convertible");
        expectError([&] { GatanExtractor::convertTagDataType(static_cast<int32_t>(code)); },
                    "Tag type " + std::to_string(code) + " is not convertible");
    }
    expectError([] { GatanExtractor::convertTagDataType(int64_t(1) << 40); }, "Tag type 1099511627776 is not convertible");
}

TEST(GatanExtractorTest, TagValuesFollowPrimitiveTypeAndBitDepth)
{
    const uint8_t bytes[16] = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0};
    const DataTypeId ids[] = {DataTypeId::UINT8, DataTypeId::UINT16, DataTypeId::UINT32, DataTypeId::UINT64,
                              DataTypeId::INT8,  DataTypeId::INT16,  DataTypeId::INT32,  DataTypeId::INT64,
                              DataTypeId::FLOAT, DataTypeId::DOUBLE};
    for (DataTypeId id : ids) {
        const auto value = GatanExtractor::createTagValue(id, bytes, 2);
        EXPECT_EQ(value->dataType(), DataType(id));
        EXPECT_EQ(value->size(), 2u);
        EXPECT_EQ(std::memcmp(value->data(), bytes, 2 * DataType(id).byteCount()), 0);
    }
    EXPECT_EQ(GatanExtractor::createTagValue(DataTypeId::INT16, bytes, 1)->get<int16_t>(0), -2);
    using dravik::PrimitiveType;
    expectError([&] { GatanExtractor::createTagValue(DataType(PrimitiveType::UNSIGNED_INTEGER, 1, 24), bytes, 1); },
                "Invalid bit depth of 24 for an unsigned integer");
    expectError([&] { GatanExtractor::createTagValue(DataType(PrimitiveType::SIGNED_INTEGER, 1, 24), bytes, 1); },
                "Invalid bit depth of 24 for a signed integer");
    expectError([&] { GatanExtractor::createTagValue(DataType(PrimitiveType::FLOATING_POINT, 1, 16), bytes, 1); },
                "Invalid bit depth of 16 for a floating point");
    expectError([&] { GatanExtractor::createTagValue(DataTypeId::UTF8_STRING, bytes, 1); }, "Invalid primitive type");
    expectError([&] { GatanExtractor::createTagValue(DataType(), bytes, 1); }, "Invalid primitive type");
}

} // namespace
} // namespace quenza::gatan::test
