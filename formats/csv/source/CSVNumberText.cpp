#include <CSVNumberText.h>

#include <CSVGrammar.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace quenza::csv {

namespace {

// Fixed notation of the largest double: 309 digits, the point and six decimals.
constexpr size_t TEXT_CAPACITY = 400;

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool readWhole(const char* first, const char* last, double& value)
{
    if (first != last && *first == '+') {
        ++first;
    }
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last;
}

template <typename T>
void appendChars(std::string& out, T value)
{
    char text[TEXT_CAPACITY];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

} // namespace

double CSVNumberText::parseMatchedReal(const char* first, const char* last)
{
    double value = 0;
    if (readWhole(first, last, value)) {
        return value;
    }
    // Forms the correctly rounded conversion does not take (nan(...) with unusual
    // characters, magnitudes beyond the double range) keep the matching parser's value.
    namespace qi = boost::spirit::qi;
    const qi::real_parser<double, CSVRealPolicies> real;
    value = 0;
    qi::parse(first, last, real, value);
    return value;
}

bool CSVNumberText::readReal(const std::string& text, double& value)
{
    return readWhole(text.data(), text.data() + text.size(), value);
}

void CSVNumberText::appendFixed(std::string& out, double value)
{
    char text[TEXT_CAPACITY];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    out.append(text, result.ptr);
}

void CSVNumberText::appendReal(std::string& out, double value)
{
    const size_t start = out.size();
    appendFixed(out, value);
    if (std::isnan(value)) {
        return;
    }
    double back = 0;
    if (readWhole(out.data() + start, out.data() + out.size(), back) && sameBits(back, value)) {
        return;
    }
    out.resize(start);
    // Fixed notation is exact for every whole number, so only fractional values get
    // here, and their shortest text always has a point or an exponent.
    appendChars(out, value);
}

void CSVNumberText::appendReal(std::string& out, float value)
{
    const size_t start = out.size();
    appendFixed(out, static_cast<double>(value));
    if (std::isnan(value)) {
        return;
    }
    const auto readsBack = [&] {
        double back = 0;
        return readWhole(out.data() + start, out.data() + out.size(), back)
            && sameBits(static_cast<float>(back), value);
    };
    if (readsBack()) {
        return;
    }
    out.resize(start);
    appendChars(out, value);
    if (readsBack()) {
        return;
    }
    // Through a double the shortest float text can round twice; the exact double of
    // the float always narrows back.
    out.resize(start);
    appendChars(out, static_cast<double>(value));
}

std::string CSVNumberText::realText(double value)
{
    std::string text;
    appendReal(text, value);
    return text;
}

void CSVNumberText::appendInteger(std::string& out, int64_t value)
{
    appendChars(out, value);
}

void CSVNumberText::appendInteger(std::string& out, uint64_t value)
{
    appendChars(out, value);
}

} // namespace quenza::csv
