#pragma once

#include <dravik/Error.h>
#include <dravik/Export.h>
#include <dravik/Extension.h>

#include <cstddef>
#include <memory>

namespace dravik {

class ViewOriginExtension;

/// Base of every view: an image, a sequence of images, a multi-resolution volume or a table.
class DRAVIK_API View {
public:
    virtual ~View();

    /// The extension registered under `id`. The default has none and throws Error
    /// "Extension {id} not found".
    virtual std::shared_ptr<Extension> extension(size_t id);

    /// The extension of class `T` (by its EXTENSION_ID), cast to `T`; throws Error when absent.
    template <typename T>
    std::shared_ptr<T> extension()
    {
        auto ext = std::dynamic_pointer_cast<T>(extension(T::EXTENSION_ID));
        if (!ext) {
            throw Error("Extension " + std::to_string(T::EXTENSION_ID) + " has an unexpected type");
        }
        return ext;
    }

    /// The view's origin extension, or empty when the view has none.
    std::shared_ptr<ViewOriginExtension> viewOrigin();
};

} // namespace dravik
