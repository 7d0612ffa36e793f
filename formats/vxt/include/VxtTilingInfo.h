#pragma once

#include <VxtGrid.h>
#include <VxtHandle.h>

#include <dravik/ArrayX.h>
#include <dravik/ImageView.h>
#include <dravik/Region.h>
#include <dravik/TilingInfoExtension.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>

namespace quenza::vxt {

/// The tiles of one resolution level, for callers that read whole tiles. A tile's
/// index is its index within the level.
class VxtTilingInfo : public dravik::TilingInfoExtension {
public:
    VxtTilingInfo(dravik::ImageView* image, std::shared_ptr<VxtGrid> grid, std::shared_ptr<VxtHandle> handle,
                  uint64_t level);
    ~VxtTilingInfo() override;

    dravik::VectorXu64 maxTileSize() const override { return m_maxTileSize; }
    uint64_t tileCount() const override { return m_tileCount; }
    /// Throws dravik::InvalidArgument for an index not below tileCount().
    dravik::RegionXu64 tileRegion(uint64_t index) const override;
    const dravik::ArrayX<uint64_t>& tilingGrid() const override { return m_tilingGrid; }
    /// Throws dravik::InvalidArgument for an index not below tileCount().
    void readTile(uint64_t index, void* dst) override;
    dravik::ImageView* image() const override { return m_image; }

private:
    void checkIndex(uint64_t index) const;

    dravik::ImageView* m_image;
    std::shared_ptr<VxtGrid> m_grid;
    std::shared_ptr<VxtHandle> m_handle;
    dravik::VectorXu64 m_maxTileSize;
    uint64_t m_level;
    uint64_t m_tileCount;
    dravik::ArrayX<uint64_t> m_tilingGrid;
};

} // namespace quenza::vxt
