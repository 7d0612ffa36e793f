#include "CSVTestSupport.h"

#include <CSVGrammar.h>
#include <CSVLineAnalysis.h>
#include <CSVLineScanner.h>
#include <CSVTokenTable.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace quenza::csv::test {
namespace {

namespace qi = boost::spirit::qi;

// A token shown without ambiguity: a text with its length (shown() writes a quote and
// a backslash before a quote alike), a double bit for bit (-0, the sign of a
// not-a-number and a unit in the last place all count).
std::string exact(const Token& token)
{
    if (token.which() == TOKEN_STRING) {
        return fmt::format("{}{}", boost::get<std::string>(token).size(), shown(token));
    }
    if (token.which() == TOKEN_INT) {
        return shown(token);
    }
    const double value = boost::get<double>(token);
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return fmt::format("d{:016x}", bits);
}

std::string exact(const Line& line)
{
    std::string out;
    for (const Token& token : line) {
        out += exact(token) + " ";
    }
    return out;
}

Token tokenOf(const CSVTokenTable::Cell& cell)
{
    switch (cell.kind) {
    case CSVTokenTable::INTEGER:
        return static_cast<int32_t>(cell.number);
    case CSVTokenTable::REAL:
        return cell.number;
    default:
        return std::string(cell.text);
    }
}

// "FAIL", or the tokens and how many characters the item took.
std::string byGrammar(const CSVGrammar::Rule<Line(), CSVSkipper>& item, const std::string& text, size_t offset)
{
    CSVIterator position = text.data() + offset;
    Line line;
    if (!qi::phrase_parse(position, text.data() + text.size(), item, blankSkipper(), qi::skip_flag::dont_postskip,
                          line)) {
        return "FAIL";
    }
    return fmt::format("{}| {}", exact(line), position - text.data());
}

std::string byScanner(CSVLineScanner& scanner, CSVLineScanner::Item item, const std::string& text, size_t offset)
{
    CSVIterator position = text.data() + offset;
    std::vector<CSVTokenTable::Cell> cells;
    if (!scanner.parse(item, position, cells)) {
        EXPECT_EQ(position, text.data() + offset) << "a failed match moved";
        return "FAIL";
    }
    Line line;
    for (const CSVTokenTable::Cell& cell : cells) {
        EXPECT_EQ(cell.kind == CSVTokenTable::EMPTY, cell.kind != CSVTokenTable::INTEGER
                                                         && cell.kind != CSVTokenTable::REAL && cell.text.empty());
        line.push_back(tokenOf(cell));
    }
    return fmt::format("{}| {}", exact(line), position - text.data());
}

// Pieces that build the forms the grammar tells apart: numbers in every shape and at
// the limits of the fast forms, nan and inf words, quotes and escapes, blanks, line ends.
const std::vector<std::string>& pieces()
{
    static const std::vector<std::string> all = {
        "1", "12", "0", "007", "-", "+", ".", "e", "E", "e5", "E-3", "e+", "e999", "e280", "e281", "e-0280",
        "2147483647", "2147483648", "-2147483648", "99999999999", "00000000000000000001", "123456789012345678",
        "1234567890123456789", "0." + std::string(199, '0') + "1", "0." + std::string(200, '0') + "1",
        "1." + std::string(700, '0') + "1", "1e400", "1e-400", "nan", "NaN", "nan(x,y)", "nan(", ")", "inf",
        "Infinity", "-inf", "in", "na", "no", "Nancy", "i", "n", "x", "ab c", "\"", "\"\"", "\"a,b\"", "\\",
        "\\n", "\\q", "\\\"", "\\'", "\\a", "\\\\", "'", "\"\\a\\b\\f\\n\\r\\t\\v\\\\\\'\\\"\\x\"",
        "\"a\\\"b\"", " ", "  ", "\t", "\r", "\n", "\r\n", ",", ";", "|", ",", "\xc3\xa9", "1.5", "-.5", "5.",
        ".e1",
    };
    return all;
}

TEST(CSVLineScannerTest, HandlesOneCharacterSeparatorsOutsideNumbersAndQuotes)
{
    for (const std::string separator : {",", ";", "|", "#", ":", "\x01", "\xa7"}) {
        EXPECT_TRUE(CSVLineScanner::handles(separator)) << shown(separator);
    }
    for (const std::string& separator : std::vector<std::string>{"", ",,", " ", "\t", "\n", "\r", "\"", "\\", "+", "-",
                                                                 ".", "e", "n", "5", "a", "Z", std::string(1, '\0')}) {
        EXPECT_FALSE(CSVLineScanner::handles(separator)) << shown(separator);
    }
}

// Every item at every position of many texts: the same match, extent and tokens as
// the grammar's own item.
TEST(CSVLineScannerTest, MatchesTheGrammarItemsEverywhere)
{
    std::mt19937 random(20240612);
    size_t compared = 0;
    for (const std::string& separator : SEPARATORS_LIST) {
        const CSVGrammar grammar(separator);
        const std::pair<CSVLineScanner::Item, const CSVGrammar::Rule<Line(), CSVSkipper>*> items[] = {
            {CSVLineScanner::LINE_1, &grammar.m_item_1},
            {CSVLineScanner::LINE_X_WITH_FINAL_SEP, &grammar.m_item_X_with_final_sep},
            {CSVLineScanner::LINE_X, &grammar.m_item_X},
        };
        for (int i = 0; i < 400; ++i) {
            std::string text;
            const size_t count = random() % 12;
            for (size_t k = 0; k < count; ++k) {
                text += pieces()[random() % pieces().size()];
            }
            CSVLineScanner scanner(text.data(), text.data() + text.size(), separator);
            for (size_t offset = 0; offset <= text.size(); ++offset) {
                for (const auto& [item, rule] : items) {
                    ASSERT_EQ(byScanner(scanner, item, text, offset), byGrammar(*rule, text, offset))
                        << shown(text) << " at " << offset << " with " << separator << " item " << item;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 100000u);
}

} // namespace
} // namespace quenza::csv::test
