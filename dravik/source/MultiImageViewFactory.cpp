#include "DerivedViews.h"

#include <dravik/Error.h>
#include <dravik/MultiImageViewFactory.h>

namespace dravik {

std::shared_ptr<MultiImageView> MultiImageViewFactory::create(std::vector<std::shared_ptr<ImageView>> frames,
                                                              std::shared_ptr<MetadataNode> metadata)
{
    return std::make_shared<MemoryMultiImageView>(std::move(frames), std::move(metadata));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::deinterlace(std::shared_ptr<ImageView> view)
{
    if (!view) {
        throw InvalidArgument("deinterlace needs an image view, not an empty pointer");
    }
    const uint32_t components = view->dataType().elementCount();
    if (components == 0 || view->dataType().isString()) {
        throw InvalidArgument("Cannot deinterlace elements of type " + view->dataType().toString());
    }
    std::vector<std::shared_ptr<ImageView>> frames;
    frames.reserve(components);
    for (uint32_t c = 0; c < components; ++c) {
        frames.push_back(std::make_shared<ComponentImageView>(view, c));
    }
    std::shared_ptr<MetadataNode> metadata;
    if (auto md = view->metadata()) {
        metadata = md->clone();
    }
    auto multi = std::make_shared<MemoryMultiImageView>(std::move(frames), std::move(metadata));
    multi->setCapabilities(MultiImageCapability::READ);
    return multi;
}

} // namespace dravik
