#pragma once

#include <dravik/ArrayX.h>
#include <dravik/Export.h>
#include <dravik/Extension.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>

#include <cstddef>
#include <cstdint>

namespace dravik {

class ImageView;

/// The tiles an image view is stored in, for callers that read or write whole tiles.
class DRAVIK_API TilingInfoExtension : public Extension {
public:
    static constexpr size_t EXTENSION_ID = 1;

    ~TilingInfoExtension() override;
    /// Size of a full tile; border tiles may be smaller.
    virtual VectorXu64 maxTileSize() const = 0;
    virtual uint64_t tileCount() const = 0;
    /// The region of the image covered by the tile of `index`, clipped to the image.
    virtual RegionXu64 tileRegion(uint64_t index) const = 0;
    /// One cell per tile position, holding the index of the tile at that position.
    virtual const ArrayX<uint64_t>& tilingGrid() const = 0;
    /// The elements of tile `index`, packed densely over its region's size.
    virtual void readTile(uint64_t index, void* dst) = 0;
    /// Replaces the elements of tile `index`; the default throws NotImplemented.
    virtual void writeTile(uint64_t index, const void* src);
    /// The image view the tiles belong to.
    virtual ImageView* image() const = 0;
};

} // namespace dravik
