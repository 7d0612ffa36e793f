#pragma once

#include <dravik/Export.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace dravik {

/// How one component of an element is encoded.
enum class PrimitiveType : uint8_t {
    UNKNOWN = 0,
    UNSIGNED_INTEGER = 1,
    SIGNED_INTEGER = 2,
    FLOATING_POINT = 3,
    UNICODE_STRING = 4,
};

/// Named element types. Any other combination can still be built with the
/// `DataType(primitive, elementCount, bitDepth)` constructor.
enum class DataTypeId : uint16_t {
    UNKNOWN = 0,
    UINT8,
    INT8,
    UINT16,
    INT16,
    UINT32,
    INT32,
    UINT64,
    INT64,
    FLOAT,
    DOUBLE,
    COMPLEX_FLOAT,
    COMPLEX_DOUBLE,
    VEC2_UINT8,
    VEC3_UINT8,
    VEC4_UINT8,
    VEC2_UINT16,
    VEC3_UINT16,
    VEC4_UINT16,
    VEC2_FLOAT,
    VEC3_FLOAT,
    VEC4_FLOAT,
    VEC2_DOUBLE,
    VEC3_DOUBLE,
    VEC4_DOUBLE,
    UTF8_STRING,
};

/// Element type of an image, a column or a metadata value: a primitive type, a
/// component count and a bit depth per component. A complex number is two
/// components flagged as complex, so it never compares equal to a 2-vector.
class DRAVIK_API DataType {
public:
    /// The unknown type (id 0).
    constexpr DataType() = default;
    DataType(DataTypeId id); // NOLINT(google-explicit-constructor): ids are used as types
    DataType(PrimitiveType primitive, uint32_t elementCount, uint32_t bitDepth, bool complex = false);

    PrimitiveType primitiveType() const { return m_primitive; }
    /// Components per element: 1 for scalars, 2 for complex numbers, N for vectors.
    uint32_t elementCount() const { return m_elementCount; }
    /// Bits of one component.
    uint32_t bitDepth() const { return m_bitDepth; }
    bool isComplex() const { return m_complex; }
    bool isVector() const { return !m_complex && m_elementCount > 1; }
    bool isScalar() const { return !m_complex && m_elementCount == 1; }
    bool isUnknown() const { return m_primitive == PrimitiveType::UNKNOWN; }
    bool isInteger() const;
    bool isFloatingPoint() const { return m_primitive == PrimitiveType::FLOATING_POINT; }
    bool isString() const { return m_primitive == PrimitiveType::UNICODE_STRING; }

    /// Bytes of one element (all components).
    uint64_t byteCount() const { return static_cast<uint64_t>(m_elementCount) * ((m_bitDepth + 7) / 8); }
    /// The type of one component: FLOAT for COMPLEX_FLOAT or VEC3_FLOAT.
    DataType extractScalarType() const;
    /// The named id of this type, or UNKNOWN when the combination has no name.
    DataTypeId id() const;
    /// "UINT8", "COMPLEX_FLOAT", "VEC3_UINT8"; unnamed vectors read "VEC5_INT16".
    std::string toString() const;

    /// (lowest, highest) value of the scalar type: (0, 255) for UINT8, (-FLT_MAX, FLT_MAX) for FLOAT.
    /// Throws InvalidArgument for strings and unknown types.
    static std::pair<double, double> standardRange(const DataType& type);

    friend bool operator==(const DataType& a, const DataType& b)
    {
        return a.m_primitive == b.m_primitive && a.m_elementCount == b.m_elementCount
            && a.m_bitDepth == b.m_bitDepth && a.m_complex == b.m_complex;
    }
    friend bool operator!=(const DataType& a, const DataType& b) { return !(a == b); }

private:
    PrimitiveType m_primitive = PrimitiveType::UNKNOWN;
    uint32_t m_elementCount = 0;
    uint32_t m_bitDepth = 0;
    bool m_complex = false;
};

/// The DataType of a C++ arithmetic type, for templates over element types.
template <typename T>
DataType dataTypeOf()
{
    static_assert(std::is_arithmetic_v<T>, "dataTypeOf needs an arithmetic type");
    constexpr uint32_t bits = sizeof(T) * 8;
    if constexpr (std::is_floating_point_v<T>) {
        return DataType(PrimitiveType::FLOATING_POINT, 1, bits);
    } else if constexpr (std::is_signed_v<T>) {
        return DataType(PrimitiveType::SIGNED_INTEGER, 1, bits);
    } else {
        return DataType(PrimitiveType::UNSIGNED_INTEGER, 1, bits);
    }
}

} // namespace dravik
