#include "DerivedViews.h"
#include "MemoryImageView.h"
#include "RandomAccessImageView.h"

#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageView.h>
#include <dravik/RandomAccess.h>

#include <fmt/format.h>

namespace dravik {

namespace {

template <typename T>
const T& checkedView(const T& view, const char* operation)
{
    if (!view) {
        throw InvalidArgument(fmt::format("{} needs an image view, not an empty pointer", operation));
    }
    return view;
}

// The axes of the frames of `multi`: their interpretation when it fits their shape,
// else the usual axes of that many dimensions.
ImageType frameAxes(MultiImageView& multi)
{
    if (multi.frameCount() == 0) {
        throw InvalidArgument("Cannot stack a sequence without frames");
    }
    auto first = multi.frame(0);
    if (!first) {
        throw InvalidArgument("Cannot stack: frame 0 is empty");
    }
    const size_t dims = first->shape().size();
    auto props = first->properties();
    if (props) {
        const ImageType& axes = props->imageInfo().axesInterpretation();
        if (!axes.isUnknown() && axes.dimensionCount() == dims) {
            return axes;
        }
    }
    return ImageType::defaultFor(dims);
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::allocate(const VectorXu64& shape, const DataType& type)
{
    return std::make_shared<MemoryImageView>(shape, type);
}

std::shared_ptr<ImageView> ImageViewFactory::fromBuffer(const VectorXu64& shape, const DataType& type, void* buffer,
                                                        uint64_t size)
{
    return std::make_shared<MemoryImageView>(shape, type, buffer, size);
}

std::shared_ptr<ImageView> ImageViewFactory::fromRandomAccess(std::shared_ptr<RandomAccess> random,
                                                              const VectorXu64& shape, const DataType& type)
{
    if (!random) {
        throw InvalidArgument("fromRandomAccess needs a random access, not an empty pointer");
    }
    if (type.byteCount() == 0 || type.isString()) {
        throw InvalidArgument(fmt::format("An image cannot hold elements of type {}", type.toString()));
    }
    if (!random->support(RandomAccessCapability::READ)) {
        throw InvalidArgument("fromRandomAccess needs a random access that can read");
    }
    const uint64_t needed = checkedByteCount(checkedElementCount(shape), type);
    if (random->size() < needed) {
        return nullptr;
    }
    return std::make_shared<RandomAccessImageView>(std::move(random), shape, type);
}

std::shared_ptr<ImageView> ImageViewFactory::extractRegion(std::shared_ptr<ImageView> view, const RegionXu64& region)
{
    checkedView(view, "extractRegion");
    if (!region.isInside(view->shape())) {
        throw InvalidArgument(fmt::format("Region {} is outside the image of shape ({})", region.toString(),
                                          view->shape().toString()));
    }
    return std::make_shared<RegionImageView>(std::move(view), region);
}

std::shared_ptr<ImageView> ImageViewFactory::subSample(std::shared_ptr<ImageView> view, uint64_t factor)
{
    checkedView(view, "subSample");
    if (factor == 0) {
        throw InvalidArgument("A subsampling factor must be at least 1");
    }
    if (view->shape().empty()) {
        throw InvalidArgument("Cannot subsample an image without dimensions");
    }
    return std::make_shared<SubSampledImageView>(std::move(view), factor);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multi)
{
    checkedView(multi, "stack");
    const ImageType axes = frameAxes(*multi);
    const size_t axis = multi->frame(0)->shape().size();
    // The new axis stands for the first dimension that comes after all of the frames'.
    ImageType stacked;
    const auto present = axes.dimensions();
    const size_t next = present.empty() ? 0 : static_cast<size_t>(present.back()) + 1;
    if (!axes.isUnknown() && next < IMAGE_TYPE_DIMENSION_COUNT) {
        stacked = axes;
        stacked.add(static_cast<ImageTypeDimension>(next));
    }
    return std::make_shared<StackedImageView>(std::move(multi), axis, stacked);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multi,
                                                   ImageTypeDimension dimension)
{
    checkedView(multi, "stack");
    ImageType axes = frameAxes(*multi);
    if (axes.isUnknown()) {
        throw InvalidArgument(fmt::format("Cannot stack along {}: the frames have {} axes of unknown meaning",
                                          toString(dimension), multi->frame(0)->shape().size()));
    }
    if (axes.has(dimension)) {
        throw InvalidArgument(fmt::format("Cannot stack along {}: the frames already have that axis",
                                          toString(dimension)));
    }
    axes.add(dimension);
    const auto axis = static_cast<size_t>(axes.position(dimension));
    return std::make_shared<StackedImageView>(std::move(multi), axis, axes);
}

std::shared_ptr<ImageView> ImageViewFactory::fromImageView(std::shared_ptr<ImageView> view,
                                                           std::shared_ptr<const ImageProperties> properties,
                                                           std::shared_ptr<const MetadataNode> metadata)
{
    checkedView(view, "fromImageView");
    return std::make_shared<ReplacedPropertiesImageView>(std::move(view), std::move(properties),
                                                         std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::assembleChannels(std::shared_ptr<ImageView> view)
{
    checkedView(view, "assembleChannels");
    return std::make_shared<AssembledChannelsImageView>(std::move(view));
}

} // namespace dravik
