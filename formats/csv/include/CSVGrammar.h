#pragma once

#include <boost/spirit/include/qi.hpp>
#include <boost/variant.hpp>

#include <algorithm>
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

/// Spirit's strict real policies, except that a fraction of more than SCALED_DIGITS
/// digits (only leading zeros can make one: the value's digits overflow sooner) is
/// scaled by SCALED_DIGITS and the difference taken from the exponent. Spirit cannot
/// scale by more than 614 places: without an exponent it then asserts, or goes on with
/// a value near 1e-307 where the value is 0. The matches stay Spirit's.
struct CSVRealPolicies : boost::spirit::qi::strict_real_policies<double> {
    static constexpr int SCALED_DIGITS = 600;

    template <typename Iterator, typename Attribute>
    bool parse_frac_n(Iterator& first, const Iterator& last, Attribute& value, int& fractionDigits) const
    {
        if (!strict_real_policies::parse_frac_n(first, last, value, fractionDigits)) {
            return false;
        }
        m_unscaled = fractionDigits > SCALED_DIGITS ? fractionDigits - SCALED_DIGITS : 0;
        fractionDigits -= m_unscaled;
        return true;
    }

    template <typename Iterator>
    bool parse_exp_n(Iterator& first, const Iterator& last, int& exponent) const
    {
        if (!strict_real_policies::parse_exp_n(first, last, exponent)) {
            return false;
        }
        // Far below what any scale takes, and far from the int range's end.
        constexpr int64_t LOWEST = -1000000000;
        exponent = static_cast<int>(std::max<int64_t>(int64_t{exponent} - m_unscaled, LOWEST));
        return true;
    }

    // Spirit makes one policies object per number parsed.
    mutable int m_unscaled = 0;
};

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
    boost::spirit::qi::real_parser<double, CSVRealPolicies> m_strict_double;
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
