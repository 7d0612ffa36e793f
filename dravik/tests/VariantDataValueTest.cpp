#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/VariantDataValue.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace dravik;
using Converter = VariantDataValueConverter;
using Factory = VariantDataValueFactory;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

enum class Target { INT8, UINT8, INT16, UINT16, INT32, UINT32, INT64, UINT64, FLOAT, DOUBLE };

const char* nameOf(Target target)
{
    switch (target) {
    case Target::INT8: return "INT8";
    case Target::UINT8: return "UINT8";
    case Target::INT16: return "INT16";
    case Target::UINT16: return "UINT16";
    case Target::INT32: return "INT32";
    case Target::UINT32: return "UINT32";
    case Target::INT64: return "INT64";
    case Target::UINT64: return "UINT64";
    case Target::FLOAT: return "FLOAT";
    case Target::DOUBLE: return "DOUBLE";
    }
    return "?";
}

// Widened to double to share one table; every expected value below is exact in double.
double convert(const VariantDataValue& value, Target target)
{
    switch (target) {
    case Target::INT8: return Converter::toInt8(value);
    case Target::UINT8: return Converter::toUint8(value);
    case Target::INT16: return Converter::toInt16(value);
    case Target::UINT16: return Converter::toUint16(value);
    case Target::INT32: return Converter::toInt32(value);
    case Target::UINT32: return Converter::toUint32(value);
    case Target::INT64: return static_cast<double>(Converter::toInt64(value));
    case Target::UINT64: return static_cast<double>(Converter::toUint64(value));
    case Target::FLOAT: return static_cast<double>(Converter::toFloat(value));
    case Target::DOUBLE: return Converter::toDouble(value);
    }
    return NaN;
}

template <typename F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

} // namespace

TEST(VariantDataValueTest, HoldsScalarNumbersOrStringsOnly)
{
    const int16_t numbers[] = {3, -4, 5};
    VariantDataValue value(DataTypeId::INT16, numbers, 3);
    EXPECT_EQ(value.size(), 3u);
    EXPECT_TRUE(value.isNumeric());
    EXPECT_EQ(value.get<int16_t>(1), -4);
    EXPECT_THROW(value.get<int32_t>(1), Error);
    EXPECT_THROW(value.get<int16_t>(3), InvalidArgument);
    EXPECT_EQ(value, *Factory::create(std::vector<int16_t>{3, -4, 5}));
    EXPECT_FALSE(value == *Factory::create(std::vector<int32_t>{3, -4, 5}));

    VariantDataValue texts(std::vector<std::string>{"a", "", "c"});
    EXPECT_TRUE(texts.isString());
    EXPECT_EQ(texts.dataType(), DataType(DataTypeId::UTF8_STRING));
    EXPECT_EQ(texts.size(), 3u);

    const double d[2] = {1, 2};
    for (DataTypeId rejected : {DataTypeId::VEC2_FLOAT, DataTypeId::COMPLEX_DOUBLE, DataTypeId::VEC3_UINT8,
                                DataTypeId::UNKNOWN, DataTypeId::UTF8_STRING}) {
        SCOPED_TRACE(DataType(rejected).toString());
        EXPECT_THROW(VariantDataValue(rejected, d, 1), InvalidArgument);
    }
    EXPECT_THROW(VariantDataValue(DataTypeId::DOUBLE, nullptr, 1), InvalidArgument);
    EXPECT_THROW(VariantDataValue(DataTypeId::DOUBLE, d, std::numeric_limits<size_t>::max() / 4), InvalidArgument);
    EXPECT_TRUE(VariantDataValue(DataTypeId::DOUBLE, nullptr, 0).empty());
}

