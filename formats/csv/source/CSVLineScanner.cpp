#include <CSVLineScanner.h>

#include <CSVNumberText.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quenza::csv {

namespace {

namespace qi = boost::spirit::qi;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return static_cast<char>(c | 0x20);
}

bool unescaped(char c, char& value)
{
    switch (c) {
    case 'a':
        value = '\a';
        return true;
    case 'b':
        value = '\b';
        return true;
    case 'f':
        value = '\f';
        return true;
    case 'n':
        value = '\n';
        return true;
    case 'r':
        value = '\r';
        return true;
    case 't':
        value = '\t';
        return true;
    case 'v':
        value = '\v';
        return true;
    case '\\':
    case '\'':
    case '"':
        value = c;
        return true;
    default:
        return false;
    }
}

// Within these bounds the grammar's real parser always matches the whole run and never
// fails on scaling (it does beyond 308 or below -614 as a power of ten).
constexpr ptrdiff_t MAX_INTEGER_DIGITS = 18;
constexpr ptrdiff_t MAX_FRACTION_DIGITS = 200;
constexpr ptrdiff_t MAX_EXPONENT_DIGITS = 4;
constexpr int MAX_EXPONENT = 280;
// More significant digits than this cannot fit a 32-bit integer.
constexpr ptrdiff_t MAX_INT_DIGITS = 10;

} // namespace

bool CSVLineScanner::handles(const std::string& separator)
{
    if (separator.size() != 1) {
        return false;
    }
    const char c = separator[0];
    const bool letterOrDigit = (lower(c) >= 'a' && lower(c) <= 'z') || isDigit(c);
    return !letterOrDigit && std::strchr(" \t\r\n\"\\+-.", c) == nullptr;
}

CSVLineScanner::CSVLineScanner(CSVIterator first, CSVIterator last, const std::string& separator)
    : m_first(first)
    , m_last(last)
    , m_separatorText(separator)
    , m_separator(separator.at(0))
{
    for (const char c : {'"', '\r', '\n', m_separator}) {
        m_stops[static_cast<unsigned char>(c)] = true;
    }
}

CSVLineScanner::~CSVLineScanner() = default;

bool CSVLineScanner::parse(Item item, CSVIterator& position, std::vector<CSVTokenTable::Cell>& cells)
{
    m_fields.clear();
    m_decoded.clear();
    CSVIterator p = position;
    size_t repeats = 0;
    switch (item) {
    case LINE_1: {
        skipBlanks(p);
        Field field{};
        if (!token(p, field)) {
            return false;
        }
        m_fields.push_back(field);
        if (!separator(p)) {
            return false;
        }
        break;
    }
    case LINE_X:
        tokenOrEmpty(p);
        for (CSVIterator q = p; separator(q); q = p) {
            p = q;
            tokenOrEmpty(p);
            ++repeats;
        }
        if (repeats == 0) {
            return false;
        }
        break;
    case LINE_X_WITH_FINAL_SEP:
        tokenOrEmpty(p);
        while (true) {
            // A separator and a token, or neither: the last separator is left to close the line.
            CSVIterator q = p;
            Field field{};
            if (!separator(q)) {
                break;
            }
            skipBlanks(q);
            if (!token(q, field)) {
                break;
            }
            p = q;
            m_fields.push_back(field);
            ++repeats;
        }
        if (repeats == 0 || !separator(p)) {
            return false;
        }
        break;
    }
    if (!lineEnd(p)) {
        return false;
    }
    position = p;
    cells.clear();
    for (const Field& field : m_fields) {
        const char* text = field.decoded ? m_decoded.data() : m_first;
        cells.push_back({field.kind, field.number, std::string_view(text + field.start, field.length)});
    }
    return true;
}

void CSVLineScanner::skipBlanks(CSVIterator& p) const
{
    while (p != m_last && isBlank(*p)) {
        ++p;
    }
}

bool CSVLineScanner::separator(CSVIterator& p) const
{
    CSVIterator q = p;
    skipBlanks(q);
    if (q == m_last || *q != m_separator) {
        return false;
    }
    p = q + 1;
    return true;
}

bool CSVLineScanner::lineEnd(CSVIterator& p) const
{
    skipBlanks(p);
    if (p == m_last) {
        return true;
    }
    if (*p == '\r') {
        ++p;
        if (p != m_last && *p == '\n') {
            ++p;
        }
        return true;
    }
    if (*p == '\n') {
        ++p;
        return true;
    }
    return false;
}

void CSVLineScanner::tokenOrEmpty(CSVIterator& p)
{
    skipBlanks(p);
    Field field{};
    if (!token(p, field)) {
        field = Field{CSVTokenTable::EMPTY, 0, false, 0, 0};
    }
    m_fields.push_back(field);
}

bool CSVLineScanner::token(CSVIterator& p, Field& field)
{
    if (p == m_last) {
        return false;
    }
    const char c = *p;
    if (c == '"') {
        return quoted(p, field);
    }
    if (isDigit(c) || c == '+' || c == '-' || c == '.') {
        switch (number(p, field)) {
        case NumberMatch::TOKEN:
            return true;
        case NumberMatch::TEXT:
            return unquoted(p, field);
        case NumberMatch::UNSURE:
            return grammarToken(p, field);
        }
    }
    if (lower(c) == 'n' || lower(c) == 'i') {
        // Only nan and inf, in any case, begin a number; their forms are the grammar's.
        const char* word = lower(c) == 'n' ? "nan" : "inf";
        if (m_last - p >= 3 && lower(p[1]) == word[1] && lower(p[2]) == word[2]) {
            return grammarToken(p, field);
        }
    }
    return unquoted(p, field);
}

