#pragma once

#include "PreviewRenderer.h"

#include <string>

namespace quenza::cli {

/// Writes `picture` as an 8-bit grey or RGB PNG file at `path`. Throws dravik::Error
/// with libpng's reason when it cannot, and leaves no file behind.
void writePng(const std::string& path, const Picture& picture);

} // namespace quenza::cli
