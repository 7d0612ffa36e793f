#include "Arguments.h"

#include <fmt/format.h>

#include <charconv>

namespace quenza::cli {

Arguments::Arguments(const std::vector<std::string>& words, const Syntax& syntax)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            m_positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::string inlineValue;
        bool hasInlineValue = false;
        const auto equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            inlineValue = word.substr(equals + 1);
            hasInlineValue = true;
        }
        if (syntax.flags.count(name) != 0) {
            if (hasInlineValue) {
                throw UsageError(fmt::format("option {} takes no value", name));
            }
            m_values[name].push_back("");
            continue;
        }
        if (syntax.values.count(name) == 0) {
            throw UsageError(fmt::format("unknown option {}", name));
        }
        if (!hasInlineValue) {
            if (i + 1 >= words.size()) {
                throw UsageError(fmt::format("option {} needs a value", name));
            }
            inlineValue = words[++i];
        }
        if (m_values.count(name) != 0 && syntax.repeatable.count(name) == 0) {
            throw UsageError(fmt::format("option {} is given twice", name));
        }
        m_values[name].push_back(inlineValue);
    }
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const
{
    const auto found = m_values.find(option);
    return found == m_values.end() ? fallback : found->second.back();
}

std::vector<std::string> Arguments::values(const std::string& option) const
{
    const auto found = m_values.find(option);
    return found == m_values.end() ? std::vector<std::string>{} : found->second;
}

unsigned long long parseCount(const std::string& option, const std::string& text)
{
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        throw UsageError(fmt::format("option {} needs a whole number, not '{}'", option, text));
    }
    return value;
}

} // namespace quenza::cli
