#include "MemoryDataFrameView.h"

#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>

#include <fmt/format.h>

#include <limits>

namespace dravik {

std::shared_ptr<DataFrameView> DataFrameViewFactory::allocate(const VectorXu64& shape,
                                                              const std::vector<std::string>& names,
                                                              const std::vector<DataType>& types,
                                                              const std::vector<std::string>& units)
{
    if (shape.size() != 2) {
        throw InvalidArgument(
            fmt::format("A data-frame shape has 2 entries (columns, rows), not {}: [{}]", shape.size(), shape.toString()));
    }
    const uint64_t columns = shape[0];
    const uint64_t rows = shape[1];
    if (names.size() != columns) {
        throw InvalidArgument(fmt::format("A data frame of {} columns needs {} column names, not {}", columns,
                                          columns, names.size()));
    }
    if (types.size() != columns) {
        throw InvalidArgument(fmt::format("A data frame of {} columns needs {} column types, not {}", columns,
                                          columns, types.size()));
    }
    if (!units.empty() && units.size() != columns) {
        throw InvalidArgument(fmt::format("A data frame of {} columns needs no units or {} units, not {}", columns,
                                          columns, units.size()));
    }
    for (size_t c = 0; c < types.size(); ++c) {
        const DataType& type = types[c];
        if (MemoryDataFrameView::holdsText(type)) {
            if (rows > std::vector<std::string>().max_size()) {
                throw InvalidArgument(fmt::format("Column '{}' cannot hold {} texts", names[c], rows));
            }
            continue;
        }
        const uint64_t cellBytes = type.byteCount();
        if (cellBytes == 0) {
            throw InvalidArgument(fmt::format("Column '{}' has the empty type {}", names[c], type.toString()));
        }
        if (rows > std::numeric_limits<size_t>::max() / cellBytes) {
            throw InvalidArgument(
                fmt::format("Column '{}' of {} rows of {} is too large", names[c], rows, type.toString()));
        }
    }
    return std::make_shared<MemoryDataFrameView>(rows, names, types, units);
}

} // namespace dravik
