#include <dravik/ColumnUnitExtension.h>
#include <dravik/Error.h>
#include <dravik/Extension.h>
#include <dravik/TilingInfoExtension.h>
#include <dravik/ViewOriginExtension.h>

namespace dravik {

Extension::~Extension() = default;
ViewOriginExtension::~ViewOriginExtension() = default;
ColumnUnitExtension::~ColumnUnitExtension() = default;
TilingInfoExtension::~TilingInfoExtension() = default;

void ColumnUnitExtension::setUnit(size_t /*column*/, const std::string& /*unit*/)
{
    throw NotImplemented("This view does not allow changing column units");
}

void TilingInfoExtension::writeTile(uint64_t /*index*/, const void* /*src*/)
{
    throw NotImplemented("This view does not allow writing tiles");
}

const char* toString(ViewDataOrigin origin)
{
    switch (origin) {
    case ViewDataOrigin::UNKNOWN: return "UNKNOWN";
    case ViewDataOrigin::CPU_MEMORY: return "CPU_MEMORY";
    case ViewDataOrigin::DRIVE: return "DRIVE";
    case ViewDataOrigin::GPU_MEMORY: return "GPU_MEMORY";
    case ViewDataOrigin::NETWORK: return "NETWORK";
    case ViewDataOrigin::GENERATED: return "GENERATED";
    case ViewDataOrigin::COMPOSITE: return "COMPOSITE";
    }
    return "UNKNOWN";
}

} // namespace dravik
