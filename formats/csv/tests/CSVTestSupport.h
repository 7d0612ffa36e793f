#pragma once

#include <CSVGrammar.h>
#include <CSVTokenTable.h>

#include <dravik/DataFrameView.h>
#include <dravik/DataType.h>

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace quenza::csv::test {

/// A text with its control characters and quotes shown: a\nb becomes 'a\nb'.
inline std::string shown(const std::string& text)
{
    std::string out = "'";
    for (const char c : text) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\'':
            out += "\\'";
            break;
        default:
            out += c;
        }
    }
    return out + "'";
}

/// s'text', i12 or d1.5 (the shortest text of the double).
inline std::string shown(const Token& token)
{
    switch (token.which()) {
    case TOKEN_STRING:
        return "s" + shown(boost::get<std::string>(token));
    case TOKEN_INT:
        return fmt::format("i{}", boost::get<int32_t>(token));
    default:
        return fmt::format("d{}", boost::get<double>(token));
    }
}

/// Tokens separated by blanks, lines by " / ".
inline std::string shown(const FileCSV& lines)
{
    std::string out;
    for (size_t l = 0; l < lines.size(); ++l) {
        out += l ? " / " : "";
        for (size_t t = 0; t < lines[l].size(); ++t) {
            out += (t ? " " : "") + shown(lines[l][t]);
        }
    }
    return out;
}

/// The lines a table holds, back as tokens.
inline FileCSV linesOf(CSVTokenTable& table)
{
    FileCSV lines{table.firstLine()};
    for (uint64_t row = 0; row < table.followingRows(); ++row) {
        Line line;
        for (size_t column = 0; column < table.width(); ++column) {
            switch (table.kind(row, column)) {
            case CSVTokenTable::EMPTY:
                line.emplace_back(std::string());
                break;
            case CSVTokenTable::TEXT:
                line.emplace_back(table.text(row, column));
                break;
            case CSVTokenTable::INTEGER:
                line.emplace_back(static_cast<int32_t>(table.number(row, column)));
                break;
            case CSVTokenTable::REAL:
                line.emplace_back(table.number(row, column));
                break;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

/// The cells of one column of a frame as texts: numbers in their shortest form ("nan"
/// for any not-a-number), texts as shown() gives them.
inline std::vector<std::string> columnTexts(dravik::DataFrameView& frame, size_t column)
{
    const uint64_t rows = frame.shape()[1];
    const dravik::DataTypeId type = frame.columnDataType(column).id();
    std::vector<std::string> texts;
    if (type == dravik::DataTypeId::DOUBLE) {
        std::vector<double> values(rows);
        frame.read(column, 0, rows, values.data());
        for (double v : values) {
            texts.push_back(std::isnan(v) ? "nan" : fmt::format("{}", v));
        }
    } else if (type == dravik::DataTypeId::INT64) {
        std::vector<int64_t> values(rows);
        frame.read(column, 0, rows, values.data());
        for (int64_t v : values) {
            texts.push_back(std::to_string(v));
        }
    } else {
        std::vector<std::string> values(rows);
        frame.read(column, 0, rows, values.data());
        for (const std::string& v : values) {
            texts.push_back(shown(v));
        }
    }
    return texts;
}

} // namespace quenza::csv::test
