#pragma once

#include <dravik/ColumnUnitExtension.h>
#include <dravik/DataFrameView.h>
#include <dravik/DataType.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

/// Units of the columns of an in-memory data frame.
class MemoryColumnUnitExtension : public ColumnUnitExtension {
public:
    explicit MemoryColumnUnitExtension(std::vector<std::string> units);

    std::string unit(size_t column) const override;
    void setUnit(size_t column, const std::string& unit) override;

private:
    void checkColumn(size_t column) const;

    std::vector<std::string> m_units;
};

/// A data frame held in memory, one buffer per column.
class MemoryDataFrameView : public DataFrameView {
public:
    /// Arguments are checked by the caller (DataFrameViewFactory).
    MemoryDataFrameView(uint64_t rowCount, std::vector<std::string> names, std::vector<DataType> types,
                        std::vector<std::string> units);

    std::shared_ptr<Extension> extension(size_t id) override;
    DataFrameCapabilitySet capabilities() const override;
    const VectorXu64& shape() const override;
    std::string columnName(size_t column) const override;
    size_t columnIndex(const std::string& name) const override;
    DataType columnDataType(size_t column) const override;
    void read(size_t column, uint64_t offset, uint64_t count, void* dst) override;
    void write(size_t column, uint64_t offset, uint64_t count, const void* src) override;

    /// True when cells of `type` are std::string rather than packed numbers.
    static bool holdsText(const DataType& type);

private:
    struct Column {
        std::string name;
        DataType type;
        std::vector<uint8_t> bytes;
        std::vector<std::string> texts;
    };

    const Column& checkedColumn(size_t column) const;
    void checkRows(uint64_t offset, uint64_t count, const void* buffer) const;

    VectorXu64 m_shape;
    std::vector<Column> m_columns;
    std::shared_ptr<MemoryColumnUnitExtension> m_units;
};

} // namespace dravik