bool CSVLineScanner::quoted(CSVIterator& p, Field& field)
{
    const auto rest = static_cast<size_t>(m_last - p - 1);
    const auto* close = static_cast<const char*>(std::memchr(p + 1, '"', rest));
    if (close == nullptr) {
        // No closing quote, and unquoted text cannot begin with one: no token.
        return false;
    }
    CSVIterator q = static_cast<const char*>(std::memchr(p + 1, '\\', static_cast<size_t>(close - p - 1)));
    if (q == nullptr) {
        field = textField(p + 1, close);
        p = close + 1;
        return true;
    }
    const size_t start = m_decoded.size();
    m_decoded.append(p + 1, q);
    while (q != m_last && *q != '"') {
        char value = *q;
        if (*q == '\\' && q + 1 != m_last && unescaped(q[1], value)) {
            ++q;
        }
        m_decoded += value;
        ++q;
    }
    if (q == m_last) {
        m_decoded.resize(start);
        return false;
    }
    const size_t length = m_decoded.size() - start;
    field = Field{length == 0 ? CSVTokenTable::EMPTY : CSVTokenTable::TEXT, 0, true, start, length};
    p = q + 1;
    return true;
}

bool CSVLineScanner::unquoted(CSVIterator& p, Field& field) const
{
    CSVIterator q = p;
    while (q != m_last && !m_stops[static_cast<unsigned char>(*q)]) {
        ++q;
    }
    if (q == p) {
        return false;
    }
    field = textField(p, q);
    p = q;
    return true;
}

CSVLineScanner::NumberMatch CSVLineScanner::number(CSVIterator& p, Field& field) const
{
    CSVIterator q = p;
    const bool negative = *q == '-';
    if (*q == '+' || *q == '-') {
        ++q;
    }
    const CSVIterator integerDigits = q;
    while (q != m_last && isDigit(*q)) {
        ++q;
    }
    const ptrdiff_t integerCount = q - integerDigits;
    bool dot = false;
    ptrdiff_t fractionCount = 0;
    if (q != m_last && *q == '.') {
        dot = true;
        const CSVIterator fractionDigits = ++q;
        while (q != m_last && isDigit(*q)) {
            ++q;
        }
        fractionCount = q - fractionDigits;
    }
    if (integerCount == 0 && fractionCount == 0) {
        // A sign or a point without digits: a number only when nan or inf follows the sign.
        if (!dot && q != m_last && (lower(*q) == 'n' || lower(*q) == 'i')) {
            return NumberMatch::UNSURE;
        }
        return NumberMatch::TEXT;
    }
    bool exponent = false;
    if (q != m_last && (*q == 'e' || *q == 'E')) {
        CSVIterator e = q + 1;
        if (e != m_last && (*e == '+' || *e == '-')) {
            ++e;
        }
        const CSVIterator exponentDigits = e;
        int value = 0;
        while (e != m_last && isDigit(*e) && e - exponentDigits < MAX_EXPONENT_DIGITS) {
            value = value * 10 + (*e - '0');
            ++e;
        }
        if (e == exponentDigits || (e != m_last && isDigit(*e)) || value > MAX_EXPONENT) {
            return NumberMatch::UNSURE;
        }
        exponent = true;
        q = e;
    }
    if (!dot && !exponent) {
        // The real parser wants a point or an exponent; the 32-bit integer parser takes
        // the digits, or fails on overflow and leaves the field to unquoted text.
        CSVIterator d = integerDigits;
        while (d != q && *d == '0') {
            ++d;
        }
        if (q - d > MAX_INT_DIGITS) {
            return NumberMatch::TEXT;
        }
        uint64_t value = 0;
        for (; d != q; ++d) {
            value = value * 10 + static_cast<uint64_t>(*d - '0');
        }
        if (value > (negative ? uint64_t{2147483648u} : uint64_t{2147483647u})) {
            return NumberMatch::TEXT;
        }
        const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
        field = Field{CSVTokenTable::INTEGER, static_cast<double>(signedValue), false, 0, 0};
        p = q;
        return NumberMatch::TOKEN;
    }
    if (integerCount > MAX_INTEGER_DIGITS || fractionCount > MAX_FRACTION_DIGITS) {
        return NumberMatch::UNSURE;
    }
    field = Field{CSVTokenTable::REAL, CSVNumberText::parseMatchedReal(p, q), false, 0, 0};
    p = q;
    return NumberMatch::TOKEN;
}

bool CSVLineScanner::grammarToken(CSVIterator& p, Field& field)
{
    if (!m_grammar) {
        m_grammar = std::make_unique<CSVGrammar>(m_separatorText);
    }
    Token value;
    CSVIterator q = p;
    if (!qi::phrase_parse(q, m_last, m_grammar->m_token, blankSkipper(), qi::skip_flag::dont_postskip, value)) {
        return false;
    }
    p = q;
    switch (value.which()) {
    case TOKEN_STRING: {
        const auto& text = boost::get<std::string>(value);
        field = Field{text.empty() ? CSVTokenTable::EMPTY : CSVTokenTable::TEXT, 0, true, m_decoded.size(),
                      text.size()};
        m_decoded += text;
        break;
    }
    case TOKEN_INT:
        field = Field{CSVTokenTable::INTEGER, static_cast<double>(boost::get<int32_t>(value)), false, 0, 0};
        break;
    default:
        field = Field{CSVTokenTable::REAL, boost::get<double>(value), false, 0, 0};
        break;
    }
    return true;
}

CSVLineScanner::Field CSVLineScanner::textField(CSVIterator start, CSVIterator end) const
{
    const auto length = static_cast<size_t>(end - start);
    return Field{length == 0 ? CSVTokenTable::EMPTY : CSVTokenTable::TEXT, 0, false,
                 static_cast<size_t>(start - m_first), length};
}

} // namespace quenza::csv
