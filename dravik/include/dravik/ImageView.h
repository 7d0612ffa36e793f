#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/FlagSet.h>
#include <dravik/ImageInfoProperty.h>
#include <dravik/Indexer.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace dravik {

class ImageProperties;
class MetadataNode;

/// What an image view can do.
enum class ImageCapability : uint32_t {
    READ = 1,
    WRITE = 2,
    /// `reshape` may change shape and data type.
    RESHAPE = 4,
    /// `buffer`, `bufferReadOnly`, `bufferSize` and `indexer` expose the elements in memory.
    MEMORY_ACCESS = 8,
};
using ImageCapabilitySet = FlagSet<ImageCapability>;

/// An n-dimensional array of elements of one data type, with image properties and metadata.
///
/// Regions are read into and written from packed buffers, dimension 0 varying fastest.
/// Implementations override what they support; the defaults of the operations a view
/// does not support throw NotImplemented. The order of the virtual operations is part
/// of the binary contract with the plug-ins and must not change.
class DRAVIK_API ImageView : public View {
public:
    ~ImageView() override;

    using View::extension;
    std::shared_ptr<Extension> extension(size_t id) override;
    virtual ImageCapabilitySet capabilities() const = 0;
    virtual const VectorXu64& shape() const = 0;
    virtual DataType dataType() const = 0;
    /// Calibration and image information; may be empty.
    virtual std::shared_ptr<const ImageProperties> properties() const;
    /// Root of the metadata tree; may be empty.
    virtual std::shared_ptr<const MetadataNode> metadata() const;
    /// One element at `index`; the default reads a one-element region.
    virtual void read(const VectorXu64& index, void* dst);
    /// The elements of `region`, packed into `dst`.
    virtual void readRegion(const RegionXu64& region, void* dst);
    virtual void setProperties(std::shared_ptr<const ImageProperties> properties);
    virtual void setMetadata(std::shared_ptr<MetadataNode> metadata);
    /// One element at `index`; the default writes a one-element region.
    virtual void write(const VectorXu64& index, const void* src);
    /// Replaces the elements of `region` with the packed elements at `src`.
    virtual void writeRegion(const RegionXu64& region, const void* src);
    virtual void reshape(const VectorXu64& shape, DataType dataType);
    /// Layout of `buffer()`; MEMORY_ACCESS views only.
    virtual Indexer indexer() const;
    virtual void* buffer();
    virtual const void* bufferReadOnly() const;
    virtual uint64_t bufferSize() const;

    /// True when `capabilities()` has `capability`.
    bool support(ImageCapability capability) const { return capabilities().has(capability); }
    /// The interpretation of the image information, UNKNOWN without properties.
    ImageInterpretation imageInterpretation() const;
    /// Number of elements of the shape (0 for an empty shape).
    uint64_t elementCount() const;
    /// Bytes of the full region read packed: elementCount() × dataType().byteCount().
    uint64_t byteCount() const;
};

} // namespace dravik
