#include <dravik/Error.h>
#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValue.h>

#include <string_view>
#include <vector>

namespace dravik {

namespace {

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> segments;
    std::string_view rest(path);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view segment = rest.substr(0, slash);
        if (!segment.empty()) {
            segments.emplace_back(segment);
        }
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return segments;
}

template <typename Node>
std::shared_ptr<Node> walk(std::shared_ptr<Node> node, const std::string& path)
{
    for (const std::string& segment : splitPath(path)) {
        if (!node) {
            break;
        }
        node = node->child(segment);
    }
    return node;
}

} // namespace

std::shared_ptr<MetadataNode> MetadataNodeHelper::getNode(const std::shared_ptr<MetadataNode>& root,
                                                          const std::string& path)
{
    return walk(root, path);
}

std::shared_ptr<const MetadataNode> MetadataNodeHelper::getNode(const std::shared_ptr<const MetadataNode>& root,
                                                                const std::string& path)
{
    return walk(root, path);
}

bool MetadataNodeHelper::exists(const std::shared_ptr<const MetadataNode>& root, const std::string& path)
{
    return getNode(root, path) != nullptr;
}

std::shared_ptr<MetadataNode> MetadataNodeHelper::createPath(const std::shared_ptr<MetadataNode>& root,
                                                             const std::string& path,
                                                             std::shared_ptr<VariantDataValue> value)
{
    if (!root) {
        throw InvalidArgument("Cannot create the metadata path '" + path + "' under an empty root");
    }
    std::shared_ptr<MetadataNode> node = root;
    for (const std::string& segment : splitPath(path)) {
        auto next = node->child(segment);
        if (!next) {
            next = MetadataNodeFactory::create(segment);
            node->addChild(next);
        }
        node = std::move(next);
    }
    node->setValue(std::move(value));
    return node;
}

} // namespace dravik
