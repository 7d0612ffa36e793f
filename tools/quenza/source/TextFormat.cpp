#include "TextFormat.h"

#include <fmt/format.h>

#include <cmath>
#include <vector>

namespace quenza::cli {

namespace {

/// Length of the UTF-8 sequence starting at `text[i]` and its code point, or 0 when it
/// is not a valid one.
size_t utf8Length(const std::string& text, size_t i, uint32_t& code)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not text.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

} // namespace

std::string byteText(double bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return fmt::format("{:.0f} B", bytes);
    }
    size_t unit = 0;
    bytes /= 1024;
    while (bytes >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    return fmt::format(bytes < 10 ? "{:.2f} {}" : bytes < 100 ? "{:.1f} {}" : "{:.0f} {}", bytes, units[unit]);
}

std::string durationText(double seconds)
{
    // Past four days a time left says nothing more.
    if (!(seconds < 360000)) {
        return "99:59:59+";
    }
    const auto total = static_cast<uint64_t>(std::llround(std::max(0.0, seconds)));
    if (total >= 3600) {
        return fmt::format("{}:{:02}:{:02}", total / 3600, total / 60 % 60, total % 60);
    }
    return fmt::format("{}:{:02}", total / 60, total % 60);
}

std::string shapeText(const dravik::VectorXu64& shape)
{
    std::vector<std::string> sizes;
    for (uint64_t s : shape) {
        sizes.push_back(std::to_string(s));
    }
    return fmt::format("{}", fmt::join(sizes, " x "));
}

std::string printableText(const std::string& text, size_t maxCharacters)
{
    std::string out;
    size_t characters = 0;
    for (size_t i = 0; i < text.size();) {
        if (characters == maxCharacters) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c < 0x20 || c == 0x7F) {
                out += fmt::format("\\x{:02x}", c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (uint32_t code = 0; const size_t length = utf8Length(text, i, code)) {
            // C1 controls can drive a terminal as well as the ASCII ones.
            if (code < 0xA0) {
                out += fmt::format("\\u{:04x}", code);
            } else {
                out.append(text, i, length);
            }
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
        ++characters;
    }
    return out;
}

} // namespace quenza::cli
