#include <common/AbstractExtractor.h>

namespace quenza::common {

AbstractExtractor::~AbstractExtractor() = default;

std::shared_ptr<dravik::Extension> AbstractExtractor::extension(size_t id)
{
    return m_extensions.extensionFromId(id);
}

dravik::ImageCapabilitySet AbstractExtractor::capabilities() const
{
    return m_capabilities;
}

const dravik::VectorXu64& AbstractExtractor::shape() const
{
    return m_shape;
}

dravik::DataType AbstractExtractor::dataType() const
{
    return m_type;
}

std::shared_ptr<const dravik::ImageProperties> AbstractExtractor::properties() const
{
    return m_properties;
}

std::shared_ptr<const dravik::MetadataNode> AbstractExtractor::metadata() const
{
    return m_metadata;
}

} // namespace quenza::common
