#pragma once

#include <VxtGrid.h>
#include <VxtHandle.h>

#include <common/AbstractExtractor.h>

#include <dravik/Region.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace quenza::vxt {

class TileCache;

/// One resolution level of a VXT volume: a read-only image that reads only the tiles
/// a region overlaps. Inflated tiles that a read used only in part are kept for the next
/// reads, up to one z-row of tiles (TileCache). Reads may run on several threads at once.
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

private:
    std::shared_ptr<VxtHandle> m_handle;
    uint64_t m_level;
    std::shared_ptr<VxtGrid> m_grid;
    std::unique_ptr<TileCache> m_cache;
};

} // namespace quenza::vxt
