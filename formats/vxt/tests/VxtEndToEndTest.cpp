// The VXT plug-in as a user's program sees it: loaded by the host, and run by the
// quenza command line.

#include "VxtTestSupport.h"

#include <quenza/host/PluginRegistry.h>
#include <quenza/host/ViewDescription.h>

#include <dravik/dravik.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace quenza::vxt::test {
namespace {

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

struct CommandResult {
    int status;
    std::string out;
};

CommandResult quenzaCommand(const std::string& args)
{
    const std::string command = std::string(QUENZA_EXECUTABLE) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        out.append(chunk.data(), n);
    }
    const int status = ::pclose(pipe);
    return {WEXITSTATUS(status), out};
}

class VxtEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    /// A small volume written byte by byte, without the plug-in.
    std::string writeFixture(const Volume& volume, Size3 tile, bool compressed, const std::string& name = "in")
    {
        const std::string header = m_dir + "/" + name + ".vxt";
        std::ofstream(header) << headerText(volume.size, typeWord(volume.type), tile, name + ".dat", "",
                                            compressed ? tilesInFileOrder(volume.size, tile).size() : 0);
        const auto data = dataFile(volume, tile, compressed);
        std::ofstream(m_dir + "/" + name + ".dat", std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return header;
    }

    std::string m_dir = ::testing::TempDir() + "vxt_e2e_" + std::to_string(::getpid());
};

TEST_F(VxtEndToEndTest, TheHostSeesBothDescriptors)
{
    const auto* reader = registry().readerOf("VXT");
    const auto* writer = registry().writerOf("VXT");
    ASSERT_NE(reader, nullptr) << "libquenza-vxt.so not found in " << quenza::host::PluginRegistry::defaultPluginPath();
    ASSERT_EQ(reader, writer);
    EXPECT_EQ(reader->extractor->name(), "VxtPlugin");
    EXPECT_EQ(reader->writer->version(), "3.3.1");
    EXPECT_EQ(reader->extractor->extensionMap(), (solvane::ExtensionMap{{"vxa", "VXT"}, {"vxt", "VXT"}}));
    EXPECT_EQ(reader->extractor->logLevel(), dravik::LOG_WARNING);
    EXPECT_EQ(registry().readerForPath("a/b.VXA").second, "VXT");
}

TEST_F(VxtEndToEndTest, VolumesOpenByPathAndByDataAccess)
{
    const Volume volume = makeVolume({21, 10, 7}, dravik::DataTypeId::INT16);
    const std::string path = writeFixture(volume, {8, 4, 4}, true);
    const auto opened = registry().open(path);
    EXPECT_EQ(opened.format, "VXT");
    auto lod = dravik::LodImageViewProvider::toLod(opened.view);
    ASSERT_NE(lod, nullptr);
    EXPECT_EQ(lod->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    EXPECT_TRUE(readAll(*lod->resolution(0)) == volume.bytes);
    EXPECT_TRUE(readAll(*lod->resolution(2)) == levelOf(volume, 2).bytes);

    auto& descriptor = *registry().readerOf("VXT")->extractor;
    auto byAccess = dravik::LodImageViewProvider::toLod(
        descriptor.openDataAccess(dravik::StreamAccessFactory::openFileRead(path), "VXT"));
    ASSERT_NE(byAccess, nullptr);
    EXPECT_EQ(byAccess->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::UNKNOWN);
    EXPECT_TRUE(readAll(*byAccess->resolution(1)) == levelOf(volume, 1).bytes);
    try {
        descriptor.openDataAccess(dravik::StreamAccessFactory::openFileRead(path), "KM");
        ADD_FAILURE() << "KM accepted";
    } catch (const dravik::Error& e) {
        EXPECT_STREQ(e.what(), "Unsupported format");
    }
}

/// The checksum lines of `quenza info --checksum`, level by level.
std::vector<std::string> levelChecksums(const std::string& text)
{
    std::vector<std::string> sums;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto at = line.find("sha256 ");
        if (at != std::string::npos) {
            sums.push_back(line.substr(at + 7));
        }
    }
    return sums;
}

