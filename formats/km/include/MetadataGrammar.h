#pragma once

#include <dravik/MetadataNode.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quenza::km {

/// The language of a Parameters block, parsed by recursive descent with one function
/// per rule. Alternatives are tried in order from the same point and repetitions are
/// greedy, so it accepts exactly the texts of the rule table, and builds the same tree.
///
///   start        := section
///   section      := key "{" (section | listData)* ("," (section | listData))* "}"
///   listData     := data ("," data)*
///   data         := key number+ | key quotedString
///   key          := [A-Za-z_&] [A-Za-z0-9_\:.-]*            (no white space inside)
///   quotedString := '"' (escape | any character but '"')* '"'
///
/// White space (space, tab, line feed, vertical tab, form feed, carriage return) is
/// skipped between tokens.
class MetadataGrammar {
public:
    using NodePtr = std::shared_ptr<dravik::MetadataNode>;
    using ListNode = std::vector<NodePtr>;
    using ListVariantNode = std::vector<std::variant<NodePtr, ListNode>>;
    using ListOptionalNode = std::optional<ListNode>;

    /// Blocks nested deeper than this make the text fail, which bounds the recursion.
    static constexpr size_t MAX_DEPTH = 256;

    /// The tree of the whole of `input`, or empty when any of it is outside the language.
    NodePtr parse(const std::string& input) const;
    /// The double that a number token of the language stands for, correctly rounded
    /// whatever the process locale.
    static double toDouble(const std::string& text);

    static NodePtr builderNodeString(const std::string& key, const std::string& content);
    template <typename T>
    static NodePtr builderNodeValue(const std::string& key, const std::vector<T>& valueList);
    static ListNode buildAssembleData(const NodePtr& val1, const ListOptionalNode& otherNodes);
    static NodePtr builderNodeList(const std::string& key, const ListVariantNode& nodeSons,
                                   const ListVariantNode& nodeSons2);
    static NodePtr builderNode(const std::string& key, const NodePtr& nodeSon);
    static NodePtr builderNodeEmpty(const std::string& key);

private:
    struct Cursor {
        const char* pos;
        const char* end;
    };

    static void skipSpace(Cursor& c);
    static bool section(Cursor& c, size_t depth, NodePtr& out);
    static bool item(Cursor& c, size_t depth, std::variant<NodePtr, ListNode>& out);
    static bool sectionListData(Cursor& c, ListNode& out);
    static bool sectionData(Cursor& c, NodePtr& out);
    static bool sectionValueDouble(Cursor& c, NodePtr& out);
    static bool sectionValueString(Cursor& c, NodePtr& out);
    static bool number(Cursor& c, double& out);
    static bool unquotedString(Cursor& c, std::string& out);
    static bool quotedString(Cursor& c, std::string& out);
    static bool literal(Cursor& c, char ch);
};

} // namespace quenza::km
