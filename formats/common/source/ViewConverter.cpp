#include <common/ViewConverter.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageType.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageView.h>
#include <dravik/Providers.h>

namespace quenza::common {

namespace {

std::shared_ptr<dravik::ImageView> readableImage(std::shared_ptr<dravik::ImageView> image)
{
    if (!image->support(dravik::ImageCapability::READ)) {
        throw dravik::Error("Image is not readable");
    }
    return image;
}

} // namespace

std::shared_ptr<dravik::ImageView> ViewConverter::toImageView(std::shared_ptr<dravik::View> view)
{
    if (auto image = dravik::ImageViewProvider::toImage(view)) {
        return readableImage(std::move(image));
    }
    if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        if (!multi->support(dravik::MultiImageCapability::READ)) {
            throw dravik::Error("Impossible to read the stack");
        }
        return readableImage(dravik::ImageViewFactory::stack(std::move(multi)));
    }
    throw dravik::Error("Unsupported view type");
}

std::shared_ptr<dravik::ImageView> ViewConverter::toImageView2D(std::shared_ptr<dravik::View> view)
{
    auto image = dravik::ImageViewProvider::toImage(view);
    if (!image) {
        throw dravik::Error("Unsupported view type");
    }
    readableImage(image);
    if (image->shape().size() == 2) {
        return image;
    }
    auto properties = image->properties();
    if (properties && properties->imageInfo().axesInterpretation().has(dravik::ImageTypeDimension::CHANNEL)) {
        auto assembled = dravik::ImageViewFactory::assembleChannels(image);
        // A volume with channels stays three-dimensional once they are folded.
        if (assembled->shape().size() == 2) {
            return assembled;
        }
    }
    throw dravik::Error("Unsupported image dimension");
}

} // namespace quenza::common
