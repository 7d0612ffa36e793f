#include <dravik/Error.h>
#include <dravik/MetadataNode.h>
#include <dravik/VariantDataValue.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace dravik {

namespace {

std::shared_ptr<MetadataNode> firstNamed(const std::vector<std::shared_ptr<MetadataNode>>& children,
                                         const std::string& name)
{
    auto it = std::find_if(children.begin(), children.end(),
                           [&name](const std::shared_ptr<MetadataNode>& c) { return c->name() == name; });
    return it == children.end() ? nullptr : *it;
}

const std::shared_ptr<MetadataNode>& childAt(const std::vector<std::shared_ptr<MetadataNode>>& children,
                                             size_t index, const std::string& parentName)
{
    if (index >= children.size()) {
        throw InvalidArgument("Child index " + std::to_string(index) + " out of range: metadata node '" + parentName
                              + "' has " + std::to_string(children.size()) + " children");
    }
    return children[index];
}

} // namespace

MetadataNode::MetadataNode(std::string name, std::shared_ptr<VariantDataValue> value)
    : m_name(std::move(name))
    , m_value(std::move(value))
{
}

MetadataNode::~MetadataNode()
{
    // Trees read from files can be arbitrarily deep: releasing children recursively would
    // overflow the stack. Grandchildren we solely own are hoisted into our own list, so each
    // node dies with no children left; nodes shared with someone else keep their subtree.
    while (!m_children.empty()) {
        std::shared_ptr<MetadataNode> node = std::move(m_children.back());
        m_children.pop_back();
        if (node && node.use_count() == 1 && !node->m_children.empty()) {
            std::vector<std::shared_ptr<MetadataNode>> grandChildren = std::move(node->m_children);
            node->m_children.clear();
            m_children.insert(m_children.end(), std::make_move_iterator(grandChildren.begin()),
                              std::make_move_iterator(grandChildren.end()));
        }
    }
}

std::shared_ptr<MetadataNode> MetadataNode::child(const std::string& name)
{
    return firstNamed(m_children, name);
}

std::shared_ptr<const MetadataNode> MetadataNode::child(const std::string& name) const
{
    return firstNamed(m_children, name);
}

std::shared_ptr<MetadataNode> MetadataNode::child(size_t index)
{
    return childAt(m_children, index, m_name);
}

std::shared_ptr<const MetadataNode> MetadataNode::child(size_t index) const
{
    return childAt(m_children, index, m_name);
}

bool MetadataNode::hasChild(const std::string& name) const
{
    return child(name) != nullptr;
}

void MetadataNode::addChild(std::shared_ptr<MetadataNode> node)
{
    if (!node) {
        throw InvalidArgument("Cannot add an empty child to metadata node '" + m_name + "'");
    }
    if (node.get() == this) {
        throw InvalidArgument("Metadata node '" + m_name + "' cannot be its own child");
    }
    m_children.push_back(std::move(node));
}

bool MetadataNode::removeChild(const std::string& name)
{
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [&name](const std::shared_ptr<MetadataNode>& c) { return c->name() == name; });
    if (it == m_children.end()) {
        return false;
    }
    m_children.erase(it);
    return true;
}

bool MetadataNode::removeChild(const std::shared_ptr<MetadataNode>& node)
{
    auto it = std::find(m_children.begin(), m_children.end(), node);
    if (!node || it == m_children.end()) {
        return false;
    }
    m_children.erase(it);
    return true;
}

std::shared_ptr<MetadataNode> MetadataNode::clone() const
{
    // An explicit worklist instead of recursion, for the same reason as in the destructor.
    auto root = std::make_shared<MetadataNode>(m_name, m_value);
    std::vector<std::pair<const MetadataNode*, MetadataNode*>> pending{{this, root.get()}};
    while (!pending.empty()) {
        auto [source, copy] = pending.back();
        pending.pop_back();
        copy->m_children.reserve(source->m_children.size());
        for (const auto& c : source->m_children) {
            auto childCopy = std::make_shared<MetadataNode>(c->m_name, c->m_value);
            pending.emplace_back(c.get(), childCopy.get());
            copy->m_children.push_back(std::move(childCopy));
        }
    }
    return root;
}

} // namespace dravik
