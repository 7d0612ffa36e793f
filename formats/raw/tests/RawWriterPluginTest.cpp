#include "TestSupport.h"

#include <RawWriter.h>
#include <RawWriterPlugin.h>

#include <common/PluginLogger.h>

#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace quenza::raw::test {
namespace {

using common::test::Problems;

std::shared_ptr<dravik::ImageView> smallImage()
{
    auto image = dravik::ImageViewFactory::allocate({3, 2}, dravik::DataTypeId::UINT8);
    auto* bytes = static_cast<uint8_t*>(image->buffer());
    for (uint8_t i = 0; i < 6; ++i) {
        bytes[i] = static_cast<uint8_t>(i + 1);
    }
    return image;
}

void expectDescriptor(const solvane::Plugin& plugin)
{
    EXPECT_EQ(plugin.api(), 6u);
    EXPECT_EQ(plugin.name(), "RawPlugin");
    EXPECT_EQ(plugin.version(), "2.2.0");
    EXPECT_EQ(plugin.supportedFormats(), solvane::FormatList{"RAW"});
    EXPECT_EQ(plugin.extensionMap(), (solvane::ExtensionMap{{"raw", "RAW"}}));
}

TEST(RawWriterPluginTest, DescribesThePlugin)
{
    RawWriterPlugin plugin;
    expectDescriptor(plugin);
    // References into the constants, the same for every descriptor.
    EXPECT_EQ(&plugin.name(), &RawWriterPlugin().name());
    EXPECT_EQ(&plugin.supportedFormats(), &RawWriterPlugin::s_supportedFormats);
    EXPECT_EQ(&plugin.extensionMap(), &RawWriterPlugin::s_extensionMapping);
}

TEST(RawWriterPluginTest, OpenCallsBuildIndependentRawWriters)
{
    RawWriterPlugin plugin;
    solvane::WriterPlugin& base = plugin;
    auto image = smallImage();
    auto first = dravik::StreamAccessFactory::createInMemory();
    auto second = dravik::StreamAccessFactory::createInMemory();
    auto writerA = base.openDataAccess(image, first, "RAW");
    auto writerB = base.openDataAccess(image, second, "RAW");
    ASSERT_NE(std::dynamic_pointer_cast<RawWriter>(writerA), nullptr);
    EXPECT_NE(writerA, writerB);
    EXPECT_EQ(writerA.use_count(), 1);
    writerA->writeAll();
    EXPECT_EQ(first->bufferSize(), 6u);
    EXPECT_EQ(second->bufferSize(), 0u);
    EXPECT_EQ(writerB->name(), "RawPlugin");
    EXPECT_EQ(writerB->version(), "2.2.0");

    try {
        base.openDataAccess(image, first, "KM");
        ADD_FAILURE() << "format KM accepted";
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Format KM not supported by the plugin RawPlugin");
    }
}

TEST(RawWriterPluginTest, OpenFileWritesThePath)
{
    const std::string path = ::testing::TempDir() + "raw_plugin_" + std::to_string(::getpid()) + ".raw";
    RawWriterPlugin().openFile(smallImage(), path)->writeAll();
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

using RawWriterPluginLoggerTest = common::test::FreshProcessTest;

Problems checkRawPluginLogger()
{
    Problems p;
    RawWriterPlugin plugin;
    p.expect(plugin.logLevel() == dravik::LOG_OFF, "level before init is not LOG_OFF");
    plugin.initLogger(dravik::LOG_DEBUG);
    p.expect(plugin.logLevel() == dravik::LOG_DEBUG, "level is not LOG_DEBUG");
    p.expect(spdlog::get("RawPlugin") != nullptr, "no logger named RawPlugin");
    p.expect(spdlog::get("RawPlugin") == common::PluginLogger::logger(), "the plug-in does not log through it");
    RawWriterPlugin().initLogger(dravik::LOG_ERR);
    p.expect(plugin.logLevel() == dravik::LOG_DEBUG, "a later initLogger changed the level");
    return p;
}

TEST_F(RawWriterPluginLoggerTest, InitLoggerCreatesTheRawPluginLoggerOnce)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkRawPluginLogger);
}

// The built library, opened as a host would: the descriptor is all it exports.
TEST(RawWriterPluginTest, TheLibraryExportsTheWriterDescriptor)
{
    void* handle = ::dlopen(QUENZA_RAW_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(::dlsym(handle, "g_extractorPlugin"), nullptr);
    expectDescriptor(*writer);

    auto stream = dravik::StreamAccessFactory::createInMemory();
    auto rawWriter = writer->openDataAccess(smallImage(), stream, "RAW");
    rawWriter->writeAll();
    EXPECT_EQ(stream->bufferSize(), 6u);
    try {
        writer->openDataAccess(smallImage(), stream, "KM");
        ADD_FAILURE() << "format KM accepted";
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Format KM not supported by the plugin RawPlugin");
    }
    rawWriter.reset();
    // Objects of the library were made: like the host, keep it loaded.
}

TEST(RawWriterPluginTest, TheLibraryExportsNothingElse)
{
    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_RAW_PLUGIN_PATH, {"g_writerPlugin"});
}

} // namespace
} // namespace quenza::raw::test
