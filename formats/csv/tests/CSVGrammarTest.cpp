#include "CSVTestSupport.h"
#include "TestSupport.h"

#include <CSVGrammar.h>
#include <CSVLineAnalysis.h>
#include <CSVTokenTable.h>

#include <dravik/DataType.h>
#include <dravik/Error.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace quenza::csv::test {
namespace {

// The result of parsing `text` whole with `separator`: "FAIL", or the width that
// checkCoherency gives and the tokens.
std::string parsed(const std::string& text, const std::string& separator)
{
    FileCSV lines;
    if (!CSVLineAnalysis::extract(text, separator, lines)) {
        return "FAIL";
    }
    return fmt::format("{}: {}", checkCoherency(lines), shown(lines));
}

struct GrammarCase {
    std::string text;
    std::string bar;
    std::string comma;
    std::string semicolon;
};

const std::string FAIL = "FAIL";

const std::vector<GrammarCase>& grammarCases()
{
    static const std::vector<GrammarCase> cases = {
        // Separators and widths.
        {"a,b\nc,d\n", FAIL, "2: s'a' s'b' / s'c' s'd'", FAIL},
        {"a;b,c", FAIL, "2: s'a;b' s'c'", "2: s'a' s'b,c'"},
        {"x|y\nz|w\n", "2: s'x' s'y' / s'z' s'w'", FAIL, FAIL},
        {"a|b,c|d\n", "3: s'a' s'b,c' s'd'", "2: s'a|b' s'c|d'", FAIL},
        // Final separators: read without them, all lines alike or the parse stops.
        {"a,b,\nc,d,\n", FAIL, "2: s'a' s'b' / s'c' s'd'", FAIL},
        {"a,b\nc,d,\n", FAIL, "0: s'a' s'b' / s'c' s'd' s''", FAIL},
        {"a,b,\nc,d\n", FAIL, FAIL, FAIL},
        {"a,,b,\n", FAIL, "4: s'a' s'' s'b' s''", FAIL},
        {",\n", FAIL, "2: s'' s''", FAIL},
        // The first-line alternative: one field and the separator.
        {"a,\nb,c\n", FAIL, FAIL, FAIL},
        {"1,\n2,\n", FAIL, "1: i1 / i2", FAIL},
        // Quoted fields, escapes.
        {"\"x,y\",z\n", FAIL, "2: s'x,y' s'z'", FAIL},
        {"\"two\nlines\",z\r\n", FAIL, "2: s'two\\nlines' s'z'", FAIL},
        {"\"\\n\\t\",x", FAIL, "2: s'\\n\\t' s'x'", FAIL},
        {"\"a\\qb\",c", FAIL, "2: s'a\\qb' s'c'", FAIL},
        {"\"a\"\"b\",c\n", FAIL, FAIL, FAIL},
        {"\"\",a\n", FAIL, "2: s'' s'a'", FAIL},
        {"\"a\" ,\"b\"\n", FAIL, "2: s'a' s'b'", FAIL},
        // Numbers: strict reals, then 32-bit integers, then text.
        {"1.5,15,\"15\",3000000000,1e5\n", FAIL, "5: d1.5 i15 s'15' s'3000000000' d100000", FAIL},
        {"1.,.5,2e3,-4,+5,-2.5E-1\n", FAIL, "6: d1 d0.5 d2000 i-4 i5 d-0.25", FAIL},
        {"nan,inf,-inf,NaN,Infinity,nan(12)\n", FAIL, "6: dnan dinf d-inf dnan dinf dnan", FAIL},
        {"-2147483648,2147483647,2147483648\n", FAIL, "3: i-2147483648 i2147483647 s'2147483648'", FAIL},
        {"-5,+-1\n", FAIL, "2: i-5 s'+-1'", FAIL},
        {"1e-400,x\n", FAIL, "2: d0 s'x'", FAIL},
        {"1e400,x\n", FAIL, FAIL, FAIL},
        // Fractions of more than 614 digits: 0 (not about 1e-307, nor an assertion), the
        // exponent still counted in full.
        {"x,." + std::string(700, '0') + "1\n", FAIL, "2: s'x' d0", FAIL},
        {"x,-0." + std::string(700, '0') + "1\n", FAIL, "2: s'x' d-0", FAIL},
        {"x,." + std::string(700, '0') + "1e400\n", FAIL, "2: s'x' d1e-301", FAIL},
        {"x,." + std::string(700, '0') + "1e5\n", FAIL, "2: s'x' s'." + std::string(700, '0') + "1e5'", FAIL},
        {"x,." + std::string(700, '0') + "1e\n", FAIL, FAIL, FAIL},
        // A field that starts as a number and goes on makes the line fail.
        {"a,b\n2021-01-01,c\n", FAIL, FAIL, FAIL},
        {"12abc,x\n", FAIL, FAIL, FAIL},
        {"1,5;2\n", FAIL, FAIL, FAIL},
        {"1 2,3\n", FAIL, FAIL, FAIL},
        {"Nancy,Bob\n", FAIL, FAIL, FAIL},
        // Blanks: skipped before tokens, kept inside and after unquoted text.
        {"  a b  ,  c\t\n", FAIL, "2: s'a b  ' s'c\\t'", FAIL},
        {"1 ,2 \n", FAIL, "2: i1 i2", FAIL},
        {"a,b\n  ", FAIL, "2: s'a' s'b'", FAIL},
        // Line ends: CR LF, lone CR, lone LF; an empty last line fails.
        {"a,b\r\nc,d\rx,y", FAIL, "2: s'a' s'b' / s'c' s'd' / s'x' s'y'", FAIL},
        {"a,b\n\n", FAIL, FAIL, FAIL},
        {"a,b\nc\n", FAIL, FAIL, FAIL},
        {"", FAIL, FAIL, FAIL},
        {"abc\n", FAIL, FAIL, FAIL},
        // Any byte is text.
        {"\xc3\xa9,\xc3\xbc\n", FAIL, "2: s'\xc3\xa9' s'\xc3\xbc'", FAIL},
    };
    return cases;
}

TEST(CSVGrammarTest, ParsesEachTextAsTheGrammarSays)
{
    for (const GrammarCase& c : grammarCases()) {
        EXPECT_EQ(parsed(c.text, "|"), c.bar) << shown(c.text) << " with |";
        EXPECT_EQ(parsed(c.text, ","), c.comma) << shown(c.text) << " with ,";
        EXPECT_EQ(parsed(c.text, ";"), c.semicolon) << shown(c.text) << " with ;";
    }
}

TEST(CSVGrammarTest, EscapesInQuotedText)
{
    FileCSV lines;
    ASSERT_TRUE(CSVLineAnalysis::extract("\"\\a\\b\\f\\n\\r\\t\\v\\\\\\'\\\"\\x\",y", ",", lines));
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].size(), 2u);
    EXPECT_EQ(boost::get<std::string>(lines[0][0]), std::string("\a\b\f\n\r\t\v\\'\"\\x"));
    // Outside quotes a backslash is an ordinary character.
    ASSERT_TRUE(CSVLineAnalysis::extract("a\\n,b", ",", lines));
    EXPECT_EQ(boost::get<std::string>(lines[0][0]), "a\\n");
}

