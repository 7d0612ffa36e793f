#pragma once

#include <common/ExtensionRegister.h>

#include <dravik/DataType.h>
#include <dravik/Extension.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>

#include <cstddef>
#include <memory>

namespace quenza::common {

/// Base of an extractor that is one image: it reports the shape, type, properties,
/// metadata, capabilities and extensions that the subclass's constructor fills in.
class AbstractExtractor : public dravik::ImageView {
public:
    ~AbstractExtractor() override;

    using dravik::ImageView::extension;
    /// Throws dravik::Error "Extension {id} not found" for an identifier not registered.
    std::shared_ptr<dravik::Extension> extension(size_t id) override;
    dravik::ImageCapabilitySet capabilities() const override;
    const dravik::VectorXu64& shape() const override;
    dravik::DataType dataType() const override;
    std::shared_ptr<const dravik::ImageProperties> properties() const override;
    std::shared_ptr<const dravik::MetadataNode> metadata() const override;
    void readRegion(const dravik::RegionXu64& region, void* dst) override = 0;

protected:
    AbstractExtractor() = default;

    dravik::VectorXu64 m_shape;
    dravik::DataType m_type;
    std::shared_ptr<dravik::ImageProperties> m_properties;
    std::shared_ptr<dravik::MetadataNode> m_metadata;
    dravik::ImageCapabilitySet m_capabilities;
    ExtensionRegister m_extensions;
};

} // namespace quenza::common
