#pragma once

#include <dravik/DataAccess.h>
#include <dravik/DataFrameView.h>
#include <dravik/StreamAccess.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quenza::csv {

/// Ends the header and every row.
extern const std::string LINE_BREAK;

/// Writes a data frame as CSV text: a header line of the quoted column names (with
/// their units when the source has them and "display_units" is on), then one line per
/// row. Texts are quoted, with a backslash before each double quote and backslash. The
/// lines of a single-column table end with the delimiter, so that the reader finds one.
class CSVWriter : public dravik::Writer {
public:
    static constexpr const char* FORMAT = "CSV";
    /// Rows read from the source per column read and formatted in one go.
    static constexpr uint64_t ROWS_PER_BLOCK = 4096;

    /// Writes `src` to the file at `path`, which is created or emptied only once `src`
    /// has been accepted.
    CSVWriter(std::shared_ptr<dravik::View> src, const std::string& path);
    /// Writes `src` to `accessor`. Throws dravik::InvalidArgument "unsupported format:
    /// {0}", and dravik::Error "CSV writer only accepts dataframes as input", "CSV writer
    /// only accepts streams as output" or "output stream must support writing".
    CSVWriter(std::shared_ptr<dravik::View> src, std::shared_ptr<dravik::DataAccess> accessor,
              const std::string& format);
    ~CSVWriter() override;

    void writeAll() override;
    /// The header line.
    void writeInit() override;
    /// One line per row.
    void writeData() override;
    /// Flushes the stream.
    void writeFinish() override;
    std::string name() const override;
    std::string version() const override;
    /// "delimiter" (any text) or "display_units" (an integer, on when not 0); any other
    /// name throws dravik::InvalidArgument "invalid option {0}".
    void setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value) override;

private:
    static std::shared_ptr<dravik::DataFrameView> checkedFrame(const std::shared_ptr<dravik::View>& src);
    void setDestination(const std::shared_ptr<dravik::DataAccess>& accessor);

    void writeColumDelimiter();
    void writeLineBreak();
    /// Ends a header or row line of a table of `columns` columns.
    void writeRowEnd(uint64_t columns);
    void writeQuoted(const std::string& text);
    /// Hands the buffered text to the stream; throws dravik::Error when it takes less.
    void flushBuffer();
    /// flushBuffer, for a failure already on its way: its own failure is dropped.
    void flushBufferAfterError() noexcept;

    std::shared_ptr<dravik::DataFrameView> m_src;
    std::shared_ptr<dravik::StreamAccess> m_dst;
    std::string m_delimiter;
    bool m_displayUnits;
    // Text waiting to go to m_dst in large writes.
    std::string m_buffer;
};

} // namespace quenza::csv
