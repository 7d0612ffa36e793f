#pragma once

#include <cstdint>
#include <string>

namespace quenza::csv {

/// Texts of numbers as the CSV reader reads them and the writer writes them.
class CSVNumberText {
public:
    /// The value of a text that the grammar's real parser matched as a whole (optional
    /// sign, digits with a decimal point or an exponent, nan, inf), correctly rounded.
    static double parseMatchedReal(const char* first, const char* last);
    /// The correctly rounded value of `text` when it is one real number and nothing else.
    static bool readReal(const std::string& text, double& value);

    /// `std::to_string` of the value: fixed notation with six decimals.
    static void appendFixed(std::string& out, double value);
    /// The fixed six-decimal text when the reader gives back exactly `value` from it,
    /// otherwise the shortest text that reads back exactly; either has a decimal point
    /// or an exponent (or is nan or inf), so the reader types it as a real number.
    static void appendReal(std::string& out, double value);
    /// As above for a float: the text reads back as a double that narrows to `value`.
    static void appendReal(std::string& out, float value);
    static std::string realText(double value);

    static void appendInteger(std::string& out, int64_t value);
    static void appendInteger(std::string& out, uint64_t value);
};

} // namespace quenza::csv
