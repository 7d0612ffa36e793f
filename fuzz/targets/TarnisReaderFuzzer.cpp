// A Tarnis file in memory: open, then the main frame and the overlay.
#include "FuzzSupport.h"

#include <TarnisExtractor.h>

#include <dravik/StreamAccessFactory.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quenza::fuzz::tolerate([&] {
        quenza::tarnis::TarnisExtractor images(
            dravik::StreamAccessFactory::fromBytes(quenza::fuzz::bytesOf(data, size)));
        quenza::fuzz::readFrames(images);
    });
    return 0;
}
