#pragma once

#include <dravik/DataType.h>
#include <dravik/Indexer.h>
#include <dravik/Region.h>
#include <dravik/Vector.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <vector>

namespace quenza::vxt {

using Vector3u64 = dravik::Vector<uint64_t, 3>;
using Region3u64 = dravik::Region<uint64_t, 3>;

/// One tile of a resolution level.
struct TileInfo {
    Vector3u64 position;
    /// Index of the tile within its level: its ordinal in ascending tileId order.
    uint64_t fileId = 0;
    /// Morton code of the position.
    uint64_t tileId = 0;
    /// fileId × tile byte size: offset inside the level's block of an uncompressed data file.
    uint64_t offset = 0;
    /// Linear offset of the position in the level's tiling grid.
    uint64_t gridOffset = 0;
    /// Clipped voxel region of the tile, in level voxels.
    Vector3u64 origin;
    Vector3u64 size;

    static bool compareTileId(const TileInfo& a, const TileInfo& b) { return a.tileId < b.tileId; }
    static bool compareGridOffset(const TileInfo& a, const TileInfo& b) { return a.gridOffset < b.gridOffset; }
};

/// Stateless helpers of the tile numbering.
class VxtGridHelper {
public:
    /// Bit k of `n` becomes bit 3k of the result.
    static uint64_t octalBase(uint64_t n);
    /// Morton code of a lattice position, x in the lowest bit of each group of three.
    static uint64_t tileIdFromGrid(const Vector3u64& position);
};

/// The tiles of one resolution level.
class GridLevel {
public:
    GridLevel(const Vector3u64& volumeSize, const Vector3u64& level0TilingGrid, uint64_t level,
              const Vector3u64& tileSize, uint64_t tileByteSize);

    uint64_t tileCount() const { return m_tileCount; }
    const Vector3u64& tilingGrid() const { return m_tilingGrid; }
    /// Level size in voxels.
    const Vector3u64& size() const { return m_size; }
    uint64_t level() const { return m_level; }

    /// The tile's index within the level. `position` must exist (tileExists).
    uint64_t fileID(const Vector3u64& position) const { return tile(position).fileId; }
    uint64_t offsetTile(const Vector3u64& position) const { return tile(position).offset; }
    Region3u64 regionTile(const Vector3u64& position) const;
    /// Lattice position of the tile of `index` (below tileCount()).
    const Vector3u64& positionFromFileId(uint64_t index) const { return m_positions[index]; }
    bool tileExists(const Vector3u64& position) const;
    const TileInfo& tile(const Vector3u64& position) const { return m_tiles[gridOffsetOf(position)]; }

private:
    uint64_t gridOffsetOf(const Vector3u64& position) const
    {
        return position[0] + m_tilingGrid[0] * (position[1] + m_tilingGrid[1] * position[2]);
    }

    Vector3u64 m_size;
    std::vector<TileInfo> m_tiles;
    std::vector<Vector3u64> m_positions;
    uint64_t m_level;
    uint64_t m_tileCount;
    Vector3u64 m_tilingGrid;
    dravik::Indexer m_indexer;
};

/// The octree of tiles of a volume: levels, tile numbering, file offsets and regions.
/// Immutable after construction, so it may be read from several threads.
class VxtGrid {
public:
    /// Largest lattice extent along an axis that the Morton code can place.
    static constexpr uint64_t MAX_TILES_PER_AXIS = (uint64_t(1) << 21) - 1;

    /// `size` and `tileSize` must be at least 1 on every axis and the lattice below
    /// 2^21 tiles per axis (checkGeometry).
    VxtGrid(const Vector3u64& size, const dravik::DataType& dataType, const Vector3u64& tileSize);

    /// Throws dravik::Error for a zero size or tile size, or a lattice the numbering
    /// cannot hold.
    static void checkGeometry(const Vector3u64& size, const Vector3u64& tileSize);
    /// Tiles per axis at level 0.
    static Vector3u64 level0TilingGrid(const Vector3u64& size, const Vector3u64& tileSize);
    /// Number of levels of a level-0 tiling grid.
    static uint64_t levelCountOf(const Vector3u64& level0TilingGrid);
    /// Number of tiles over all levels of a level-0 tiling grid (no overflow below 2^21 per axis).
    static uint64_t tileCountOf(const Vector3u64& level0TilingGrid);

    uint64_t levelOffset(uint64_t level) const { return m_levelOffsets[level] * m_tileByteSize; }
    uint64_t offsetTile(const Vector3u64& position, uint64_t level) const
    {
        return levelOffset(level) + m_levels[level].offsetTile(position);
    }
    Region3u64 regionTile(const Vector3u64& position, uint64_t level) const
    {
        return m_levels[level].regionTile(position);
    }
    /// The grid-wide file id of the tile.
    uint64_t fileID(const Vector3u64& position, uint64_t level) const
    {
        return m_levelOffsets[level] + m_levels[level].fileID(position);
    }
    uint64_t fileID(const dravik::VectorXu64& position, uint64_t level) const
    {
        return fileID(Vector3u64(position), level);
    }
    Vector3u64 tilingGrid(uint64_t level) const { return m_levels[level].tilingGrid(); }
    const GridLevel& gridLevel(uint64_t level) const { return m_levels[level]; }
    bool tileExists(uint64_t level, const Vector3u64& position) const
    {
        return level < m_levelCount && m_levels[level].tileExists(position);
    }
    uint64_t tilesCount() const { return m_tilesCount; }
    uint64_t levelCount() const { return m_levelCount; }
    uint64_t tileByteSize() const { return m_tileByteSize; }
    const dravik::Indexer& tileIndexer() const { return m_tileIndexer; }
    /// File id of the first tile of the level.
    uint64_t firstFileId(uint64_t level) const { return m_levelOffsets[level]; }

    void getOctree(std::vector<Vector3u64>& out) const { out = m_octree; }
    /// 2 × position + o for every child offset o, in the child order, existing or not.
    void getOctreeTiles(const Vector3u64& position, std::vector<Vector3u64>& out) const;

    /// `region` of level `fromLevel` seen at level `toLevel`: origin and size divided by
    /// 2^(toLevel − fromLevel), both rounded up.
    static Region3u64 convertRegion(uint64_t fromLevel, const Region3u64& region, uint64_t toLevel);

private:
    dravik::Indexer m_tileIndexer;
    std::vector<uint64_t> m_levelOffsets;
    std::vector<GridLevel> m_levels;
    std::vector<Vector3u64> m_octree;
    uint64_t m_tileByteSize;
    uint64_t m_levelCount;
    uint64_t m_tilesCount;
};

} // namespace quenza::vxt
