// The grammar of a Parameters block, on the whole input.
#include "FuzzSupport.h"

#include <MetadataGrammar.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = quenza::fuzz::textOf(data, size);
    quenza::fuzz::tolerate([&] { (void)quenza::km::MetadataGrammar().parse(text); });
    quenza::fuzz::tolerate([&] { (void)quenza::km::MetadataGrammar::toDouble(text); });
    return 0;
}
