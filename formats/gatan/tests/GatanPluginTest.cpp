// The descriptor of the DM plug-in, in process and as the built library exports it.

#include "DmTestFile.h"
#include "TestSupport.h"

#include <GatanExtractor.h>
#include <GatanExtractorPlugin.h>

#include <common/PluginLogger.h>

#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/StreamAccessFactory.h>

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include <dlfcn.h>
#include <unistd.h>

namespace quenza::gatan::test {
namespace {

using common::test::Problems;

void expectDescriptor(const solvane::Plugin& plugin)
{
    EXPECT_EQ(plugin.api(), 6u);
    EXPECT_EQ(plugin.name(), "GatanPlugin");
    EXPECT_EQ(plugin.version(), "1.2.0");
    EXPECT_EQ(plugin.supportedFormats(), solvane::FormatList{"DM"});
    EXPECT_EQ(plugin.extensionMap(), (solvane::ExtensionMap{{"dm3", "DM"}, {"dm4", "DM"}}));
}

std::string writeTemp(const Bytes& bytes, const std::string& extension)
{
    const std::string path = ::testing::TempDir() + "gatan_plugin_" + std::to_string(::getpid()) + extension;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(GatanPluginTest, DescribesThePlugin)
{
    GatanExtractorPlugin plugin;
    expectDescriptor(plugin);
    EXPECT_EQ(&plugin.supportedFormats(), &GatanExtractorPlugin::s_supportedFormats);
    EXPECT_EQ(&plugin.extensionMap(), &GatanExtractorPlugin::s_extensionMapping);
    EXPECT_EQ(&plugin.name(), &GatanExtractorPlugin().name());
}

TEST(GatanPluginTest, OpenCallsBuildIndependentExtractors)
{
    GatanExtractorPlugin plugin;
    solvane::ExtractorPlugin& base = plugin;
    const Bytes file = imageFile(4, {{{2, 2}, 1, 2, Bytes(8, 3), std::nullopt}});
    const std::string path = writeTemp(file, ".dm4");
    auto first = base.openFile(path);
    auto second = base.openFile(path);
    std::remove(path.c_str());
    ASSERT_NE(std::dynamic_pointer_cast<GatanExtractor>(first), nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_NE(dravik::MultiImageViewProvider::toMultiImage(first)->frame(0),
              dravik::MultiImageViewProvider::toMultiImage(second)->frame(0));

    auto fromAccess = base.openDataAccess(dravik::StreamAccessFactory::fromBytes(file), "DM");
    EXPECT_EQ(dravik::MultiImageViewProvider::toMultiImage(fromAccess)->frameCount(), 1u);
    common::test::expectError([&] { base.openDataAccess(dravik::StreamAccessFactory::fromBytes(file), "dm4"); },
                              "Unsupported format dm4");
    EXPECT_THROW(base.openFile(path), dravik::Error) << "the file was removed";
}

using GatanPluginLoggerTest = common::test::FreshProcessTest;

Problems checkLoggingWhileOpening()
{
    Problems p;
    GatanExtractorPlugin plugin;
    plugin.initLogger(dravik::LOG_DEBUG);
    p.expect(plugin.logLevel() == dravik::LOG_DEBUG, "level is not LOG_DEBUG");
    p.expect(spdlog::get("GatanPlugin") == common::PluginLogger::logger(), "no logger named GatanPlugin in use");
    GatanExtractorPlugin().initLogger(dravik::LOG_ERR);
    p.expect(plugin.logLevel() == dravik::LOG_DEBUG, "a later initLogger changed the level");

    common::test::StdoutCapture capture;
    plugin.openDataAccess(dravik::StreamAccessFactory::fromBytes(imageFile(3, {{{2}, 6, 10, {1, 2}, std::nullopt}})),
                          "DM");
    common::PluginLogger::logger()->flush();
    const std::string out = capture.finish();
    for (const char* line : {"Reading DM header", "DM3 dataset", "DM3 detected", "Parsing directory \"GATAN\"",
                             "Directory \"ImageList\" has 1 children", "Parse array value of tag \"Data\"",
                             "Data tag encountered, remplacing it by a DataOffset one",
                             "Special case: array of 16 bits integer treated as an UTF-16 string",
                             "Parsing scalar value of tag \"DataType\"", "End of directory \"GATAN\"",
                             "Parsing ImageData tag to extract frame info"}) {
        p.expect(out.find(line) != std::string::npos, std::string("not logged: ") + line);
    }
    return p;
}

TEST_F(GatanPluginLoggerTest, OpeningLogsThroughTheGatanPluginLogger)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkLoggingWhileOpening);
}

TEST(GatanPluginTest, TheLibraryExportsTheExtractorDescriptor)
{
    void* handle = ::dlopen(QUENZA_GATAN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* extractor = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    ASSERT_NE(extractor, nullptr);
    EXPECT_EQ(::dlsym(handle, "g_writerPlugin"), nullptr);
    expectDescriptor(*extractor);
    auto view = extractor->openDataAccess(dravik::StreamAccessFactory::fromBytes(treeFile(3, {})), "DM");
    EXPECT_EQ(dravik::MultiImageViewProvider::toMultiImage(view)->frameCount(), 0u);
    view.reset();
    // Objects of the library were made: like the host, keep it loaded.
}

TEST(GatanPluginTest, TheLibraryExportsNothingElse)
{
    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_GATAN_PLUGIN_PATH, {"g_extractorPlugin"});
}

} // namespace
} // namespace quenza::gatan::test