TEST(VariantDataValueTest, FactoryTypesFollowTheCppTypes)
{
    EXPECT_EQ(Factory::create(true)->dataType(), DataType(DataTypeId::UINT8));
    EXPECT_EQ(Factory::create(int32_t{-3})->dataType(), DataType(DataTypeId::INT32));
    EXPECT_EQ(Factory::create(uint64_t{3})->dataType(), DataType(DataTypeId::UINT64));
    EXPECT_EQ(Factory::create(2.5f)->dataType(), DataType(DataTypeId::FLOAT));
    EXPECT_EQ(Factory::create(2.5)->size(), 1u);

    const int64_t one[] = {9};
    auto array = Factory::create(one, 1);
    EXPECT_EQ(array->dataType(), DataType(DataTypeId::INT64));
    EXPECT_EQ(*array, *Factory::create(int64_t{9})) << "a single number is an array of one";
    EXPECT_EQ(Factory::create(std::vector<double>{1, 2, 3})->size(), 3u);

    EXPECT_EQ(Factory::create("text")->strings(), std::vector<std::string>{"text"});
    EXPECT_EQ(*Factory::create(std::string("text")), *Factory::create("text"));
    EXPECT_EQ(Factory::create(std::vector<std::string>{"x", "y"})->size(), 2u);
    EXPECT_THROW(Factory::create(static_cast<const char*>(nullptr)), InvalidArgument);
}

