#include <dravik/DataType.h>
#include <dravik/Error.h>

#include <fmt/format.h>

#include <array>
#include <cfloat>
#include <limits>

namespace dravik {

namespace {

struct NamedType {
    DataTypeId id;
    const char* name;
    PrimitiveType primitive;
    uint32_t elementCount;
    uint32_t bitDepth;
    bool complex;
};

constexpr PrimitiveType U = PrimitiveType::UNSIGNED_INTEGER;
constexpr PrimitiveType S = PrimitiveType::SIGNED_INTEGER;
constexpr PrimitiveType F = PrimitiveType::FLOATING_POINT;

// Indexed by DataTypeId.
constexpr std::array<NamedType, 26> NAMED_TYPES{{
    {DataTypeId::UNKNOWN, "UNKNOWN", PrimitiveType::UNKNOWN, 0, 0, false},
    {DataTypeId::UINT8, "UINT8", U, 1, 8, false},
    {DataTypeId::INT8, "INT8", S, 1, 8, false},
    {DataTypeId::UINT16, "UINT16", U, 1, 16, false},
    {DataTypeId::INT16, "INT16", S, 1, 16, false},
    {DataTypeId::UINT32, "UINT32", U, 1, 32, false},
    {DataTypeId::INT32, "INT32", S, 1, 32, false},
    {DataTypeId::UINT64, "UINT64", U, 1, 64, false},
    {DataTypeId::INT64, "INT64", S, 1, 64, false},
    {DataTypeId::FLOAT, "FLOAT", F, 1, 32, false},
    {DataTypeId::DOUBLE, "DOUBLE", F, 1, 64, false},
    {DataTypeId::COMPLEX_FLOAT, "COMPLEX_FLOAT", F, 2, 32, true},
    {DataTypeId::COMPLEX_DOUBLE, "COMPLEX_DOUBLE", F, 2, 64, true},
    {DataTypeId::VEC2_UINT8, "VEC2_UINT8", U, 2, 8, false},
    {DataTypeId::VEC3_UINT8, "VEC3_UINT8", U, 3, 8, false},
    {DataTypeId::VEC4_UINT8, "VEC4_UINT8", U, 4, 8, false},
    {DataTypeId::VEC2_UINT16, "VEC2_UINT16", U, 2, 16, false},
    {DataTypeId::VEC3_UINT16, "VEC3_UINT16", U, 3, 16, false},
    {DataTypeId::VEC4_UINT16, "VEC4_UINT16", U, 4, 16, false},
    {DataTypeId::VEC2_FLOAT, "VEC2_FLOAT", F, 2, 32, false},
    {DataTypeId::VEC3_FLOAT, "VEC3_FLOAT", F, 3, 32, false},
    {DataTypeId::VEC4_FLOAT, "VEC4_FLOAT", F, 4, 32, false},
    {DataTypeId::VEC2_DOUBLE, "VEC2_DOUBLE", F, 2, 64, false},
    {DataTypeId::VEC3_DOUBLE, "VEC3_DOUBLE", F, 3, 64, false},
    {DataTypeId::VEC4_DOUBLE, "VEC4_DOUBLE", F, 4, 64, false},
    {DataTypeId::UTF8_STRING, "UTF8_STRING", PrimitiveType::UNICODE_STRING, 1, 8, false},
}};

const NamedType* findNamed(const DataType& t)
{
    for (const NamedType& n : NAMED_TYPES) {
        if (n.primitive == t.primitiveType() && n.elementCount == t.elementCount() && n.bitDepth == t.bitDepth()
            && n.complex == t.isComplex()) {
            return &n;
        }
    }
    return nullptr;
}

const char* primitiveName(PrimitiveType p, uint32_t bits)
{
    switch (p) {
    case PrimitiveType::UNSIGNED_INTEGER: return "UINT";
    case PrimitiveType::SIGNED_INTEGER: return "INT";
    case PrimitiveType::FLOATING_POINT: return bits == 32 ? "FLOAT" : (bits == 64 ? "DOUBLE" : "FLOAT");
    case PrimitiveType::UNICODE_STRING: return "UTF";
    case PrimitiveType::UNKNOWN: break;
    }
    return "UNKNOWN";
}

} // namespace

DataType::DataType(DataTypeId id)
{
    auto index = static_cast<size_t>(id);
    if (index >= NAMED_TYPES.size()) {
        throw InvalidArgument(fmt::format("Unknown data type id {}", index));
    }
    const NamedType& n = NAMED_TYPES[index];
    m_primitive = n.primitive;
    m_elementCount = n.elementCount;
    m_bitDepth = n.bitDepth;
    m_complex = n.complex;
}

DataType::DataType(PrimitiveType primitive, uint32_t elementCount, uint32_t bitDepth, bool complex)
    : m_primitive(primitive)
    , m_elementCount(elementCount)
    , m_bitDepth(bitDepth)
    , m_complex(complex)
{
    if (primitive == PrimitiveType::UNKNOWN) {
        // Every unknown type is the same type, whatever the caller passed.
        m_elementCount = 0;
        m_bitDepth = 0;
        m_complex = false;
        return;
    }
    if (elementCount == 0 || bitDepth == 0 || bitDepth % 8 != 0) {
        throw InvalidArgument(fmt::format("Invalid data type: {} components of {} bits", elementCount, bitDepth));
    }
    if (complex && (elementCount != 2 || primitive != PrimitiveType::FLOATING_POINT)) {
        throw InvalidArgument("A complex data type has two floating-point components");
    }
}

bool DataType::isInteger() const
{
    return m_primitive == PrimitiveType::UNSIGNED_INTEGER || m_primitive == PrimitiveType::SIGNED_INTEGER;
}

DataType DataType::extractScalarType() const
{
    if (isUnknown()) {
        return DataType();
    }
    return DataType(m_primitive, 1, m_bitDepth);
}

DataTypeId DataType::id() const
{
    const NamedType* n = findNamed(*this);
    return n ? n->id : DataTypeId::UNKNOWN;
}

std::string DataType::toString() const
{
    if (const NamedType* n = findNamed(*this)) {
        return n->name;
    }
    std::string scalar = m_primitive == PrimitiveType::FLOATING_POINT && (m_bitDepth == 32 || m_bitDepth == 64)
        ? primitiveName(m_primitive, m_bitDepth)
        : fmt::format("{}{}", primitiveName(m_primitive, m_bitDepth), m_bitDepth);
    if (m_complex) {
        return "COMPLEX_" + scalar;
    }
    return m_elementCount == 1 ? scalar : fmt::format("VEC{}_{}", m_elementCount, scalar);
}

std::pair<double, double> DataType::standardRange(const DataType& type)
{
    const uint32_t bits = type.bitDepth();
    switch (type.primitiveType()) {
    case PrimitiveType::UNSIGNED_INTEGER:
        if (bits <= 64) {
            return {0.0, bits == 64 ? static_cast<double>(std::numeric_limits<uint64_t>::max())
                                    : static_cast<double>((uint64_t(1) << bits) - 1)};
        }
        break;
    case PrimitiveType::SIGNED_INTEGER:
        if (bits <= 64) {
            const double half = static_cast<double>(uint64_t(1) << (bits - 1));
            return {-half, half - 1.0};
        }
        break;
    case PrimitiveType::FLOATING_POINT:
        if (bits == 32) {
            return {-static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)};
        }
        if (bits == 64) {
            return {-DBL_MAX, DBL_MAX};
        }
        break;
    case PrimitiveType::UNICODE_STRING:
    case PrimitiveType::UNKNOWN:
        break;
    }
    throw InvalidArgument(fmt::format("Data type {} has no standard range", type.toString()));
}

} // namespace dravik
