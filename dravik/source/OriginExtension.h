#pragma once

#include <dravik/View.h>
#include <dravik/ViewOriginExtension.h>

#include <memory>
#include <string>
#include <vector>

namespace dravik {

/// The origin extension of the library's own views: a leaf with a fixed origin, or a
/// view derived from parents, whose origin is theirs when they agree and COMPOSITE when not.
class OriginExtension : public ViewOriginExtension {
public:
    OriginExtension(std::string name, ViewDataOrigin origin);
    /// Parents without an origin extension are left out.
    OriginExtension(std::string name, const std::vector<View*>& parents);

    uint64_t uid() const override { return m_uid; }
    size_t parentCount() const override { return m_parents.size(); }
    std::shared_ptr<ViewOriginExtension> parent(size_t index) const override;
    ViewDataOrigin dataOrigin() const override { return m_origin; }
    std::string displayName() const override { return m_name; }

private:
    uint64_t m_uid;
    ViewDataOrigin m_origin = ViewDataOrigin::UNKNOWN;
    std::string m_name;
    std::vector<std::shared_ptr<ViewOriginExtension>> m_parents;
};

} // namespace dravik
