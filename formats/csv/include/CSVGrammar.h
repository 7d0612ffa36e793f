#pragma once

#include <boost/spirit/include/qi.hpp>
#include <boost/variant.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Qi appends each character of a text through insert(end, c), an out-of-line call of
// std::string; push_back is the same and inlines.
namespace boost::spirit::traits {
template <>
struct push_back_container<std::string, char, void> {
    static bool call(std::string& text, char c)
    {
        text.push_back(c);
        return true;
    }
};
} // namespace boost::spirit::traits

namespace quenza::csv {

/// One field: text, 32-bit integer or real number, in this order of alternatives.
using Token = boost::variant<std::string, int32_t, double>;

/// Index of each alternative of Token (Token::which()).
enum TOKEN_ID { TOKEN_STRING = 0, TOKEN_INT = 1, TOKEN_DOUBLE = 2 };

using Line = std::vector<Token>;
using FileCSV = std::vector<Line>;

using CSVIterator = const char*;
/// Blanks: space and horizontal tab, whatever the signedness of char.
using CSVSkipper = boost::spirit::qi::char_set<boost::spirit::char_encoding::iso8859_1, false, false>;
/// The skipper of every parse.
CSVSkipper blankSkipper();

/// The line grammar for one separator string. Matching is ordered and greedy: the first
/// alternative that matches wins and repetitions never give items back.
class CSVGrammar : public boost::spirit::qi::grammar<CSVIterator, FileCSV(), CSVSkipper> {
public:
    template <typename Signature, typename Skipper = boost::spirit::unused_type>
    using Rule = boost::spirit::qi::rule<CSVIterator, Signature, Skipper>;

    explicit CSVGrammar(const std::string& separator);
    CSVGrammar(const CSVGrammar&) = delete;
    CSVGrammar& operator=(const CSVGrammar&) = delete;

    Rule<FileCSV(), CSVSkipper> m_csvFile;
    Rule<Line(), CSVSkipper> m_line_1;
    Rule<Line(), CSVSkipper> m_line_X;
    Rule<Line(), CSVSkipper> m_line_X_with_final_sep;
    Rule<Token(), CSVSkipper> m_token;
    Rule<Token(), CSVSkipper> m_tokenOrEmpty;
    Rule<std::string()> m_quoted_string;
    Rule<std::string()> m_unquoted_string;
    Rule<std::string()> m_normalString;
    boost::spirit::qi::real_parser<double, boost::spirit::qi::strict_real_policies<double>> m_strict_double;
    boost::spirit::qi::symbols<char, char> m_unesc_char;
    boost::spirit::qi::symbols<char> m_separ;

    /// The repeated items of the three alternatives of m_csvFile (a line rule, then a
    /// line end or the end of the text): the reader parses line by line with them.
    Rule<Line(), CSVSkipper> m_item_1;
    Rule<Line(), CSVSkipper> m_item_X_with_final_sep;
    Rule<Line(), CSVSkipper> m_item_X;
    /// m_strict_double's match, its value converted from the matched text with correct
    /// rounding.
    Rule<double()> m_real;
};

} // namespace quenza::csv
