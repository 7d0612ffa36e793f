// A VXT volume in an in-memory storage: the input is the header text, a NUL byte, then
// the data file the header names. Open, then every level whole and in part.
#include "FuzzSupport.h"

#include <VxtExtractor.h>

#include <dravik/DataStorageFactory.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

void put(dravik::DataStorage& storage, const std::string& name, const uint8_t* begin, const uint8_t* end)
{
    auto stream = storage.openStreamAccess(name, dravik::StreamAccessCapability::WRITE);
    if (begin != end) {
        stream->write(static_cast<uint64_t>(end - begin), begin);
    }
    stream->flush();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* end = data + size;
    const uint8_t* split = std::find(data, end, uint8_t(0));
    quenza::fuzz::tolerate([&] {
        auto storage = dravik::DataStorageFactory::createInMemory();
        put(*storage, "volume.vxt", data, split);
        put(*storage, "volume.dat", split == end ? end : split + 1, end);
        quenza::vxt::VxtExtractor lod(storage->openStreamAccess("volume.vxt", dravik::StreamAccessCapability::READ),
                                      "VXT");
        quenza::fuzz::readLevels(lod);
    });
    return 0;
}
