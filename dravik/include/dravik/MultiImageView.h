#pragma once

#include <dravik/Export.h>
#include <dravik/FlagSet.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace dravik {

class ImageView;
class MetadataNode;

enum class MultiImageCapability : uint32_t {
    READ = 1,
    /// Frames can be added, replaced and removed, and the metadata replaced.
    WRITE = 2,
};
using MultiImageCapabilitySet = FlagSet<MultiImageCapability>;

/// A sequence of image views (frames), which need not share shape or type.
class DRAVIK_API MultiImageView : public View {
public:
    ~MultiImageView() override;

    using View::extension;
    std::shared_ptr<Extension> extension(size_t id) override;
    virtual MultiImageCapabilitySet capabilities() const = 0;
    virtual uint64_t frameCount() const = 0;
    /// The frame at `index`; throws InvalidArgument when `index` >= frameCount().
    virtual std::shared_ptr<ImageView> frame(uint64_t index) = 0;
    /// Metadata of the whole sequence; may be empty.
    virtual std::shared_ptr<const MetadataNode> metadata() const;
    virtual void addFrame(std::shared_ptr<ImageView> frame);
    virtual void setFrame(uint64_t index, std::shared_ptr<ImageView> frame);
    virtual void removeFrame(uint64_t index);
    virtual void setMetadata(std::shared_ptr<MetadataNode> metadata);

    bool support(MultiImageCapability capability) const { return capabilities().has(capability); }
};

} // namespace dravik
