#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/ImageType.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>

namespace dravik {

class ImageView;
class ImageProperties;
class MetadataNode;
class MultiImageView;
class RandomAccess;

/// Makes image views over memory and random accesses, and views derived from other
/// views. Derived views read (and, where the source writes, write) through to their
/// source on each call; none of them copies the source's elements.
class DRAVIK_API ImageViewFactory {
public:
    /// A zero-filled image in memory (READ, WRITE, RESHAPE, MEMORY_ACCESS).
    static std::shared_ptr<ImageView> allocate(const VectorXu64& shape, const DataType& type);
    /// An image over `size` bytes at `buffer`, which the caller keeps alive (READ,
    /// WRITE, MEMORY_ACCESS). Throws InvalidArgument when `size` is too small.
    static std::shared_ptr<ImageView> fromBuffer(const VectorXu64& shape, const DataType& type, void* buffer,
                                                 uint64_t size);
    /// An image of `shape` and `type` stored densely from offset 0 of `random`; READ,
    /// and WRITE when `random` writes. Empty when `random` holds fewer bytes than the
    /// image needs; throws InvalidArgument for an empty pointer.
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> random, const VectorXu64& shape,
                                                       const DataType& type);

    /// The part `region` of `view`, as an image of `region.size()` whose calibration
    /// origin follows the region. Throws InvalidArgument when the region leaves the view.
    static std::shared_ptr<ImageView> extractRegion(std::shared_ptr<ImageView> view, const RegionXu64& region);
    /// Every `factor`-th element along each axis, starting from the first; the shape
    /// is rounded up and the spacing multiplied. Throws InvalidArgument for factor 0.
    static std::shared_ptr<ImageView> subSample(std::shared_ptr<ImageView> view, uint64_t factor);
    /// The frames of `multi` as one image with one more axis, after the existing ones.
    /// Frames must share shape and type; throws InvalidArgument otherwise or without frames.
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multi);
    /// The same, with the new axis standing for `dimension`: it is inserted where that
    /// dimension goes among the frames' axes (before SEQUENCE for CHANNEL, say).
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multi, ImageTypeDimension dimension);
    /// `view` with other properties and metadata (each may be empty).
    static std::shared_ptr<ImageView> fromImageView(std::shared_ptr<ImageView> view,
                                                    std::shared_ptr<const ImageProperties> properties,
                                                    std::shared_ptr<const MetadataNode> metadata);
    /// The CHANNEL axis of a scalar image folded into its element type: an image of
    /// 3 channels of UINT8 becomes an image of VEC3_UINT8. Throws InvalidArgument when
    /// the axes interpretation has no CHANNEL axis or the type is not scalar.
    static std::shared_ptr<ImageView> assembleChannels(std::shared_ptr<ImageView> view);
};

} // namespace dravik
