// A KorvelMesh file in memory: open, then the full region and a few boxes.
#include "FuzzSupport.h"

#include <KmExtractor.h>

#include <dravik/StreamAccessFactory.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quenza::fuzz::tolerate([&] {
        quenza::km::KmExtractor image(dravik::StreamAccessFactory::fromBytes(quenza::fuzz::bytesOf(data, size)), "KM");
        quenza::fuzz::readImage(image);
    });
    return 0;
}