TEST(VariantDataValueConverterTest, ScalarConversionsTable)
{
    struct Case {
        std::shared_ptr<VariantDataValue> value;
        Target target;
        double expected; // ignored when `error` is set
        std::string error;
    };
    const std::vector<Case> cases = {
        // Integers between integer types.
        {Factory::create(int32_t{7}), Target::INT8, 7, ""},
        {Factory::create(int16_t{-128}), Target::INT8, -128, ""},
        {Factory::create(int16_t{-129}), Target::INT8, 0, "Value -129 is out of the range of INT8"},
        {Factory::create(uint8_t{255}), Target::INT8, 0, "Value 255 is out of the range of INT8"},
        {Factory::create(int32_t{300}), Target::UINT8, 0, "Value 300 is out of the range of UINT8"},
        {Factory::create(uint32_t{65535}), Target::UINT16, 65535, ""},
        {Factory::create(int8_t{-1}), Target::UINT32, 0, "Value -1 is out of the range of UINT32"},
        {Factory::create(int32_t{-1}), Target::UINT64, 0, "Value -1 is out of the range of UINT64"},
        {Factory::create(int64_t{-32768}), Target::INT16, -32768, ""},
        {Factory::create(uint64_t{4294967295u}), Target::UINT32, 4294967295.0, ""},
        {Factory::create(uint64_t{4294967296u}), Target::INT32, 0, "Value 4294967296 is out of the range of INT32"},
        {Factory::create(true), Target::INT32, 1, ""},
        // Floating-point values to integers.
        {Factory::create(3.0), Target::INT32, 3, ""},
        {Factory::create(-0.0), Target::UINT8, 0, ""},
        {Factory::create(2.5), Target::INT32, 0, "Value 2.5 is not an integer: cannot convert it to INT32"},
        {Factory::create(2.5f), Target::INT64, 0, "Value 2.5 is not an integer: cannot convert it to INT64"},
        {Factory::create(NaN), Target::INT32, 0, "Value nan is not an integer: cannot convert it to INT32"},
        {Factory::create(-Inf), Target::INT64, 0, "Value -inf is not an integer: cannot convert it to INT64"},
        {Factory::create(2147483647.0), Target::INT32, 2147483647.0, ""},
        {Factory::create(2147483648.0), Target::INT32, 0, "Value 2147483648 is out of the range of INT32"},
        {Factory::create(-2147483649.0), Target::INT32, 0, "Value -2147483649 is out of the range of INT32"},
        {Factory::create(255.0), Target::UINT8, 255, ""},
        {Factory::create(256.0), Target::UINT8, 0, "Value 256 is out of the range of UINT8"},
        {Factory::create(-1.0), Target::UINT64, 0, "Value -1 is out of the range of UINT64"},
        {Factory::create(9.223372036854775807e18), Target::INT64, 0,
         "Value 9.223372036854776e+18 is out of the range of INT64"},
        {Factory::create(-9.223372036854775808e18), Target::INT64, -9.223372036854775808e18, ""},
        {Factory::create(18446744073709549568.0), Target::UINT64, 18446744073709549568.0, ""},
        {Factory::create(18446744073709551616.0), Target::UINT64, 0,
         "Value 1.8446744073709552e+19 is out of the range of UINT64"},
        // Floating-point targets.
        {Factory::create(0.1), Target::FLOAT, static_cast<double>(0.1f), ""},
        {Factory::create(3.4028234663852886e38), Target::FLOAT, 3.4028234663852886e38, ""},
        {Factory::create(1e39), Target::FLOAT, 0, "Value 1e+39 is out of the range of FLOAT"},
        {Factory::create(-1e39), Target::FLOAT, 0, "Value -1e+39 is out of the range of FLOAT"},
        {Factory::create(-Inf), Target::FLOAT, -Inf, ""},
        {Factory::create(NaN), Target::FLOAT, NaN, ""},
        {Factory::create(1e300), Target::DOUBLE, 1e300, ""},
        {Factory::create(std::numeric_limits<uint64_t>::max()), Target::FLOAT, 18446744073709551616.0, ""},
        {Factory::create(std::numeric_limits<int64_t>::min()), Target::DOUBLE, -9.223372036854775808e18, ""},
        // Texts.
        {Factory::create(" 42 "), Target::INT32, 42, ""},
        {Factory::create("\t+7\n"), Target::INT8, 7, ""},
        {Factory::create("-9223372036854775808"), Target::INT64, -9.223372036854775808e18, ""},
        {Factory::create("abc"), Target::INT64, 0, "Cannot convert the text \"abc\" to INT64"},
        {Factory::create("-5"), Target::UINT32, 0, "Cannot convert the text \"-5\" to UINT32"},
        {Factory::create("5.0"), Target::INT32, 0, "Cannot convert the text \"5.0\" to INT32"},
        {Factory::create("256"), Target::UINT8, 0, "Cannot convert the text \"256\" to UINT8"},
        {Factory::create("12abc"), Target::INT16, 0, "Cannot convert the text \"12abc\" to INT16"},
        {Factory::create("0x10"), Target::INT32, 0, "Cannot convert the text \"0x10\" to INT32"},
        {Factory::create("+-3"), Target::INT32, 0, "Cannot convert the text \"+-3\" to INT32"},
        {Factory::create(""), Target::DOUBLE, 0, "Cannot convert the text \"\" to DOUBLE"},
        {Factory::create("   "), Target::UINT16, 0, "Cannot convert the text \"   \" to UINT16"},
        {Factory::create("1 2"), Target::DOUBLE, 0, "Cannot convert the text \"1 2\" to DOUBLE"},
        {Factory::create(" 1.5e3\r\n"), Target::DOUBLE, 1500, ""},
        {Factory::create(".25"), Target::FLOAT, 0.25, ""},
        {Factory::create("-inf"), Target::FLOAT, -Inf, ""},
        {Factory::create("NaN"), Target::DOUBLE, NaN, ""},
        {Factory::create("1e39"), Target::FLOAT, 0, "Cannot convert the text \"1e39\" to FLOAT"},
        {Factory::create("1e39"), Target::DOUBLE, 1e39, ""},
        // Only the first value counts; an empty value has none.
        {Factory::create(std::vector<int16_t>{4, 500}), Target::INT8, 4, ""},
        {Factory::create(std::vector<std::string>{"8", "x"}), Target::INT32, 8, ""},
        {Factory::create(std::vector<double>{}), Target::INT32, 0, "Cannot convert an empty value to INT32"},
        {Factory::create(std::vector<std::string>{}), Target::DOUBLE, 0, "Cannot convert an empty value to DOUBLE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Converter::toString(*c.value) + " (" + c.value->dataType().toString() + ") to "
                     + nameOf(c.target));
        if (!c.error.empty()) {
            EXPECT_EQ(errorOf([&] { convert(*c.value, c.target); }), c.error);
        } else if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(convert(*c.value, c.target)));
        } else {
            EXPECT_EQ(convert(*c.value, c.target), c.expected);
        }
    }
}

