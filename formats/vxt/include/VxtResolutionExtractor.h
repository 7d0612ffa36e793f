#pragma once

#include <VxtGrid.h>
#include <VxtHandle.h>

#include <common/AbstractExtractor.h>

#include <dravik/Indexer.h>
#include <dravik/Region.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace quenza::vxt {

class TileCache;
class VxtTileReader;

/// One resolution level of a VXT volume: a read-only image that reads only the tiles
/// a region overlaps. Inflated tiles that a read used only in part are kept for the next
/// reads, up to one z-row of tiles (TileCache). Reads may run on several threads at once,
/// and a large read shares its tiles among up to MAX_READ_WORKERS threads of its own.
class VxtResolutionExtractor : public common::AbstractExtractor {
public:
    /// `parent` is the extractor the level belongs to; its origin extension becomes
    /// this view's parent origin.
    VxtResolutionExtractor(std::shared_ptr<VxtHandle> handle, std::shared_ptr<VxtGrid> grid, uint64_t level,
                           dravik::View* parent);
    ~VxtResolutionExtractor() override;

    dravik::ImageCapabilitySet capabilities() const override;
    /// Throws dravik::Error "Invalid region dimension" for a region not of 3
    /// dimensions and dravik::InvalidArgument for one outside the level.
    void readRegion(const dravik::RegionXu64& region, void* dst) override;

    uint64_t level() const { return m_level; }

    /// Reads with less work than this (bytes copied, or inflated for compressed tiles)
    /// stay on the calling thread: starting a thread would cost more than it saves.
    static constexpr uint64_t PARALLEL_READ_MIN_BYTES = uint64_t(16) << 20;
    static constexpr uint64_t MAX_READ_WORKERS = 8;
    /// Uncompressed tiles are read this many bytes of whole slices at a time (at least a slice).
    static constexpr uint64_t UNCOMPRESSED_CHUNK_BYTES = uint64_t(256) << 10;
    /// Threads, the caller's included, for a read of `tileCount` tiles and `work` bytes.
    static unsigned readWorkers(uint64_t tileCount, uint64_t work, unsigned hardwareThreads);

private:
    void readTile(VxtTileReader& reader, std::unique_ptr<uint8_t[]>& tile, const Vector3u64& position,
                  const Region3u64& wanted, const dravik::Indexer& destination, uint8_t* out);

    std::shared_ptr<VxtHandle> m_handle;
    uint64_t m_level;
    std::shared_ptr<VxtGrid> m_grid;
    std::unique_ptr<TileCache> m_cache;
};

} // namespace quenza::vxt
