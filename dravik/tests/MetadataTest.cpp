#include <dravik/Error.h>
#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dravik;

namespace {

std::vector<std::string> childNames(const MetadataNode& node)
{
    std::vector<std::string> names;
    for (const auto& c : node.children()) {
        names.push_back(c->name());
    }
    return names;
}

std::string textOf(const std::shared_ptr<MetadataNode>& node)
{
    return node && node->hasValue() ? VariantDataValueConverter::toString(node->value()) : "<none>";
}

} // namespace

TEST(MetadataNodeTest, ChildrenKeepInsertionOrderAndFirstOfEqualNamesWins)
{
    auto root = MetadataNodeFactory::create("root");
    auto firstB = MetadataNodeFactory::create("B", VariantDataValueFactory::create("first"));
    auto secondB = MetadataNodeFactory::create("B", VariantDataValueFactory::create("second"));
    root->addChild(MetadataNodeFactory::create("C"));
    root->addChild(firstB);
    root->addChild(MetadataNodeFactory::create("A"));
    root->addChild(secondB);

    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"C", "B", "A", "B"}));
    EXPECT_EQ(root->child("B"), firstB);
    EXPECT_EQ(std::shared_ptr<const MetadataNode>(root)->child("B"), firstB);
    EXPECT_EQ(root->child(size_t{3}), secondB);
    EXPECT_EQ(root->child("missing"), nullptr);
    EXPECT_TRUE(root->hasChild("A"));
    EXPECT_FALSE(root->hasChild("a"));
    EXPECT_THROW(root->child(size_t{4}), InvalidArgument);
    EXPECT_THROW(std::shared_ptr<const MetadataNode>(root)->child(size_t{4}), InvalidArgument);

    EXPECT_THROW(root->addChild(nullptr), InvalidArgument);
    EXPECT_THROW(root->addChild(root), InvalidArgument);
    EXPECT_EQ(root->childCount(), 4u);
}

TEST(MetadataNodeTest, RemoveChildByNameTakesTheFirstMatchAndByNodeGoesByIdentity)
{
    auto root = MetadataNodeFactory::create("root");
    auto firstB = MetadataNodeFactory::create("B");
    auto secondB = MetadataNodeFactory::create("B");
    auto lookalike = MetadataNodeFactory::create("A");
    root->addChild(MetadataNodeFactory::create("A"));
    root->addChild(firstB);
    root->addChild(secondB);

    EXPECT_TRUE(root->removeChild("B"));
    EXPECT_EQ(root->child("B"), secondB);
    EXPECT_FALSE(root->removeChild("missing"));
    EXPECT_FALSE(root->removeChild(lookalike)) << "an equal-named node that is not a child";
    EXPECT_FALSE(root->removeChild(std::shared_ptr<MetadataNode>()));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(root->removeChild(secondB));
    EXPECT_FALSE(root->removeChild(secondB));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"A"}));
}

TEST(MetadataNodeTest, CloneIsDeepAndIndependent)
{
    auto root = MetadataNodeFactory::create("root", VariantDataValueFactory::create(int32_t{7}));
    auto leaf = MetadataNodeHelper::createPath(root, "a/b/c", VariantDataValueFactory::create("leaf"));
    MetadataNodeHelper::createPath(root, "a/d");
    MetadataNodeHelper::createPath(root, "e");

    auto copy = root->clone();
    ASSERT_NE(copy, root);
    EXPECT_EQ(copy->name(), "root");
    EXPECT_EQ(childNames(*copy), (std::vector<std::string>{"a", "e"}));
    EXPECT_EQ(childNames(*copy->child("a")), (std::vector<std::string>{"b", "d"}));
    auto copiedLeaf = MetadataNodeHelper::getNode(copy, "a/b/c");
    ASSERT_NE(copiedLeaf, nullptr);
    EXPECT_NE(copiedLeaf, leaf);
    EXPECT_EQ(copiedLeaf->value(), leaf->value()) << "immutable values are shared";
    EXPECT_NE(copy->child("a"), root->child("a"));

    MetadataNodeHelper::createPath(copy, "a/b/new");
    copy->child("a")->setName("renamed");
    copiedLeaf->setValue(VariantDataValueFactory::create("changed"));
    EXPECT_TRUE(MetadataNodeHelper::exists(root, "a/b/c"));
    EXPECT_FALSE(MetadataNodeHelper::exists(root, "a/b/new"));
    EXPECT_EQ(textOf(leaf), "leaf");
    EXPECT_TRUE(MetadataNodeHelper::exists(copy, "renamed/b/new"));
}

