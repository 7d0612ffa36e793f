#include <common/ExtensionRegister.h>

#include <dravik/Error.h>

#include <fmt/format.h>

namespace quenza::common {

void ExtensionRegister::add(size_t extensionId, std::shared_ptr<dravik::Extension> extension)
{
    // An empty entry would later be handed out as if it were the extension.
    if (!extension) {
        throw dravik::InvalidArgument(fmt::format("Extension {0} cannot be null", extensionId));
    }
    m_extensionsById.emplace(extensionId, std::move(extension));
}

std::shared_ptr<dravik::Extension> ExtensionRegister::extensionFromId(size_t id) const
{
    auto found = m_extensionsById.find(id);
    if (found == m_extensionsById.end()) {
        throw dravik::Error(fmt::format("Extension {0} not found", id));
    }
    return found->second;
}

} // namespace quenza::common
