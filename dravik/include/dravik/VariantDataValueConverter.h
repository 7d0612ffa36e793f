#pragma once

#include <dravik/Export.h>
#include <dravik/VariantDataValue.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

/// Reads variant values as other types.
///
/// Numbers convert to any numeric type when the value fits: an integer type takes
/// only integral values within its range. Strings convert to numbers when the whole
/// text (surrounding blanks aside) is one number. Every impossible conversion,
/// and the scalar conversions of an empty value, throw Error naming the value and the target.
class DRAVIK_API VariantDataValueConverter {
public:
    /// A string value gives its first string; numbers give their shortest exact
    /// decimal texts, separated by ", "; an empty value gives "".
    static std::string toString(const VariantDataValue& value);
    static std::vector<std::string> toStringArray(const VariantDataValue& value);

    static int8_t toInt8(const VariantDataValue& value);
    static uint8_t toUint8(const VariantDataValue& value);
    static int16_t toInt16(const VariantDataValue& value);
    static uint16_t toUint16(const VariantDataValue& value);
    static int32_t toInt32(const VariantDataValue& value);
    static uint32_t toUint32(const VariantDataValue& value);
    static int64_t toInt64(const VariantDataValue& value);
    static uint64_t toUint64(const VariantDataValue& value);
    static float toFloat(const VariantDataValue& value);
    static double toDouble(const VariantDataValue& value);

    static std::vector<int32_t> toInt32Array(const VariantDataValue& value);
    static std::vector<int64_t> toInt64Array(const VariantDataValue& value);
    static std::vector<uint64_t> toUint64Array(const VariantDataValue& value);
    static std::vector<float> toFloatArray(const VariantDataValue& value);
    static std::vector<double> toDoubleArray(const VariantDataValue& value);

    /// Shared-pointer forms; an empty pointer throws Error.
    static std::string toString(const std::shared_ptr<VariantDataValue>& value) { return toString(*checked(value)); }
    static int32_t toInt32(const std::shared_ptr<VariantDataValue>& value) { return toInt32(*checked(value)); }
    static int64_t toInt64(const std::shared_ptr<VariantDataValue>& value) { return toInt64(*checked(value)); }
    static uint64_t toUint64(const std::shared_ptr<VariantDataValue>& value) { return toUint64(*checked(value)); }
    static double toDouble(const std::shared_ptr<VariantDataValue>& value) { return toDouble(*checked(value)); }
    static std::vector<int64_t> toInt64Array(const std::shared_ptr<VariantDataValue>& value)
    {
        return toInt64Array(*checked(value));
    }
    static std::vector<double> toDoubleArray(const std::shared_ptr<VariantDataValue>& value)
    {
        return toDoubleArray(*checked(value));
    }

private:
    static const std::shared_ptr<VariantDataValue>& checked(const std::shared_ptr<VariantDataValue>& value);
};

} // namespace dravik