TEST(MetadataNodeTest, VeryDeepTreeIsClonedAndDestroyedWithoutRecursion)
{
    constexpr size_t depth = 200000;
    auto root = MetadataNodeFactory::create("level");
    auto node = root;
    for (size_t i = 1; i < depth; ++i) {
        auto next = MetadataNodeFactory::create("level");
        node->addChild(next);
        node = next;
    }
    node->setValue(VariantDataValueFactory::create("bottom"));
    std::weak_ptr<MetadataNode> bottom = node;
    node.reset();

    auto copy = root->clone();
    size_t levels = 1;
    std::shared_ptr<const MetadataNode> walk = copy;
    while (walk->childCount() > 0) {
        walk = walk->child(size_t{0});
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(VariantDataValueConverter::toString(*walk->value()), "bottom");
    EXPECT_NE(walk, bottom.lock());
    walk.reset();

    copy.reset();
    EXPECT_FALSE(bottom.expired()) << "destroying the copy must leave the original alone";
    root.reset();
    EXPECT_TRUE(bottom.expired());
}

TEST(MetadataNodeTest, DestroyingAParentKeepsSubtreesOwnedElsewhere)
{
    auto kept = MetadataNodeFactory::create("kept");
    MetadataNodeHelper::createPath(kept, "x/y");
    {
        auto parent = MetadataNodeFactory::create("parent");
        parent->addChild(kept);
    }
    EXPECT_TRUE(MetadataNodeHelper::exists(kept, "x/y"));
}

TEST(MetadataNodeHelperTest, PathsIgnoreLeadingAndEmptySegments)
{
    auto root = MetadataNodeFactory::create("root");
    auto coordinates =
        MetadataNodeHelper::createPath(root, "KM/Units/Coordinates", VariantDataValueFactory::create("nm"));
    MetadataNodeHelper::createPath(root, "KM/Units/Coordinates2");

    struct Case {
        const char* path;
        std::shared_ptr<MetadataNode> expected;
    };
    const Case cases[] = {
        {"KM/Units/Coordinates", coordinates},
        {"/KM/Units/Coordinates", coordinates},
        {"KM//Units///Coordinates/", coordinates},
        {"", root},
        {"/", root},
        {"KM/BoundingBox", nullptr},
        {"/KM/Units/Coordinates/deeper", nullptr},
        {"Units/Coordinates", nullptr},
        {"KM/Units/Coord", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(MetadataNodeHelper::getNode(root, c.path), c.expected);
        EXPECT_EQ(MetadataNodeHelper::getNode(std::shared_ptr<const MetadataNode>(root), c.path), c.expected);
        EXPECT_EQ(MetadataNodeHelper::exists(root, c.path), c.expected != nullptr);
    }
    EXPECT_EQ(MetadataNodeHelper::getNode(std::shared_ptr<MetadataNode>(), "KM"), nullptr);
    EXPECT_EQ(MetadataNodeHelper::getNode(std::shared_ptr<MetadataNode>(), ""), nullptr);
    EXPECT_FALSE(MetadataNodeHelper::exists(nullptr, ""));
}

TEST(MetadataNodeHelperTest, CreatePathCreatesMissingNodesAndReplacesTheLastValue)
{
    auto root = MetadataNodeFactory::create("root");
    auto km = MetadataNodeHelper::createPath(root, "KM");
    EXPECT_EQ(km, root->child("KM"));
    EXPECT_FALSE(km->hasValue());
    EXPECT_EQ(MetadataNodeHelper::getNode(root, "/KM/BoundingBox"), nullptr);

    auto coordinates =
        MetadataNodeHelper::createPath(root, "/KM/Units/Coordinates", VariantDataValueFactory::create("nm"));
    EXPECT_EQ(textOf(coordinates), "nm");
    EXPECT_FALSE(MetadataNodeHelper::getNode(root, "KM/Units")->hasValue()) << "intermediate nodes get no value";
    EXPECT_EQ(root->childCount(), 1u) << "the existing KM node is reused";
    EXPECT_EQ(km->childCount(), 1u);

    EXPECT_EQ(MetadataNodeHelper::createPath(root, "KM/Units/Coordinates", VariantDataValueFactory::create("um")),
              coordinates);
    EXPECT_EQ(textOf(coordinates), "um");
    EXPECT_EQ(MetadataNodeHelper::createPath(root, "KM/Units/Coordinates"), coordinates);
    EXPECT_FALSE(coordinates->hasValue()) << "an empty value replaces the old one too";

    EXPECT_EQ(MetadataNodeHelper::createPath(root, "", VariantDataValueFactory::create("top")), root);
    EXPECT_EQ(textOf(root), "top");

    // Segments select the first of equal names, so a duplicate is never created.
    root->addChild(MetadataNodeFactory::create("KM"));
    EXPECT_EQ(MetadataNodeHelper::createPath(root, "KM/Units/Coordinates"), coordinates);

    EXPECT_THROW(MetadataNodeHelper::createPath(nullptr, "KM"), InvalidArgument);
}