TEST(CSVGrammarTest, RealValuesAreCorrectlyRounded)
{
    // Texts that Spirit's own conversion misses by a unit in the last place.
    for (const char* text : {"1.3927926388013963e-143", "5.409760742964738e+124", "3.2260000000000004",
                             "0.30000000000000004", "-6.255596396381198e-142", "2.2250738585072014e-308"}) {
        FileCSV lines;
        ASSERT_TRUE(CSVLineAnalysis::extract(std::string(text) + ",x", ",", lines)) << text;
        ASSERT_EQ(lines[0][0].which(), TOKEN_DOUBLE) << text;
        EXPECT_EQ(boost::get<double>(lines[0][0]), std::strtod(text, nullptr)) << text;
    }
    FileCSV lines;
    ASSERT_TRUE(CSVLineAnalysis::extract("-0.0,-nan,nan(a b)\n", ",", lines));
    EXPECT_TRUE(std::signbit(boost::get<double>(lines[0][0])));
    EXPECT_TRUE(std::isnan(boost::get<double>(lines[0][1])));
    EXPECT_TRUE(std::isnan(boost::get<double>(lines[0][2])));
}

TEST(CSVGrammarTest, LongLinesManyLinesAndLongFieldsDoNotRecurse)
{
    std::string wide;
    for (int i = 0; i < 200000; ++i) {
        wide += i ? ",7" : "7";
    }
    const std::string text = wide + "\n\"" + std::string(1 << 20, 'q') + "\"" + std::string(199999, ',') + "\n";
    CSVTokenTable table;
    EXPECT_EQ(CSVLineAnalysis::chooseSeparator(text.data(), text.data() + text.size(), table), 1u);
    EXPECT_EQ(table.width(), 200000u);
    EXPECT_EQ(table.followingRows(), 1u);
    EXPECT_EQ(table.text(0, 0).size(), size_t(1) << 20);

    std::string tall;
    for (int i = 0; i < 300000; ++i) {
        tall += "1;2\n";
    }
    EXPECT_EQ(CSVLineAnalysis::chooseSeparator(tall.data(), tall.data() + tall.size(), table), 2u);
    EXPECT_EQ(table.followingRows(), 299999u);
}

