#include <common/AbstractExtractorMulti.h>

namespace quenza::common {

AbstractExtractorMulti::~AbstractExtractorMulti() = default;

std::shared_ptr<dravik::Extension> AbstractExtractorMulti::extension(size_t id)
{
    return m_extensions.extensionFromId(id);
}

dravik::MultiImageCapabilitySet AbstractExtractorMulti::capabilities() const
{
    return m_capabilities;
}

std::shared_ptr<const dravik::MetadataNode> AbstractExtractorMulti::metadata() const
{
    return m_metadata;
}

} // namespace quenza::common
