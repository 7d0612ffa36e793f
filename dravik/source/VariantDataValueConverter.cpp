#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/VariantDataValueConverter.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace dravik {

namespace {

template <typename T>
std::string typeName()
{
    return dataTypeOf<T>().toString();
}

template <typename T>
std::string formatNumber(T v)
{
    // 8-bit integers are numbers here, not characters.
    if constexpr (std::is_integral_v<T> && sizeof(T) == 1) {
        return fmt::format("{}", static_cast<int>(v));
    } else {
        return fmt::format("{}", v);
    }
}

template <typename T>
T load(const VariantDataValue& value, size_t index)
{
    T v;
    std::memcpy(&v, static_cast<const uint8_t*>(value.data()) + index * sizeof(T), sizeof(T));
    return v;
}

/// Calls `f` with the number at `index` in its stored C++ type.
template <typename F>
auto visitNumber(const VariantDataValue& value, size_t index, F&& f)
{
    const DataType& type = value.dataType();
    switch (type.primitiveType()) {
    case PrimitiveType::UNSIGNED_INTEGER:
        switch (type.bitDepth()) {
        case 8: return f(load<uint8_t>(value, index));
        case 16: return f(load<uint16_t>(value, index));
        case 32: return f(load<uint32_t>(value, index));
        case 64: return f(load<uint64_t>(value, index));
        default: break;
        }
        break;
    case PrimitiveType::SIGNED_INTEGER:
        switch (type.bitDepth()) {
        case 8: return f(load<int8_t>(value, index));
        case 16: return f(load<int16_t>(value, index));
        case 32: return f(load<int32_t>(value, index));
        case 64: return f(load<int64_t>(value, index));
        default: break;
        }
        break;
    case PrimitiveType::FLOATING_POINT:
        switch (type.bitDepth()) {
        case 32: return f(load<float>(value, index));
        case 64: return f(load<double>(value, index));
        default: break;
        }
        break;
    case PrimitiveType::UNKNOWN:
    case PrimitiveType::UNICODE_STRING: break;
    }
    throw Error(fmt::format("A variant value of type {} holds no numbers", type.toString()));
}

template <typename To, typename From>
[[noreturn]] void throwOutOfRange(From v)
{
    throw Error(fmt::format("Value {} is out of the range of {}", formatNumber(v), typeName<To>()));
}

template <typename To, typename From>
To convertNumber(From v)
{
    if constexpr (std::is_integral_v<To> && std::is_integral_v<From>) {
        // Compared as 64-bit integers of the right signedness: going through double
        // would lose the low bits of values beyond 2^53.
        if constexpr (std::is_signed_v<From>) {
            if (v < 0) {
                if constexpr (std::is_unsigned_v<To>) {
                    throwOutOfRange<To>(v);
                } else if (static_cast<int64_t>(v) < static_cast<int64_t>(std::numeric_limits<To>::min())) {
                    throwOutOfRange<To>(v);
                }
                return static_cast<To>(v);
            }
        }
        if (static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<To>::max())) {
            throwOutOfRange<To>(v);
        }
        return static_cast<To>(v);
    } else if constexpr (std::is_integral_v<To>) {
        const double d = static_cast<double>(v);
        if (!std::isfinite(d) || std::trunc(d) != d) {
            throw Error(fmt::format("Value {} is not an integer: cannot convert it to {}", formatNumber(v),
                                    typeName<To>()));
        }
        // Both bounds are powers of two (or zero), exact in double; the upper one is
        // exclusive because the type's maximum itself may not be representable.
        constexpr double lowest = static_cast<double>(std::numeric_limits<To>::min());
        const double beyondHighest = std::ldexp(1.0, std::numeric_limits<To>::digits);
        if (!(d >= lowest && d < beyondHighest)) {
            throwOutOfRange<To>(v);
        }
        return static_cast<To>(d);
    } else if constexpr (std::is_same_v<To, float>) {
        if constexpr (std::is_same_v<From, double>) {
            if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) {
                throwOutOfRange<To>(v);
            }
        }
        return static_cast<float>(v);
    } else {
        return static_cast<To>(v);
    }
}

