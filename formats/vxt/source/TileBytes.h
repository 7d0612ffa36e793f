#pragma once

#include <dravik/ImageView.h>
#include <dravik/Indexer.h>
#include <dravik/Region.h>
#include <dravik/RegionCopier.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quenza::vxt {

/// The packed voxels of an image view: its own memory when it has some, else a copy
/// read into `scratch`.
inline const uint8_t* packedVoxels(dravik::ImageView& view, std::vector<uint8_t>& scratch)
{
    if (view.support(dravik::ImageCapability::MEMORY_ACCESS) && view.indexer().isDense()) {
        return static_cast<const uint8_t*>(view.bufferReadOnly());
    }
    scratch.assign(view.byteCount(), 0);
    view.readRegion(dravik::RegionXu64::fullRegion(view.shape()), scratch.data());
    return scratch.data();
}

/// The voxels of `view` laid out as a full tile of `tileIndexer`, zero outside the
/// view: its own memory when the view is a whole tile, else `staging`.
inline const uint8_t* fullTile(dravik::ImageView& view, const dravik::Indexer& tileIndexer,
                               std::vector<uint8_t>& scratch, std::vector<uint8_t>& staging)
{
    const uint8_t* packed = packedVoxels(view, scratch);
    if (view.shape() == tileIndexer.shape()) {
        return packed;
    }
    staging.assign(tileIndexer.byteCount(), 0);
    const dravik::VectorXu64 zero(view.shape().size(), 0);
    dravik::RegionCopier(dravik::Indexer(view.shape(), view.dataType()), zero, tileIndexer, zero, view.shape(),
                         view.dataType())
        .copy(packed, staging.data());
    return staging.data();
}

} // namespace quenza::vxt
