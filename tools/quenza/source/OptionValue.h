#pragma once

#include <dravik/VariantDataValue.h>

#include <memory>
#include <string>
#include <utility>

namespace quenza::cli {

/// A writer option given as KEY=VALUE. VALUE reads as a whole number (INT64), else a
/// real number (DOUBLE), else a comma-separated list of numbers (INT64 when all are
/// whole, else DOUBLE), else a string; "s:TEXT" is always the string TEXT.
std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>> parseOption(const std::string& keyValue);

} // namespace quenza::cli
