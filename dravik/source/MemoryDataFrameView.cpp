#include "MemoryDataFrameView.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace dravik {

MemoryColumnUnitExtension::MemoryColumnUnitExtension(std::vector<std::string> units)
    : m_units(std::move(units))
{
}

void MemoryColumnUnitExtension::checkColumn(size_t column) const
{
    if (column >= m_units.size()) {
        throw InvalidArgument(
            fmt::format("Column {} out of range for a data frame of {} columns", column, m_units.size()));
    }
}

std::string MemoryColumnUnitExtension::unit(size_t column) const
{
    checkColumn(column);
    return m_units[column];
}

void MemoryColumnUnitExtension::setUnit(size_t column, const std::string& unit)
{
    checkColumn(column);
    m_units[column] = unit;
}

bool MemoryDataFrameView::holdsText(const DataType& type)
{
    return type.isString() || type.isUnknown();
}

MemoryDataFrameView::MemoryDataFrameView(uint64_t rowCount, std::vector<std::string> names,
                                         std::vector<DataType> types, std::vector<std::string> units)
    : m_shape{static_cast<uint64_t>(names.size()), rowCount}
{
    m_columns.reserve(names.size());
    try {
        for (size_t c = 0; c < names.size(); ++c) {
            Column column{std::move(names[c]), types[c], {}, {}};
            if (holdsText(column.type)) {
                column.texts.resize(static_cast<size_t>(rowCount));
            } else {
                column.bytes.resize(static_cast<size_t>(rowCount * column.type.byteCount()));
            }
            m_columns.push_back(std::move(column));
        }
    } catch (const std::bad_alloc&) {
        throw Error(fmt::format("Not enough memory for a data frame of {} rows", rowCount));
    }
    if (!units.empty()) {
        m_units = std::make_shared<MemoryColumnUnitExtension>(std::move(units));
    }
}

std::shared_ptr<Extension> MemoryDataFrameView::extension(size_t id)
{
    if (id == ColumnUnitExtension::EXTENSION_ID && m_units) {
        return m_units;
    }
    return DataFrameView::extension(id);
}

DataFrameCapabilitySet MemoryDataFrameView::capabilities() const
{
    return {DataFrameCapability::READ, DataFrameCapability::WRITE};
}

const VectorXu64& MemoryDataFrameView::shape() const
{
    return m_shape;
}

const MemoryDataFrameView::Column& MemoryDataFrameView::checkedColumn(size_t column) const
{
    if (column >= m_columns.size()) {
        throw InvalidArgument(
            fmt::format("Column {} out of range for a data frame of {} columns", column, m_columns.size()));
    }
    return m_columns[column];
}

void MemoryDataFrameView::checkRows(uint64_t offset, uint64_t count, const void* buffer) const
{
    const uint64_t rows = m_shape[1];
    if (offset > rows || count > rows - offset) {
        throw InvalidArgument(
            fmt::format("Rows {} to {} out of range for a data frame of {} rows", offset, offset + count, rows));
    }
    if (count > 0 && buffer == nullptr) {
        throw InvalidArgument("No buffer given for data-frame cells");
    }
}

std::string MemoryDataFrameView::columnName(size_t column) const
{
    return checkedColumn(column).name;
}

size_t MemoryDataFrameView::columnIndex(const std::string& name) const
{
    auto it = std::find_if(m_columns.begin(), m_columns.end(), [&name](const Column& c) { return c.name == name; });
    if (it == m_columns.end()) {
        throw InvalidArgument(fmt::format("No column named '{}'", name));
    }
    return static_cast<size_t>(it - m_columns.begin());
}

DataType MemoryDataFrameView::columnDataType(size_t column) const
{
    return checkedColumn(column).type;
}

void MemoryDataFrameView::read(size_t column, uint64_t offset, uint64_t count, void* dst)
{
    const Column& c = checkedColumn(column);
    checkRows(offset, count, dst);
    if (count == 0) {
        return;
    }
    if (holdsText(c.type)) {
        std::copy_n(c.texts.begin() + static_cast<std::ptrdiff_t>(offset), count, static_cast<std::string*>(dst));
    } else {
        const uint64_t cellBytes = c.type.byteCount();
        std::memcpy(dst, c.bytes.data() + offset * cellBytes, count * cellBytes);
    }
}

void MemoryDataFrameView::write(size_t column, uint64_t offset, uint64_t count, const void* src)
{
    checkedColumn(column);
    checkRows(offset, count, src);
    if (count == 0) {
        return;
    }
    Column& c = m_columns[column];
    if (holdsText(c.type)) {
        std::copy_n(static_cast<const std::string*>(src), count, c.texts.begin() + static_cast<std::ptrdiff_t>(offset));
    } else {
        const uint64_t cellBytes = c.type.byteCount();
        std::memmove(c.bytes.data() + offset * cellBytes, src, count * cellBytes);
    }
}

} // namespace dravik
