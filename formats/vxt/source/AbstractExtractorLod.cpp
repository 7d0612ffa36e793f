#include <AbstractExtractorLod.h>

namespace quenza::vxt {

AbstractExtractorLod::~AbstractExtractorLod() = default;

std::shared_ptr<dravik::Extension> AbstractExtractorLod::extension(size_t id)
{
    return m_extensions.extensionFromId(id);
}

} // namespace quenza::vxt
