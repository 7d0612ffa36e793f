// The RAW plug-in as a user's program sees it: loaded by the host, reached only
// through its exported descriptor.

#include <quenza/host/PluginRegistry.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using namespace dravik;

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

solvane::WriterPlugin& rawDescriptor()
{
    const auto* library = registry().writerOf("RAW");
    if (library == nullptr) {
        throw std::runtime_error("libquenza-raw.so not found in " + quenza::host::PluginRegistry::defaultPluginPath());
    }
    return *library->writer;
}

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(RawEndToEnd, DescriptorAsTheHostSeesIt)
{
    const auto* library = registry().writerOf("RAW");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->extractor, nullptr) << "RAW files are written only";
    solvane::WriterPlugin& raw = rawDescriptor();
    EXPECT_EQ(raw.api(), 6u);
    EXPECT_EQ(raw.name(), "RawPlugin");
    EXPECT_EQ(raw.version(), "2.2.0");
    EXPECT_EQ(raw.supportedFormats(), solvane::FormatList{"RAW"});
    EXPECT_EQ(raw.extensionMap(), (solvane::ExtensionMap{{"raw", "RAW"}}));
    EXPECT_EQ(raw.logLevel(), LOG_WARNING) << "the host started the logger with its default level";
}

TEST(RawEndToEnd, ImagesAndStacksBecomeTheirBytes)
{
    const std::string dir = ::testing::TempDir() + "/raw-e2e";
    std::filesystem::create_directories(dir);

    auto image = ImageViewFactory::allocate({4, 3, 2}, DataTypeId::UINT16);
    std::vector<uint16_t> values(24);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<uint16_t>(0x0101 * i + 7);
    }
    image->writeRegion(RegionXu64::fullRegion(image->shape()), values.data());
    registry().createWriter(image, dir + "/volume.raw").writer->writeAll();
    const auto bytes = fileBytes(dir + "/volume.raw");
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(std::memcmp(bytes.data(), values.data(), 48), 0);

    std::vector<std::shared_ptr<ImageView>> frames;
    std::vector<uint8_t> expected;
    for (uint8_t k = 0; k < 3; ++k) {
        auto frame = ImageViewFactory::allocate({2, 2}, DataTypeId::UINT8);
        const uint8_t four[] = {uint8_t(10 * k), uint8_t(10 * k + 1), uint8_t(10 * k + 2), uint8_t(10 * k + 3)};
        frame->writeRegion(RegionXu64::fullRegion(frame->shape()), four);
        expected.insert(expected.end(), four, four + 4);
        frames.push_back(frame);
    }
    rawDescriptor().openFile(MultiImageViewFactory::create(frames), dir + "/stack.raw")->writeAll();
    EXPECT_EQ(fileBytes(dir + "/stack.raw"), expected);
}

TEST(RawEndToEnd, RefusalsCarryTheirMessages)
{
    auto image = ImageViewFactory::allocate({2, 2}, DataTypeId::UINT8);
    EXPECT_EQ(errorOf([&] { rawDescriptor().openDataAccess(image, StreamAccessFactory::createInMemory(), "KM"); }),
              "Format KM not supported by the plugin RawPlugin");
    EXPECT_EQ(errorOf([&] {
                  rawDescriptor().openDataAccess(image, RandomAccessFactory::fromBytes(std::vector<uint8_t>(4)), "RAW");
              }),
              "output storage does not have writing capabilities");
    auto writer = rawDescriptor().openDataAccess(image, StreamAccessFactory::createInMemory(), "RAW");
    for (const char* option : {"compressor", "", "tileSize"}) {
        EXPECT_EQ(errorOf([&] { writer->setOption(option, VariantDataValueFactory::create(1)); }),
                  "impossible to set options");
    }
    EXPECT_EQ(writer->name(), "RawPlugin");
    EXPECT_EQ(writer->version(), "2.2.0");
}

} // namespace
