#include <VxtResolutionExtractor.h>

#include <VxtTilingInfo.h>

#include "TileCache.h"
#include "VxtTileReader.h"

#include <common/PluginLogger.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/Indexer.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <memory>

namespace quenza::vxt {

VxtResolutionExtractor::VxtResolutionExtractor(std::shared_ptr<VxtHandle> handle, std::shared_ptr<VxtGrid> grid,
                                               uint64_t level, dravik::View* parent)
    : m_handle(std::move(handle))
    , m_level(level)
    , m_grid(std::move(grid))
    , m_cache(std::make_unique<TileCache>(
          m_handle->m_compressed ? TileCache::capacityFor(m_grid->tilingGrid(level), m_grid->tileByteSize()) : 0))
{
    m_shape = dravik::VectorXu64(3);
    for (size_t i = 0; i < 3; ++i) {
        m_shape[i] = ((m_handle->m_volumeSize[i] - 1) >> level) + 1;
    }
    m_type = m_handle->m_dataType;
    m_properties = m_handle->m_properties;
    m_metadata = m_handle->m_metadata;
    m_capabilities = dravik::ImageCapability::READ;
    m_extensions.add<VxtTilingInfo>(std::make_shared<VxtTilingInfo>(this, m_grid, m_handle, level));
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{0} resolution Extractor", common::PLUGIN_NAME), parent));
}

VxtResolutionExtractor::~VxtResolutionExtractor() = default;

dravik::ImageCapabilitySet VxtResolutionExtractor::capabilities() const
{
    return dravik::ImageCapability::READ;
}

void VxtResolutionExtractor::readRegion(const dravik::RegionXu64& region, void* dst)
{
    if (region.dimensionCount() != 3) {
        throw dravik::Error("Invalid region dimension");
    }
    if (!region.isInside(m_shape)) {
        throw dravik::InvalidArgument(fmt::format("Region {} is outside level {} of shape ({})", region.toString(),
                                                  m_level, m_shape.toString()));
    }
    if (region.isEmpty()) {
        return;
    }
    const Region3u64 wanted(region);
    const Vector3u64& tileSize = m_handle->m_tileSize;
    const Vector3u64 first = wanted.origin() / tileSize;
    const Vector3u64 last = wanted.max() / tileSize;
    const dravik::Indexer destination(region.size(), m_type);
    const uint64_t elementBytes = m_type.byteCount();
    const uint64_t rowBytes = tileSize[0] * elementBytes;
    const uint64_t tileBytes = m_grid->tileByteSize();
    VxtTileReader reader(*m_handle, *m_grid);
    // One tile buffer for the tiles not cached; only the bytes loaded into it are ever copied out.
    std::unique_ptr<uint8_t[]> tile;
    auto* out = static_cast<uint8_t*>(dst);

    auto copyOut = [&](const Region3u64& part, const uint8_t* bytes) {
        dravik::RegionCopier(m_handle->m_tileIndexer, dravik::VectorXu64(part.origin() % tileSize), destination,
                             dravik::VectorXu64(part.origin() - wanted.origin()), dravik::VectorXu64(part.size()),
                             m_type)
            .copy(bytes, out);
    };

    Vector3u64 p;
    for (p[2] = first[2]; p[2] <= last[2]; ++p[2]) {
        for (p[1] = first[1]; p[1] <= last[1]; ++p[1]) {
            for (p[0] = first[0]; p[0] <= last[0]; ++p[0]) {
                const Region3u64 overlap = Region3u64(p * tileSize, tileSize).intersect(wanted);
                TileCache::Tile cached;
                if (m_cache->capacity() > 0) {
                    const uint64_t fileId = m_grid->fileID(p, m_level);
                    cached = m_cache->find(fileId);
                    if (!cached && overlap.size() != m_grid->regionTile(p, m_level).size()) {
                        const std::shared_ptr<uint8_t[]> inflated(new uint8_t[tileBytes]);
                        reader.loadTile(p, m_level, inflated.get());
                        m_cache->insert(fileId, inflated);
                        cached = inflated;
                    }
                }
                if (cached) {
                    copyOut(overlap, cached.get());
                    continue;
                }
                if (!tile) {
                    tile.reset(new uint8_t[tileBytes]);
                }
                const Vector3u64 source = overlap.origin() % tileSize;
                const Vector3u64 end = source + overlap.size() - uint64_t(1);
                // Rows from the first to the last one the overlap touches.
                const uint64_t begin = (source[1] + tileSize[1] * source[2]) * rowBytes;
                const uint64_t stop = (end[1] + 1 + tileSize[1] * end[2]) * rowBytes;
                reader.loadTileBytes(p, m_level, begin, stop, tile.get());
                copyOut(overlap, tile.get());
            }
        }
    }
}

} // namespace quenza::vxt
