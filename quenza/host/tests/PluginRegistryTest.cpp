#include <quenza/host/PluginRegistry.h>

#include <dravik/Error.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

using quenza::host::PluginRegistry;
using quenza::host::RegistryOptions;

RegistryOptions onlyFolder(const std::string& folder)
{
    RegistryOptions options;
    options.searchPaths = {folder};
    options.useDefaultPath = false;
    options.useEnvironment = false;
    return options;
}

const quenza::host::LoadFailure* failureOf(const PluginRegistry& registry, const std::string& fileName)
{
    for (const auto& failure : registry.failures()) {
        if (std::filesystem::path(failure.path).filename() == fileName) {
            return &failure;
        }
    }
    return nullptr;
}

TEST(PluginRegistry, BadLibrariesAreReportedAndSkipped)
{
    const PluginRegistry registry(onlyFolder(QUENZA_TEST_PLUGIN_DIR));
    EXPECT_TRUE(registry.libraries().empty());
    ASSERT_EQ(registry.failures().size(), 3u);

    const auto* garbage = failureOf(registry, "libquenza-test-Garbage.so");
    ASSERT_NE(garbage, nullptr);
    EXPECT_NE(garbage->reason.find("libquenza-test-Garbage.so"), std::string::npos) << "the dlerror() text";

    const auto* future = failureOf(registry, "libquenza-test-FutureApi.so");
    ASSERT_NE(future, nullptr);
    EXPECT_EQ(future->reason, "descriptor interface revision 7 (this host speaks 6)");

    const auto* empty = failureOf(registry, "libquenza-test-NoDescriptor.so");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->reason, "exports neither g_extractorPlugin nor g_writerPlugin");
}

TEST(PluginRegistry, FindsTheBuiltPluginsNextToTheExecutable)
{
    const PluginRegistry registry;
    EXPECT_EQ(registry.searchPaths().back(), PluginRegistry::defaultPluginPath());
    const auto* raw = registry.writerOf("raw");
    ASSERT_NE(raw, nullptr) << "searched " << PluginRegistry::defaultPluginPath();
    EXPECT_EQ(raw->fileName(), "libquenza-raw.so");
    EXPECT_EQ(raw->descriptor().api(), 6u);
    EXPECT_EQ(registry.writerForPath("/some/where/Volume.RAW").first, raw);
    EXPECT_EQ(registry.writerForPath("/some/where/Volume.RAW").second, "RAW");
    EXPECT_EQ(registry.readerOf("RAW"), nullptr) << "RAW files are only written";
}

TEST(PluginRegistry, FoldersAreSearchedInOrderAndTheFirstLibraryOfANameWins)
{
    const std::string folder = ::testing::TempDir() + "/registry-env";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(PluginRegistry::defaultPluginPath() + "/libquenza-raw.so", folder + "/libquenza-raw.so",
                               std::filesystem::copy_options::overwrite_existing);
    ::setenv("QUENZA_PLUGIN_PATH", (std::string("/nonexistent:") + folder).c_str(), 1);
    RegistryOptions options;
    options.searchPaths = {QUENZA_TEST_PLUGIN_DIR};
    const PluginRegistry registry(options);
    ::unsetenv("QUENZA_PLUGIN_PATH");

    ASSERT_EQ(registry.searchPaths().size(), 4u);
    EXPECT_EQ(registry.searchPaths()[0], QUENZA_TEST_PLUGIN_DIR);
    EXPECT_EQ(registry.searchPaths()[1], "/nonexistent");
    EXPECT_EQ(registry.searchPaths()[2], folder);
    const auto* raw = registry.writerOf("RAW");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::filesystem::path(raw->path).parent_path(), std::filesystem::path(folder));
    EXPECT_EQ(std::count_if(registry.libraries().begin(), registry.libraries().end(),
                            [](const auto& l) { return l.fileName() == "libquenza-raw.so"; }),
              1);
}

TEST(PluginRegistry, UnknownFormatsAndExtensionsSayWhatIsAvailable)
{
    const PluginRegistry registry;
    try {
        registry.createWriter(nullptr, "out.xyz");
        FAIL() << "no writer for .xyz";
    } catch (const dravik::Error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("no plug-in writes files ending in .xyz"), std::string::npos) << message;
        EXPECT_NE(message.find("RAW"), std::string::npos) << message;
    }
    EXPECT_THROW(registry.createWriter(nullptr, "out.raw", "NOPE"), dravik::Error);
    EXPECT_THROW(registry.open("/definitely/not/here.raw"), dravik::Error);
    try {
        registry.open(::testing::TempDir());
        FAIL() << "a folder is not a file";
    } catch (const dravik::Error& e) {
        EXPECT_NE(std::string(e.what()).find("is a directory"), std::string::npos);
    }
}

TEST(ExtensionOf, LowerCaseWithoutTheDot)
{
    EXPECT_EQ(quenza::host::extensionOf("a/b/Scan.VXT"), "vxt");
    EXPECT_EQ(quenza::host::extensionOf("a.b/scan"), "");
    EXPECT_EQ(quenza::host::extensionOf(".hidden"), "");
    EXPECT_EQ(quenza::host::extensionOf("x.tar.gz"), "gz");
    EXPECT_EQ(quenza::host::extensionOf("trailing."), "");
}

} // namespace
