#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/VariantDataValue.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace dravik {

/// Makes variant values.
class DRAVIK_API VariantDataValueFactory {
public:
    static std::shared_ptr<VariantDataValue> create(const std::string& text);
    static std::shared_ptr<VariantDataValue> create(const char* text);
    static std::shared_ptr<VariantDataValue> create(const std::vector<std::string>& texts);
    /// `count` numbers of the scalar `type` copied from `data`.
    static std::shared_ptr<VariantDataValue> create(const DataType& type, const void* data, size_t count);

    /// One number; its C++ type gives the value type (int32_t gives INT32).
    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
    static std::shared_ptr<VariantDataValue> create(T value)
    {
        return create(dataTypeOf<T>(), &value, 1);
    }
    /// `count` numbers from `values`; an array even for one number.
    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
    static std::shared_ptr<VariantDataValue> create(const T* values, size_t count)
    {
        return create(dataTypeOf<T>(), values, count);
    }
    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
    static std::shared_ptr<VariantDataValue> create(const std::vector<T>& values)
    {
        return create(dataTypeOf<T>(), values.data(), values.size());
    }
};

} // namespace dravik
