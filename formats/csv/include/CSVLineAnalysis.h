#pragma once

#include <CSVGrammar.h>
#include <CSVTokenTable.h>

#include <dravik/DataType.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quenza::csv {

/// Candidate separators in order of preference: "|", ",", ";".
extern const std::vector<std::string> SEPARATORS_LIST;

class CSVLineAnalysis {
public:
    static constexpr size_t NO_SEPARATOR = static_cast<size_t>(-1);

    /// Parses the whole text with the grammar of `separator` into `tokensByLine`
    /// (emptied first); true only when the grammar matched and consumed the whole text,
    /// trailing blanks included.
    static bool extract(const std::string& stringToParse, const std::string& separator, FileCSV& tokensByLine);
    static bool extract(CSVIterator first, CSVIterator last, const std::string& separator, FileCSV& tokensByLine);

    /// The same parse line by line into `table`, giving up as soon as the result can
    /// no longer be a coherent table wider than `widthToBeat`. Returns the width of the
    /// coherent table, or 0 (what the table then holds is of no use). Throws
    /// dravik::Error when the table outgrows the memory limit of `table`.
    static size_t parseTable(CSVIterator first, CSVIterator last, const std::string& separator, size_t widthToBeat,
                             CSVTokenTable& table);
    /// parseTable through the grammar's own line items, whatever the separator.
    static size_t grammarTable(CSVIterator first, CSVIterator last, const std::string& separator,
                               size_t widthToBeat, CSVTokenTable& table);

    /// Chooses among SEPARATORS_LIST the separator whose parse gives the widest coherent
    /// table, the earlier one on a tie, and fills `table` with its lines. Returns its
    /// index, or NO_SEPARATOR when every width is 0. With debug logging on, every
    /// candidate is parsed whole and its content logged. Candidates get the memory limit
    /// of `table`.
    static size_t chooseSeparator(CSVIterator first, CSVIterator last, CSVTokenTable& table);
};

/// The token count of the first line when every line has it; 0 otherwise or without tokens.
size_t checkCoherency(const FileCSV& fileContent);
/// Appends the type of each token of `line`: UNKNOWN for an empty text, UTF8_STRING for
/// other texts, INT64 for integers, DOUBLE for reals.
void determineDataTypeInLine(const Line& line, LineTypes& listTypes);
/// The type that holds both.
dravik::DataType discriminateTokenType(const dravik::DataType& type1, const dravik::DataType& type2);
/// Appends the types of the line at `startLine`, then merges into them those of each
/// following line before `endLine`, entry by entry (entries beyond the shorter of the
/// two are left as they are).
void determineDataTypeFromLines(FileCSV::const_iterator startLine, FileCSV::const_iterator endLine,
                                LineTypes& finalTypesList);

} // namespace quenza::csv
