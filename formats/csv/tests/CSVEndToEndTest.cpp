// The CSV plug-in as a user's program sees it: loaded by the host, reached only through
// its exported descriptors.

#include "CSVTestSupport.h"

#include <CSVLineAnalysis.h>
#include <CSVTokenTable.h>

#include <quenza/host/PluginRegistry.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

namespace quenza::csv::test {
namespace {

using namespace dravik;

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

const quenza::host::PluginLibrary& csvLibrary()
{
    const auto* library = registry().readerOf("CSV");
    if (library == nullptr) {
        throw std::runtime_error("libquenza-csv.so not found in " + quenza::host::PluginRegistry::defaultPluginPath());
    }
    return *library;
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

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tempDir()
{
    const std::string dir = ::testing::TempDir() + "/csv-e2e-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    return dir;
}

std::string realFile(const std::string& name)
{
    const char* root = std::getenv("QUENZA_TESTDATA");
    return std::string(root ? root : QUENZA_TESTDATA_DIR) + "/csv/" + name;
}

std::shared_ptr<DataFrameView> openPath(const std::string& path)
{
    auto view = DataFrameViewProvider::toDataFrame(registry().open(path).view);
    if (!view) {
        throw std::runtime_error(path + " did not open as a data frame");
    }
    return view;
}

std::shared_ptr<DataFrameView> openBytes(const std::string& text)
{
    auto access = StreamAccessFactory::fromBytes(std::vector<uint8_t>(text.begin(), text.end()));
    return DataFrameViewProvider::toDataFrame(csvLibrary().extractor->openDataAccess(access, "CSV"));
}

// Names, types and cells, one line per column.
std::string described(DataFrameView& frame)
{
    std::string text = fmt::format("{} x {}\n", frame.shape()[0], frame.shape()[1]);
    for (size_t c = 0; c < frame.shape()[0]; ++c) {
        text += fmt::format("{} {}:", frame.columnName(c), frame.columnDataType(c).toString());
        for (const std::string& cell : columnTexts(frame, c)) {
            text += " " + cell;
        }
        text += "\n";
    }
    return text;
}

TEST(CSVEndToEnd, DescriptorsAsTheHostSeesThem)
{
    const auto& library = csvLibrary();
    ASSERT_NE(library.writer, nullptr);
    EXPECT_EQ(registry().writerOf("CSV"), &library);
    for (const solvane::Plugin* plugin : {static_cast<const solvane::Plugin*>(library.extractor),
                                          static_cast<const solvane::Plugin*>(library.writer)}) {
        EXPECT_EQ(plugin->api(), 6u);
        EXPECT_EQ(plugin->name(), "CsvPlugin");
        EXPECT_EQ(plugin->version(), "1.2.0");
        EXPECT_EQ(plugin->supportedFormats(), solvane::FormatList{"CSV"});
        EXPECT_EQ(plugin->extensionMap(), (solvane::ExtensionMap{{"csv", "CSV"}}));
    }
    EXPECT_EQ(library.extractor->logLevel(), LOG_WARNING) << "the host started the logger with its default level";
}

// Every reading case, by path and by data access alike.
TEST(CSVEndToEnd, ReadsByPathAndByDataAccess)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x,y\n1,2\n3,4\n", "2 x 2\nx INT64: 1 3\ny INT64: 2 4\n"},
        {"1,2\n3,4\n", "2 x 2\nCOLUMN_0 INT64: 1 3\nCOLUMN_1 INT64: 2 4\n"},
        {"x,,z\n1,2,3\n", "3 x 1\nx INT64: 1\nCOLUMN_1 INT64: 2\nz INT64: 3\n"},
        {"a,b\n1,x\n,y\n3,z\n", "2 x 3\na DOUBLE: 1 nan 3\nb UTF8_STRING: 'x' 'y' 'z'\n"},
        {"a,b,c\n1,1,2.5\n2.5,x,x\n", "3 x 2\na DOUBLE: 1 2.5\nb UTF8_STRING: '1' 'x'\nc UTF8_STRING: '2.500000' 'x'\n"},
        {"a,1\nb,2\n", "2 x 2\nCOLUMN_0 UTF8_STRING: 'a' 'b'\nCOLUMN_1 INT64: 1 2\n"},
        {"a;b\n;1\n;2\n", "2 x 2\na UNKNOWN: '' ''\nb INT64: 1 2\n"},
        {"a|b|c\n1|2|3", "3 x 1\na INT64: 1\nb INT64: 2\nc INT64: 3\n"},
    };
    const std::string dir = tempDir();
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir + "/case" + std::to_string(i) + ".csv";
        std::ofstream(path, std::ios::binary) << cases[i].first;
        const auto byPath = openPath(path);
        EXPECT_EQ(described(*byPath), cases[i].second) << shown(cases[i].first);
        EXPECT_EQ(byPath->viewOrigin()->dataOrigin(), ViewDataOrigin::DRIVE);
        const auto byAccess = openBytes(cases[i].first);
        EXPECT_EQ(described(*byAccess), cases[i].second) << shown(cases[i].first);
        EXPECT_EQ(byAccess->viewOrigin()->dataOrigin(), ViewDataOrigin::UNKNOWN);
    }

