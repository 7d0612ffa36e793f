// `quenza info` and `quenza convert` on KorvelMesh files, run in this process through the
// command line's library as the program runs them.

#include "KmTestSupport.h"

#include "Cli.h"

#include <quenza/host/PluginRegistry.h>
#include <quenza/host/ViewDescription.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <unistd.h>

namespace quenza::km::test {
namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result quenzaRun(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = quenza::cli::run(args, out, err);
    return {status, out.str(), err.str()};
}

class KmCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = ::testing::TempDir() + "/km-cli-" + std::to_string(::getpid());
        std::filesystem::create_directories(m_dir);
        m_values = counting(6 * 5 * 4, 2);
        const std::string parameters = "Parameters {\n  Units {\n    Coordinates \"um\"\n  },\n"
                                       "  BoundingBox  10 22 0 5 -4 4,\n  Content \"cli\"\n}";
        writeFile(path("input.km"),
                  fileOf(header("BINARY-LITTLE-ENDIAN", "6 5 4", "Lattice { ushort Data } @1", parameters), m_values));
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    std::string m_dir;
    Bytes m_values;
};

/// The JSON document that `quenza info FILE --json --checksum` prints.
nlohmann::ordered_json describe(const std::string& file)
{
    const Result r = quenzaRun({"info", file, "--json", "--checksum"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_EQ(doc["file"], file);
    EXPECT_EQ(doc["plugin"], "KorvelMeshPlugin");
    EXPECT_EQ(doc["format"], "KM");
    return doc;
}

TEST_F(KmCli, InfoDescribesTheVolume)
{
    const Result r = quenzaRun({"info", path("input.km"), "--checksum"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("image, KM (KorvelMeshPlugin 1.3.0)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("shape 6 x 5 x 4, UINT16, GRAYSCALE, axes COLUMN, ROW, SLICE"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("origin (10, 0, -4), spacing (2, 1, 2) um"), std::string::npos) << r.out;

    const auto doc = describe(path("input.km"));
    EXPECT_EQ(doc["view"], "image");
    EXPECT_EQ(doc["origin"]["name"], "KorvelMeshPlugin Extractor");
    EXPECT_EQ(doc["origin"]["dataOrigin"], "DRIVE");
    EXPECT_EQ(doc["shape"], nlohmann::ordered_json::parse("[6, 5, 4]"));
    EXPECT_EQ(doc["dataType"], "UINT16");
    EXPECT_EQ(doc["capabilities"], nlohmann::ordered_json::parse(R"(["READ"])"));
    EXPECT_EQ(doc["calibration"]["origin"], nlohmann::ordered_json::parse("[10, 0, -4]"));
    EXPECT_EQ(doc["calibration"]["spacing"], nlohmann::ordered_json::parse("[2, 1, 2]"));
    EXPECT_EQ(doc["calibration"]["unit"], "um");
    EXPECT_EQ(doc["imageInfo"]["axes"], nlohmann::ordered_json::parse(R"(["COLUMN", "ROW", "SLICE"])"));
    EXPECT_EQ(doc["metadata"]["name"], "root");
    ASSERT_EQ(doc["metadata"]["children"].size(), 1u);
    EXPECT_EQ(doc["metadata"]["children"][0]["name"], "KM");
    EXPECT_EQ(doc["metadata"]["children"][0]["children"].size(), 3u);
    EXPECT_EQ(doc["sha256"].get<std::string>().size(), 64u);
}

TEST_F(KmCli, ConvertToRawAndToCompressedKorvelMesh)
{
    Result r = quenzaRun({"convert", path("input.km"), path("out.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fileBytes(path("out.raw")), m_values);

    r = quenzaRun({"convert", path("input.km"), path("zip.km"), "-o", "compressor=s:ZIP", "-o", "zipLevel=6"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(KM) ->"), std::string::npos) << r.out;
    const Bytes zip = fileBytes(path("zip.km"));
    EXPECT_NE(std::string(zip.begin(), zip.end()).find("Lattice { ushort Data } @1(HxZip,"), std::string::npos);

    const auto a = describe(path("input.km"));
    const auto b = describe(path("zip.km"));
    EXPECT_EQ(a["sha256"], b["sha256"]);
    EXPECT_EQ(a["calibration"], b["calibration"]);
    EXPECT_EQ(a["metadata"], b["metadata"]) << "the calibration entries are rewritten in place";
}

TEST_F(KmCli, ConvertARegion)
{
    const Result r = quenzaRun({"convert", path("input.km"), path("part.km"), "--region", "1,2,1:4,3,2", "-o",
                                "compressor=s:RLE"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = describe(path("part.km"));
    EXPECT_EQ(doc["shape"], nlohmann::ordered_json::parse("[4, 3, 2]"));
    EXPECT_EQ(doc["calibration"]["origin"], nlohmann::ordered_json::parse("[12, 2, -2]"));
    EXPECT_EQ(doc["calibration"]["spacing"], nlohmann::ordered_json::parse("[2, 1, 2]"));

    ASSERT_EQ(quenzaRun({"convert", path("part.km"), path("part.raw")}).status, 0);
    EXPECT_EQ(fileBytes(path("part.raw")),
              cut(m_values, {6, 5, 4}, 2, dravik::RegionXu64({1, 2, 1}, {4, 3, 2})));

    const Result outside = quenzaRun({"convert", path("input.km"), path("bad.raw"), "--region", "4,0,0:3,1,1"});
    EXPECT_NE(outside.status, 0);
    EXPECT_FALSE(std::filesystem::exists(path("bad.raw")));
}

TEST_F(KmCli, FailingConversionsLeaveNoOutput)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-o", "zipLevel=12"}, "Invalid level of compression: should be between 1 and 9"},
        {{"-o", "compressor=s:zip"}, "invalid compression mode zip"},
        {{"-o", "compressor=3"}, "compressor option must be a string"},
        {{"-o", "tiles=3"}, "Not supported option tiles"},
    };
    for (const auto& [options, message] : cases) {
        SCOPED_TRACE(message);
        std::vector<std::string> args{"convert", path("input.km"), path("failed.km")};
        args.insert(args.end(), options.begin(), options.end());
        const Result r = quenzaRun(args);
        EXPECT_EQ(r.status, quenza::cli::EXIT_FAILED);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(path("failed.km")));
    }
    writeFile(path("broken.km"), fileOf(header("BINARY-LITTLE-ENDIAN", "6 5 4", "Lattice { ushort Data } @1(HxZip,40)"),
                                        Bytes(40, 7)));
    const Result r = quenzaRun({"convert", path("broken.km"), path("broken.raw")});
    EXPECT_EQ(r.status, quenza::cli::EXIT_FAILED);
    EXPECT_NE(r.err.find("Problem occured when inflating compressed data"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(path("broken.raw")));
}

} // namespace
} // namespace quenza::km::test
