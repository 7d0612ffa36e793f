#include "OptionValue.h"

#include "Arguments.h"

#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>

#include <charconv>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

namespace quenza::cli {

namespace {

std::optional<int64_t> wholeNumber(const std::string& text)
{
    int64_t v = 0;
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') {
        ++begin;
    }
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || begin == end) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> realNumber(const std::string& text)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return v;
}

} // namespace

std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>> parseOption(const std::string& keyValue)
{
    const auto equals = keyValue.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw UsageError(fmt::format("option '{}' is not KEY=VALUE", keyValue));
    }
    const std::string key = keyValue.substr(0, equals);
    const std::string text = keyValue.substr(equals + 1);
    if (text.rfind("s:", 0) == 0) {
        return {key, dravik::VariantDataValueFactory::create(text.substr(2))};
    }
    if (auto whole = wholeNumber(text)) {
        return {key, dravik::VariantDataValueFactory::create(*whole)};
    }
    if (auto real = realNumber(text)) {
        return {key, dravik::VariantDataValueFactory::create(*real)};
    }
    if (text.find(',') != std::string::npos) {
        std::vector<int64_t> wholes;
        std::vector<double> reals;
        bool allWhole = true;
        bool allNumbers = true;
        std::stringstream items(text);
        std::string item;
        while (std::getline(items, item, ',')) {
            if (auto w = wholeNumber(item)) {
                wholes.push_back(*w);
                reals.push_back(static_cast<double>(*w));
            } else if (auto r = realNumber(item)) {
                allWhole = false;
                reals.push_back(*r);
            } else {
                allNumbers = false;
                break;
            }
        }
        if (allNumbers && !reals.empty() && text.back() != ',') {
            return {key, allWhole ? dravik::VariantDataValueFactory::create(wholes)
                                  : dravik::VariantDataValueFactory::create(reals)};
        }
    }
    return {key, dravik::VariantDataValueFactory::create(text)};
}

} // namespace quenza::cli
