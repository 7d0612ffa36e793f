#pragma once

#include <dravik/MetadataNode.h>

#include <memory>
#include <string>

namespace quenza::km {

/// Reads the Parameters block of a KorvelMesh header into a metadata tree.
class KmMetadata {
public:
    /// The tree of `input`, from the word "Parameters" to its closing brace: one node
    /// per entry, the outermost named "Parameters". Empty, with "Metadata parsing
    /// failed" logged, when the text is outside the block language.
    static std::shared_ptr<dravik::MetadataNode> extract(const std::string& input);
};

} // namespace quenza::km
