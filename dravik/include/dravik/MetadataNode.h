#pragma once

#include <dravik/Export.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

class VariantDataValue;

/// A node of a metadata tree: a name, an optional value and ordered children.
/// Children keep their insertion order; several children may share a name, and
/// lookups by name return the first of them.
class DRAVIK_API MetadataNode {
public:
    explicit MetadataNode(std::string name, std::shared_ptr<VariantDataValue> value = nullptr);
    MetadataNode(const MetadataNode&) = default;
    MetadataNode(MetadataNode&&) noexcept = default;
    MetadataNode& operator=(const MetadataNode&) = default;
    MetadataNode& operator=(MetadataNode&&) noexcept = default;
    /// Releases the subtree without recursion, so that trees of any depth can be destroyed.
    ~MetadataNode();

    const std::string& name() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    /// The value, or empty.
    const std::shared_ptr<VariantDataValue>& value() const { return m_value; }
    bool hasValue() const { return m_value != nullptr; }
    void setValue(std::shared_ptr<VariantDataValue> value) { m_value = std::move(value); }

    size_t childCount() const { return m_children.size(); }
    const std::vector<std::shared_ptr<MetadataNode>>& children() const { return m_children; }
    /// The first child named `name`, or empty.
    std::shared_ptr<MetadataNode> child(const std::string& name);
    std::shared_ptr<const MetadataNode> child(const std::string& name) const;
    /// The child at `index`; throws InvalidArgument when `index` >= childCount().
    std::shared_ptr<MetadataNode> child(size_t index);
    std::shared_ptr<const MetadataNode> child(size_t index) const;
    bool hasChild(const std::string& name) const;

    /// Appends `node` after the existing children. Throws InvalidArgument for an
    /// empty pointer or for the node itself.
    void addChild(std::shared_ptr<MetadataNode> node);
    /// Removes the first child named `name`; returns false when there is none.
    bool removeChild(const std::string& name);
    /// Removes `node` if it is a child; returns false otherwise.
    bool removeChild(const std::shared_ptr<MetadataNode>& node);

    /// A deep copy: new nodes all the way down (values, being immutable, are shared).
    std::shared_ptr<MetadataNode> clone() const;

private:
    std::string m_name;
    std::shared_ptr<VariantDataValue> m_value;
    std::vector<std::shared_ptr<MetadataNode>> m_children;
};

} // namespace dravik
