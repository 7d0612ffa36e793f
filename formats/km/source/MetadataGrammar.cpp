#include <MetadataGrammar.h>

#include <dravik/MetadataNodeFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <cstdlib>
#include <limits>

#include <locale.h>

namespace quenza::km {

namespace {

bool isSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

bool isDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

bool isLetter(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

bool isKeyStart(char ch)
{
    return isLetter(ch) || ch == '_' || ch == '&';
}

bool isKeyChar(char ch)
{
    return isLetter(ch) || isDigit(ch) || ch == '_' || ch == '\\' || ch == ':' || ch == '.' || ch == '-';
}

/// Case-insensitive match of the lower-case `word` at `p`.
bool startsWithNoCase(const char* p, const char* end, const char* word)
{
    for (; *word != '\0'; ++word, ++p) {
        if (p == end || (*p != *word && *p != *word - 'a' + 'A')) {
            return false;
        }
    }
    return true;
}

} // namespace

double MetadataGrammar::toDouble(const std::string& text)
{
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return ::strtod_l(text.c_str(), nullptr, cLocale);
}

MetadataGrammar::NodePtr MetadataGrammar::parse(const std::string& input) const
{
    Cursor c{input.data(), input.data() + input.size()};
    NodePtr root;
    if (!section(c, 0, root)) {
        return nullptr;
    }
    skipSpace(c);
    return c.pos == c.end ? root : nullptr;
}

void MetadataGrammar::skipSpace(Cursor& c)
{
    while (c.pos != c.end && isSpace(*c.pos)) {
        ++c.pos;
    }
}

bool MetadataGrammar::literal(Cursor& c, char ch)
{
    skipSpace(c);
    if (c.pos != c.end && *c.pos == ch) {
        ++c.pos;
        return true;
    }
    return false;
}

bool MetadataGrammar::section(Cursor& c, size_t depth, NodePtr& out)
{
    if (depth >= MAX_DEPTH) {
        return false;
    }
    const Cursor save = c;
    std::string key;
    if (!unquotedString(c, key) || !literal(c, '{')) {
        c = save;
        return false;
    }
    ListVariantNode first;
    ListVariantNode second;
    for (;;) {
        std::variant<NodePtr, ListNode> node;
        if (!item(c, depth + 1, node)) {
            break;
        }
        first.push_back(std::move(node));
    }
    for (;;) {
        const Cursor beforeComma = c;
        std::variant<NodePtr, ListNode> node;
        if (!literal(c, ',') || !item(c, depth + 1, node)) {
            c = beforeComma;
            break;
        }
        second.push_back(std::move(node));
    }
    if (!literal(c, '}')) {
        c = save;
        return false;
    }
    out = builderNodeList(key, first, second);
    return true;
}

bool MetadataGrammar::item(Cursor& c, size_t depth, std::variant<NodePtr, ListNode>& out)
{
    NodePtr node;
    if (section(c, depth, node)) {
        out = std::move(node);
        return true;
    }
    ListNode list;
    if (sectionListData(c, list)) {
        out = std::move(list);
        return true;
    }
    return false;
}

bool MetadataGrammar::sectionListData(Cursor& c, ListNode& out)
{
    NodePtr first;
    if (!sectionData(c, first)) {
        return false;
    }
    ListNode rest;
    for (;;) {
        const Cursor beforeComma = c;
        NodePtr next;
        if (!literal(c, ',') || !sectionData(c, next)) {
            c = beforeComma;
            break;
        }
        rest.push_back(std::move(next));
    }
    out = buildAssembleData(first, rest.empty() ? ListOptionalNode() : ListOptionalNode(std::move(rest)));
    return true;
}

bool MetadataGrammar::sectionData(Cursor& c, NodePtr& out)
{
    // A whole number is a floating-point number too, so no integer alternative is needed.
    return sectionValueDouble(c, out) || sectionValueString(c, out);
}

bool MetadataGrammar::sectionValueDouble(Cursor& c, NodePtr& out)
{
    const Cursor save = c;
    std::string key;
    std::vector<double> values;
    double v = 0;
    if (!unquotedString(c, key)) {
        return false;
    }
    while (number(c, v)) {
        values.push_back(v);
    }
    if (values.empty()) {
        c = save;
        return false;
    }
    out = builderNodeValue<double>(key, values);
    return true;
}

bool MetadataGrammar::sectionValueString(Cursor& c, NodePtr& out)
{
    const Cursor save = c;
    std::string key;
    std::string text;
    if (!unquotedString(c, key) || !quotedString(c, text)) {
        c = save;
        return false;
    }
    out = builderNodeString(key, text);
    return true;
}

bool MetadataGrammar::number(Cursor& c, double& out)
{
    Cursor n = c;
    skipSpace(n);
    const char* p = n.pos;
    const char* const end = n.end;
    const char* const start = p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const digits = p;
    while (p != end && isDigit(*p)) {
        ++p;
    }
    const bool gotNumber = p != digits;
    if (!gotNumber) {
        if (startsWithNoCase(p, end, "nan")) {
            p += 3;
            if (p != end && *p == '(') {
                const char* close = p;
                while (++close != end && *close != ')') {
                }
                if (close == end) {
                    return false;
                }
                p = close + 1;
            }
            out = negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
            c.pos = p;
            return true;
        }
        if (startsWithNoCase(p, end, "inf")) {
            p += 3;
            if (startsWithNoCase(p, end, "inity")) {
                p += 5;
            }
            out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            c.pos = p;
            return true;
        }
    }
    if (p != end && *p == '.') {
        ++p;
        const char* const fraction = p;
        while (p != end && isDigit(*p)) {
            ++p;
        }
        if (p == fraction && !gotNumber) {
            return false;
        }
    } else if (!gotNumber) {
        return false;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q != end && (*q == '+' || *q == '-')) {
            ++q;
        }
        const char* const exponent = q;
        while (q != end && isDigit(*q)) {
            ++q;
        }
        // An "e" without digits is not part of the number.
        if (q != exponent) {
            p = q;
        }
    }
    out = toDouble(std::string(start, p));
    c.pos = p;
    return true;
}

bool MetadataGrammar::unquotedString(Cursor& c, std::string& out)
{
    skipSpace(c);
    const char* p = c.pos;
    if (p == c.end || !isKeyStart(*p)) {
        return false;
    }
    ++p;
    while (p != c.end && isKeyChar(*p)) {
        ++p;
    }
    out.assign(c.pos, p);
    c.pos = p;
    return true;
}

bool MetadataGrammar::quotedString(Cursor& c, std::string& out)
{
    Cursor q = c;
    skipSpace(q);
    const char* p = q.pos;
    if (p == q.end || *p != '"') {
        return false;
    }
    ++p;
    std::string text;
    while (p != q.end && *p != '"') {
        if (*p == '\\' && p + 1 != q.end) {
            char replaced = 0;
            switch (p[1]) {
            case 'a': replaced = '\a'; break;
            case 'b': replaced = '\b'; break;
            case 'f': replaced = '\f'; break;
            case 'n': replaced = '\n'; break;
            case 'r': replaced = '\r'; break;
            case 't': replaced = '\t'; break;
            case 'v': replaced = '\v'; break;
            case '\\': replaced = '\\'; break;
            case '\'': replaced = '\''; break;
            case '"': replaced = '"'; break;
            default: break;
            }
            if (replaced != 0) {
                text.push_back(replaced);
                p += 2;
                continue;
            }
        }
        text.push_back(*p);
        ++p;
    }
    if (p == q.end) {
        return false;
    }
    out = std::move(text);
    c.pos = p + 1;
    return true;
}

MetadataGrammar::NodePtr MetadataGrammar::builderNodeString(const std::string& key, const std::string& content)
{
    return dravik::MetadataNodeFactory::create(key, dravik::VariantDataValueFactory::create(content));
}

template <typename T>
MetadataGrammar::NodePtr MetadataGrammar::builderNodeValue(const std::string& key, const std::vector<T>& valueList)
{
    if (valueList.empty()) {
        return dravik::MetadataNodeFactory::create(key, nullptr);
    }
    return dravik::MetadataNodeFactory::create(key,
                                               dravik::VariantDataValueFactory::create(valueList.data(), valueList.size()));
}

template MetadataGrammar::NodePtr MetadataGrammar::builderNodeValue<double>(const std::string&,
                                                                            const std::vector<double>&);
template MetadataGrammar::NodePtr MetadataGrammar::builderNodeValue<int>(const std::string&, const std::vector<int>&);

MetadataGrammar::ListNode MetadataGrammar::buildAssembleData(const NodePtr& val1, const ListOptionalNode& otherNodes)
{
    ListNode nodes{val1};
    if (otherNodes) {
        nodes.insert(nodes.end(), otherNodes->begin(), otherNodes->end());
    }
    return nodes;
}

MetadataGrammar::NodePtr MetadataGrammar::builderNodeList(const std::string& key, const ListVariantNode& nodeSons,
                                                          const ListVariantNode& nodeSons2)
{
    auto node = dravik::MetadataNodeFactory::create(key, nullptr);
    for (const ListVariantNode* sons : {&nodeSons, &nodeSons2}) {
        for (const auto& son : *sons) {
            if (const auto* single = std::get_if<NodePtr>(&son)) {
                node->addChild(*single);
            } else {
                for (const auto& child : std::get<ListNode>(son)) {
                    node->addChild(child);
                }
            }
        }
    }
    return node;
}

MetadataGrammar::NodePtr MetadataGrammar::builderNode(const std::string& key, const NodePtr& nodeSon)
{
    auto node = dravik::MetadataNodeFactory::create(key, nullptr);
    node->addChild(nodeSon);
    return node;
}

MetadataGrammar::NodePtr MetadataGrammar::builderNodeEmpty(const std::string& key)
{
    return dravik::MetadataNodeFactory::create(key, nullptr);
}

} // namespace quenza::km
