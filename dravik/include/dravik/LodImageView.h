#pragma once

#include <dravik/Export.h>
#include <dravik/Vector.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace dravik {

class ImageView;

/// A multi-resolution image: level 0 is the full resolution, each further level coarser.
class DRAVIK_API LodImageView : public View {
public:
    ~LodImageView() override;

    using View::extension;
    std::shared_ptr<Extension> extension(size_t id) override;
    /// (first level, last level); an image without level has first = last + 1.
    virtual Vector<int64_t, 2> levelRange() const = 0;
    /// The image of `level`; throws InvalidArgument outside levelRange().
    virtual std::shared_ptr<ImageView> resolution(int64_t level) = 0;
};

} // namespace dravik
