#include <VxtTilingInfo.h>

#include "VxtTileReader.h"

#include <dravik/Error.h>
#include <dravik/Indexer.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <limits>
#include <memory>

namespace quenza::vxt {

VxtTilingInfo::VxtTilingInfo(dravik::ImageView* image, std::shared_ptr<VxtGrid> grid,
                             std::shared_ptr<VxtHandle> handle, uint64_t level)
    : m_image(image)
    , m_grid(std::move(grid))
    , m_handle(std::move(handle))
    , m_maxTileSize(m_handle->m_tileSize)
    , m_level(level)
{
    const GridLevel& gridLevel = m_grid->gridLevel(level);
    m_tileCount = gridLevel.tileCount();
    m_tilingGrid = dravik::ArrayX<uint64_t>(dravik::VectorXu64(gridLevel.tilingGrid()),
                                            std::numeric_limits<uint64_t>::max());
    for (uint64_t i = 0; i < m_tileCount; ++i) {
        m_tilingGrid.at(dravik::VectorXu64(gridLevel.positionFromFileId(i))) = i;
    }
}

VxtTilingInfo::~VxtTilingInfo() = default;

void VxtTilingInfo::checkIndex(uint64_t index) const
{
    if (index >= m_tileCount) {
        throw dravik::InvalidArgument(
            fmt::format("Tile index {} out of range for the {} tiles of level {}", index, m_tileCount, m_level));
    }
}

dravik::RegionXu64 VxtTilingInfo::tileRegion(uint64_t index) const
{
    checkIndex(index);
    const GridLevel& level = m_grid->gridLevel(m_level);
    return dravik::RegionXu64(level.regionTile(level.positionFromFileId(index)));
}

void VxtTilingInfo::readTile(uint64_t index, void* dst)
{
    checkIndex(index);
    const GridLevel& level = m_grid->gridLevel(m_level);
    const Vector3u64& position = level.positionFromFileId(index);
    const Region3u64 region = level.regionTile(position);
    VxtTileReader reader(*m_handle, *m_grid);
    const uint64_t tileBytes = m_grid->tileByteSize();
    if (region.elementCount() * m_handle->m_dataType.byteCount() < tileBytes) {
        const std::unique_ptr<uint8_t[]> tile(new uint8_t[tileBytes]);
        reader.loadTile(position, m_level, tile.get());
        const dravik::VectorXu64 size(region.size());
        const dravik::VectorXu64 zero(3, 0);
        dravik::RegionCopier(m_handle->m_tileIndexer, zero, dravik::Indexer(size, m_handle->m_dataType), zero, size,
                             m_handle->m_dataType)
            .copy(tile.get(), dst);
        return;
    }
    reader.loadTile(position, m_level, static_cast<uint8_t*>(dst));
}

} // namespace quenza::vxt