    std::ofstream(dir + "/empty.csv", std::ios::binary).flush();
    EXPECT_EQ(errorOf([&] { registry().open(dir + "/empty.csv"); }), "Invalid content file");
    EXPECT_EQ(errorOf([&] { openBytes(""); }), "Invalid content file");
    auto access = StreamAccessFactory::fromBytes({'a', ',', 'b'});
    EXPECT_EQ(errorOf([&] { csvLibrary().extractor->openDataAccess(access, "csv"); }),
              "Format csv not supported by the plugin CsvPlugin");
    EXPECT_EQ(errorOf([&] { csvLibrary().extractor->openDataAccess(nullptr, "CSV"); }), "Bad input storage");
}

// int64, double and text columns written, read back, written again.
TEST(CSVEndToEnd, RoundTripGivesBackEqualValues)
{
    const std::vector<int64_t> ids = {1, -2, 2147483647, -2147483648LL, 0, 7, 8, 9, 10, 11};
    const std::vector<double> reals = {1e-300, -0.0, 1e20, 0.1, 0.1234567, 2.0 / 3.0,
                                       -1.7976931348623157e308, 5e-324, std::numeric_limits<double>::infinity(),
                                       std::numeric_limits<double>::quiet_NaN()};
    const std::vector<std::string> texts = {"plain", "a,b;c|d", "say \"hi\"", "back\\slash \\n", "two\nlines",
                                            "crlf\r\nend\r", "", "\xc3\xa9t\xc3\xa9", "  padded  ", "1.5"};
    auto frame = DataFrameViewFactory::allocate({3, ids.size()}, {"id", "value \"v\"", "text"},
                                                {DataTypeId::INT64, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING});
    frame->write(0, 0, ids.size(), ids.data());
    frame->write(1, 0, reals.size(), reals.data());
    frame->write(2, 0, texts.size(), texts.data());

    const std::string dir = tempDir();
    registry().createWriter(frame, dir + "/first.csv").writer->writeAll();
    const auto back = openPath(dir + "/first.csv");
    ASSERT_EQ(back->shape(), VectorXu64({3, ids.size()}));
    EXPECT_EQ(back->columnName(1), "value \"v\"");
    ASSERT_EQ(back->columnDataType(0), DataType(DataTypeId::INT64));
    ASSERT_EQ(back->columnDataType(1), DataType(DataTypeId::DOUBLE));
    ASSERT_EQ(back->columnDataType(2), DataType(DataTypeId::UTF8_STRING));
    std::vector<int64_t> idsBack(ids.size());
    std::vector<double> realsBack(reals.size());
    std::vector<std::string> textsBack(texts.size());
    back->read(0, 0, ids.size(), idsBack.data());
    back->read(1, 0, reals.size(), realsBack.data());
    back->read(2, 0, texts.size(), textsBack.data());
    EXPECT_EQ(idsBack, ids);
    EXPECT_EQ(textsBack, texts);
    for (size_t i = 0; i < reals.size(); ++i) {
        if (std::isnan(reals[i])) {
            EXPECT_TRUE(std::isnan(realsBack[i]));
        } else {
            EXPECT_EQ(std::memcmp(&realsBack[i], &reals[i], sizeof(double)), 0)
                << fmt::format("{} read back as {}", reals[i], realsBack[i]);
        }
    }
    registry().createWriter(back, dir + "/second.csv").writer->writeAll();
    EXPECT_EQ(fileText(dir + "/second.csv"), fileText(dir + "/first.csv"));

    // Floats come back as doubles that narrow to the same floats.
    const std::vector<float> floats = {0.1f, 1e-9f, 3.4028235e38f, 1.17549435e-38f, 0.3333333f, -2.5f};
    auto floatFrame = DataFrameViewFactory::allocate({1, floats.size()}, {"f"}, {DataTypeId::FLOAT});
    floatFrame->write(0, 0, floats.size(), floats.data());
    registry().createWriter(floatFrame, dir + "/floats.csv").writer->writeAll();
    const auto floatsBack = openPath(dir + "/floats.csv");
    ASSERT_EQ(floatsBack->columnDataType(0), DataType(DataTypeId::DOUBLE));
    std::vector<double> wide(floats.size());
    floatsBack->read(0, 0, wide.size(), wide.data());
    for (size_t i = 0; i < floats.size(); ++i) {
        EXPECT_EQ(static_cast<float>(wide[i]), floats[i]);
    }
}