TEST(VariantDataValueConverterTest, TextOfValues)
{
    struct Case {
        std::shared_ptr<VariantDataValue> value;
        std::string text;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {Factory::create(0.1), "0.1", {"0.1"}},
        {Factory::create(0.1f), "0.1", {"0.1"}},
        {Factory::create(1e20), "1e+20", {"1e+20"}},
        {Factory::create(NaN), "nan", {"nan"}},
        {Factory::create(int8_t{-5}), "-5", {"-5"}},
        {Factory::create(uint8_t{65}), "65", {"65"}},
        {Factory::create(true), "1", {"1"}},
        {Factory::create(std::numeric_limits<uint64_t>::max()), "18446744073709551615", {"18446744073709551615"}},
        {Factory::create(std::numeric_limits<int64_t>::min()), "-9223372036854775808", {"-9223372036854775808"}},
        {Factory::create(std::vector<int32_t>{1, -2, 3}), "1, -2, 3", {"1", "-2", "3"}},
        {Factory::create(std::vector<double>{1.0, 2.5}), "1, 2.5", {"1", "2.5"}},
        {Factory::create(std::vector<double>{}), "", {}},
        {Factory::create("text"), "text", {"text"}},
        {Factory::create(std::vector<std::string>{"a, b", "c"}), "a, b", {"a, b", "c"}},
        {Factory::create(std::vector<std::string>{}), "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Converter::toString(*c.value), c.text);
        EXPECT_EQ(Converter::toStringArray(*c.value), c.texts);
    }
}

TEST(VariantDataValueConverterTest, NumberTextsReadBackExactly)
{
    for (double d : {0.1, 1.0 / 3, -1e-300, 5e-324, std::numeric_limits<double>::max(), 123456789.123, -Inf}) {
        SCOPED_TRACE(d);
        EXPECT_EQ(Converter::toDouble(*Factory::create(Converter::toString(*Factory::create(d)))), d);
    }
    for (float f : {0.1f, 1.0f / 3, std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(),
                    -16777217.0f}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(Converter::toFloat(*Factory::create(Converter::toString(*Factory::create(f)))), f);
    }
}

TEST(VariantDataValueConverterTest, LargeIntegersConvertExactly)
{
    const uint64_t twoPow63Plus1 = (uint64_t{1} << 63) + 1;
    const uint64_t twoPow53Plus1 = (uint64_t{1} << 53) + 1;
    EXPECT_EQ(Converter::toUint64(*Factory::create(twoPow63Plus1)), twoPow63Plus1);
    EXPECT_EQ(Converter::toInt64(*Factory::create(twoPow53Plus1)), int64_t{9007199254740993});
    EXPECT_EQ(Converter::toUint64(*Factory::create(std::numeric_limits<int64_t>::max())),
              uint64_t{9223372036854775807u});
    EXPECT_EQ(Converter::toInt64(*Factory::create(std::numeric_limits<int64_t>::max())),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(errorOf([&] { Converter::toInt64(*Factory::create(twoPow63Plus1)); }),
              "Value 9223372036854775809 is out of the range of INT64");
    EXPECT_EQ(errorOf([&] { Converter::toInt64(*Factory::create(std::numeric_limits<uint64_t>::max())); }),
              "Value 18446744073709551615 is out of the range of INT64");

    EXPECT_EQ(Converter::toUint64(*Factory::create("18446744073709551615")), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(Converter::toInt64(*Factory::create("9223372036854775807")), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(errorOf([] { Converter::toInt64(*Factory::create("9223372036854775808")); }),
              "Cannot convert the text \"9223372036854775808\" to INT64");
    EXPECT_EQ(errorOf([] { Converter::toUint64(*Factory::create("18446744073709551616")); }),
              "Cannot convert the text \"18446744073709551616\" to UINT64");

    EXPECT_EQ(Converter::toUint64Array(*Factory::create(std::vector<uint64_t>{twoPow63Plus1, twoPow53Plus1})),
              (std::vector<uint64_t>{twoPow63Plus1, twoPow53Plus1}));
    EXPECT_EQ(Converter::toInt64Array(*Factory::create(std::vector<std::string>{"-9007199254740993", "3"})),
              (std::vector<int64_t>{-9007199254740993, 3}));
}

TEST(VariantDataValueConverterTest, ArrayConversionsConvertEveryValue)
{
    EXPECT_EQ(Converter::toInt32Array(*Factory::create(std::vector<double>{1, -2, 3e5})),
              (std::vector<int32_t>{1, -2, 300000}));
    EXPECT_EQ(errorOf([] { Converter::toInt32Array(*Factory::create(std::vector<double>{1, 2.5})); }),
              "Value 2.5 is not an integer: cannot convert it to INT32");
    EXPECT_EQ(errorOf([] { Converter::toUint64Array(*Factory::create(std::vector<int8_t>{1, -1})); }),
              "Value -1 is out of the range of UINT64");
    EXPECT_EQ(Converter::toDoubleArray(*Factory::create(std::vector<std::string>{"1", " 2.5 ", "-3e2"})),
              (std::vector<double>{1, 2.5, -300}));
    EXPECT_EQ(Converter::toFloatArray(*Factory::create(std::vector<uint16_t>{0, 65535})),
              (std::vector<float>{0, 65535}));
    EXPECT_EQ(errorOf([] { Converter::toFloatArray(*Factory::create(std::vector<double>{1, 1e300})); }),
              "Value 1e+300 is out of the range of FLOAT");
    EXPECT_EQ(errorOf([] { Converter::toInt64Array(*Factory::create(std::vector<std::string>{"1", "two"})); }),
              "Cannot convert the text \"two\" to INT64");
    EXPECT_TRUE(Converter::toInt32Array(*Factory::create(std::vector<double>{})).empty());
    EXPECT_TRUE(Converter::toDoubleArray(*Factory::create(std::vector<std::string>{})).empty());
}

TEST(VariantDataValueConverterTest, SharedPointerFormsRejectEmptyPointers)
{
    const std::shared_ptr<VariantDataValue> none;
    const std::vector<std::function<void()>> calls = {
        [&] { Converter::toString(none); },     [&] { Converter::toInt32(none); },
        [&] { Converter::toInt64(none); },      [&] { Converter::toUint64(none); },
        [&] { Converter::toDouble(none); },     [&] { Converter::toInt64Array(none); },
        [&] { Converter::toDoubleArray(none); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(errorOf(calls[i]), "Cannot convert an empty value pointer");
    }

    const auto value = Factory::create(std::vector<int64_t>{-12, 34});
    EXPECT_EQ(Converter::toString(value), "-12, 34");
    EXPECT_EQ(Converter::toInt32(value), -12);
    EXPECT_EQ(Converter::toInt64(value), -12);
    EXPECT_EQ(errorOf([&] { Converter::toUint64(value); }), "Value -12 is out of the range of UINT64");
    EXPECT_EQ(Converter::toDouble(value), -12.0);
    EXPECT_EQ(Converter::toInt64Array(value), (std::vector<int64_t>{-12, 34}));
    EXPECT_EQ(Converter::toDoubleArray(value), (std::vector<double>{-12, 34}));
}

TEST(VariantDataValueConverterTest, LongTextsAreShortenedInMessages)
{
    const std::string text(1000, '7');
    const std::string message = errorOf([&] { Converter::toInt32(*Factory::create(text)); });
    EXPECT_EQ(message, "Cannot convert the text \"" + text.substr(0, 64) + "...\" to INT32");
}
