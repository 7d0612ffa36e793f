#pragma once

#include <dravik/MetadataNode.h>
#include <dravik/VariantDataValue.h>

#include <cstddef>
#include <iosfwd>
#include <limits>
#include <string>

namespace quenza::cli {

/// Values of a metadata value as one line: texts quoted, numbers as they read, separated
/// by ", "; after `maxValues` values, "... (N values)".
std::string metadataValueText(const dravik::VariantDataValue& value, size_t maxValues = 16);

/// Number of nodes of the tree below `node`, `node` included.
size_t metadataNodeCount(const dravik::MetadataNode& node);

/// Prints the tree under `root` one node per line, "name = value", each level indented by
/// two more spaces after `indent`. Nodes deeper than `maxDepth` (the root is depth 0)
/// are left out, their parent saying how many.
void printMetadataTree(std::ostream& out, const dravik::MetadataNode& root, const std::string& indent,
                       size_t maxDepth = std::numeric_limits<size_t>::max());

} // namespace quenza::cli