TEST(CSVEndToEnd, WritesThroughTheHost)
{
    auto frame = DataFrameViewFactory::allocate({2, 1}, {"a", "b"}, {DataTypeId::INT64, DataTypeId::UTF8_STRING}, {"s", ""});
    const int64_t one = 1;
    const std::string x = "x";
    frame->write(0, 0, 1, &one);
    frame->write(1, 0, 1, &x);
    auto stream = StreamAccessFactory::createInMemory();
    auto writer = csvLibrary().writer->openDataAccess(frame, stream, "CSV");
    writer->setOption("delimiter", VariantDataValueFactory::create(";"));
    writer->writeAll();
    EXPECT_EQ(std::string(static_cast<const char*>(stream->bufferReadOnly()), stream->bufferSize()),
              "\"a (s)\";\"b\"\n1;\"x\"\n");
    EXPECT_EQ(errorOf([&] { csvLibrary().writer->openDataAccess(frame, stream, "KM"); }), "unsupported format: KM");
    EXPECT_EQ(errorOf([&] { writer->setOption("compressor", VariantDataValueFactory::create(1)); }),
              "invalid option compressor");
    EXPECT_EQ(writer->name(), "CsvPlugin");
    EXPECT_EQ(writer->version(), "1.2.0");
}

// Files that Debian packages ship, read as a user would.
struct RealFile {
    std::string name;
    size_t separator;
    std::vector<std::string> names;
    std::vector<std::string> types;
    uint64_t rows;
};

void expectRealFile(const RealFile& expected, DataFrameView& frame)
{
    const std::string text = fileText(realFile(expected.name));
    CSVTokenTable table;
    EXPECT_EQ(CSVLineAnalysis::chooseSeparator(text.data(), text.data() + text.size(), table), expected.separator)
        << expected.name;
    ASSERT_EQ(frame.shape(), VectorXu64({expected.names.size(), expected.rows})) << expected.name;
    for (size_t c = 0; c < expected.names.size(); ++c) {
        EXPECT_EQ(frame.columnName(c), expected.names[c]) << expected.name;
        EXPECT_EQ(frame.columnDataType(c).toString(), expected.types[c]) << expected.name << " " << expected.names[c];
    }
}

