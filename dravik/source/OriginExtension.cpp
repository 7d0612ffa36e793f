#include "OriginExtension.h"

#include <dravik/Error.h>
#include <dravik/UidGenerator.h>

#include <array>

namespace dravik {

OriginExtension::OriginExtension(std::string name, ViewDataOrigin origin)
    : m_uid(UidGenerator::generate())
    , m_origin(origin)
    , m_name(std::move(name))
{
}

OriginExtension::OriginExtension(std::string name, const std::vector<View*>& parents)
    : m_uid(UidGenerator::generate())
    , m_name(std::move(name))
{
    std::array<size_t, VIEW_DATA_ORIGIN_COUNT> counts{};
    for (View* view : parents) {
        auto origin = view ? view->viewOrigin() : nullptr;
        if (origin) {
            ++counts[static_cast<size_t>(origin->dataOrigin())];
            m_parents.push_back(std::move(origin));
        }
    }
    size_t kinds = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] != 0) {
            ++kinds;
            m_origin = static_cast<ViewDataOrigin>(i);
        }
    }
    if (kinds == 0) {
        m_origin = ViewDataOrigin::UNKNOWN;
    } else if (kinds > 1) {
        m_origin = ViewDataOrigin::COMPOSITE;
    }
}

std::shared_ptr<ViewOriginExtension> OriginExtension::parent(size_t index) const
{
    if (index >= m_parents.size()) {
        throw Error("Index out of bound");
    }
    return m_parents[index];
}

} // namespace dravik
