#pragma once

#include <dravik/Export.h>
#include <dravik/Extension.h>

#include <cstddef>
#include <string>

namespace dravik {

/// Physical unit of each column of a data frame ("nm", "s"; empty when unitless).
class DRAVIK_API ColumnUnitExtension : public Extension {
public:
    static constexpr size_t EXTENSION_ID = 2;

    ~ColumnUnitExtension() override;
    /// The unit of `column`; throws InvalidArgument for a column that does not exist.
    virtual std::string unit(size_t column) const = 0;
    /// Changes the unit of `column`; the default throws NotImplemented.
    virtual void setUnit(size_t column, const std::string& unit);
};

} // namespace dravik
