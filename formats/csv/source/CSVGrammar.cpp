#include <CSVGrammar.h>

#include <CSVNumberText.h>

#include <boost/phoenix/bind/bind_function.hpp>
#include <boost/phoenix/operator.hpp>
#include <boost/range/iterator_range.hpp>

namespace quenza::csv {

namespace {

namespace qi = boost::spirit::qi;
namespace phx = boost::phoenix;

double realValue(const boost::iterator_range<CSVIterator>& matched)
{
    return CSVNumberText::parseMatchedReal(matched.begin(), matched.end());
}

} // namespace

CSVSkipper blankSkipper()
{
    return CSVSkipper(" \t");
}

CSVGrammar::CSVGrammar(const std::string& separator)
    : CSVGrammar::base_type(m_csvFile)
{
    using qi::eoi;
    using qi::eol;
    using qi::int_;
    using qi::lexeme;
    using qi::iso8859_1::char_;

    m_separ.clear();
    m_separ.add(separator);

    m_unesc_char.add("\\a", '\a')("\\b", '\b')("\\f", '\f')("\\n", '\n')("\\r", '\r')("\\t", '\t')("\\v", '\v')(
        "\\\\", '\\')("\\'", '\'')("\\\"", '"');

    // Spirit's real parser decides what matches; its own value can be off by a unit in
    // the last place, so the value comes from the matched text instead.
    m_real = qi::raw[m_strict_double][qi::_val = phx::bind(&realValue, qi::_1)];

    m_normalString = *(m_unesc_char | (char_ - '"') | eol);
    m_quoted_string = lexeme['"' >> m_normalString >> '"'];
    m_unquoted_string = +(char_ - '"' - m_separ - eol);

    m_token = m_real | int_ | m_quoted_string | m_unquoted_string;
    m_tokenOrEmpty = -m_token;

    m_line_1 = m_token >> m_separ;
    m_line_X = m_tokenOrEmpty >> +(m_separ >> m_tokenOrEmpty);
    m_line_X_with_final_sep = m_tokenOrEmpty >> +(m_separ >> m_token) >> m_separ;

    m_item_1 = m_line_1 >> (eol | eoi);
    m_item_X_with_final_sep = m_line_X_with_final_sep >> (eol | eoi);
    m_item_X = m_line_X >> (eol | eoi);

    m_csvFile = +m_item_1 | +m_item_X_with_final_sep | +m_item_X;
}

} // namespace quenza::csv
