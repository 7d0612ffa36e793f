#include "VxtHeaderFields.h"

#include <dravik/Error.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <fmt/format.h>

#include <charconv>
#include <sstream>
#include <type_traits>
#include <vector>

namespace quenza::vxt::header {

namespace {

struct TypeWord {
    const char* word;
    dravik::DataTypeId id;
};

const TypeWord TYPE_WORDS[] = {
    {"byte", dravik::DataTypeId::UINT8},        {"short", dravik::DataTypeId::UINT16},
    {"integer32", dravik::DataTypeId::UINT32},  {"signed_byte", dravik::DataTypeId::INT8},
    {"signed_short", dravik::DataTypeId::INT16}, {"signed_integer32", dravik::DataTypeId::INT32},
    {"float", dravik::DataTypeId::FLOAT},
};

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

template <typename T>
const char* kindOf()
{
    if constexpr (std::is_floating_point_v<T>) {
        return "a real number";
    } else if constexpr (std::is_signed_v<T>) {
        return "a signed integer";
    } else {
        return "an unsigned integer";
    }
}

} // namespace

std::optional<dravik::DataType> dataTypeOfWord(const std::string& word)
{
    for (const TypeWord& entry : TYPE_WORDS) {
        if (word == entry.word) {
            return dravik::DataType(entry.id);
        }
    }
    return std::nullopt;
}

std::string wordOfDataType(const dravik::DataType& type)
{
    for (const TypeWord& entry : TYPE_WORDS) {
        if (type == dravik::DataType(entry.id)) {
            return entry.word;
        }
    }
    return {};
}

ptree readDocument(dravik::StreamAccess& stream)
{
    std::string text;
    char chunk[65536];
    while (true) {
        const uint64_t got = stream.read(sizeof chunk, chunk);
        if (got == 0) {
            break;
        }
        if (text.size() + got > MAX_HEADER_BYTES) {
            throw dravik::Error(fmt::format("VXT header is larger than {} bytes", MAX_HEADER_BYTES));
        }
        text.append(chunk, got);
    }
    if (stream.fail()) {
        throw dravik::Error("VXT header could not be read");
    }
    return parseDocument(text);
}

void checkNesting(const std::string& text)
{
    // Errs on the deep side: anything that might open an element counts as one, so
    // that the recursive parser never meets more levels than allowed.
    uint64_t depth = 0;
    size_t i = 0;
    const size_t n = text.size();
    auto skipPast = [&](const char* terminator) {
        const size_t end = text.find(terminator, i);
        i = end == std::string::npos ? n : end + std::char_traits<char>::length(terminator);
    };
    while (i < n) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0) {
            skipPast("-->");
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            skipPast("]]>");
        } else if (text.compare(i, 2, "<?") == 0) {
            skipPast("?>");
        } else if (text.compare(i, 2, "</") == 0) {
            if (depth > 0) {
                --depth;
            }
            skipPast(">");
        } else if (text.compare(i, 2, "<!") == 0) {
            // A declaration may hold its own bracketed subset.
            ++i;
            int brackets = 0;
            while (i < n && !(text[i] == '>' && brackets == 0)) {
                brackets += text[i] == '[' ? 1 : text[i] == ']' ? -1 : 0;
                ++i;
            }
            ++i;
        } else {
            ++i;
            char quote = 0;
            while (i < n && (quote != 0 || text[i] != '>')) {
                if (quote == 0 && (text[i] == '"' || text[i] == '\'')) {
                    quote = text[i];
                } else if (text[i] == quote) {
                    quote = 0;
                }
                ++i;
            }
            const bool selfClosing = i < n && i > 0 && text[i - 1] == '/';
            ++i;
            if (!selfClosing && ++depth > MAX_NESTING) {
                throw dravik::Error(fmt::format("VXT header nests elements deeper than {} levels", MAX_NESTING));
            }
        }
    }
}

ptree parseDocument(const std::string& text)
{
    checkNesting(text);
    std::istringstream in(text);
    ptree tree;
    try {
        boost::property_tree::read_xml(in, tree, 0);
    } catch (const boost::property_tree::xml_parser_error& e) {
        throw dravik::Error(fmt::format("VXT header is not valid XML: {} (line {})", e.message(), e.line()));
    }
    return tree;
}

std::string requiredText(const ptree& tree, const std::string& path)
{
    const auto value = tree.get_optional<std::string>(path);
    if (!value) {
        throw dravik::Error(fmt::format("VXT header has no {}", path));
    }
    return *value;
}

template <typename T>
std::optional<T> parseNumber(const std::string& raw)
{
    std::string text = trimmed(raw);
    if (!text.empty() && text[0] == '+') {
        text.erase(0, 1);
        if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    if constexpr (std::is_unsigned_v<T>) {
        if (text[0] == '-') {
            return std::nullopt;
        }
    }
    T value{};
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

template <typename T>
T requiredNumber(const ptree& tree, const std::string& path)
{
    const std::string text = requiredText(tree, path);
    const auto value = parseNumber<T>(text);
    if (!value) {
        throw dravik::Error(fmt::format("VXT header value of {} is not {}: '{}'", path, kindOf<T>(), text));
    }
    return *value;
}

template <typename T>
T lenientNumber(const ptree& tree, const std::string& path, T fallback)
{
    const auto text = tree.get_optional<std::string>(path);
    if (!text) {
        return fallback;
    }
    return parseNumber<T>(*text).value_or(fallback);
}

template std::optional<uint8_t> parseNumber<uint8_t>(const std::string&);
template std::optional<uint16_t> parseNumber<uint16_t>(const std::string&);
template std::optional<uint32_t> parseNumber<uint32_t>(const std::string&);
template std::optional<uint64_t> parseNumber<uint64_t>(const std::string&);
template std::optional<int32_t> parseNumber<int32_t>(const std::string&);
template std::optional<int64_t> parseNumber<int64_t>(const std::string&);
template std::optional<float> parseNumber<float>(const std::string&);
template std::optional<double> parseNumber<double>(const std::string&);
template uint8_t requiredNumber<uint8_t>(const ptree&, const std::string&);
template uint64_t requiredNumber<uint64_t>(const ptree&, const std::string&);
template double requiredNumber<double>(const ptree&, const std::string&);
template uint64_t lenientNumber<uint64_t>(const ptree&, const std::string&, uint64_t);

dravik::Vector3d parseTriple(const std::string& text)
{
    std::vector<std::string> words;
    const std::string content = trimmed(text);
    if (!content.empty()) {
        boost::algorithm::split(words, content, boost::algorithm::is_any_of(" \t\r\n"),
                                boost::algorithm::token_compress_on);
    }
    dravik::Vector3d v;
    for (size_t i = 0; i < 3 && i < words.size(); ++i) {
        v[i] = parseNumber<double>(words[i]).value_or(0.0);
    }
    return v;
}

std::string formatTriple(const dravik::Vector3d& v)
{
    return fmt::format("{0} {1} {2}", v[0], v[1], v[2]);
}

} // namespace quenza::vxt::header
