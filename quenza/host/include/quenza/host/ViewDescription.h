#pragma once

#include <dravik/DataFrameView.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>

#include <nlohmann/json.hpp>

#include <string>

namespace quenza::host {

struct DescribeOptions {
    /// Adds a SHA-256 of the elements of every image (as readRegion returns them) and,
    /// for tables, every row and the SHA-256 of their text.
    bool checksum = false;
};

/// "image", "multi-image", "lod", "data-frame" or "unknown".
std::string viewKind(dravik::View& view);

/// The machine-readable description of a view, keys in a fixed order: "view", "origin",
/// then by kind (see the README's `quenza info --json`).
nlohmann::ordered_json describeView(dravik::View& view, const DescribeOptions& options = {});

/// {"name", "value", "children"} down the tree; null for an empty node.
nlohmann::ordered_json describeMetadata(const dravik::MetadataNode* node);

/// {"type", "values"}: numbers as JSON numbers (non-finite ones as "nan", "inf", "-inf"),
/// strings as JSON strings.
nlohmann::ordered_json describeValue(const dravik::VariantDataValue& value);

/// Hex SHA-256 of the full region of `image` read packed, read in bounded slabs.
std::string imageSha256(dravik::ImageView& image);

/// JSON text of `document`: invalid UTF-8 in strings (names read from files) is
/// replaced by U+FFFD rather than failing.
std::string toJsonText(const nlohmann::ordered_json& document, int indent = 2);

} // namespace quenza::host
