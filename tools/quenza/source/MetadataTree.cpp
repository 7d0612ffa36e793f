#include "MetadataTree.h"

#include "TextFormat.h"

#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <algorithm>
#include <ostream>
#include <utility>
#include <vector>

namespace quenza::cli {

namespace {

// Trees read from files can be as deep as their size allows: past this depth lines stop
// moving right and say their depth instead.
constexpr size_t MAX_INDENT_DEPTH = 32;

} // namespace

std::string metadataValueText(const dravik::VariantDataValue& value, size_t maxValues)
{
    const size_t shown = std::min(value.size(), maxValues);
    std::vector<std::string> texts;
    if (value.isString()) {
        for (size_t i = 0; i < shown; ++i) {
            std::string quoted;
            for (char c : value.strings()[i]) {
                if (c == '"' || c == '\\') {
                    quoted += '\\';
                }
                quoted += c;
            }
            texts.push_back("\"" + printableText(quoted) + "\"");
        }
    } else {
        const auto head = dravik::VariantDataValueFactory::create(value.dataType(), value.data(), shown);
        texts = dravik::VariantDataValueConverter::toStringArray(*head);
    }
    std::string text = fmt::format("{}", fmt::join(texts, ", "));
    if (shown < value.size()) {
        text += fmt::format(", ... ({} values)", value.size());
    }
    return text;
}

size_t metadataNodeCount(const dravik::MetadataNode& node)
{
    size_t count = 0;
    std::vector<const dravik::MetadataNode*> pending{&node};
    while (!pending.empty()) {
        const auto* current = pending.back();
        pending.pop_back();
        ++count;
        for (const auto& child : current->children()) {
            pending.push_back(child.get());
        }
    }
    return count;
}

void printMetadataTree(std::ostream& out, const dravik::MetadataNode& root, const std::string& indent,
                       size_t maxDepth)
{
    // Depth first without recursion, children in their order.
    std::vector<std::pair<const dravik::MetadataNode*, size_t>> pending{{&root, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        std::string line = indent + std::string(2 * std::min(depth, MAX_INDENT_DEPTH), ' ');
        if (depth > MAX_INDENT_DEPTH) {
            line += fmt::format("[depth {}] ", depth);
        }
        line += printableText(node->name());
        if (node->hasValue()) {
            line += " = " + metadataValueText(*node->value());
        }
        if (depth >= maxDepth && node->childCount() > 0) {
            line += fmt::format(" (+{} nodes below)", metadataNodeCount(*node) - 1);
        }
        fmt::print(out, "{}\n", line);
        if (depth < maxDepth) {
            const auto& children = node->children();
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                pending.emplace_back(it->get(), depth + 1);
            }
        }
    }
}

} // namespace quenza::cli
