// A VXT header text beside a fixed data file in an in-memory storage: parse, open, and
// read one box of each level.
#include "FuzzSupport.h"

#include <VxtExtractor.h>

#include "VxtHeaderFields.h"

#include <dravik/DataStorageFactory.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

void put(dravik::DataStorage& storage, const std::string& name, const std::vector<uint8_t>& bytes)
{
    auto stream = storage.openStreamAccess(name, dravik::StreamAccessCapability::WRITE);
    if (!bytes.empty()) {
        stream->write(bytes.size(), bytes.data());
    }
    stream->flush();
}

std::vector<uint8_t> dataFile()
{
    std::vector<uint8_t> bytes(uint64_t(1) << 16);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::vector<uint8_t> s_data = dataFile();
    const std::string text = quenza::fuzz::textOf(data, size);
    quenza::fuzz::tolerate([&] { (void)quenza::vxt::header::parseDocument(text); });
    quenza::fuzz::tolerate([&] {
        auto storage = dravik::DataStorageFactory::createInMemory();
        put(*storage, "volume.vxt", quenza::fuzz::bytesOf(data, size));
        put(*storage, "volume.dat", s_data);
        quenza::vxt::VxtExtractor lod(storage->openStreamAccess("volume.vxt", dravik::StreamAccessCapability::READ),
                                      "VXT");
        const auto range = lod.levelRange();
        for (int64_t level = range[0]; level <= range[1]; ++level) {
            quenza::fuzz::tolerate([&] {
                auto image = lod.resolution(level);
                dravik::VectorXu64 origin = image->shape();
                dravik::VectorXu64 box = image->shape();
                origin.fill(0);
                for (auto& s : box) {
                    s = std::min<uint64_t>(s, 3);
                }
                quenza::fuzz::readBox(*image, dravik::RegionXu64(origin, box));
            });
        }
    });
    return 0;
}
