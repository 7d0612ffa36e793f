#pragma once

#include <common/ExtensionRegister.h>

#include <dravik/Extension.h>
#include <dravik/LodImageView.h>
#include <dravik/Vector.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quenza::vxt {

/// Base of an extractor that is a multi-resolution view: it answers extensions from
/// its register; the subclass provides the levels.
class AbstractExtractorLod : public dravik::LodImageView {
public:
    ~AbstractExtractorLod() override;

    using dravik::LodImageView::extension;
    /// Throws dravik::Error "Extension {id} not found" for an identifier not registered.
    std::shared_ptr<dravik::Extension> extension(size_t id) override;
    dravik::Vector<int64_t, 2> levelRange() const override = 0;
    std::shared_ptr<dravik::ImageView> resolution(int64_t level) override = 0;

protected:
    AbstractExtractorLod() = default;

    common::ExtensionRegister m_extensions;
};

} // namespace quenza::vxt
