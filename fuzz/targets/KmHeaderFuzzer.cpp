// The KorvelMesh header decoders, each given the whole input as a header block.
#include "FuzzSupport.h"

#include <KmParser.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using quenza::km::KmParser;
    using quenza::fuzz::tolerate;
    const std::string block = quenza::fuzz::textOf(data, size);
    tolerate([&] { (void)KmParser::decodeHead(block); });
    tolerate([&] { (void)KmParser::decodeShape(block); });
    tolerate([&] {
        std::vector<KmParser::DataSection> sections;
        KmParser::decodeLattices(block, sections);
    });
    tolerate([&] { (void)KmParser::decodeDataType(block); });
    tolerate([&] { (void)KmParser::decodeDataDescription(block); });
    tolerate([&] { (void)KmParser::decodeAddrData(block); });
    tolerate([&] { (void)KmParser::decodeCompressionMode(block); });
    tolerate([&] {
        std::pair<size_t, size_t> span;
        if (KmParser::extractMetadata(block, &span) && (span.first > block.size() || span.second > block.size() - span.first)) {
            __builtin_trap();
        }
    });
    return 0;
}
