#pragma once

#include <dravik/VectorX.h>

#include <cstdint>
#include <string>

namespace quenza::cli {

/// "512 B", "1.5 KiB", "16.0 MiB", "2.25 GiB".
std::string byteText(double bytes);
/// "0:07", "12:30", "2:05:00".
std::string durationText(double seconds);
/// "256 x 256 x 128".
std::string shapeText(const dravik::VectorXu64& shape);
/// `text` safe to print on a terminal: control characters as escapes (\n, \t, \x1b),
/// bytes that are not UTF-8 as U+FFFD, and at most `maxCharacters` characters
/// followed by "..." when longer.
std::string printableText(const std::string& text, size_t maxCharacters = 200);

} // namespace quenza::cli
