#pragma once

#include <CSVGrammar.h>
#include <CSVTokenTable.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quenza::csv {

/// The line items of CSVGrammar (a line rule, then a line end or the end of the text)
/// matched by hand for a one-character separator: the same extents and the same tokens.
/// A field that may be a number in a form it does not take for certain (nan, inf, a
/// sign alone, very long digit runs, large exponents) is handed to the grammar's token
/// rule.
class CSVLineScanner {
public:
    enum Item { LINE_1, LINE_X_WITH_FINAL_SEP, LINE_X };

    /// True for a one-character separator that cannot be part of a number or of the
    /// blanks, quotes and line ends around fields.
    static bool handles(const std::string& separator);

    /// Scans [first, last) with `separator`, which handles() must accept.
    CSVLineScanner(CSVIterator first, CSVIterator last, const std::string& separator);
    ~CSVLineScanner();
    CSVLineScanner(const CSVLineScanner&) = delete;
    CSVLineScanner& operator=(const CSVLineScanner&) = delete;

    /// Matches `item` at `position`. On a match, `cells` holds the fields of the line
    /// (their texts valid until the next call) and `position` stands after the line
    /// end; otherwise both are left as they were.
    bool parse(Item item, CSVIterator& position, std::vector<CSVTokenTable::Cell>& cells);

private:
    struct Field {
        CSVTokenTable::Kind kind;
        double number;
        // Where the text is: in the scanned text or, when it was unescaped, in m_decoded.
        bool decoded;
        size_t start;
        size_t length;
    };
    enum class NumberMatch { TOKEN, TEXT, UNSURE };

    void skipBlanks(CSVIterator& p) const;
    bool separator(CSVIterator& p) const;
    bool lineEnd(CSVIterator& p) const;
    void tokenOrEmpty(CSVIterator& p);
    bool token(CSVIterator& p, Field& field);
    bool quoted(CSVIterator& p, Field& field);
    bool unquoted(CSVIterator& p, Field& field) const;
    NumberMatch number(CSVIterator& p, Field& field) const;
    bool grammarToken(CSVIterator& p, Field& field);
    Field textField(CSVIterator start, CSVIterator end) const;

    CSVIterator m_first;
    CSVIterator m_last;
    std::string m_separatorText;
    char m_separator;
    // The bytes that end unquoted text: the double quote, the separator and line ends.
    std::array<bool, 256> m_stops{};
    std::vector<Field> m_fields;
    std::string m_decoded;
    // Built on the first field that needs it.
    std::unique_ptr<CSVGrammar> m_grammar;
};

} // namespace quenza::csv
