#pragma once

#include <dravik/Export.h>

#include <memory>
#include <vector>

namespace dravik {

class ImageView;
class MetadataNode;
class MultiImageView;

class DRAVIK_API MultiImageViewFactory {
public:
    /// A sequence of `frames` held in memory (READ, WRITE). Throws InvalidArgument
    /// for an empty frame pointer.
    static std::shared_ptr<MultiImageView> create(std::vector<std::shared_ptr<ImageView>> frames,
                                                  std::shared_ptr<MetadataNode> metadata = nullptr);
    /// One scalar frame per component of the elements of `view` (three for RGB
    /// pixels, two for complex numbers), each reading through to `view`.
    static std::shared_ptr<MultiImageView> deinterlace(std::shared_ptr<ImageView> view);
};

} // namespace dravik