TEST(CSVEndToEnd, RealFiles)
{
    const RealFile mtcars{"mtcars.csv", 1,
                          {"mpg", "cyl", "disp", "hp", "drat", "wt", "qsec", "vs", "am", "gear", "carb"},
                          {"DOUBLE", "INT64", "DOUBLE", "INT64", "DOUBLE", "DOUBLE", "DOUBLE", "INT64", "INT64", "INT64",
                           "INT64"},
                          32};
    auto cars = openPath(realFile(mtcars.name));
    expectRealFile(mtcars, *cars);
    EXPECT_EQ(columnTexts(*cars, 0).front(), "21");
    EXPECT_EQ(columnTexts(*cars, 0).back(), "21.4");
    EXPECT_EQ(columnTexts(*cars, 1).front(), "6");
    EXPECT_EQ(columnTexts(*cars, 5).front(), "2.62");

    const RealFile chickens{"chickens.csv", 1, {"chicken", "sex", "eggs_laid", "motto"},
                            {"UTF8_STRING", "UTF8_STRING", "INT64", "UTF8_STRING"}, 5};
    auto hens = openPath(realFile(chickens.name));
    expectRealFile(chickens, *hens);
    EXPECT_EQ(columnTexts(*hens, 2), (std::vector<std::string>{"0", "3", "12", "7", "0"}));
    EXPECT_EQ(columnTexts(*hens, 3).front(), "'That\\'s a joke, ah say, that\\'s a joke, son.'");
    EXPECT_EQ(columnTexts(*hens, 0).back(), "'Ernie The Giant Chicken'");

    const RealFile longley{"longley.csv", 1, {"Obs", "TOTEMP", "GNPDEFL", "GNP", "UNEMP", "ARMED", "POP", "YEAR"},
                           {"INT64", "INT64", "DOUBLE", "INT64", "INT64", "INT64", "INT64", "INT64"}, 16};
    auto economy = openPath(realFile(longley.name));
    expectRealFile(longley, *economy);
    EXPECT_EQ(columnTexts(*economy, 7).back(), "1962");
    EXPECT_EQ(columnTexts(*economy, 2).back(), "116.9");

    // The header holds the years as numbers: it is read as the first row.
    std::vector<std::string> fertilityNames;
    std::vector<std::string> fertilityTypes;
    for (size_t c = 0; c < 58; ++c) {
        fertilityNames.push_back("COLUMN_" + std::to_string(c));
        fertilityTypes.push_back(c < 4 ? "UTF8_STRING" : "DOUBLE");
    }
    const RealFile fertility{"fertility.csv", 1, fertilityNames, fertilityTypes, 220};
    auto births = openPath(realFile(fertility.name));
    expectRealFile(fertility, *births);
    EXPECT_EQ(columnTexts(*births, 0)[1], "'Aruba'");
    EXPECT_EQ(columnTexts(*births, 2)[1], "'Fertility rate, total (births per woman)'");
    const auto year1960 = columnTexts(*births, 4);
    EXPECT_EQ(year1960[0], "1960");
    EXPECT_EQ(year1960[1], "4.82");
    EXPECT_EQ(year1960[2], "nan");
    std::vector<double> year1968(220);
    births->read(12, 0, 220, year1968.data());
    EXPECT_EQ(year1968[1], std::strtod("3.2260000000000004", nullptr));
    EXPECT_EQ(columnTexts(*births, 57)[0], "2013");

    const RealFile categories{"hb-categories-ru.csv", 2, {"COLUMN_0", "COLUMN_1", "COLUMN_2"},
                              {"INT64", "UTF8_STRING", "UTF8_STRING"}, 132};
    auto budget = openPath(realFile(categories.name));
    expectRealFile(categories, *budget);
    EXPECT_EQ(columnTexts(*budget, 0).front(), "1");
    EXPECT_EQ(columnTexts(*budget, 1).back(), "'+'");
    EXPECT_EQ(columnTexts(*budget, 2).front(),
              "'\xd0\x90\xd0\xb2\xd1\x82\xd0\xbe\xd0\xbc\xd0\xbe\xd0\xb1\xd0\xb8\xd0\xbb\xd0\xb8 \xd0\xb8 "
              "\xd0\xbc\xd0\xbe\xd1\x82\xd0\xbe\xd1\x86\xd0\xb8\xd0\xba\xd0\xbb\xd1\x8b'");

    // Dates begin with a number and go on: no separator parses this file.
    EXPECT_EQ(errorOf([] { registry().open(realFile("debian.csv")); }), "Invalid content file");
    const std::string releases = fileText(realFile("debian.csv"));
    ASSERT_FALSE(releases.empty());
    CSVTokenTable table;
    EXPECT_EQ(CSVLineAnalysis::chooseSeparator(releases.data(), releases.data() + releases.size(), table),
              CSVLineAnalysis::NO_SEPARATOR);
}

} // namespace
} // namespace quenza::csv::test