// A few bytes of text per cell can ask for tens of bytes each: past the limit, a clear
// error rather than an allocation the machine cannot back.
TEST(CSVGrammarTest, TablesBeyondTheMemoryLimitAreRefused)
{
    EXPECT_GT(CSVTokenTable::physicalMemory(), uint64_t(1) << 20);
    EXPECT_EQ(CSVTokenTable().memoryLimit(), CSVTokenTable::physicalMemory());

    const std::string commas(199999, ',');
    CSVTokenTable small(1 << 20);
    common::test::expectError(
        [&] { CSVLineAnalysis::chooseSeparator(commas.data(), commas.data() + commas.size(), small); },
        "Not enough memory for a table of 200000 columns and 1 rows: more than the 1048576 bytes available");

    std::string tall;
    for (int i = 0; i < 300000; ++i) {
        tall += "1;2\n";
    }
    CSVTokenTable limited(16 << 20);
    try {
        CSVLineAnalysis::chooseSeparator(tall.data(), tall.data() + tall.size(), limited);
        ADD_FAILURE() << "a table of 300000 rows fitted in 16 MiB";
    } catch (const dravik::Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Not enough memory for a table of 2 columns and ", 0), 0u) << e.what();
    }
    CSVTokenTable enough(64 << 20);
    EXPECT_EQ(CSVLineAnalysis::chooseSeparator(tall.data(), tall.data() + tall.size(), enough), 2u);
}

// The line-by-line parse gives what the whole parse and checkCoherency give, and
// gives up on a table that cannot beat the width given.
TEST(CSVGrammarTest, LineByLineParseMatchesTheWholeParse)
{
    std::vector<std::string> separators = SEPARATORS_LIST;
    // Separators the line scanner leaves to the grammar's own items.
    separators.insert(separators.end(), {";;", "e", " "});
    for (const GrammarCase& c : grammarCases()) {
        for (const std::string& separator : separators) {
            FileCSV lines;
            const size_t expected = CSVLineAnalysis::extract(c.text, separator, lines) ? checkCoherency(lines) : 0;
            CSVTokenTable table;
            const char* first = c.text.data();
            const size_t width = CSVLineAnalysis::parseTable(first, first + c.text.size(), separator, 0, table);
            EXPECT_EQ(width, expected) << shown(c.text) << " with " << separator;
            CSVTokenTable byItems;
            EXPECT_EQ(CSVLineAnalysis::grammarTable(first, first + c.text.size(), separator, 0, byItems), expected)
                << shown(c.text) << " with " << separator;
            if (width > 0) {
                EXPECT_EQ(shown(linesOf(table)), shown(lines)) << shown(c.text) << " with " << separator;
                EXPECT_EQ(CSVLineAnalysis::parseTable(first, first + c.text.size(), separator, width, table), 0u);
                EXPECT_EQ(CSVLineAnalysis::parseTable(first, first + c.text.size(), separator, width - 1, table),
                          width);
            }
        }
    }
}

