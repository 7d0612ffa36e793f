// A DM3 or DM4 file in memory: open, then every frame.
#include "FuzzSupport.h"

#include <GatanExtractor.h>

#include <dravik/StreamAccessFactory.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quenza::fuzz::tolerate([&] {
        quenza::gatan::GatanExtractor images(dravik::StreamAccessFactory::fromBytes(quenza::fuzz::bytesOf(data, size)),
                                             "DM");
        quenza::fuzz::readFrames(images);
    });
    return 0;
}
