#pragma once

#include <dravik/Export.h>
#include <dravik/Extension.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dravik {

/// Where the data of a view comes from.
enum class ViewDataOrigin : uint8_t {
    UNKNOWN = 0,
    CPU_MEMORY = 1,
    DRIVE = 2,
    GPU_MEMORY = 3,
    NETWORK = 4,
    GENERATED = 5,
    /// Derived from views of different origins.
    COMPOSITE = 6,
};

/// Number of ViewDataOrigin values.
constexpr size_t VIEW_DATA_ORIGIN_COUNT = 7;

/// Name of an origin: "DRIVE", "CPU_MEMORY"...
DRAVIK_API const char* toString(ViewDataOrigin origin);

/// Tells where a view's data comes from and which views it was derived from.
class DRAVIK_API ViewOriginExtension : public Extension {
public:
    static constexpr size_t EXTENSION_ID = 3;

    ~ViewOriginExtension() override;
    /// Identifier unique within the process.
    virtual uint64_t uid() const = 0;
    virtual size_t parentCount() const = 0;
    /// The origin of the parent view at `index`; throws Error when `index` >= parentCount().
    virtual std::shared_ptr<ViewOriginExtension> parent(size_t index) const = 0;
    virtual ViewDataOrigin dataOrigin() const = 0;
    virtual std::string displayName() const = 0;
};

} // namespace dravik
