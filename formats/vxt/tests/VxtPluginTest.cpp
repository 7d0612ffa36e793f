#include "TestSupport.h"
#include "VxtTestSupport.h"

#include <VxtExtractor.h>
#include <VxtExtractorPlugin.h>
#include <VxtWriter.h>
#include <VxtWriterPlugin.h>

#include <common/PluginLogger.h>

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include <dlfcn.h>

namespace quenza::vxt::test {
namespace {

using common::test::Problems;

void expectDescriptor(const solvane::Plugin& plugin)
{
    EXPECT_EQ(plugin.api(), 6u);
    EXPECT_EQ(plugin.name(), "VxtPlugin");
    EXPECT_EQ(plugin.version(), "3.3.1");
    EXPECT_EQ(plugin.supportedFormats(), solvane::FormatList{"VXT"});
    EXPECT_EQ(plugin.extensionMap(), (solvane::ExtensionMap{{"vxa", "VXT"}, {"vxt", "VXT"}}));
}

TEST(VxtPluginTest, BothDescriptorsDescribeThePlugin)
{
    VxtExtractorPlugin extractor;
    VxtWriterPlugin writer;
    expectDescriptor(extractor);
    expectDescriptor(writer);
    EXPECT_EQ(&extractor.supportedFormats(), &VxtExtractorPlugin::s_supportedFormats);
    EXPECT_EQ(&writer.extensionMap(), &VxtWriterPlugin::s_extensionMapping);
}

TEST(VxtPluginTest, OpenCallsBuildIndependentExtractors)
{
    auto storage = dravik::DataStorageFactory::createInMemory();
    const Volume volume = makeVolume({6, 5, 4}, dravik::DataTypeId::UINT8);
    putResource(*storage, "v.vxt", headerText({6, 5, 4}, "byte", {4, 4, 4}, "v.dat"));
    putResource(*storage, "v.dat", dataFile(volume, {4, 4, 4}, false));
    VxtExtractorPlugin plugin;
    solvane::ExtractorPlugin& base = plugin;
    auto first = base.openDataAccess(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "VXT");
    auto second = base.openDataAccess(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "VXT");
    ASSERT_NE(std::dynamic_pointer_cast<VxtExtractor>(first), nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_EQ(errorOf([&] {
                  base.openDataAccess(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "KM");
              }),
              "Unsupported format");
}

using VxtPluginLoggerTest = common::test::FreshProcessTest;

Problems checkVxtPluginLogger()
{
    Problems p;
    VxtExtractorPlugin extractor;
    VxtWriterPlugin writer;
    p.expect(extractor.logLevel() == dravik::LOG_OFF, "level before init is not LOG_OFF");
    writer.initLogger(dravik::LOG_DEBUG);
    p.expect(extractor.logLevel() == dravik::LOG_DEBUG, "the descriptors do not share the logger");
    p.expect(spdlog::get("VxtPlugin") != nullptr, "no logger named VxtPlugin");
    extractor.initLogger(dravik::LOG_ERR);
    p.expect(writer.logLevel() == dravik::LOG_DEBUG, "a later initLogger changed the level");
    return p;
}

TEST_F(VxtPluginLoggerTest, BothDescriptorsShareOneLogger)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkVxtPluginLogger);
}

TEST(VxtPluginTest, TheLibraryExportsBothDescriptors)
{
    void* handle = ::dlopen(QUENZA_VXT_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* extractor = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    auto* writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    ASSERT_NE(extractor, nullptr);
    ASSERT_NE(writer, nullptr);
    expectDescriptor(*extractor);
    expectDescriptor(*writer);
    // Objects of the library may have been made: like the host, keep it loaded.
}

TEST(VxtPluginTest, TheLibraryExportsNothingElse)
{
    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_VXT_PLUGIN_PATH, {"g_extractorPlugin", "g_writerPlugin"});
}

} // namespace
} // namespace quenza::vxt::test
