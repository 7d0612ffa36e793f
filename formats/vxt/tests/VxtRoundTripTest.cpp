// Volumes written by the plug-in and read back by it, both through the host.

#include "VxtTestSupport.h"

#include <quenza/host/PluginRegistry.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <unistd.h>

namespace quenza::vxt::test {
namespace {

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

std::string folder()
{
    static const std::string dir = [] {
        const std::string d = ::testing::TempDir() + "vxt_round_trip_" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

/// Values of `v` read as doubles.
std::vector<double> valuesOf(const Volume& v)
{
    std::vector<double> out(v.count());
    for (uint64_t i = 0; i < v.count(); ++i) {
        const uint8_t* p = v.bytes.data() + i * v.elementBytes();
        const dravik::DataType& t = v.type;
        auto load = [&](auto tag) {
            decltype(tag) x;
            std::memcpy(&x, p, sizeof x);
            return static_cast<double>(x);
        };
        if (t.isFloatingPoint()) out[i] = load(float{});
        else if (t.primitiveType() == dravik::PrimitiveType::SIGNED_INTEGER)
            out[i] = t.bitDepth() == 8 ? load(int8_t{}) : t.bitDepth() == 16 ? load(int16_t{}) : load(int32_t{});
        else out[i] = t.bitDepth() == 8 ? load(uint8_t{}) : t.bitDepth() == 16 ? load(uint16_t{}) : load(uint32_t{});
    }
    return out;
}

/// The (value, count) pairs the histogram of `v` must have.
std::map<int64_t, uint64_t> expectedHistogram(const Volume& v)
{
    std::map<int64_t, uint64_t> counts;
    for (const double x : valuesOf(v)) {
        auto value = static_cast<int64_t>(x);
        if (v.type.bitDepth() == 32) {
            value = value >= 0 ? value / 65536 * 65536 : -((-value + 65535) / 65536) * 65536;
        }
        ++counts[value];
    }
    return counts;
}

std::map<int64_t, uint64_t> headerHistogram(const std::shared_ptr<const dravik::MetadataNode>& root)
{
    std::map<int64_t, uint64_t> pairs;
    auto histogram = dravik::MetadataNodeHelper::getNode(root, "VXT/VolumeInformation/Histogram");
    if (!histogram) {
        return pairs;
    }
    for (const auto& item : histogram->children()) {
        const auto value = dravik::VariantDataValueConverter::toInt64(item->child("V")->value());
        pairs[value] = dravik::VariantDataValueConverter::toUint64(item->child("N")->value());
    }
    return pairs;
}

struct Case {
    dravik::DataTypeId type;
    Size3 size;
    std::vector<int64_t> tile;
    bool compressed;
};

std::string nameOf(const Case& c)
{
    return dravik::DataType(c.type).toString() + "_" + std::to_string(c.size[0]) + "x" + std::to_string(c.size[1]) + "x"
        + std::to_string(c.size[2]) + "_t" + std::to_string(c.tile[0]) + "x" + std::to_string(c.tile[1]) + "x"
        + std::to_string(c.tile[2]) + (c.compressed ? "_gz" : "");
}

void roundTrip(const Case& c, const std::shared_ptr<dravik::View>& input, const Volume& volume)
{
    SCOPED_TRACE(nameOf(c));
    const std::string path = folder() + "/" + nameOf(c) + ".vxt";
    auto created = registry().createWriter(input, path);
    ASSERT_EQ(created.format, "VXT");
    auto& writer = *created.writer;
    writer.setOption("tileSize", dravik::VariantDataValueFactory::create(c.tile));
    if (c.compressed) {
        writer.setOption("compressor", dravik::VariantDataValueFactory::create("GzipDataCompressor"));
        writer.setOption("compressionLevel", dravik::VariantDataValueFactory::create(int64_t(1)));
    }
    const bool histogram = !dravik::DataType(c.type).isFloatingPoint();
    if (histogram) {
        writer.setOption("histogram", dravik::VariantDataValueFactory::create(int64_t(1)));
    }
    writer.writeAll();
    created.writer.reset();

    auto lod = dravik::LodImageViewProvider::toLod(registry().open(path).view);
    ASSERT_NE(lod, nullptr);
    // Level k is every second voxel of level k - 1, computed here from the input.
    Volume expected = volume;
    for (int64_t level = 0; level <= lod->levelRange()[1]; ++level) {
        auto view = lod->resolution(level);
        EXPECT_EQ(view->shape(), (dravik::VectorXu64{expected.size[0], expected.size[1], expected.size[2]}));
        EXPECT_TRUE(readAll(*view) == expected.bytes) << "level " << level;
        expected = halve(expected);
    }

    const auto values = valuesOf(volume);
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    auto info = lod->resolution(0)->properties()->imageInfo();
    EXPECT_EQ(info.valueRange(), (dravik::Vector2d{*lowest, *highest}));
    auto root = lod->resolution(0)->metadata();
    const std::map<int64_t, uint64_t> none;
    EXPECT_EQ(headerHistogram(root), histogram ? expectedHistogram(volume) : none);
}

TEST(VxtRoundTripTest, EveryTypeTileShapeAndLayoutComesBack)
{
    const dravik::DataTypeId types[] = {dravik::DataTypeId::UINT8,  dravik::DataTypeId::UINT16,
                                        dravik::DataTypeId::INT16,  dravik::DataTypeId::UINT32,
                                        dravik::DataTypeId::INT32,  dravik::DataTypeId::FLOAT,
                                        dravik::DataTypeId::INT8};
    const std::vector<int64_t> tiles[] = {{8, 8, 8}, {16, 4, 8}, {7, 5, 3}};
    for (const auto type : types) {
        for (const auto& tile : tiles) {
            for (const bool compressed : {false, true}) {
                const Case c{type, {37, 29, 13}, tile, compressed};
                const Volume volume = makeVolume(c.size, type, static_cast<uint32_t>(tile[0]));
                roundTrip(c, volume.image(), volume);
            }
        }
    }
}

TEST(VxtRoundTripTest, SlicesAndStacksComeBackAsVolumes)
{
    const Volume plane = makeVolume({300, 200, 1}, dravik::DataTypeId::UINT16, 3);
    auto image = dravik::ImageViewFactory::allocate({300, 200}, dravik::DataTypeId::UINT16);
    std::memcpy(image->buffer(), plane.bytes.data(), plane.bytes.size());
    roundTrip({dravik::DataTypeId::UINT16, {300, 200, 1}, {64, 64, 64}, true}, image, plane);

    const Volume stack = makeVolume({19, 11, 6}, dravik::DataTypeId::INT32, 4);
    std::vector<std::shared_ptr<dravik::ImageView>> frames;
    for (uint64_t z = 0; z < 6; ++z) {
        auto frame = dravik::ImageViewFactory::allocate({19, 11}, dravik::DataTypeId::INT32);
        std::memcpy(frame->buffer(), stack.at(0, 0, z), 19 * 11 * 4);
        frames.push_back(frame);
    }
    roundTrip({dravik::DataTypeId::INT32, {19, 11, 6}, {5, 5, 5}, false}, dravik::MultiImageViewFactory::create(frames),
              stack);
}

TEST(VxtRoundTripTest, AVolumeReadFromVxtIsWrittenAgainFromItsFullResolution)
{
    const Volume volume = makeVolume({45, 33, 17}, dravik::DataTypeId::UINT8, 9);
    const Case first{dravik::DataTypeId::UINT8, {45, 33, 17}, {16, 16, 16}, true};
    roundTrip(first, volume.image(), volume);
    auto source = registry().open(folder() + "/" + nameOf(first) + ".vxt").view;
    // The level views have no memory access: the writer reads them through its block cache.
    roundTrip({dravik::DataTypeId::UINT8, {45, 33, 17}, {9, 10, 11}, false}, source, volume);
}

} // namespace
} // namespace quenza::vxt::test
