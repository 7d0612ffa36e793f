#pragma once

#include <dravik/Export.h>

namespace dravik {

/// An optional interface of a view, asked for by identifier with `View::extension`.
/// Every extension class defines its identifier as `EXTENSION_ID`.
class DRAVIK_API Extension {
public:
    virtual ~Extension();
};

} // namespace dravik
