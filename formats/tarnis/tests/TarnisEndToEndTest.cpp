// The Tarnis plug-in as a user's program sees it: loaded by the host, reached only
// through its exported descriptors.

#include "TarnisTestSupport.h"

#include <quenza/host/PluginRegistry.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

namespace quenza::tarnis::test {
namespace {

using dravik::VectorXu64;

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

// x 6, y 4, 3 slices and 2 channels (or 1) of 16-bit values, with a calibration.
Bytes sourceFile(int32_t channels = 2)
{
    V6Fields f;
    f.gx = 6;
    f.gy = 4;
    f.gz = 3;
    f.gc = channels;
    f.gtype = channels > 1 ? 0x410 | 0x800 : 0x900;
    f.gcode = 18;
    f.gbits = 16;
    Blocks blocks;
    blocks.header = Bytes().text("\x01Stain:blue").zeros(1);
    blocks.calibration = calibrationBlock(4424);
    blocks.calibration.setAt<int32_t>(cal::c_mode, 2);
    blocks.calibration.setAt<double>(cal::real_size, 0.5);
    blocks.calibration.setAt<double>(cal::real_size + 3 * 8, 0.25);
    blocks.calibration.setAt<double>(cal::real_orig, 7.0);
    blocks.calibration.setText(cal::c_unit, std::string("um\0", 3));
    blocks.calibration.setAt<float>(cal::deltaz, 2.0F);
    blocks.calibration.setAt<float>(cal::oz, 1.5F);
    return v6File(f, pattern(6 * 4 * 3 * 2 * static_cast<size_t>(channels)), blocks);
}

std::shared_ptr<dravik::ImageView> openImage(const std::string& path)
{
    auto image = dravik::ImageViewProvider::toImage(registry().open(path).view);
    EXPECT_NE(image, nullptr) << path;
    return image;
}

void expectSameImage(dravik::ImageView& a, dravik::ImageView& b)
{
    EXPECT_EQ(a.shape(), b.shape());
    EXPECT_EQ(a.dataType(), b.dataType());
    EXPECT_EQ(readAll(a), readAll(b));
    const auto& ca = a.properties()->calibration();
    const auto& cb = b.properties()->calibration();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(ca.spacing()[i], cb.spacing()[i], 1e-12) << i;
        EXPECT_NEAR(ca.origin()[i], cb.origin()[i], 1e-9) << i;
    }
}

struct Stamp {
    Bytes bytes;
    int64_t seconds;
    int64_t nanoseconds;
};

Stamp stampOf(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return {readFile(path), info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

std::string writtenSource(const std::string& name, int32_t channels = 2)
{
    const std::string path = tempPath(name);
    writeFile(path, sourceFile(channels));
    struct utimbuf old {1000000000, 1000000000};
    ::utime(path.c_str(), &old);
    return path;
}

TEST(TarnisEndToEndTest, DescriptorsAsTheHostSeesThem)
{
    const auto* library = registry().readerOf("TARNIS_3");
    ASSERT_NE(library, nullptr) << "libquenza-tarnis.so not found in " << quenza::host::PluginRegistry::defaultPluginPath();
    EXPECT_EQ(library, registry().writerOf("TARNIS_6"));
    EXPECT_EQ(registry().writerOf("TARNIS_3"), nullptr) << "only version 6 is written";
    ASSERT_NE(library->extractor, nullptr);
    ASSERT_NE(library->writer, nullptr);
    EXPECT_EQ(library->extractor->name(), "TarnisPlugin");
    EXPECT_EQ(library->writer->version(), "1.2.0");
    EXPECT_EQ(library->extractor->logLevel(), dravik::LOG_OFF) << "the host's initLogger does nothing here";
    EXPECT_EQ(registry().readerForPath("/data/cells.im4").second, "TARNIS_4");
}

TEST(TarnisEndToEndTest, TarnisToTarnisKeepsPixelsAndCalibration)
{
    const std::string source = writtenSource("source.im6");
    const Stamp before = stampOf(source);
    const std::string target = tempPath("copy.im6");
    {
        auto image = openImage(source);
        ASSERT_EQ(image->shape(), (VectorXu64{6, 4, 3, 2}));
        registry().createWriter(image, target).writer->writeAll();
        auto copy = openImage(target);
        expectSameImage(*image, *copy);
        EXPECT_EQ(copy->properties()->calibration().unit(), "um");
        EXPECT_EQ(copy->imageInterpretation(), dravik::ImageInterpretation::MULTISPECTRAL);
        auto stain = dravik::MetadataNodeHelper::getNode(copy->metadata(), "TARNIS/Stain");
        ASSERT_NE(stain, nullptr);
        EXPECT_EQ(stain->value()->strings().front(), "blue");
    }
    const Stamp after = stampOf(source);
    EXPECT_EQ(after.bytes.data(), before.bytes.data()) << "reading a file to convert it leaves it as it was";
    EXPECT_EQ(after.seconds, before.seconds);
    EXPECT_EQ(after.nanoseconds, before.nanoseconds);
    std::remove(source.c_str());
    std::remove(target.c_str());
}

TEST(TarnisEndToEndTest, TarnisToKmToTarnisKeepsPixelsAndSpacing)
{
    if (registry().writerOf("KM") == nullptr || registry().readerOf("KM") == nullptr) {
        GTEST_SKIP() << "no KorvelMesh plug-in in " << quenza::host::PluginRegistry::defaultPluginPath();
    }
    // A volume: the KorvelMesh writer takes three dimensions.
    const std::string source = writtenSource("via-km.im6", 1);
    const std::string km = tempPath("via.km");
    const std::string back = tempPath("back.im6");
    auto image = openImage(source);
    registry().createWriter(image, km).writer->writeAll();
    auto middle = registry().open(km).view;
    registry().createWriter(middle, back).writer->writeAll();
    auto result = openImage(back);
    expectSameImage(*image, *result);
    for (const std::string& path : {source, km, back}) {
        std::remove(path.c_str());
    }
}

TEST(TarnisEndToEndTest, TarnisToRawGivesThePlanesInViewOrder)
{
    if (registry().writerOf("RAW") == nullptr) {
        GTEST_SKIP() << "no RAW plug-in in " << quenza::host::PluginRegistry::defaultPluginPath();
    }
    const std::string source = writtenSource("to-raw.im6");
    const std::string raw = tempPath("planes.raw");
    auto image = openImage(source);
    registry().createWriter(image, raw).writer->writeAll();
    const Bytes bytes = readFile(raw);
    EXPECT_EQ(bytes.data(), readAll(*image));
    // The view puts slices before channels, the file channels before slices.
    const Bytes file = sourceFile();
    const size_t plane = 6 * 4 * 2;
    EXPECT_EQ(std::vector<uint8_t>(bytes.data().begin() + plane, bytes.data().begin() + 2 * plane),
              std::vector<uint8_t>(file.data().begin() + 116 + 2 * plane, file.data().begin() + 116 + 3 * plane))
        << "slice 1 of channel 0 is the file's third plane";
    std::remove(source.c_str());
    std::remove(raw.c_str());
}

} // namespace
} // namespace quenza::tarnis::test