std::string_view trimBlanks(std::string_view s)
{
    constexpr std::string_view blanks = " \t\n\r\f\v";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string quoted(const std::string& text)
{
    // Texts come from files; keep messages readable whatever their length.
    constexpr size_t shown = 64;
    return text.size() <= shown ? "\"" + text + "\"" : "\"" + text.substr(0, shown) + "...\"";
}

template <typename To>
To parseText(const std::string& text)
{
    std::string_view s = trimBlanks(text);
    if (s.size() > 1 && s[0] == '+' && s[1] != '+' && s[1] != '-') {
        s.remove_prefix(1);
    }
    To result{};
    std::from_chars_result parsed{s.data(), std::errc::invalid_argument};
    if (!s.empty()) {
        if constexpr (std::is_integral_v<To>) {
            parsed = std::from_chars(s.data(), s.data() + s.size(), result);
        } else {
            parsed = std::from_chars(s.data(), s.data() + s.size(), result, std::chars_format::general);
        }
    }
    if (parsed.ec != std::errc() || parsed.ptr != s.data() + s.size()) {
        throw Error(fmt::format("Cannot convert the text {} to {}", quoted(text), typeName<To>()));
    }
    return result;
}

template <typename To>
To convertAt(const VariantDataValue& value, size_t index)
{
    if (value.isString()) {
        return parseText<To>(value.strings()[index]);
    }
    return visitNumber(value, index, [](auto v) { return convertNumber<To>(v); });
}

template <typename To>
To convertFirst(const VariantDataValue& value)
{
    if (value.empty()) {
        throw Error(fmt::format("Cannot convert an empty value to {}", typeName<To>()));
    }
    return convertAt<To>(value, 0);
}

template <typename To>
std::vector<To> convertAll(const VariantDataValue& value)
{
    std::vector<To> result;
    result.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        result.push_back(convertAt<To>(value, i));
    }
    return result;
}

} // namespace

std::vector<std::string> VariantDataValueConverter::toStringArray(const VariantDataValue& value)
{
    if (value.isString()) {
        return value.strings();
    }
    std::vector<std::string> texts;
    texts.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        texts.push_back(visitNumber(value, i, [](auto v) { return formatNumber(v); }));
    }
    return texts;
}

std::string VariantDataValueConverter::toString(const VariantDataValue& value)
{
    if (value.isString()) {
        return value.empty() ? std::string() : value.strings().front();
    }
    return fmt::format("{}", fmt::join(toStringArray(value), ", "));
}

int8_t VariantDataValueConverter::toInt8(const VariantDataValue& value)
{
    return convertFirst<int8_t>(value);
}
uint8_t VariantDataValueConverter::toUint8(const VariantDataValue& value)
{
    return convertFirst<uint8_t>(value);
}
int16_t VariantDataValueConverter::toInt16(const VariantDataValue& value)
{
    return convertFirst<int16_t>(value);
}
uint16_t VariantDataValueConverter::toUint16(const VariantDataValue& value)
{
    return convertFirst<uint16_t>(value);
}
int32_t VariantDataValueConverter::toInt32(const VariantDataValue& value)
{
    return convertFirst<int32_t>(value);
}
uint32_t VariantDataValueConverter::toUint32(const VariantDataValue& value)
{
    return convertFirst<uint32_t>(value);
}
int64_t VariantDataValueConverter::toInt64(const VariantDataValue& value)
{
    return convertFirst<int64_t>(value);
}
uint64_t VariantDataValueConverter::toUint64(const VariantDataValue& value)
{
    return convertFirst<uint64_t>(value);
}
float VariantDataValueConverter::toFloat(const VariantDataValue& value)
{
    return convertFirst<float>(value);
}
double VariantDataValueConverter::toDouble(const VariantDataValue& value)
{
    return convertFirst<double>(value);
}

std::vector<int32_t> VariantDataValueConverter::toInt32Array(const VariantDataValue& value)
{
    return convertAll<int32_t>(value);
}
std::vector<int64_t> VariantDataValueConverter::toInt64Array(const VariantDataValue& value)
{
    return convertAll<int64_t>(value);
}
std::vector<uint64_t> VariantDataValueConverter::toUint64Array(const VariantDataValue& value)
{
    return convertAll<uint64_t>(value);
}
std::vector<float> VariantDataValueConverter::toFloatArray(const VariantDataValue& value)
{
    return convertAll<float>(value);
}
std::vector<double> VariantDataValueConverter::toDoubleArray(const VariantDataValue& value)
{
    return convertAll<double>(value);
}

const std::shared_ptr<VariantDataValue>& VariantDataValueConverter::checked(
    const std::shared_ptr<VariantDataValue>& value)
{
    if (!value) {
        throw Error("Cannot convert an empty value pointer");
    }
    return value;
}

} // namespace dravik
