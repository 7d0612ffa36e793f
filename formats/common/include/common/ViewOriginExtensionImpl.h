#pragma once

#include <dravik/View.h>
#include <dravik/ViewOriginExtension.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::common {

/// Where a view's data comes from: a fixed origin for a leaf view, or for a derived
/// view the origin its parents share, COMPOSITE when they differ.
class ViewOriginExtensionImpl : public dravik::ViewOriginExtension {
public:
    /// A leaf view of origin `originLeaf`.
    ViewOriginExtensionImpl(const std::string& name, dravik::ViewDataOrigin originLeaf);
    /// A view derived from `parent`. Throws dravik::Error "Parent view cannot be null",
    /// and dravik::Error when the parent has no origin extension.
    ViewOriginExtensionImpl(const std::string& name, dravik::View* parent);
    /// A view derived from `listParents`, in order; UNKNOWN without parents. Every
    /// element must be non-null and have an origin extension, as above.
    ViewOriginExtensionImpl(const std::string& name, const std::vector<dravik::View*>& listParents);

    uint64_t uid() const override { return m_uid; }
    size_t parentCount() const override { return m_parentList.size(); }
    /// Throws dravik::Error "Index out of bound" when `index` >= parentCount().
    std::shared_ptr<dravik::ViewOriginExtension> parent(size_t index) const override;
    dravik::ViewDataOrigin dataOrigin() const override { return m_origin; }
    std::string displayName() const override { return m_name; }

private:
    void addViewParent(dravik::View* parent);
    void updateOrigin();

    uint64_t m_uid;
    dravik::ViewDataOrigin m_origin;
    std::string m_name;
    std::vector<std::shared_ptr<dravik::ViewOriginExtension>> m_parentList;
    std::vector<size_t> m_counterForEachOrigin;
};

} // namespace quenza::common
