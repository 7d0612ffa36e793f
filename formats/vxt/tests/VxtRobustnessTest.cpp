#include "RobustnessSweep.h"
#include "VxtTestSupport.h"

#include <VxtExtractor.h>

#include <gtest/gtest.h>

namespace quenza::vxt::test {
namespace {

using common::test::SweepBytes;
using common::test::SweepFixture;

/// A volume as its two files.
struct VolumeFiles {
    std::string name;
    Volume volume;
    std::string header;
    SweepBytes data;
};

const std::string CALIBRATED = "<CoordinateSystem><Origin>1.5 -2 3e2</Origin><TotalExtent><U>0 8 0</U><V>-2 0 0</V>"
                               "<W>0 0 12</W></TotalExtent></CoordinateSystem>"
                               "<Histogram><V>0</V><N>3</N><V>7</V><N>5</N></Histogram>\n";

/// Raw and compressed volumes of two types, each of several levels.
std::vector<VolumeFiles> volumes()
{
    std::vector<VolumeFiles> all;
    auto add = [&](const std::string& name, Size3 size, dravik::DataType type, Size3 tile, bool compressed,
                   const std::string& extra) {
        Volume v = makeVolume(size, type, static_cast<uint32_t>(all.size() + 1));
        const uint64_t tiles = tilesInFileOrder(size, tile).size();
        all.push_back({name, v, headerText(size, typeWord(type), tile, "volume.dat", extra, compressed ? tiles : 0),
                       dataFile(v, tile, compressed)});
    };
    add("raw-byte", {5, 4, 3}, dravik::DataType(dravik::DataTypeId::UINT8), {2, 2, 2}, false, CALIBRATED);
    add("gzip-short", {6, 5, 4}, dravik::DataType(dravik::DataTypeId::UINT16), {4, 4, 4}, true, "");
    add("gzip-byte", {9, 3, 2}, dravik::DataType(dravik::DataTypeId::UINT8), {2, 2, 2}, true, CALIBRATED);
    return all;
}

std::shared_ptr<VxtExtractor> openPair(const SweepBytes& header, const SweepBytes& data)
{
    auto storage = dravik::DataStorageFactory::createInMemory();
    putResource(*storage, "volume.vxt", header);
    putResource(*storage, "volume.dat", data);
    return std::make_shared<VxtExtractor>(storage->openStreamAccess("volume.vxt", dravik::StreamAccessCapability::READ),
                                          "VXT");
}

SweepBytes bytesOf(const std::string& text)
{
    return SweepBytes(text.begin(), text.end());
}

/// What the fuzz target vxt_reader reads: the header, a NUL byte, the data file.
SweepBytes joined(const VolumeFiles& v)
{
    SweepBytes bytes = bytesOf(v.header);
    bytes.push_back(0);
    bytes.insert(bytes.end(), v.data.begin(), v.data.end());
    return bytes;
}

TEST(VxtRobustnessTest, FixturesReadEveryLevel)
{
    std::vector<SweepFixture> readerSeeds;
    std::vector<SweepFixture> headerSeeds;
    for (const VolumeFiles& v : volumes()) {
        auto lod = openPair(bytesOf(v.header), v.data);
        ASSERT_GT(lod->levelRange()[1], 0) << v.name;
        EXPECT_EQ(readAll(*lod->resolution(0)), v.volume.bytes) << v.name;
        common::test::readEveryLevel(*lod);
        readerSeeds.push_back({v.name, joined(v)});
        headerSeeds.push_back({v.name, bytesOf(v.header)});
    }
    common::test::writeSeeds("vxt_reader", readerSeeds);
    common::test::writeSeeds("vxt_header", headerSeeds);
}

TEST(VxtRobustnessTest, EveryPrefixOfEitherFileIsRefused)
{
    for (const VolumeFiles& v : volumes()) {
        const SweepBytes header = bytesOf(v.header);
        const auto cutData = [&](const SweepBytes& data) { common::test::readEveryLevel(*openPair(header, data)); };
        const auto dataCounts = common::test::prefixSweep({v.name + " data", v.data}, cutData, v.data.size());
        EXPECT_EQ(dataCounts.read, 0u) << v.name;

        const auto cutHeader = [&](const SweepBytes& text) { common::test::readEveryLevel(*openPair(text, v.data)); };
        // Only the final line break can go: every shorter header is not well formed.
        common::test::prefixSweep({v.name + " header", header}, cutHeader, header.size() - 1);
    }
}

TEST(VxtRobustnessTest, SingleByteCorruptionsAreReadOrRefused)
{
    uint32_t seed = 53;
    for (const VolumeFiles& v : volumes()) {
        const SweepBytes header = bytesOf(v.header);
        const auto withData = [&](const SweepBytes& data) { common::test::readEveryLevel(*openPair(header, data)); };
        const auto withHeader = [&](const SweepBytes& text) { common::test::readEveryLevel(*openPair(text, v.data)); };
        const auto data = common::test::corruptionSweep({v.name + " data", v.data}, withData, 300, seed++);
        const auto text = common::test::corruptionSweep({v.name + " header", header}, withHeader, 300, seed++);
        EXPECT_GT(text.refused, 0u) << v.name;
        if (v.name != "raw-byte") {
            // A changed byte of a compressed tile or of the table is caught by zlib or the table checks.
            EXPECT_GT(data.refused, 0u) << v.name;
        }
    }
}

} // namespace
} // namespace quenza::vxt::test
