// A CSV text in memory: open, then every column whole and in part.
#include "FuzzSupport.h"

#include <CSVExtractor.h>

#include <dravik/StreamAccessFactory.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quenza::fuzz::tolerate([&] {
        quenza::csv::CSVExtractor frame(dravik::StreamAccessFactory::fromBytes(quenza::fuzz::bytesOf(data, size)), "CSV");
        quenza::fuzz::readColumns(frame);
    });
    return 0;
}
