#pragma once

#include <dravik/ImageView.h>
#include <dravik/View.h>

#include <memory>

namespace quenza::common {

/// Turns the general views handed to writers into readable image views, copying nothing.
class ViewConverter {
public:
    /// A readable image view as it is, a readable multi-image view as the stack of its
    /// frames. Throws dravik::Error "Image is not readable", "Impossible to read the
    /// stack" or "Unsupported view type".
    static std::shared_ptr<dravik::ImageView> toImageView(std::shared_ptr<dravik::View> view);
    /// A readable two-dimensional image view as it is, or one whose CHANNEL axis,
    /// folded into the element type, leaves two dimensions. Throws dravik::Error
    /// "Unsupported view type", "Image is not readable" or "Unsupported image dimension".
    static std::shared_ptr<dravik::ImageView> toImageView2D(std::shared_ptr<dravik::View> view);
};

} // namespace quenza::common
