#include "KmTestSupport.h"
#include "TestSupport.h"

#include <KmExtractor.h>
#include <KmWriter.h>
#include <KmWriterPlugin.h>
#include <KorvelMeshExtractorPlugin.h>

#include <common/PluginLogger.h>

#include <dravik/ImageViewFactory.h>

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include <dlfcn.h>

namespace quenza::km::test {
namespace {

void expectDescriptor(const solvane::Plugin& plugin)
{
    EXPECT_EQ(plugin.api(), 6u);
    EXPECT_EQ(plugin.name(), "KorvelMeshPlugin");
    EXPECT_EQ(plugin.version(), "1.3.0");
    EXPECT_EQ(plugin.supportedFormats(), solvane::FormatList{"KM"});
    EXPECT_EQ(plugin.extensionMap(), (solvane::ExtensionMap{{"km", "KM"}}));
}

const Bytes& smallFile()
{
    static const Bytes file = fileOf(header("BINARY-LITTLE-ENDIAN", "2 1 1", "Lattice { byte Data } @1"), Bytes{3, 4});
    return file;
}

TEST(KmPluginTest, DescriptorsDescribeThePlugin)
{
    KorvelMeshExtractorPlugin reader;
    KmWriterPlugin writer;
    expectDescriptor(reader);
    expectDescriptor(writer);
    EXPECT_EQ(&reader.supportedFormats(), &KorvelMeshExtractorPlugin::s_supportedFormats);
    EXPECT_EQ(&writer.extensionMap(), &KmWriterPlugin::s_extensionMapping);
}

TEST(KmPluginTest, OpenCallsBuildIndependentObjects)
{
    KorvelMeshExtractorPlugin reader;
    solvane::ExtractorPlugin& base = reader;
    auto first = base.openDataAccess(streamOf(smallFile()), "KM");
    auto second = base.openDataAccess(streamOf(smallFile()), "KM");
    ASSERT_NE(std::dynamic_pointer_cast<KmExtractor>(first), nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_EQ(errorOf([&] { base.openDataAccess(streamOf(smallFile()), "CSV"); }),
              "Format CSV not supported by the plugin KorvelMeshPlugin");

    KmWriterPlugin writerPlugin;
    solvane::WriterPlugin& writerBase = writerPlugin;
    auto out = dravik::StreamAccessFactory::createInMemory();
    auto writer = writerBase.openDataAccess(dravik::ImageViewFactory::allocate({1, 1, 1}, dravik::DataTypeId::UINT8),
                                            out, "KM");
    ASSERT_NE(std::dynamic_pointer_cast<KmWriter>(writer), nullptr);
    writer->writeAll();
    EXPECT_GT(out->bufferSize(), 0u);
}

using KmPluginLoggerTest = common::test::FreshProcessTest;

common::test::Problems checkSharedLogger()
{
    common::test::Problems p;
    KorvelMeshExtractorPlugin reader;
    KmWriterPlugin writer;
    p.expect(reader.logLevel() == dravik::LOG_OFF, "level before init is not LOG_OFF");
    writer.initLogger(dravik::LOG_DEBUG);
    p.expect(reader.logLevel() == dravik::LOG_DEBUG, "the extractor descriptor does not share the level");
    p.expect(spdlog::get("KorvelMeshPlugin") == common::PluginLogger::logger(), "no logger named KorvelMeshPlugin");
    reader.initLogger(dravik::LOG_ERR);
    p.expect(writer.logLevel() == dravik::LOG_DEBUG, "a later initLogger changed the level");
    return p;
}

TEST_F(KmPluginLoggerTest, BothDescriptorsShareOneLogger)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkSharedLogger);
}

TEST(KmPluginTest, TheLibraryExportsItsTwoDescriptors)
{
    void* handle = ::dlopen(QUENZA_KM_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* reader = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    auto* writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(writer, nullptr);
    expectDescriptor(*reader);
    expectDescriptor(*writer);
    auto view = reader->openDataAccess(streamOf(smallFile()), "KM");
    auto image = std::dynamic_pointer_cast<dravik::ImageView>(view);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(readAll(*image), (Bytes{3, 4}));
    view.reset();
    image.reset();
    // Objects of the library were made: like the host, keep it loaded.

    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_KM_PLUGIN_PATH, {"g_extractorPlugin", "g_writerPlugin"});
}

} // namespace
} // namespace quenza::km::test
