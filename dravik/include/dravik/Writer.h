#pragma once

#include <dravik/Export.h>

#include <memory>
#include <string>

namespace dravik {

class VariantDataValue;

/// Writes a view to a destination, in one call or step by step. The order of the
/// virtual operations is part of the binary contract with the plug-ins.
class DRAVIK_API Writer {
public:
    virtual ~Writer();

    /// writeInit(), writeData(), writeFinish().
    virtual void writeAll() = 0;
    virtual void writeInit() = 0;
    virtual void writeData() = 0;
    virtual void writeFinish() = 0;
    virtual std::string name() const = 0;
    virtual std::string version() const = 0;
    /// Sets a format option by name before the writing it is to affect.
    virtual void setOption(const std::string& name, std::shared_ptr<VariantDataValue> value) = 0;
};

} // namespace dravik
