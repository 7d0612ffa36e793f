#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/VectorX.h>

#include <memory>
#include <string>
#include <vector>

namespace dravik {

class DataFrameView;

class DRAVIK_API DataFrameViewFactory {
public:
    /// An in-memory table of `shape` (columns, rows) with one name and one type per
    /// column (READ, WRITE). Numeric columns hold zeros and string columns (UTF8_STRING
    /// and UNKNOWN) empty texts until written. With `units` (one per column) the table
    /// offers the column-unit extension. Throws InvalidArgument when counts disagree.
    static std::shared_ptr<DataFrameView> allocate(const VectorXu64& shape, const std::vector<std::string>& names,
                                                   const std::vector<DataType>& types,
                                                   const std::vector<std::string>& units = {});
};

} // namespace dravik
