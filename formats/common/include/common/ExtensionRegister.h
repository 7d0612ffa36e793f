#pragma once

#include <dravik/Extension.h>

#include <cstddef>
#include <map>
#include <memory>

namespace quenza::common {

/// The extensions of a view, by identifier. The first extension registered under an
/// identifier stays.
class ExtensionRegister {
public:
    /// Registers `extension` under `extensionId` unless that identifier is taken.
    /// Throws dravik::InvalidArgument for an empty pointer.
    void add(size_t extensionId, std::shared_ptr<dravik::Extension> extension);
    /// Registers `extension` under the `EXTENSION_ID` of `T`.
    template <typename T>
    void add(std::shared_ptr<T> extension)
    {
        add(T::EXTENSION_ID, std::shared_ptr<dravik::Extension>(std::move(extension)));
    }
    /// The extension registered under `id`; throws dravik::Error "Extension {id} not found".
    std::shared_ptr<dravik::Extension> extensionFromId(size_t id) const;

private:
    std::map<size_t, std::shared_ptr<dravik::Extension>> m_extensionsById;
};

} // namespace quenza::common
