#include "Utf16Text.h"

#include <boost/locale/encoding_utf.hpp>

namespace quenza::gatan {

namespace {

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::string utf16LittleEndianToUtf8(const uint8_t* bytes, size_t units)
{
    std::u16string text;
    text.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        text.push_back(static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    // The converter's skip mode swallows the unit after a lone high surrogate along
    // with it; dropping unpaired surrogates first keeps that unit.
    std::u16string paired;
    paired.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit)) {
            if (i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
                paired.push_back(unit);
                paired.push_back(text[++i]);
            }
        } else if (!isLowSurrogate(unit)) {
            paired.push_back(unit);
        }
    }
    return boost::locale::conv::utf_to_utf<char>(paired.data(), paired.data() + paired.size(),
                                                 boost::locale::conv::skip);
}

} // namespace quenza::gatan
