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

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

unsigned VxtResolutionExtractor::readWorkers(uint64_t tileCount, uint64_t work, unsigned hardwareThreads)
{
    if (hardwareThreads <= 1 || tileCount < 2 || work < PARALLEL_READ_MIN_BYTES) {
        return 1;
    }
    return static_cast<unsigned>(std::min<uint64_t>({hardwareThreads, MAX_READ_WORKERS, tileCount}));
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
    const Vector3u64 tiles = last - first + uint64_t(1);
    const uint64_t tileCount = tiles[0] * tiles[1] * tiles[2];
    const uint64_t work = m_handle->m_compressed ? tileCount * m_grid->tileByteSize()
                                                 : wanted.size()[0] * wanted.size()[1] * wanted.size()[2]
            * m_type.byteCount();
    const unsigned workers = readWorkers(tileCount, work, std::thread::hardware_concurrency());

    const dravik::Indexer destination(region.size(), m_type);
    auto* out = static_cast<uint8_t*>(dst);
    // Tiles are handed out one at a time; every tile fills its own part of the destination.
    std::atomic<uint64_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::exception_ptr error;
    auto readTiles = [&] {
        try {
            VxtTileReader reader(*m_handle, *m_grid);
            std::unique_ptr<uint8_t[]> tile;
            for (uint64_t i = next++; i < tileCount && !failed; i = next++) {
                const Vector3u64 p = first + Vector3u64{i % tiles[0], (i / tiles[0]) % tiles[1], i / tiles[0] / tiles[1]};
                readTile(reader, tile, p, wanted, destination, out);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(errorMutex);
            if (!error) {
                error = std::current_exception();
            }
            failed = true;
        }
    };

    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < workers; ++i) {
        try {
            helpers.emplace_back(readTiles);
        } catch (const std::system_error&) {
            // No thread to be had: the tiles are read by those there are.
            break;
        }
    }
    readTiles();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

void VxtResolutionExtractor::readTile(VxtTileReader& reader, std::unique_ptr<uint8_t[]>& tile, const Vector3u64& p,
                                      const Region3u64& wanted, const dravik::Indexer& destination, uint8_t* out)
{
    const Vector3u64& tileSize = m_handle->m_tileSize;
    const uint64_t rowBytes = tileSize[0] * m_type.byteCount();
    const uint64_t tileBytes = m_grid->tileByteSize();
    const Region3u64 overlap = Region3u64(p * tileSize, tileSize).intersect(wanted);
    auto copyOut = [&](const uint8_t* bytes) {
        dravik::RegionCopier(m_handle->m_tileIndexer, dravik::VectorXu64(overlap.origin() % tileSize), destination,
                             dravik::VectorXu64(overlap.origin() - wanted.origin()), dravik::VectorXu64(overlap.size()),
                             m_type)
            .copy(bytes, out);
    };

    if (m_cache->capacity() > 0) {
        const uint64_t fileId = m_grid->fileID(p, m_level);
        TileCache::Tile cached = m_cache->find(fileId);
        if (!cached && overlap.size() != m_grid->regionTile(p, m_level).size()) {
            const std::shared_ptr<uint8_t[]> inflated(new uint8_t[tileBytes]);
            reader.loadTile(p, m_level, inflated.get());
            m_cache->insert(fileId, inflated);
            cached = inflated;
        }
        if (cached) {
            copyOut(cached.get());
            return;
        }
    }
    if (m_handle->m_compressed) {
        // One tile buffer for the tiles not cached: a zlib stream inflates whole.
        if (!tile) {
            tile.reset(new uint8_t[tileBytes]);
        }
        reader.loadTile(p, m_level, tile.get());
        copyOut(tile.get());
        return;
    }
    // Uncompressed tiles are read a few slices at a time into a buffer that stays in the
    // core's cache, and only the rows the overlap touches: from the first row of the
    // first slice to the last row of the last.
    const uint64_t sliceBytes = rowBytes * tileSize[1];
    const uint64_t slicesPerChunk = std::max<uint64_t>(1, std::min(tileSize[2], UNCOMPRESSED_CHUNK_BYTES / sliceBytes));
    if (!tile) {
        tile.reset(new uint8_t[slicesPerChunk * sliceBytes]);
    }
    const Vector3u64 source = overlap.origin() % tileSize;
    const Vector3u64 size = overlap.size();
    const dravik::Indexer chunkLayout(dravik::VectorXu64{tileSize[0], tileSize[1], slicesPerChunk}, m_type);
    for (uint64_t z = 0; z < size[2]; z += slicesPerChunk) {
        const uint64_t slices = std::min(slicesPerChunk, size[2] - z);
        const uint64_t chunkStart = (source[2] + z) * sliceBytes;
        const uint64_t firstRow = source[1] * rowBytes;
        const uint64_t lastRowEnd = (slices - 1) * sliceBytes + (source[1] + size[1]) * rowBytes;
        reader.readUncompressed(p, m_level, chunkStart + firstRow, chunkStart + lastRowEnd, tile.get() + firstRow);
        dravik::RegionCopier(chunkLayout, dravik::VectorXu64{source[0], source[1], 0}, destination,
                             dravik::VectorXu64{overlap.origin()[0] - wanted.origin()[0],
                                                overlap.origin()[1] - wanted.origin()[1],
                                                overlap.origin()[2] + z - wanted.origin()[2]},
                             dravik::VectorXu64{size[0], size[1], slices}, m_type)
            .copy(tile.get(), out);
    }
}

} // namespace quenza::vxt
