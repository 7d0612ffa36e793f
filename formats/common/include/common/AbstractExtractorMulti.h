#pragma once

#include <common/ExtensionRegister.h>

#include <dravik/Extension.h>
#include <dravik/MetadataNode.h>
#include <dravik/MultiImageView.h>

#include <cstddef>
#include <memory>

namespace quenza::common {

/// Base of an extractor that is a sequence of images: it reports the metadata,
/// capabilities and extensions that the subclass's constructor fills in; the subclass
/// provides the frames.
class AbstractExtractorMulti : public dravik::MultiImageView {
public:
    ~AbstractExtractorMulti() override;

    using dravik::MultiImageView::extension;
    /// Throws dravik::Error "Extension {id} not found" for an identifier not registered.
    std::shared_ptr<dravik::Extension> extension(size_t id) override;
    dravik::MultiImageCapabilitySet capabilities() const override;
    std::shared_ptr<const dravik::MetadataNode> metadata() const override;

protected:
    AbstractExtractorMulti() = default;

    std::shared_ptr<dravik::MetadataNode> m_metadata;
    dravik::MultiImageCapabilitySet m_capabilities;
    ExtensionRegister m_extensions;
};

} // namespace quenza::common
