#include <KmMetadata.h>

#include <MetadataGrammar.h>

#include <common/PluginLogger.h>

namespace quenza::km {

std::shared_ptr<dravik::MetadataNode> KmMetadata::extract(const std::string& input)
{
    const MetadataGrammar grammar;
    auto root = grammar.parse(input);
    if (!root) {
        QUENZA_LOG_WARN("Metadata parsing failed");
    }
    return root;
}

} // namespace quenza::km
