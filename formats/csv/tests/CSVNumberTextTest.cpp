#include <CSVGrammar.h>
#include <CSVNumberText.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace quenza::csv::test {
namespace {

std::string fixed(double value)
{
    std::string text;
    CSVNumberText::appendFixed(text, value);
    return text;
}

std::string real(float value)
{
    std::string text;
    CSVNumberText::appendReal(text, value);
    return text;
}

// What the reader makes of `text` as a field: it must be a real-number token.
double readBack(const std::string& text)
{
    const CSVGrammar grammar(",");
    Token token;
    const char* first = text.data();
    const char* last = first + text.size();
    const bool matched = boost::spirit::qi::phrase_parse(first, last, grammar.m_token, blankSkipper(), token);
    EXPECT_TRUE(matched && first == last) << text;
    EXPECT_EQ(token.which(), TOKEN_DOUBLE) << text << " is not read as a real number";
    return token.which() == TOKEN_DOUBLE ? boost::get<double>(token) : 0.0;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(CSVNumberTextTest, FixedTextIsToString)
{
    std::vector<double> values = {0.0, -0.0, 1.0, 2.5, 0.1, 1e20, 1e300, -1e300, 1e-7, 0.0078125, 0.0000005, 123456.5,
                                  std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 random(7);
    for (int i = 0; i < 2000; ++i) {
        values.push_back(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 60));
    }
    for (double v : values) {
        EXPECT_EQ(fixed(v), std::to_string(v)) << v;
    }
}

TEST(CSVNumberTextTest, RealTextKeepsSixDecimalsOnlyWhenExact)
{
    const std::vector<std::pair<double, std::string>> cases = {
        {2.5, "2.500000"},
        {0.1, "0.100000"},
        {-0.0, "-0.000000"},
        {1e20, "100000000000000000000.000000"},
        {-3.0, "-3.000000"},
        {1e-9, "1e-09"},
        {0.1234567, "0.1234567"},
        {1e-300, "1e-300"},
        {2.0 / 3.0, "0.6666666666666666"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(CSVNumberText::realText(value), text);
    }
    EXPECT_EQ(real(0.1f), "0.100000");
    EXPECT_EQ(real(2.5f), "2.500000");
    EXPECT_EQ(real(1e-9f), "1e-09");
    EXPECT_EQ(real(0.1234567f), "0.1234567");

    // The one positive float whose shortest text rounds twice on its way through a
    // double: the exact double is written instead.
    const uint32_t bits = 0x15ae43fd;
    float twice;
    std::memcpy(&twice, &bits, sizeof twice);
    char shortest[32];
    *std::to_chars(shortest, shortest + sizeof shortest, twice).ptr = '\0';
    ASSERT_STREQ(shortest, "7.038531e-26");
    ASSERT_NE(static_cast<float>(std::strtod(shortest, nullptr)), twice);
    EXPECT_EQ(real(twice), "7.038530691851209e-26");
    EXPECT_EQ(real(-twice), "-7.038530691851209e-26");
}

TEST(CSVNumberTextTest, EveryRealReadsBackExactly)
{
    std::vector<double> values = {1e-300, -0.0, 1e20, 0.1, 5e-324, std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(), 123456789.123456789};
    std::mt19937_64 random(11);
    while (values.size() < 20000) {
        const uint64_t bits = random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) {
            values.push_back(v);
        }
        values.push_back(std::uniform_real_distribution<double>(-1000, 1000)(random));
    }
    for (double v : values) {
        const std::string text = CSVNumberText::realText(v);
        EXPECT_TRUE(sameBits(readBack(text), v)) << text;
    }
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(random());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f)) {
            continue;
        }
        const std::string text = real(f);
        const float back = static_cast<float>(readBack(text));
        EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
}

TEST(CSVNumberTextTest, MatchedRealTexts)
{
    const std::vector<std::pair<std::string, double>> cases = {
        {"+1.5", 1.5}, {"-2.5e-1", -0.25}, {"1.", 1.0}, {".5", 0.5}, {"2E3", 2000.0}, {"Infinity", INFINITY},
        {"1e-400", 0.0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(CSVNumberText::parseMatchedReal(text.data(), text.data() + text.size()), value) << text;
    }
    for (const std::string text : {"nan", "-NaN", "nan(7)", "nan(a b)"}) {
        EXPECT_TRUE(std::isnan(CSVNumberText::parseMatchedReal(text.data(), text.data() + text.size()))) << text;
    }
    double value = 0;
    EXPECT_TRUE(CSVNumberText::readReal("0.1", value));
    EXPECT_EQ(value, 0.1);
    EXPECT_FALSE(CSVNumberText::readReal("0.1x", value));
    EXPECT_FALSE(CSVNumberText::readReal("", value));
}

TEST(CSVNumberTextTest, Integers)
{
    std::string text;
    CSVNumberText::appendInteger(text, std::numeric_limits<int64_t>::min());
    text += ' ';
    CSVNumberText::appendInteger(text, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(text, "-9223372036854775808 18446744073709551615");
}

} // namespace
} // namespace quenza::csv::test
