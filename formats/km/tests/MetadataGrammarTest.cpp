#include <KmMetadata.h>
#include <MetadataGrammar.h>

#include <dravik/VariantDataValue.h>
#include <dravik/VariantDataValueConverter.h>

#include <gtest/gtest.h>

#include <cmath>

namespace quenza::km::test {
namespace {

/// Content="x", Box=[0, 1]{...}: name, value and children of a tree, for comparing.
std::string dump(const dravik::MetadataNode& node)
{
    std::string text = node.name();
    if (node.hasValue()) {
        const auto& value = *node.value();
        text += value.isString() ? "=\"" + value.strings().front() + "\""
                                 : "=[" + dravik::VariantDataValueConverter::toString(value) + "]";
        if (value.isNumeric()) {
            EXPECT_EQ(value.dataType(), dravik::DataType(dravik::DataTypeId::DOUBLE)) << "numbers are doubles";
        }
    }
    if (node.childCount() > 0) {
        text += "{";
        for (size_t i = 0; i < node.childCount(); ++i) {
            text += (i ? "," : "") + dump(*node.child(i));
        }
        text += "}";
    }
    return text;
}

std::string parsed(const std::string& text)
{
    auto root = MetadataGrammar().parse(text);
    return root ? dump(*root) : "(fails)";
}

TEST(MetadataGrammarTest, AcceptedBlocksAndTheirTrees)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Parameters {}", "Parameters"},
        {"  Parameters\n{\n}\n  ", "Parameters"},
        {"Parameters { Content \"x\", BoundingBox 0 1 0 1 0 1 }",
         "Parameters{Content=\"x\",BoundingBox=[0, 1, 0, 1, 0, 1]}"},
        {"Parameters { N 5 }", "Parameters{N=[5]}"},
        {"Parameters { Units { Coordinates \"mm\" } CoordType \"uniform\" }",
         "Parameters{Units{Coordinates=\"mm\"},CoordType=\"uniform\"}"},
        {"Parameters { a 1 b 2 }", "Parameters{a=[1],b=[2]}"},
        {"Parameters { a 1, b 2, c { d 3 }, e \"f\" }", "Parameters{a=[1],b=[2],c{d=[3]},e=\"f\"}"},
        {"Parameters { a -1e3 +2.5E-1 .5 5. }", "Parameters{a=[-1000, 0.25, 0.5, 5]}"},
        {"Parameters { a 1\n 2\n\t3 }", "Parameters{a=[1, 2, 3]}"},
        {"Parameters { a{b{c{}}} }", "Parameters{a{b{c}}}"},
        {"Parameters { x.y-z\\w:1 7 _u 8 &v 9 }", "Parameters{x.y-z\\w:1=[7],_u=[8],&v=[9]}"},
        {"Parameters { a 1 2e }", "(fails)"},
        {"Parameters { a 1e, b 2 }", "(fails)"},
        {"Parameters { a 3 infoKey 2 }", "Parameters{a=[3, inf],oKey=[2]}"},
        {"Parameters { t \"line one\nline two\" }", "Parameters{t=\"line one\nline two\"}"},
    };
    for (const auto& [text, tree] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parsed(text), tree);
    }
}

TEST(MetadataGrammarTest, RejectedBlocks)
{
    const std::string cases[] = {
        "Parameters { a 1, }",       // comma before the closing brace
        "Parameters { a word }",     // unquoted word as value
        "Parameters { a }",          // key without value
        "Parameters { a \"open }",   // unterminated string
        "Parameters { a { b 1 }",    // unbalanced brace
        "Parameters { a 1 } tail",   // text after the block
        "Parameters { a{}, b 1 c 2 }", // after a comma-separated block the entries need commas
        "Parameters { 1a 2 }",       // key starting with a digit
        "Parameters { a . }",        // a dot alone is no number
        "Parameters",
        "",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parsed(text), "(fails)");
    }
    EXPECT_EQ(KmMetadata::extract("Parameters { a 1, }"), nullptr);
}

TEST(MetadataGrammarTest, EscapesAndSpecialNumbers)
{
    auto root = MetadataGrammar().parse(
        "Parameters { s \"q\\\"d\\d\\\\e\\n\\t\\a\\b\\f\\r\\v\\'\" n nan -inf Infinity nan(x1) 1e400 4.9e-324 }");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->child("s")->value()->strings().front(), std::string("q\"d\\d\\e\n\t\a\b\f\r\v'"));
    const auto numbers = dravik::VariantDataValueConverter::toDoubleArray(*root->child("n")->value());
    ASSERT_EQ(numbers.size(), 6u);
    EXPECT_TRUE(std::isnan(numbers[0]));
    EXPECT_EQ(numbers[1], -INFINITY);
    EXPECT_EQ(numbers[2], INFINITY);
    EXPECT_TRUE(std::isnan(numbers[3]));
    EXPECT_EQ(numbers[4], INFINITY);
    EXPECT_EQ(numbers[5], 4.9e-324);
    // Numbers are read exactly, whatever their length.
    EXPECT_EQ(MetadataGrammar::toDouble("0.1"), 0.1);
    EXPECT_EQ(MetadataGrammar::toDouble("0.123456789012345678"), 0.123456789012345678);
}

TEST(MetadataGrammarTest, NestingIsBoundedAndLongListsDoNotRecurse)
{
    auto nested = [](size_t depth) {
        std::string text = "Parameters ";
        for (size_t i = 1; i < depth; ++i) {
            text += "{ a ";
        }
        text += "{ b 1 }";
        for (size_t i = 1; i < depth; ++i) {
            text += " }";
        }
        return text;
    };
    EXPECT_NE(MetadataGrammar().parse(nested(MetadataGrammar::MAX_DEPTH)), nullptr);
    EXPECT_EQ(MetadataGrammar().parse(nested(MetadataGrammar::MAX_DEPTH + 1)), nullptr);
    EXPECT_EQ(MetadataGrammar().parse(nested(100000)), nullptr);

    std::string list = "Parameters { k0 0";
    for (int i = 1; i < 200000; ++i) {
        list += ", k" + std::to_string(i) + " " + std::to_string(i);
    }
    list += " }";
    auto root = MetadataGrammar().parse(list);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->childCount(), 200000u);
    EXPECT_EQ(root->child(size_t(199999))->name(), "k199999");
}

TEST(MetadataGrammarTest, Builders)
{
    auto a = MetadataGrammar::builderNodeString("a", "x");
    auto b = MetadataGrammar::builderNodeValue<double>("b", {1.5});
    auto c = MetadataGrammar::builderNodeValue<double>("c", {});
    EXPECT_EQ(dump(*a), "a=\"x\"");
    EXPECT_EQ(dump(*b), "b=[1.5]");
    EXPECT_FALSE(c->hasValue());
    const auto list = MetadataGrammar::buildAssembleData(a, MetadataGrammar::ListNode{b, c});
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(MetadataGrammar::buildAssembleData(a, std::nullopt).size(), 1u);
    auto node = MetadataGrammar::builderNodeList("p", {a, MetadataGrammar::ListNode{b}}, {c});
    EXPECT_EQ(dump(*node), "p{a=\"x\",b=[1.5],c}");
    EXPECT_EQ(dump(*MetadataGrammar::builderNode("q", a)), "q{a=\"x\"}");
    EXPECT_EQ(dump(*MetadataGrammar::builderNodeEmpty("r")), "r");
}

} // namespace
} // namespace quenza::km::test
