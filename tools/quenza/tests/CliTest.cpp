#include "CliTestSupport.h"
#include "OptionValue.h"

#include <dravik/VariantDataValueConverter.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace quenza::cli::test {
namespace {

TEST(Cli, UsageMistakesExitWithTwoAndSayWhatIsWrong)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "Usage: quenza COMMAND"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"formats", "--colour"}, "quenza formats: unknown option --colour"},
        {{"formats", "extra"}, "unexpected argument 'extra'"},
        {{"info"}, "a FILE is needed"},
        {{"info", "a", "b"}, "only one FILE is accepted"},
        {{"info", "x.raw", "--format"}, "option --format needs a value"},
        {{"info", "x.raw", "--json=yes"}, "option --json takes no value"},
        {{"convert", "a.raw"}, "INPUT and OUTPUT are needed"},
        {{"convert", "a", "b", "--frame", "two"}, "option --frame needs a whole number, not 'two'"},
        {{"convert", "a", "b", "--region", "1,2:3"}, "--region has 2 origin values and 1 sizes"},
        {{"convert", "a", "b", "--region", "1,2"}, "option --region needs ORIGIN:SIZE"},
        {{"convert", "a", "b", "-o", "=3"}, "option '=3' is not KEY=VALUE"},
        {{"convert", "a", "b", "--to", "RAW", "--to", "KM"}, "option --to is given twice"},
        {{"formats", "--log-level", "loud"}, "unknown log level 'loud'"},
        {{"info", "x.km", "--depth", "deep"}, "option --depth needs a whole number, not 'deep'"},
        {{"info", "x.km", "--depth", "2", "--json"}, "--depth applies to the plain description"},
        {{"convert", "a", "b", "--quiet=yes"}, "option --quiet takes no value"},
        {{"preview", "a.km"}, "INPUT and OUTPUT.png are needed"},
        {{"preview", "a.km", "b.jpg"}, "OUTPUT must end in .png, not 'b.jpg'"},
        {{"preview", "a.km", "b.png", "--slice", "3", "--mip"}, "--slice and --mip exclude each other"},
        {{"preview", "a.km", "b.png", "--axis", "w"}, "option --axis takes x, y or z, not 'w'"},
        {{"preview", "a.km", "b.png", "--level", "-1"}, "option --level needs a whole number, not '-1'"},
        {{"demo", "a", "b"}, "only one DIR is accepted"},
        {{"demo", "--size", "64,64"}, "option --size needs X,Y,Z"},
        {{"demo", "--size", "64,8,64"}, "option --size needs at least 16 along each axis"},
        {{"demo", "--size", "4096,4096,4096"}, "option --size asks for more than 1073741824 voxels"},
        {{"demo", "--size", "4294967296,4294967296,16"}, "option --size asks for more than 1073741824 voxels"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, EXIT_USAGE) << ::testing::PrintToString(c.args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST(Cli, HelpAndVersionGoToStandardOutput)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"formats", "--help"}, {"info", "--help"}, {"convert", "--help"},
          {"preview", "--help"}, {"demo", "--help"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.status, EXIT_OK);
        EXPECT_NE(r.out.find("Usage: quenza"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--plugin-path"), std::string::npos);
    }
    const Result usage = run({"--help"});
    for (const char* command : {"formats", "info", "convert", "preview", "demo"}) {
        EXPECT_TRUE(contains(usage.out, std::string("  ") + command + " ")) << command << "\n" << usage.out;
    }
    const Result v = run({"--version"});
    EXPECT_EQ(v.status, EXIT_OK);
    EXPECT_EQ(v.out.rfind("quenza 1.8.0 (revision ", 0), 0u) << v.out;
}

