#include <dravik/Error.h>
#include <dravik/VariantDataValueFactory.h>

namespace dravik {

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(const std::string& text)
{
    return std::make_shared<VariantDataValue>(std::vector<std::string>{text});
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(const char* text)
{
    if (text == nullptr) {
        throw InvalidArgument("Cannot make a text value from an empty C string pointer");
    }
    return create(std::string(text));
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(const std::vector<std::string>& texts)
{
    return std::make_shared<VariantDataValue>(texts);
}

std::shared_ptr<VariantDataValue> VariantDataValueFactory::create(const DataType& type, const void* data, size_t count)
{
    return std::make_shared<VariantDataValue>(type, data, count);
}

} // namespace dravik
