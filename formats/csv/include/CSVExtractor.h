#pragma once

#include <CSVTokenTable.h>

#include <common/ExtensionRegister.h>

#include <dravik/DataAccess.h>
#include <dravik/DataFrameView.h>
#include <dravik/DataType.h>
#include <dravik/Extension.h>
#include <dravik/VectorX.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quenza::csv {

/// A CSV text read whole into an in-memory table: the separator, a header line and
/// the column types are inferred from the text.
class CSVExtractor : public dravik::DataFrameView {
public:
    static constexpr const char* FORMAT = "CSV";

    /// Reads the file at `path` (origin DRIVE).
    explicit CSVExtractor(const std::string& path);
    /// Reads `accessor` (origin UNKNOWN). Throws dravik::InvalidArgument "Format {}
    /// not supported by the plugin CsvPlugin" for a format other than "CSV", "Bad input
    /// storage" for an empty or unreadable access, and dravik::Error "Invalid content
    /// file" when no separator gives a coherent table.
    CSVExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format);
    ~CSVExtractor() override;

    using dravik::DataFrameView::extension;
    /// Throws dravik::Error "Extension {id} not found" for an identifier not registered.
    std::shared_ptr<dravik::Extension> extension(size_t id) override;
    dravik::DataFrameCapabilitySet capabilities() const override;
    const dravik::VectorXu64& shape() const override;
    std::string columnName(size_t column) const override;
    size_t columnIndex(const std::string& name) const override;
    dravik::DataType columnDataType(size_t column) const override;
    void read(size_t column, uint64_t offset, uint64_t count, void* dst) override;

private:
    void common(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format);
    void buildFrame(CSVTokenTable& table);

    LineTypes m_columnTypes;
    std::shared_ptr<dravik::DataFrameView> m_memoryFrame;
    quenza::common::ExtensionRegister m_extensions;
};

} // namespace quenza::csv
