#pragma once

#include <dravik/Export.h>

#include <memory>
#include <string>

namespace dravik {

class MetadataNode;
class VariantDataValue;

class DRAVIK_API MetadataNodeFactory {
public:
    /// A new node without children.
    static std::shared_ptr<MetadataNode> create(const std::string& name,
                                                std::shared_ptr<VariantDataValue> value = nullptr);
};

} // namespace dravik
