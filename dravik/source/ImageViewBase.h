#pragma once

#include <dravik/ImageProperties.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>

#include <memory>
#include <string>
#include <vector>

namespace dravik {

/// State shared by the library's image views: shape, type, properties, metadata,
/// capabilities and the origin extension.
class ImageViewBase : public ImageView {
public:
    std::shared_ptr<Extension> extension(size_t id) override;
    ImageCapabilitySet capabilities() const override { return m_capabilities; }
    const VectorXu64& shape() const override { return m_shape; }
    DataType dataType() const override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() const override { return m_properties; }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_metadata; }

protected:
    ImageViewBase(const VectorXu64& shape, const DataType& type, ImageCapabilitySet capabilities);

    void setOrigin(std::shared_ptr<ViewOriginExtension> origin) { m_origin = std::move(origin); }
    /// Throws InvalidArgument when `region` does not lie inside the shape.
    void checkRegion(const RegionXu64& region) const;

    VectorXu64 m_shape;
    DataType m_type;
    ImageCapabilitySet m_capabilities;
    std::shared_ptr<const ImageProperties> m_properties;
    std::shared_ptr<const MetadataNode> m_metadata;

private:
    std::shared_ptr<ViewOriginExtension> m_origin;
};

/// Bytes of `elementCount` elements of `type`, with a clear error instead of an overflow.
uint64_t checkedByteCount(uint64_t elementCount, const DataType& type);
/// Elements of `shape`, with a clear error instead of an overflow (0 for an empty shape).
uint64_t checkedElementCount(const VectorXu64& shape);

} // namespace dravik
