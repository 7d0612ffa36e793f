// `cmake --install` into a prefix of its own: the installed program finds the installed
// plug-ins and libdravik from any folder, and another project builds against the
// installed library with find_package(dravik).

#include "CliTestSupport.h"

#include <dravik/ImageProperties.h>
#include <dravik/ImageView.h>
#include <dravik/ImageViewFactory.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace quenza::cli::test {
namespace {

namespace fs = std::filesystem;

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

TEST(Install, TheInstalledTreeWorksFromAnotherFolder)
{
    TempFolder work("cli-install");
    const fs::path prefix = work.path() / "prefix";
    const Result install = runShell(std::string("'") + QUENZA_CMAKE_COMMAND + "' --install '" + QUENZA_BUILD_DIR
                                    + "' --prefix " + quoted(prefix));
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    const fs::path libdir = prefix / QUENZA_INSTALL_LIBDIR;
    for (const fs::path& file : {prefix / "bin/quenza", libdir / "libdravik.so", prefix / "include/dravik/dravik.h",
                                 prefix / "include/dravik/detail/VectorOps.h",
                                 libdir / "cmake/dravik/dravikConfig.cmake",
                                 libdir / "cmake/dravik/dravikConfigVersion.cmake"}) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    size_t plugins = 0;
    for (const auto& entry : fs::directory_iterator(prefix / "lib/quenza")) {
        plugins += entry.path().filename().string().rfind("libquenza-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(plugins, 6u);
    // A plug-in finds the installed libdravik by itself, whoever loads it.
    const Result linked = runShell("ldd " + quoted(prefix / "lib/quenza/libquenza-korvelMesh.so"));
    EXPECT_TRUE(contains(linked.out, "libdravik.so.1 => " + (prefix / "lib/quenza/../../").string()
                                         + QUENZA_INSTALL_LIBDIR + "/libdravik.so.1"))
        << linked.out;

    // Somewhere else, with nothing pointing at the build tree.
    const fs::path elsewhere = work.path() / "elsewhere";
    fs::create_directories(elsewhere);
    auto image = dravik::ImageViewFactory::allocate({4, 3, 2}, dravik::DataTypeId::INT16);
    image->setProperties(dravik::ImageProperties::fromDataType(dravik::DataTypeId::INT16));
    registry().createWriter(image, (elsewhere / "small.km").string(), "KM").writer->writeAll();
    const std::string program = "cd " + quoted(elsewhere) + " && env -u QUENZA_PLUGIN_PATH LD_DEBUG=libs "
        + quoted(prefix / "bin/quenza");

    const Result formats = runShell(program + " formats --json");
    ASSERT_EQ(formats.status, 0) << formats.err;
    const auto doc = nlohmann::ordered_json::parse(formats.out);
    EXPECT_EQ(doc["searchPaths"], nlohmann::ordered_json::array({(prefix / "lib/quenza").string()}));
    EXPECT_EQ(doc["plugins"].size(), 6u) << formats.out;
    EXPECT_TRUE(doc["failures"].empty()) << doc["failures"].dump();
    for (const auto& plugin : doc["plugins"]) {
        EXPECT_EQ(plugin["path"].get<std::string>().rfind(prefix.string(), 0), 0u) << plugin["path"];
    }
    // The dynamic loader says which libdravik it started: the installed one.
    const std::string init = "calling init: " + (prefix / "bin/../").string() + QUENZA_INSTALL_LIBDIR + "/libdravik.so";
    EXPECT_TRUE(contains(formats.err, init)) << init << " not in the loader's trace";

    const Result info = runShell(program + " info small.km");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "small.km: image, KM (KorvelMeshPlugin 1.3.0)")) << info.out;
    EXPECT_TRUE(contains(info.out, "shape 4 x 3 x 2, INT16")) << info.out;

    // A project of its own finds the library and links it.
    const fs::path project = work.path() / "consumer";
    fs::create_directories(project);
    {
        std::ofstream(project / "CMakeLists.txt") << "cmake_minimum_required(VERSION 3.22)\n"
                                                     "project(consumer LANGUAGES CXX)\n"
                                                     "set(CMAKE_CXX_STANDARD 17)\n"
                                                     "find_package(dravik 1 REQUIRED)\n"
                                                     "add_executable(consumer main.cpp)\n"
                                                     "target_link_libraries(consumer PRIVATE dravik::dravik)\n";
        std::ofstream(project / "main.cpp")
            << "#include <dravik/dravik.h>\n#include <iostream>\n"
               "int main() {\n"
               "    auto image = dravik::ImageViewFactory::allocate({4, 3}, dravik::DataTypeId::UINT16);\n"
               "    std::cout << image->dataType().toString() << ' ' << image->byteCount() << '\\n';\n"
               "}\n";
    }
    const fs::path build = project / "build";
    const Result configure = runShell(std::string("'") + QUENZA_CMAKE_COMMAND + "' -S " + quoted(project) + " -B "
                                      + quoted(build) + " -G '" + QUENZA_CMAKE_GENERATOR + "' -DCMAKE_CXX_COMPILER='"
                                      + QUENZA_CXX_COMPILER + "' -DCMAKE_CXX_FLAGS='" + QUENZA_CONSUMER_FLAGS
                                      + "' -DCMAKE_PREFIX_PATH=" + quoted(prefix));
    ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
    const Result compile = runShell(std::string("'") + QUENZA_CMAKE_COMMAND + "' --build " + quoted(build));
    ASSERT_EQ(compile.status, 0) << compile.out << compile.err;
    const Result consumer = runShell(quoted(build / "consumer"));
    EXPECT_EQ(consumer.status, 0) << consumer.err;
    EXPECT_EQ(consumer.out, "UINT16 24\n");
}

} // namespace
} // namespace quenza::cli::test