// The separator of the whole parses: widest coherent table, the earlier on a tie.
size_t chosenByWholeParses(const std::string& text, FileCSV& chosen)
{
    size_t best = CSVLineAnalysis::NO_SEPARATOR;
    size_t bestWidth = 0;
    for (size_t i = 0; i < SEPARATORS_LIST.size(); ++i) {
        FileCSV lines;
        if (CSVLineAnalysis::extract(text, SEPARATORS_LIST[i], lines) && checkCoherency(lines) > bestWidth) {
            best = i;
            bestWidth = checkCoherency(lines);
            chosen = lines;
        }
    }
    return best;
}

void expectSameChoice(const std::string& text)
{
    FileCSV expectedLines;
    const size_t expected = chosenByWholeParses(text, expectedLines);
    CSVTokenTable table;
    const size_t chosen = CSVLineAnalysis::chooseSeparator(text.data(), text.data() + text.size(), table);
    ASSERT_EQ(chosen, expected) << shown(text);
    if (chosen != CSVLineAnalysis::NO_SEPARATOR) {
        EXPECT_EQ(shown(linesOf(table)), shown(expectedLines)) << shown(text);
    }
}

TEST(CSVGrammarTest, SeparatorChoiceMatchesParsingEveryCandidate)
{
    const std::vector<std::pair<std::string, size_t>> choices = {
        {"a,b\nc,d\n", 1},  {"a;b,c", 1},     {"x|y\nz|w\n", 0}, {"a|b,c|d\n", 0},
        {"a;b;c\n1;2;3\n", 2}, {"a,b\nc,d,\n", CSVLineAnalysis::NO_SEPARATOR},
        {"", CSVLineAnalysis::NO_SEPARATOR},
    };
    for (const auto& [text, index] : choices) {
        CSVTokenTable table;
        EXPECT_EQ(CSVLineAnalysis::chooseSeparator(text.data(), text.data() + text.size(), table), index)
            << shown(text);
    }
    for (const GrammarCase& c : grammarCases()) {
        expectSameChoice(c.text);
    }
    // Random texts over the characters that matter to the grammar.
    const std::string alphabet = "a1.e,;|\"\\\n\r -n5";
    std::mt19937 random(20240611);
    for (int i = 0; i < 4000; ++i) {
        std::string text;
        const size_t length = random() % 24;
        for (size_t k = 0; k < length; ++k) {
            text += alphabet[random() % alphabet.size()];
        }
        expectSameChoice(text);
    }
}

TEST(CSVGrammarTest, CheckCoherency)
{
    EXPECT_EQ(checkCoherency({}), 0u);
    EXPECT_EQ(checkCoherency({{}}), 0u);
    EXPECT_EQ(checkCoherency({{Token(1), Token(2)}, {Token(3), Token(4)}}), 2u);
    EXPECT_EQ(checkCoherency({{Token(1), Token(2)}, {Token(3)}}), 0u);
}

TEST(CSVGrammarTest, TokenTypes)
{
    LineTypes types{dravik::DataTypeId::UINT8};
    determineDataTypeInLine({Token(std::string()), Token(std::string("x")), Token(1), Token(1.5)}, types);
    EXPECT_EQ(types, (LineTypes{dravik::DataTypeId::UINT8, dravik::DataTypeId::UNKNOWN,
                                dravik::DataTypeId::UTF8_STRING, dravik::DataTypeId::INT64,
                                dravik::DataTypeId::DOUBLE}))
        << "appended after what the list held";
}

TEST(CSVGrammarTest, MergeTable)
{
    using dravik::DataTypeId;
    const std::vector<DataTypeId> order = {DataTypeId::UNKNOWN, DataTypeId::INT64, DataTypeId::DOUBLE,
                                           DataTypeId::UTF8_STRING};
    const std::vector<std::vector<DataTypeId>> table = {
        {DataTypeId::UNKNOWN, DataTypeId::DOUBLE, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING},
        {DataTypeId::DOUBLE, DataTypeId::INT64, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING},
        {DataTypeId::DOUBLE, DataTypeId::DOUBLE, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING},
        {DataTypeId::UTF8_STRING, DataTypeId::UTF8_STRING, DataTypeId::UTF8_STRING, DataTypeId::UTF8_STRING},
    };
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = 0; j < order.size(); ++j) {
            EXPECT_EQ(discriminateTokenType(order[i], order[j]), dravik::DataType(table[i][j]))
                << dravik::DataType(order[i]).toString() << " with " << dravik::DataType(order[j]).toString();
        }
    }
}

