#include <dravik/Error.h>
#include <dravik/VariantDataValue.h>

#include <fmt/format.h>

#include <limits>
#include <utility>

namespace dravik {

namespace {

bool isSupportedNumberType(const DataType& type)
{
    if (!type.isScalar()) {
        return false;
    }
    switch (type.primitiveType()) {
    case PrimitiveType::UNSIGNED_INTEGER:
    case PrimitiveType::SIGNED_INTEGER:
        return type.bitDepth() == 8 || type.bitDepth() == 16 || type.bitDepth() == 32 || type.bitDepth() == 64;
    case PrimitiveType::FLOATING_POINT: return type.bitDepth() == 32 || type.bitDepth() == 64;
    case PrimitiveType::UNKNOWN:
    case PrimitiveType::UNICODE_STRING: return false;
    }
    return false;
}

} // namespace

VariantDataValue::VariantDataValue(const DataType& type, const void* data, size_t count)
    : m_type(type)
    , m_count(count)
{
    if (!isSupportedNumberType(type)) {
        throw InvalidArgument(fmt::format("A variant value holds scalar numbers or strings, not {}", type.toString()));
    }
    const uint64_t elementBytes = type.byteCount();
    if (count > std::numeric_limits<size_t>::max() / elementBytes) {
        throw InvalidArgument(fmt::format("A variant value of {} {} values is too large", count, type.toString()));
    }
    if (count > 0 && data == nullptr) {
        throw InvalidArgument(fmt::format("No data given for a variant value of {} {} values", count, type.toString()));
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_bytes.assign(bytes, bytes + count * elementBytes);
}

VariantDataValue::VariantDataValue(std::vector<std::string> strings)
    : m_type(DataTypeId::UTF8_STRING)
    , m_strings(std::move(strings))
{
}

} // namespace dravik
