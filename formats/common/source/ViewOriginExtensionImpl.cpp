#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/UidGenerator.h>

namespace quenza::common {

ViewOriginExtensionImpl::ViewOriginExtensionImpl(const std::string& name, dravik::ViewDataOrigin originLeaf)
    : m_uid(dravik::UidGenerator::generate())
    , m_origin(originLeaf)
    , m_name(name)
{
}

ViewOriginExtensionImpl::ViewOriginExtensionImpl(const std::string& name, dravik::View* parent)
    : ViewOriginExtensionImpl(name, std::vector<dravik::View*>{parent})
{
}

ViewOriginExtensionImpl::ViewOriginExtensionImpl(const std::string& name,
                                                 const std::vector<dravik::View*>& listParents)
    : m_uid(dravik::UidGenerator::generate())
    , m_origin(dravik::ViewDataOrigin::UNKNOWN)
    , m_name(name)
    , m_counterForEachOrigin(dravik::VIEW_DATA_ORIGIN_COUNT, 0)
{
    for (dravik::View* parent : listParents) {
        addViewParent(parent);
    }
}

std::shared_ptr<dravik::ViewOriginExtension> ViewOriginExtensionImpl::parent(size_t index) const
{
    if (index >= m_parentList.size()) {
        throw dravik::Error("Index out of bound");
    }
    return m_parentList[index];
}

void ViewOriginExtensionImpl::addViewParent(dravik::View* parent)
{
    if (parent == nullptr) {
        throw dravik::Error("Parent view cannot be null");
    }
    std::shared_ptr<dravik::ViewOriginExtension> origin = parent->viewOrigin();
    if (!origin) {
        throw dravik::Error("Parent view has no view-origin extension");
    }
    // An origin value from a newer library counts as UNKNOWN rather than
    // indexing past the counters.
    auto index = static_cast<size_t>(origin->dataOrigin());
    if (index >= m_counterForEachOrigin.size()) {
        index = static_cast<size_t>(dravik::ViewDataOrigin::UNKNOWN);
    }
    ++m_counterForEachOrigin[index];
    m_parentList.push_back(std::move(origin));
    updateOrigin();
}

void ViewOriginExtensionImpl::updateOrigin()
{
    size_t originsPresent = 0;
    size_t lastPresent = 0;
    for (size_t i = 0; i < m_counterForEachOrigin.size(); ++i) {
        if (m_counterForEachOrigin[i] != 0) {
            ++originsPresent;
            lastPresent = i;
        }
    }
    if (originsPresent == 0) {
        m_origin = dravik::ViewDataOrigin::UNKNOWN;
    } else if (originsPresent == 1) {
        m_origin = static_cast<dravik::ViewDataOrigin>(lastPresent);
    } else {
        m_origin = dravik::ViewDataOrigin::COMPOSITE;
    }
}

} // namespace quenza::common
