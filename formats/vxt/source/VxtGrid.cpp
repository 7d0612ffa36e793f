#include <VxtGrid.h>

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>

namespace quenza::vxt {

namespace {

/// ⌈v ÷ factor⌉ per component, exact in integers.
Vector3u64 convertToLod(const dravik::VectorXu64& v, uint64_t factor)
{
    Vector3u64 r;
    for (size_t i = 0; i < 3; ++i) {
        r[i] = v[i] / factor + (v[i] % factor != 0 ? 1 : 0);
    }
    return r;
}

} // namespace

uint64_t VxtGridHelper::octalBase(uint64_t n)
{
    uint64_t result = 0;
    for (uint64_t k = 0; k < 22 && (n >> k) != 0; ++k) {
        result |= ((n >> k) & 1u) << (3 * k);
    }
    return result;
}

uint64_t VxtGridHelper::tileIdFromGrid(const Vector3u64& position)
{
    return octalBase(position[0]) + 2 * octalBase(position[1]) + 4 * octalBase(position[2]);
}

GridLevel::GridLevel(const Vector3u64& volumeSize, const Vector3u64& level0TilingGrid, uint64_t level,
                     const Vector3u64& tileSize, uint64_t tileByteSize)
    : m_level(level)
{
    for (size_t i = 0; i < 3; ++i) {
        m_size[i] = ((volumeSize[i] - 1) >> level) + 1;
        m_tilingGrid[i] = ((level0TilingGrid[i] - 1) >> level) + 1;
    }
    m_tileCount = m_tilingGrid.prod();
    m_indexer = dravik::Indexer(dravik::VectorXu64(m_tilingGrid), dravik::DataTypeId::UINT8);
    m_tiles.resize(m_tileCount);
    m_positions.resize(m_tileCount);

    const Region3u64 levelRegion = Region3u64::fullRegion(m_size);
    Vector3u64 p;
    for (p[2] = 0; p[2] < m_tilingGrid[2]; ++p[2]) {
        for (p[1] = 0; p[1] < m_tilingGrid[1]; ++p[1]) {
            for (p[0] = 0; p[0] < m_tilingGrid[0]; ++p[0]) {
                TileInfo info;
                info.position = p;
                info.gridOffset = gridOffsetOf(p);
                info.tileId = VxtGridHelper::tileIdFromGrid(p);
                const Region3u64 clipped = Region3u64(p * tileSize, tileSize).intersect(levelRegion);
                info.origin = clipped.origin();
                info.size = clipped.size();
                m_tiles[info.gridOffset] = info;
            }
        }
    }
    std::sort(m_tiles.begin(), m_tiles.end(), TileInfo::compareTileId);
    for (uint64_t i = 0; i < m_tileCount; ++i) {
        m_tiles[i].fileId = i;
        m_tiles[i].offset = i * tileByteSize;
        m_positions[i] = m_tiles[i].position;
    }
    std::sort(m_tiles.begin(), m_tiles.end(), TileInfo::compareGridOffset);
}

Region3u64 GridLevel::regionTile(const Vector3u64& position) const
{
    const TileInfo& info = tile(position);
    return Region3u64(info.origin, info.size);
}

bool GridLevel::tileExists(const Vector3u64& position) const
{
    for (size_t i = 0; i < 3; ++i) {
        if (position[i] >= m_tilingGrid[i]) {
            return false;
        }
    }
    return gridOffsetOf(position) < m_tileCount;
}

void VxtGrid::checkGeometry(const Vector3u64& size, const Vector3u64& tileSize)
{
    for (size_t i = 0; i < 3; ++i) {
        if (size[i] == 0 || tileSize[i] == 0) {
            throw dravik::Error(fmt::format("VXT volume of size ({}) in tiles of ({}) has an empty axis",
                                            size.toString(), tileSize.toString()));
        }
    }
    const Vector3u64 tiles = level0TilingGrid(size, tileSize);
    for (size_t i = 0; i < 3; ++i) {
        if (tiles[i] > MAX_TILES_PER_AXIS) {
            throw dravik::Error(fmt::format("VXT volume of size ({}) in tiles of ({}) needs {} tiles along axis {}, "
                                            "more than the {} supported",
                                            size.toString(), tileSize.toString(), tiles[i], i, MAX_TILES_PER_AXIS));
        }
    }
}

Vector3u64 VxtGrid::level0TilingGrid(const Vector3u64& size, const Vector3u64& tileSize)
{
    Vector3u64 t;
    for (size_t i = 0; i < 3; ++i) {
        t[i] = (size[i] - 1) / tileSize[i] + 1;
    }
    return t;
}

uint64_t VxtGrid::levelCountOf(const Vector3u64& level0TilingGrid)
{
    // ⌈log2(largest extent)⌉ + 1, in integers so that powers of two are exact.
    const uint64_t largest = std::max({level0TilingGrid[0], level0TilingGrid[1], level0TilingGrid[2]});
    uint64_t levels = 1;
    while ((uint64_t(1) << (levels - 1)) < largest) {
        ++levels;
    }
    return levels;
}

uint64_t VxtGrid::tileCountOf(const Vector3u64& level0TilingGrid)
{
    const uint64_t levels = levelCountOf(level0TilingGrid);
    uint64_t count = 0;
    for (uint64_t k = 0; k < levels; ++k) {
        uint64_t product = 1;
        for (size_t i = 0; i < 3; ++i) {
            product *= ((level0TilingGrid[i] - 1) >> k) + 1;
        }
        count += product;
    }
    return count;
}

VxtGrid::VxtGrid(const Vector3u64& size, const dravik::DataType& dataType, const Vector3u64& tileSize)
    : m_tileIndexer(dravik::VectorXu64(tileSize), dataType)
{
    m_tileByteSize = tileSize.prod() * dataType.byteCount();
    const Vector3u64 t = level0TilingGrid(size, tileSize);
    m_levelCount = levelCountOf(t);
    m_levels.reserve(m_levelCount);
    for (uint64_t k = 0; k < m_levelCount; ++k) {
        m_levels.emplace_back(size, t, k, tileSize, m_tileByteSize);
    }
    m_levelOffsets.assign(m_levelCount, 0);
    for (uint64_t k = m_levelCount - 1; k >= 1; --k) {
        m_levelOffsets[k - 1] = m_levelOffsets[k] + m_levels[k].tileCount();
    }
    m_tilesCount = 0;
    for (const GridLevel& level : m_levels) {
        m_tilesCount += level.tileCount();
    }
    m_octree = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
}

void VxtGrid::getOctreeTiles(const Vector3u64& position, std::vector<Vector3u64>& out) const
{
    out.clear();
    for (const Vector3u64& o : m_octree) {
        out.push_back(position * uint64_t(2) + o);
    }
}

Region3u64 VxtGrid::convertRegion(uint64_t fromLevel, const Region3u64& region, uint64_t toLevel)
{
    if (toLevel >= fromLevel) {
        const uint64_t factor = uint64_t(1) << (toLevel - fromLevel);
        return Region3u64(convertToLod(region.origin(), factor), convertToLod(region.size(), factor));
    }
    const uint64_t factor = uint64_t(1) << (fromLevel - toLevel);
    return Region3u64(region.origin() * factor, region.size() * factor);
}

} // namespace quenza::vxt
