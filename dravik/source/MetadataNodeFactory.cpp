#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/VariantDataValue.h>

namespace dravik {

std::shared_ptr<MetadataNode> MetadataNodeFactory::create(const std::string& name,
                                                          std::shared_ptr<VariantDataValue> value)
{
    return std::make_shared<MetadataNode>(name, std::move(value));
}

} // namespace dravik
