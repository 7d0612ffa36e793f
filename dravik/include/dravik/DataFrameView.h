#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/FlagSet.h>
#include <dravik/VectorX.h>
#include <dravik/View.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dravik {

enum class DataFrameCapability : uint32_t {
    READ = 1,
    WRITE = 2,
};
using DataFrameCapabilitySet = FlagSet<DataFrameCapability>;

/// A table of named, typed columns.
///
/// Cells are read and written a column at a time: numeric columns as packed values
/// of the column type, UTF8_STRING (and UNKNOWN) columns as arrays of std::string.
class DRAVIK_API DataFrameView : public View {
public:
    ~DataFrameView() override;

    using View::extension;
    std::shared_ptr<Extension> extension(size_t id) override;
    virtual DataFrameCapabilitySet capabilities() const = 0;
    /// (column count, row count).
    virtual const VectorXu64& shape() const = 0;
    virtual std::string columnName(size_t column) const = 0;
    /// The first column named `name`; throws InvalidArgument when there is none.
    virtual size_t columnIndex(const std::string& name) const = 0;
    virtual DataType columnDataType(size_t column) const = 0;
    /// `count` cells of `column` from row `offset` into `dst`.
    virtual void read(size_t column, uint64_t offset, uint64_t count, void* dst) = 0;
    /// `count` cells of `column` from row `offset`, taken from `src`; the default throws NotImplemented.
    virtual void write(size_t column, uint64_t offset, uint64_t count, const void* src);

    bool support(DataFrameCapability capability) const { return capabilities().has(capability); }
    /// The unit of `column` from the column-unit extension; throws Error when the view has none.
    std::string unit(size_t column);
};

} // namespace dravik
