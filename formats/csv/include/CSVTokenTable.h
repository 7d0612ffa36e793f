#pragma once

#include <CSVGrammar.h>

#include <dravik/DataType.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quenza::csv {

using LineTypes = std::vector<dravik::DataType>;

/// The lines of one parse, kept compactly and column by column: the first line as
/// tokens, each following line as one kind and one number per cell, the texts of a
/// column end to end in one buffer.
class CSVTokenTable {
public:
    enum Kind : uint8_t { EMPTY = 0, TEXT = 1, INTEGER = 2, REAL = 3 };

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
    bool addLine(Line& line);
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
    /// Frees what the table holds of `column`; its cells are no longer to be asked for.
    void releaseColumn(size_t column);

private:
    struct Column {
        std::vector<uint8_t> kinds;
        // The value of a number cell; for a text cell, the index of its text.
        std::vector<double> numbers;
        std::string texts;
        // Where each text ends in `texts`; each starts where the one before ends.
        std::vector<uint64_t> textEnds;
        // One bit per kind met.
        uint8_t kindsSeen = 0;
    };

    uint64_t m_memoryLimit;
    // What the table holds, roughly.
    uint64_t m_heldBytes = 0;
    Line m_firstLine;
    size_t m_width = 0;
    uint64_t m_rows = 0;
    std::vector<Column> m_columns;
};

} // namespace quenza::csv