TEST(CSVGrammarTest, TypesOverLines)
{
    const FileCSV lines = {
        {Token(std::string("h")), Token(std::string("h")), Token(std::string("h")), Token(std::string("h"))},
        {Token(1), Token(std::string()), Token(1), Token(2.5)},
        {Token(2), Token(std::string()), Token(std::string()), Token(std::string("x"))},
        {Token(3), Token(std::string()), Token(4), Token(1)},
    };
    LineTypes types;
    determineDataTypeFromLines(lines.begin() + 1, lines.end(), types);
    EXPECT_EQ(types, (LineTypes{dravik::DataTypeId::INT64, dravik::DataTypeId::UNKNOWN, dravik::DataTypeId::DOUBLE,
                                dravik::DataTypeId::UTF8_STRING}));
    LineTypes none;
    determineDataTypeFromLines(lines.end(), lines.end(), none);
    EXPECT_TRUE(none.empty());

    // The table's following-line types are the same merge.
    CSVTokenTable table;
    ASSERT_TRUE(table.assign(FileCSV(lines)));
    EXPECT_EQ(table.followingTypes(), types);
}

TEST(CSVGrammarTest, TableKeepsTextsOfEveryLengthAcrossReservations)
{
    const std::vector<size_t> lengths = {0, 1, 127, 128, 129, 16383, 16384, 16385, size_t(1) << 21};
    CSVTokenTable table;
    table.setFirstLine({Token(std::string("text")), Token(std::string("n"))});
    std::vector<std::string> texts;
    for (size_t row = 0; row < 3 * lengths.size(); ++row) {
        texts.push_back(std::string(lengths[row % lengths.size()], static_cast<char>('a' + row % 26)));
        const std::vector<CSVTokenTable::Cell> cells = {
            {texts.back().empty() ? CSVTokenTable::EMPTY : CSVTokenTable::TEXT, 0, texts.back()},
            {CSVTokenTable::REAL, static_cast<double>(row) + 0.5, {}}};
        ASSERT_TRUE(table.addLine(cells));
        if (row == 2) {
            table.reserveRows(1000);
        }
    }
    EXPECT_FALSE(table.addLine(std::vector<CSVTokenTable::Cell>{{CSVTokenTable::EMPTY, 0, {}}}));
    ASSERT_EQ(table.followingRows(), texts.size());
    for (size_t row = 0; row < texts.size(); ++row) {
        ASSERT_EQ(table.kind(row, 0), texts[row].empty() ? CSVTokenTable::EMPTY : CSVTokenTable::TEXT) << row;
        if (!texts[row].empty()) {
            EXPECT_EQ(table.text(row, 0), texts[row]) << row;
        }
        EXPECT_EQ(table.number(row, 1), static_cast<double>(row) + 0.5) << row;
    }
}

// Thousands of lines, enough for the table to reserve room on the way, with every kind
// of field: the same choice and tokens as parsing each candidate whole.
TEST(CSVGrammarTest, LongTextsMatchTheWholeParses)
{
    const std::vector<std::string> fields = {"12", "-7", "3.25", "1e-3", "\"q, \\\"x\\\"\"", "word", "", " pad ",
                                             "2147483648", "nan", "\"two\nlines\"", ".5", "Inf"};
    std::mt19937 random(77);
    for (const std::string& separator : SEPARATORS_LIST) {
        std::string text;
        for (int line = 0; line < 6000; ++line) {
            for (int column = 0; column < 4; ++column) {
                text += (column ? separator : "") + fields[random() % fields.size()];
            }
            text += line % 3 ? "\n" : "\r\n";
        }
        expectSameChoice(text);
        CSVTokenTable table;
        EXPECT_EQ(CSVLineAnalysis::chooseSeparator(text.data(), text.data() + text.size(), table),
                  static_cast<size_t>(&separator - SEPARATORS_LIST.data()));
        EXPECT_EQ(table.followingRows(), 5999u);
    }
}

} // namespace
} // namespace quenza::csv::test
