#pragma once

#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/Export.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dravik {

/// An immutable metadata or option value: an array of numbers of one scalar type,
/// or an array of UTF-8 strings. Made by VariantDataValueFactory, read through
/// VariantDataValueConverter or the typed accessors below.
class DRAVIK_API VariantDataValue {
public:
    /// `count` numbers of the scalar `type` copied from `data`.
    VariantDataValue(const DataType& type, const void* data, size_t count);
    explicit VariantDataValue(std::vector<std::string> strings);

    /// Type of each value: a scalar numeric type, or UTF8_STRING.
    const DataType& dataType() const { return m_type; }
    /// Number of values.
    size_t size() const { return m_type.isString() ? m_strings.size() : m_count; }
    bool empty() const { return size() == 0; }
    bool isString() const { return m_type.isString(); }
    bool isNumeric() const { return !m_type.isString(); }

    /// The packed numbers (size() × dataType().byteCount() bytes); empty for strings.
    const void* data() const { return m_bytes.data(); }
    /// The strings; empty for numbers.
    const std::vector<std::string>& strings() const { return m_strings; }

    /// The number at `index` as stored; `T` must match dataType() exactly.
    template <typename T>
    T get(size_t index) const
    {
        if (!(dataTypeOf<T>() == m_type)) {
            throw Error("Value of type " + m_type.toString() + " read as " + dataTypeOf<T>().toString());
        }
        if (index >= m_count) {
            throw InvalidArgument("Value index " + std::to_string(index) + " out of range for "
                                  + std::to_string(m_count) + " values");
        }
        T v;
        std::memcpy(&v, m_bytes.data() + index * sizeof(T), sizeof(T));
        return v;
    }

    friend bool operator==(const VariantDataValue& a, const VariantDataValue& b)
    {
        return a.m_type == b.m_type && a.m_count == b.m_count && a.m_bytes == b.m_bytes && a.m_strings == b.m_strings;
    }

private:
    DataType m_type;
    size_t m_count = 0;
    std::vector<uint8_t> m_bytes;
    std::vector<std::string> m_strings;
};

} // namespace dravik
