#pragma once

#include <dravik/Export.h>

#include <memory>
#include <string>

namespace dravik {

class MetadataNode;
class VariantDataValue;

/// Path operations on metadata trees. A path names nodes below a root, separated
/// by "/": "KM/Units/Coordinates". A leading "/" and empty segments are ignored, so
/// "/KM/Units" is the same path; the empty path is the root itself. Each segment
/// selects the first child of that name.
class DRAVIK_API MetadataNodeHelper {
public:
    /// The node at `path`, or empty when any part is missing or `root` is empty.
    static std::shared_ptr<MetadataNode> getNode(const std::shared_ptr<MetadataNode>& root, const std::string& path);
    static std::shared_ptr<const MetadataNode> getNode(const std::shared_ptr<const MetadataNode>& root,
                                                       const std::string& path);
    /// True when `path` names a node.
    static bool exists(const std::shared_ptr<const MetadataNode>& root, const std::string& path);
    /// Creates the missing nodes of `path` (without values), then sets the value of
    /// the last node to `value`, replacing any value it had; returns that node.
    /// Throws InvalidArgument for an empty root.
    static std::shared_ptr<MetadataNode> createPath(const std::shared_ptr<MetadataNode>& root, const std::string& path,
                                                    std::shared_ptr<VariantDataValue> value = nullptr);
};

} // namespace dravik