TEST(Cli, FailedOperationsExitWithOne)
{
    const std::string dir = ::testing::TempDir() + "/cli-failures";
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir + "/input.bin") << "bytes";
    }
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"info", dir + "/missing.raw"}, "missing.raw: no such file"},
        {{"info", dir + "/input.bin"}, "no plug-in reads files ending in .bin"},
        {{"info", dir + "/input.bin", "--format", "nothing"}, "No plug-in reads the format NOTHING"},
        {{"convert", dir + "/input.bin", dir + "/output.raw"}, "no plug-in reads files ending in .bin"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, EXIT_FAILED) << ::testing::PrintToString(c.args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/output.raw"));
}

TEST(Cli, FormatsJsonListsThePluginsOnACleanStandardOutput)
{
    const Result r = runProgram("formats --json --log-level trace");
    ASSERT_EQ(r.status, EXIT_OK) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    ASSERT_TRUE(doc.contains("plugins"));
    EXPECT_TRUE(doc["failures"].empty()) << doc["failures"].dump();
    const nlohmann::ordered_json* raw = nullptr;
    for (const auto& plugin : doc["plugins"]) {
        if (plugin["library"] == "libquenza-raw.so") {
            raw = &plugin;
        }
    }
    ASSERT_NE(raw, nullptr) << r.out;
    EXPECT_EQ((*raw)["name"], "RawPlugin");
    EXPECT_EQ((*raw)["version"], "2.2.0");
    EXPECT_EQ((*raw)["api"], 6);
    EXPECT_EQ((*raw)["formats"], nlohmann::ordered_json::parse(R"(["RAW"])"));
    EXPECT_EQ((*raw)["extensions"], nlohmann::ordered_json::parse(R"({"raw": "RAW"})"));
    EXPECT_EQ((*raw)["read"], nlohmann::ordered_json::array());
    EXPECT_EQ((*raw)["write"], nlohmann::ordered_json::parse(R"(["RAW"])"));

    const Result plain = runProgram("formats");
    EXPECT_EQ(plain.status, EXIT_OK);
    EXPECT_NE(plain.out.find("RAW"), std::string::npos);
    EXPECT_NE(plain.out.find("(w)"), std::string::npos);
    EXPECT_NE(plain.out.find("libquenza-raw.so"), std::string::npos);

    const Result bad = runProgram("info");
    EXPECT_EQ(bad.status, EXIT_USAGE);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_NE(bad.err.find("a FILE is needed"), std::string::npos);
}

TEST(OptionValue, NumbersListsAndTexts)
{
    using dravik::DataTypeId;
    using dravik::VariantDataValueConverter;
    struct Case {
        std::string text;
        DataTypeId type;
        std::string asText;
        size_t count;
    };
    const Case cases[] = {
        {"level=9", DataTypeId::INT64, "9", 1},
        {"level=-3", DataTypeId::INT64, "-3", 1},
        {"ratio=0.25", DataTypeId::DOUBLE, "0.25", 1},
        {"ratio=1e-3", DataTypeId::DOUBLE, "0.001", 1},
        {"tileSize=64,64,32", DataTypeId::INT64, "64, 64, 32", 3},
        {"box=0,1.5,2", DataTypeId::DOUBLE, "0, 1.5, 2", 3},
        {"compressor=ZIP", DataTypeId::UTF8_STRING, "ZIP", 1},
        {"delimiter=;", DataTypeId::UTF8_STRING, ";", 1},
        {"delimiter=,", DataTypeId::UTF8_STRING, ",", 1},
        {"name=s:12", DataTypeId::UTF8_STRING, "12", 1},
        {"empty=", DataTypeId::UTF8_STRING, "", 1},
        {"list=1,x", DataTypeId::UTF8_STRING, "1,x", 1},
    };
    for (const Case& c : cases) {
        const auto [key, value] = quenza::cli::parseOption(c.text);
        EXPECT_EQ(key, c.text.substr(0, c.text.find('=')));
        EXPECT_EQ(value->dataType(), dravik::DataType(c.type)) << c.text;
        EXPECT_EQ(VariantDataValueConverter::toString(*value), c.asText) << c.text;
        EXPECT_EQ(value->size(), c.count) << c.text;
    }
}

} // namespace
} // namespace quenza::cli::test
