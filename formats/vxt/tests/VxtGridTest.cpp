#include "VxtTestSupport.h"

#include <VxtGrid.h>

#include <gtest/gtest.h>

#include <set>

namespace quenza::vxt::test {
namespace {

TEST(VxtGridTest, TheWorkedExampleNumbersEveryTile)
{
    const VxtGrid grid({300, 200, 100}, dravik::DataTypeId::UINT8, {128, 128, 128});
    EXPECT_EQ(grid.levelCount(), 3u);
    EXPECT_EQ(grid.tileByteSize(), 2097152u);
    EXPECT_EQ(grid.tilesCount(), 9u);
    struct Row {
        uint64_t level;
        Vector3u64 position;
        uint64_t fileId;
        Vector3u64 clipped;
    };
    const Row rows[] = {
        {2, {0, 0, 0}, 0, {75, 50, 25}},    {1, {0, 0, 0}, 1, {128, 100, 50}}, {1, {1, 0, 0}, 2, {22, 100, 50}},
        {0, {0, 0, 0}, 3, {128, 128, 100}}, {0, {1, 0, 0}, 4, {128, 128, 100}}, {0, {0, 1, 0}, 5, {128, 72, 100}},
        {0, {1, 1, 0}, 6, {128, 72, 100}},  {0, {2, 0, 0}, 7, {44, 128, 100}},  {0, {2, 1, 0}, 8, {44, 72, 100}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("level " + std::to_string(r.level) + " position " + r.position.toString());
        ASSERT_TRUE(grid.tileExists(r.level, r.position));
        EXPECT_EQ(grid.fileID(r.position, r.level), r.fileId);
        EXPECT_EQ(grid.offsetTile(r.position, r.level), r.fileId * 2097152u);
        EXPECT_EQ(grid.regionTile(r.position, r.level), Region3u64(r.position * uint64_t(128), r.clipped));
        EXPECT_EQ(grid.fileID(dravik::VectorXu64(r.position), r.level), r.fileId);
    }
    EXPECT_EQ(grid.tilingGrid(2), (Vector3u64{1, 1, 1}));
    EXPECT_EQ(grid.tilingGrid(1), (Vector3u64{2, 1, 1}));
    EXPECT_EQ(grid.tilingGrid(0), (Vector3u64{3, 2, 1}));
    EXPECT_EQ(grid.gridLevel(0).size(), (Vector3u64{300, 200, 100}));
    EXPECT_EQ(grid.gridLevel(1).size(), (Vector3u64{150, 100, 50}));
    EXPECT_EQ(grid.gridLevel(2).size(), (Vector3u64{75, 50, 25}));
    EXPECT_EQ(grid.levelOffset(0), 3u * 2097152u);
    EXPECT_EQ(grid.offsetTile({2, 1, 0}, 0), 16777216u);
    // Morton codes 8 and 10, yet dense indices within the level.
    EXPECT_EQ(VxtGridHelper::tileIdFromGrid({2, 0, 0}), 8u);
    EXPECT_EQ(VxtGridHelper::tileIdFromGrid({2, 1, 0}), 10u);
    EXPECT_EQ(grid.gridLevel(0).fileID({2, 0, 0}), 4u);
    EXPECT_EQ(grid.gridLevel(0).positionFromFileId(5), (Vector3u64{2, 1, 0}));
}

TEST(VxtGridTest, OctalBaseSpreadsTheBits)
{
    const std::pair<uint64_t, uint64_t> cases[] = {{0, 0}, {1, 1}, {2, 8}, {3, 9}, {4, 64}, {7, 73},
                                                   {(1u << 20), uint64_t(1) << 60}};
    for (const auto& [n, expected] : cases) {
        EXPECT_EQ(VxtGridHelper::octalBase(n), expected) << n;
    }
    EXPECT_EQ(VxtGridHelper::tileIdFromGrid({1, 1, 1}), 7u);
    EXPECT_EQ(VxtGridHelper::tileIdFromGrid({0, 0, 2}), 32u);
}

TEST(VxtGridTest, LevelCountFollowsTheLargestExtent)
{
    struct Case {
        uint64_t tiles;
        uint64_t levels;
    };
    const Case cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 4}, {8, 4}, {9, 5}, {16, 5}, {17, 6}, {1024, 11}, {1025, 12}};
    for (const Case& c : cases) {
        for (size_t axis = 0; axis < 3; ++axis) {
            Vector3u64 size{10, 10, 10};
            size[axis] = c.tiles * 10;
            const VxtGrid grid(size, dravik::DataTypeId::UINT16, {10, 10, 10});
            EXPECT_EQ(grid.levelCount(), c.levels) << c.tiles << " tiles on axis " << axis;
            EXPECT_EQ(grid.tilingGrid(grid.levelCount() - 1), (Vector3u64{1, 1, 1}));
        }
    }
}

TEST(VxtGridTest, AVolumeInOneTileHasOneTile)
{
    const VxtGrid grid({5, 6, 7}, dravik::DataTypeId::FLOAT, {8, 8, 8});
    EXPECT_EQ(grid.levelCount(), 1u);
    EXPECT_EQ(grid.tilesCount(), 1u);
    EXPECT_EQ(grid.fileID(Vector3u64{0, 0, 0}, 0), 0u);
    EXPECT_EQ(grid.regionTile({0, 0, 0}, 0), Region3u64({0, 0, 0}, {5, 6, 7}));
    EXPECT_EQ(grid.tileByteSize(), 8u * 8 * 8 * 4);
}

TEST(VxtGridTest, FileIdsStayDenseOnEveryLattice)
{
    const Size3 sizes[] = {{300, 200, 100}, {70, 50, 33}, {9, 9, 9}, {17, 1, 5}, {64, 64, 64}};
    for (const Size3& s : sizes) {
        const Vector3u64 tile{8, 8, 8};
        const VxtGrid grid({s[0], s[1], s[2]}, dravik::DataTypeId::UINT8, tile);
        const auto expected = tilesInFileOrder(s, {8, 8, 8});
        ASSERT_EQ(grid.tilesCount(), expected.size());
        std::set<uint64_t> ids;
        for (const TileRef& r : expected) {
            const Vector3u64 p{r.position[0], r.position[1], r.position[2]};
            EXPECT_EQ(grid.fileID(p, r.level), r.fileId);
            ids.insert(grid.fileID(p, r.level));
            // Every slot is a full tile, border tiles included.
            EXPECT_EQ(grid.offsetTile(p, r.level), r.fileId * 512);
            const GridLevel& level = grid.gridLevel(r.level);
            EXPECT_EQ(level.positionFromFileId(r.fileId - grid.firstFileId(r.level)), p);
        }
        EXPECT_EQ(ids.size(), expected.size());
        EXPECT_EQ(*ids.rbegin(), expected.size() - 1);
    }
}

TEST(VxtGridTest, BorderTilesAreClipped)
{
    const VxtGrid grid({21, 10, 3}, dravik::DataTypeId::UINT8, {8, 8, 8});
    EXPECT_EQ(grid.regionTile({2, 1, 0}, 0), Region3u64({16, 8, 0}, {5, 2, 3}));
    EXPECT_EQ(grid.regionTile({1, 0, 0}, 1), Region3u64({8, 0, 0}, {3, 5, 2}));
    EXPECT_EQ(grid.regionTile({0, 0, 0}, 2), Region3u64({0, 0, 0}, {6, 3, 1}));
}

TEST(VxtGridTest, TileExistsOnlyInsideTheTilingGrid)
{
    const VxtGrid grid({300, 200, 100}, dravik::DataTypeId::UINT8, {128, 128, 128});
    EXPECT_TRUE(grid.tileExists(0, {2, 1, 0}));
    const Vector3u64 outside[] = {{3, 0, 0}, {0, 2, 0}, {0, 0, 1}, {5, 5, 5}};
    for (const Vector3u64& p : outside) {
        EXPECT_FALSE(grid.tileExists(0, p)) << p.toString();
    }
    EXPECT_FALSE(grid.tileExists(1, {0, 1, 0}));
    EXPECT_FALSE(grid.tileExists(2, {1, 0, 0}));
    EXPECT_FALSE(grid.tileExists(3, {0, 0, 0}));
}

TEST(VxtGridTest, ConvertRegionRoundsOriginAndSizeUp)
{
    const Region3u64 r({5, 4, 0}, {5, 6, 1});
    EXPECT_EQ(VxtGrid::convertRegion(2, r, 2), r);
    EXPECT_EQ(VxtGrid::convertRegion(0, r, 1), Region3u64({3, 2, 0}, {3, 3, 1}));
    EXPECT_EQ(VxtGrid::convertRegion(0, r, 2), Region3u64({2, 1, 0}, {2, 2, 1}));
    EXPECT_EQ(VxtGrid::convertRegion(1, Region3u64({3, 2, 0}, {3, 3, 1}), 0), Region3u64({6, 4, 0}, {6, 6, 2}));
}

TEST(VxtGridTest, OctreeChildrenComeXFirst)
{
    const VxtGrid grid({16, 16, 16}, dravik::DataTypeId::UINT8, {4, 4, 4});
    std::vector<Vector3u64> children;
    grid.getOctreeTiles({1, 2, 3}, children);
    const std::vector<Vector3u64> expected = {{2, 4, 6}, {3, 4, 6}, {2, 5, 6}, {3, 5, 6},
                                              {2, 4, 7}, {3, 4, 7}, {2, 5, 7}, {3, 5, 7}};
    EXPECT_EQ(children, expected);
    std::vector<Vector3u64> octree{{9, 9, 9}};
    grid.getOctree(octree);
    ASSERT_EQ(octree.size(), 8u);
    EXPECT_EQ(octree[0], (Vector3u64{0, 0, 0}));
    EXPECT_EQ(octree[5], (Vector3u64{1, 0, 1}));
    EXPECT_EQ(octree[7], (Vector3u64{1, 1, 1}));
}

TEST(VxtGridTest, GeometryOutsideTheNumberingIsRefused)
{
    EXPECT_NO_THROW(VxtGrid::checkGeometry({VxtGrid::MAX_TILES_PER_AXIS, 1, 1}, {1, 1, 1}));
    const std::pair<Vector3u64, Vector3u64> bad[] = {
        {{0, 5, 5}, {4, 4, 4}},
        {{5, 5, 5}, {4, 0, 4}},
        {{uint64_t(1) << 21, 1, 1}, {1, 1, 1}},
        {{1, 1, uint64_t(1) << 40}, {1, 1, 1}},
        {{UINT64_MAX, 1, 1}, {2, 1, 1}},
    };
    for (const auto& [size, tile] : bad) {
        EXPECT_THROW(VxtGrid::checkGeometry(size, tile), dravik::Error) << size.toString() << " / " << tile.toString();
    }
    EXPECT_EQ(errorOf([] { VxtGrid::checkGeometry({uint64_t(1) << 21, 1, 1}, {1, 1, 1}); }),
              "VXT volume of size (2097152, 1, 1) in tiles of (1, 1, 1) needs 2097152 tiles along axis 0, more than "
              "the 2097151 supported");
}

} // namespace
} // namespace quenza::vxt::test
