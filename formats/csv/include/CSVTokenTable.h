#pragma once

#include <CSVGrammar.h>

#include <dravik/DataType.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quenza::csv {

using LineTypes = std::vector<dravik::DataType>;

/// The lines of one parse, kept compactly and column by column: the first line as
/// tokens, each following line as one kind and one number per cell, the texts of a
/// column end to end in one buffer.
class CSVTokenTable {
public:
    enum Kind : uint8_t { EMPTY = 0, TEXT = 1, INTEGER = 2, REAL = 3 };

    /// One field of a line: its kind, the value of a number, the text of a text.
    struct Cell {
        Kind kind;
        double number;
        std::string_view text;
    };

    /// A table that may use up to `memoryLimit` bytes, with the frame made from it; by
    /// default the machine's physical memory.
    explicit CSVTokenTable(uint64_t memoryLimit = physicalMemory());
    static uint64_t physicalMemory();
    uint64_t memoryLimit() const { return m_memoryLimit; }
    /// Throws dravik::Error when this table, the frame it will fill and `otherBytes`
    /// held besides would not fit the limit: a few bytes of text can stand for a cell
    /// that takes tens of bytes in memory.
    void checkMemory(uint64_t otherBytes) const;

    /// Starts the table; its width is the token count of `line`.
    void setFirstLine(Line line);
    /// Appends a line after the first; false, and nothing kept, when its token count
    /// differs from the width.
    bool addLine(const Line& line);
    bool addLine(const std::vector<Cell>& cells);
    /// Makes room for `rows` following lines in all, with texts as long as those so far,
    /// when the memory limit allows it: long columns then grow without copies.
    void reserveRows(uint64_t rows);
    /// The table of `lines` when they are coherent (checkCoherency above 0); otherwise false.
    bool assign(FileCSV&& lines);

    size_t width() const { return m_width; }
    /// Lines after the first.
    uint64_t followingRows() const { return m_rows; }
    const Line& firstLine() const { return m_firstLine; }
    /// determineDataTypeFromLines over the lines after the first; empty without any.
    LineTypes followingTypes() const;

    Kind kind(uint64_t row, size_t column) const { return static_cast<Kind>(m_columns[column].kinds[row]); }
    /// The value of an INTEGER or REAL cell of the following lines.
    double number(uint64_t row, size_t column) const { return m_columns[column].numbers[row]; }
    /// The text of a TEXT cell of the following lines.
    std::string text(uint64_t row, size_t column) const;
    /// The same, valid until the column is released.
    std::string_view textView(uint64_t row, size_t column) const;
    /// Frees what the table holds of `column`; its cells are no longer to be asked for.
    void releaseColumn(size_t column);

private:
    // Bytes appended end to end, left uninitialised until written.
    class Bytes {
    public:
        size_t size() const { return m_size; }
        const char* data() const { return m_data.get(); }
        void reserve(size_t capacity);
        void append(const char* bytes, size_t count)
        {
            if (m_capacity - m_size < count) {
                reserve(std::max(m_size + count, 2 * m_capacity));
            }
            std::memcpy(m_data.get() + m_size, bytes, count);
            m_size += count;
        }

    private:
        std::unique_ptr<char[]> m_data;
        size_t m_size = 0;
        size_t m_capacity = 0;
    };

    struct Column {
        std::vector<uint8_t> kinds;
        // The value of a number cell; for a text cell, where its record starts in `texts`.
        std::vector<double> numbers;
        // Each text as its length (7 bits a byte, lowest first) followed by its bytes.
        Bytes texts;
        // One bit per kind met.
        uint8_t kindsSeen = 0;
    };

    void add(Column& column, Kind kind, double number, std::string_view text);

    uint64_t m_memoryLimit;
    // What the table holds, roughly.
    uint64_t m_heldBytes = 0;
    Line m_firstLine;
    size_t m_width = 0;
    uint64_t m_rows = 0;
    std::vector<Column> m_columns;
};

} // namespace quenza::csv
