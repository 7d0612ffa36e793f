#include <dravik/Region.h>
#include <dravik/Vector.h>
#include <dravik/VectorX.h>

#include <gtest/gtest.h>

namespace {

using dravik::InvalidArgument;
using dravik::Region3u64;
using dravik::RegionXu64;
using dravik::Vector3u64;
using dravik::VectorXu64;

TEST(VectorX, GrowsPastItsInlineCapacityKeepingValues)
{
    VectorXu64 v;
    for (uint64_t i = 0; i < 20; ++i) {
        v.push_back(i * 3);
    }
    VectorXu64 copy = v;
    VectorXu64 moved = std::move(copy);
    ASSERT_EQ(moved.size(), 20u);
    for (uint64_t i = 0; i < 20; ++i) {
        EXPECT_EQ(moved[i], i * 3);
    }
    moved.insert(0, 99);
    moved.erase(5);
    EXPECT_EQ(moved[0], 99u);
    EXPECT_EQ(moved[5], 15u);
    EXPECT_EQ(moved.size(), 20u);
    EXPECT_EQ(v.size(), 20u) << "the source of a copy is untouched";
}

TEST(VectorX, ArithmeticAndComparison)
{
    const VectorXu64 a{4, 3, 2};
    const VectorXu64 b{1, 2, 3};
    EXPECT_EQ(a + b, (VectorXu64{5, 5, 5}));
    EXPECT_EQ(a * 2, (VectorXu64{8, 6, 4}));
    EXPECT_EQ(a % b, (VectorXu64{0, 1, 2}));
    EXPECT_EQ(a.prod(), 24u);
    EXPECT_NE(a, b);
    EXPECT_NE(a, (VectorXu64{4, 3}));
    EXPECT_THROW(a + VectorXu64({1, 2}), InvalidArgument);
    EXPECT_THROW(a.at(3), InvalidArgument);
    EXPECT_EQ(a.toString(), "4, 3, 2");
    EXPECT_EQ(VectorXu64().toString(), "");
}

TEST(Vector, ConvertsToAndFromRunTimeVectors)
{
    const Vector3u64 fixed{7, 8, 9};
    const VectorXu64 dynamic = fixed;
    EXPECT_EQ(dynamic, (VectorXu64{7, 8, 9}));
    EXPECT_EQ(Vector3u64(dynamic), fixed);
    EXPECT_THROW(Vector3u64(VectorXu64{1, 2}), InvalidArgument);
    EXPECT_THROW((Vector3u64{1, 2}), InvalidArgument);
}

TEST(Region, ContainmentAtTheEdges)
{
    const RegionXu64 box({2, 2}, {4, 3}); // x 2..5, y 2..4
    struct Case {
        RegionXu64 inner;
        bool inside;
    };
    const Case cases[] = {
        {RegionXu64({2, 2}, {4, 3}), true},
        {RegionXu64({5, 4}, {1, 1}), true},
        {RegionXu64({6, 2}, {0, 1}), true}, // empty, at the upper edge
        {RegionXu64({5, 4}, {2, 1}), false},
        {RegionXu64({1, 2}, {1, 1}), false},
        {RegionXu64({2, 2, 0}, {1, 1, 1}), false}, // other dimension
        {RegionXu64({3, 3}, {UINT64_MAX, 1}), false}, // size that overflows the corner
    };
    for (const Case& c : cases) {
        EXPECT_EQ(box.contains(c.inner), c.inside) << c.inner.toString();
    }
    EXPECT_TRUE(box.contains(VectorXu64{5, 4}));
    EXPECT_FALSE(box.contains(VectorXu64{6, 4}));
    EXPECT_TRUE(RegionXu64({0, 0}, {4, 3}).isInside(VectorXu64{4, 3}));
    EXPECT_FALSE(RegionXu64({1, 0}, {4, 3}).isInside(VectorXu64{4, 3}));
}

TEST(Region, IntersectionSliceAndText)
{
    const RegionXu64 a({0, 0, 0}, {10, 10, 10});
    const RegionXu64 b({5, 8, 2}, {10, 10, 1});
    EXPECT_EQ(a.intersect(b), RegionXu64({5, 8, 2}, {5, 2, 1}));
    EXPECT_TRUE(a.intersects(b));
    const RegionXu64 apart({20, 0, 0}, {1, 1, 1});
    EXPECT_TRUE(a.intersect(apart).isEmpty());
    EXPECT_FALSE(a.intersects(apart));
    EXPECT_THROW(a.intersect(RegionXu64({0}, {1})), InvalidArgument);

    const RegionXu64 full = RegionXu64::fullRegion(VectorXu64{4, 3, 2});
    EXPECT_EQ(full.elementCount(), 24u);
    EXPECT_EQ(full.extractSliceFromAxis(2, 1), RegionXu64({0, 0, 1}, {4, 3, 1}));
    EXPECT_EQ(b.extractSliceFromAxis(0, 3), RegionXu64({8, 8, 2}, {1, 10, 1}));
    EXPECT_THROW(full.extractSliceFromAxis(2, 2), InvalidArgument);
    EXPECT_THROW(full.extractSliceFromAxis(3, 0), InvalidArgument);
    EXPECT_EQ(full.max(), (VectorXu64{3, 2, 1}));
    EXPECT_EQ(b.toString(), "origin (5, 8, 2) size (10, 10, 1)");
    EXPECT_EQ(RegionXu64().elementCount(), 0u);
    EXPECT_THROW(RegionXu64({0, 0}, {1}), InvalidArgument);
}

TEST(Region, FixedAndRunTimeRegionsAgree)
{
    const Region3u64 fixed(Vector3u64{1, 2, 3}, Vector3u64{4, 5, 6});
    const RegionXu64 dynamic(fixed);
    EXPECT_EQ(dynamic.origin(), (VectorXu64{1, 2, 3}));
    EXPECT_EQ(Region3u64(dynamic), fixed);
    EXPECT_EQ(fixed.elementCount(), 120u);
    EXPECT_EQ(fixed.translated(Vector3u64{1, 1, 1}).origin(), (Vector3u64{2, 3, 4}));
}

} // namespace