TEST_F(VxtEndToEndTest, InfoShowsEveryLevelWithItsChecksum)
{
    const Volume volume = makeVolume({21, 10, 7}, dravik::DataTypeId::UINT8);
    const std::string path = writeFixture(volume, {8, 4, 4}, false);
    std::vector<std::string> expected;
    for (size_t level = 0; level < 3; ++level) {
        expected.push_back(quenza::host::imageSha256(*levelOf(volume, level).image()));
    }
    const CommandResult run = quenzaCommand("info '" + path + "' --checksum");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("lod of levels 0 to 2, VXT (VxtPlugin 3.3.1)"), std::string::npos) << run.out;
    EXPECT_EQ(levelChecksums(run.out), expected) << run.out;

    // The description that `info --json` prints, made by the same host function.
    const auto opened = registry().open(path);
    const auto doc = quenza::host::describeView(*opened.view, {true});
    EXPECT_EQ(doc["view"], "lod");
    EXPECT_EQ(doc["levelRange"], nlohmann::ordered_json::array({0, 2}));
    ASSERT_EQ(doc["levels"].size(), 3u);
    for (size_t level = 0; level < 3; ++level) {
        const Volume expectedLevel = levelOf(volume, level);
        const auto& j = doc["levels"][level];
        EXPECT_EQ(j["shape"], nlohmann::ordered_json::array({expectedLevel.size[0], expectedLevel.size[1], expectedLevel.size[2]}));
        EXPECT_EQ(j["dataType"], "UINT8");
        EXPECT_EQ(j["sha256"], expected[level]) << "level " << level;
        EXPECT_EQ(j["origin"]["name"], "VxtPlugin resolution Extractor");
        EXPECT_EQ(j["imageInfo"]["axes"], nlohmann::ordered_json::array({"COLUMN", "ROW", "SLICE"}));
        EXPECT_EQ(j["metadata"]["children"][0]["name"], "VXT");
    }
}

TEST_F(VxtEndToEndTest, ConvertWritesACompressedVolumeThatInfoReads)
{
    const Volume volume = makeVolume({70, 40, 33}, dravik::DataTypeId::UINT16);
    const std::string in = writeFixture(volume, {32, 32, 32}, false);
    const std::string out = m_dir + "/out.vxt";
    const CommandResult convert = quenzaCommand("convert '" + in + "' '" + out
                                      + "' -o compressor=s:GzipDataCompressor -o compressionLevel=1 -o tileSize=16,16,8");
    ASSERT_EQ(convert.status, 0) << convert.out;
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/out.dat"));
    const CommandResult info = quenzaCommand("info '" + out + "' --checksum");
    ASSERT_EQ(info.status, 0) << info.out;
    std::vector<std::string> expected;
    for (size_t level = 0; level < 4; ++level) {
        expected.push_back(quenza::host::imageSha256(*levelOf(volume, level).image()));
    }
    EXPECT_EQ(levelChecksums(info.out), expected) << info.out;
    auto lod = dravik::LodImageViewProvider::toLod(registry().open(out).view);
    EXPECT_TRUE(lod->resolution(0)->extension<dravik::TilingInfoExtension>()->maxTileSize()
                == (dravik::VectorXu64{16, 16, 8}));
    auto volumeInfo = dravik::MetadataNodeHelper::getNode(lod->resolution(0)->metadata(), "VXT/VolumeInformation");
    EXPECT_EQ(dravik::VariantDataValueConverter::toString(volumeInfo->child("DataFilename")->value()), "out.dat");

    // A refused option leaves nothing behind.
    const CommandResult refused = quenzaCommand("convert '" + in + "' '" + m_dir + "/bad.vxt' -o compressionLevel=12");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.out.find("Invalid level of compression: should be between 1 and 9"), std::string::npos)
        << refused.out;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/bad.vxt"));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/bad.dat"));
}

TEST_F(VxtEndToEndTest, ConvertFromKorvelMesh)
{
    const auto* kmReader = registry().readerOf("KM");
    const auto* kmWriter = registry().writerOf("KM");
    if (kmReader == nullptr || kmWriter == nullptr) {
        GTEST_SKIP() << "no KorvelMesh reader and writer found";
    }
    const Volume volume = makeVolume({33, 20, 9}, dravik::DataTypeId::INT16);
    const std::string km = m_dir + "/in.km";
    registry().createWriter(volume.image(), km, "KM").writer->writeAll();
    const std::string out = m_dir + "/from_km.vxt";
    const CommandResult convert =
        quenzaCommand("convert '" + km + "' '" + out + "' -o compressor=s:GzipDataCompressor -o compressionLevel=1");
    ASSERT_EQ(convert.status, 0) << convert.out;
    const CommandResult info = quenzaCommand("info '" + out + "'");
    EXPECT_EQ(info.status, 0) << info.out;
    auto lod = dravik::LodImageViewProvider::toLod(registry().open(out).view);
    ASSERT_NE(lod, nullptr);
    EXPECT_TRUE(readAll(*lod->resolution(0)) == volume.bytes);
}

} // namespace
} // namespace quenza::vxt::test
