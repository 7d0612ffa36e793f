#include "CSVTestSupport.h"
#include "TestSupport.h"

#include <CSVExtractor.h>

#include <dravik/DataFrameView.h>
#include <dravik/Error.h>
#include <dravik/RandomAccess.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenza::csv::test {
namespace {

using common::test::expectError;

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::shared_ptr<CSVExtractor> readText(const std::string& text)
{
    return std::make_shared<CSVExtractor>(dravik::StreamAccessFactory::fromBytes(bytesOf(text)), "CSV");
}

struct TableCase {
    std::string text;
    std::vector<std::string> names;
    std::vector<std::string> types;
    std::vector<std::vector<std::string>> columns;
};

void expectTable(dravik::DataFrameView& frame, const TableCase& c)
{
    const size_t width = c.names.size();
    const uint64_t height = c.columns.empty() ? 0 : c.columns[0].size();
    ASSERT_EQ(frame.shape(), dravik::VectorXu64({width, height})) << shown(c.text);
    for (size_t column = 0; column < width; ++column) {
        EXPECT_EQ(frame.columnName(column), c.names[column]) << shown(c.text) << " column " << column;
        EXPECT_EQ(frame.columnDataType(column).toString(), c.types[column]) << shown(c.text) << " column " << column;
        EXPECT_EQ(columnTexts(frame, column), c.columns[column]) << shown(c.text) << " column " << column;
    }
}

TEST(CSVExtractorTest, HeadersTypesAndValues)
{
    const std::vector<TableCase> cases = {
        {"x,y\n1,2\n3,4\n", {"x", "y"}, {"INT64", "INT64"}, {{"1", "3"}, {"2", "4"}}},
        {"1,2\n3,4\n", {"COLUMN_0", "COLUMN_1"}, {"INT64", "INT64"}, {{"1", "3"}, {"2", "4"}}},
        {"x,,z\n1,2,3\n4,5,6\n", {"x", "COLUMN_1", "z"}, {"INT64", "INT64", "INT64"}, {{"1", "4"}, {"2", "5"}, {"3", "6"}}},
        {",\n1,2\n", {"COLUMN_0", "COLUMN_1"}, {"INT64", "INT64"}, {{"1"}, {"2"}}},
        // An empty cell turns an integer column into reals, holding a not-a-number.
        {"a,b\n1,x\n,y\n3,z\n", {"a", "b"}, {"DOUBLE", "UTF8_STRING"}, {{"1", "nan", "3"}, {"'x'", "'y'", "'z'"}}},
        {"a,b,c\n1,1,2.5\n2.5,x,x\n", {"a", "b", "c"}, {"DOUBLE", "UTF8_STRING", "UTF8_STRING"},
         {{"1", "2.5"}, {"'1'", "'x'"}, {"'2.500000'", "'x'"}}},
        // A small real keeps its value as text rather than becoming 0.000000.
        {"a,b\nx,1e-9\n3,y\n", {"a", "b"}, {"UTF8_STRING", "UTF8_STRING"}, {{"'x'", "'3'"}, {"'1e-09'", "'y'"}}},
        {"a,1\nb,2\n", {"COLUMN_0", "COLUMN_1"}, {"UTF8_STRING", "INT64"}, {{"'a'", "'b'"}, {"1", "2"}}},
        {"1,2\nx,3\n", {"COLUMN_0", "COLUMN_1"}, {"UTF8_STRING", "INT64"}, {{"'1'", "'x'"}, {"2", "3"}}},
        {"a,b\n,1\n,2\n", {"a", "b"}, {"UNKNOWN", "INT64"}, {{"''", "''"}, {"1", "2"}}},
        {"\"1\",\"2\"\n3,4\n", {"1", "2"}, {"INT64", "INT64"}, {{"3"}, {"4"}}},
        {"a,\n1,\n2.5,\n", {"a"}, {"DOUBLE"}, {{"1", "2.5"}}},
        {"name,city\r\nAnn,\"Oslo, Norway\"\r\nBo,\"Line\nbreak\"", {"name", "city"}, {"UTF8_STRING", "UTF8_STRING"},
         {{"'Ann'", "'Bo'"}, {"'Oslo, Norway'", "'Line\\nbreak'"}}},
        {"\xc3\xa9t\xc3\xa9;hiver\n1;2\n", {"\xc3\xa9t\xc3\xa9", "hiver"}, {"INT64", "INT64"}, {{"1"}, {"2"}}},
        // One line: no header, and the line's own types.
        {"1,x,,2.5\n", {"COLUMN_0", "COLUMN_1", "COLUMN_2", "COLUMN_3"}, {"INT64", "UTF8_STRING", "UNKNOWN", "DOUBLE"},
         {{"1"}, {"'x'"}, {"''"}, {"2.5"}}},
        {"a,b", {"COLUMN_0", "COLUMN_1"}, {"UTF8_STRING", "UTF8_STRING"}, {{"'a'"}, {"'b'"}}},
        // Integers in a text column keep the integer's digits only.
        {"code,n\nA1,007\n0042,x\n", {"code", "n"}, {"UTF8_STRING", "UTF8_STRING"}, {{"'A1'", "'42'"}, {"'7'", "'x'"}}},
    };
    for (const TableCase& c : cases) {
        expectTable(*readText(c.text), c);
    }
}

TEST(CSVExtractorTest, RefusesWhatItCannotRead)
{
    expectError([] { CSVExtractor(dravik::StreamAccessFactory::fromBytes(bytesOf("a,b\n")), "csv"); },
                "Format csv not supported by the plugin CsvPlugin");
    // The format is checked first, even without an access.
    expectError([] { CSVExtractor(nullptr, "KM"); }, "Format KM not supported by the plugin CsvPlugin");
    expectError([] { CSVExtractor(nullptr, "CSV"); }, "Bad input storage");
    EXPECT_THROW(CSVExtractor(nullptr, "CSV"), dravik::InvalidArgument);
    EXPECT_THROW(CSVExtractor(nullptr, "csv"), dravik::InvalidArgument);
    for (const std::string text : {"", "a,b\n\n", "a,b\nc\n", "x;y\n1,5;2,5\n", "day,n\n2021-01-01,3\n", "abc"}) {
        expectError([&] { readText(text); }, "Invalid content file");
    }
}

// A random access that can only be written: not a readable storage.
class WriteOnlyRandom : public dravik::RandomAccess {
public:
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return ""; }
    dravik::RandomAccessCapabilitySet capabilities() const override { return dravik::RandomAccessCapability::WRITE; }
    uint64_t size() const override { return 4; }
    uint64_t read(uint64_t, uint64_t, void*) override { throw dravik::Error("read of a write-only access"); }
};

// An access that is neither a stream nor a random access.
class OtherAccess : public dravik::DataAccess {
public:
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return ""; }
};

TEST(CSVExtractorTest, RefusesStoragesItCannotRead)
{
    expectError([] { CSVExtractor(std::make_shared<WriteOnlyRandom>(), "CSV"); }, "Bad input storage");
    expectError([] { CSVExtractor(std::make_shared<OtherAccess>(), "CSV"); }, "Bad input storage");
}

TEST(CSVExtractorTest, ReadsRandomAccessesAndWholeStreams)
{
    const std::string text = "x,y\n1,2\n3,4\n";
    const TableCase expected{text, {"x", "y"}, {"INT64", "INT64"}, {{"1", "3"}, {"2", "4"}}};
    auto random = dravik::RandomAccessFactory::fromBytes(bytesOf(text));
    expectTable(*std::make_shared<CSVExtractor>(random, "CSV"), expected);
    // The content is read from its start, wherever the stream stands.
    auto stream = dravik::StreamAccessFactory::fromBytes(bytesOf(text));
    char skipped[5];
    ASSERT_EQ(stream->read(5, skipped), 5u);
    expectTable(*std::make_shared<CSVExtractor>(stream, "CSV"), expected);
    // Nothing of the source is kept.
    EXPECT_EQ(random.use_count(), 1);
    EXPECT_EQ(stream.use_count(), 1);
}

TEST(CSVExtractorTest, ViewOfTheTable)
{
    auto frame = readText("x,y\n1,2\n3,4\n");
    EXPECT_EQ(frame->capabilities(), dravik::DataFrameCapabilitySet(dravik::DataFrameCapability::READ));
    EXPECT_EQ(frame->columnIndex("y"), 1u);
    EXPECT_THROW(frame->columnIndex("z"), dravik::InvalidArgument);
    int64_t values[2] = {0, 0};
    frame->read(1, 1, 1, values);
    EXPECT_EQ(values[0], 4);
    EXPECT_THROW(frame->read(1, 1, 2, values), dravik::InvalidArgument);
    EXPECT_THROW(frame->write(1, 0, 1, values), dravik::NotImplemented);

    auto origin = frame->extension<dravik::ViewOriginExtension>();
    EXPECT_EQ(origin->dataOrigin(), dravik::ViewDataOrigin::UNKNOWN);
    EXPECT_EQ(origin->displayName(), "CsvPlugin Extractor");
    EXPECT_EQ(origin->parentCount(), 0u);
    expectError([&] { frame->extension(2); }, "Extension 2 not found");
}

TEST(CSVExtractorTest, ReadsAFileByPathOnce)
{
    const std::string path = ::testing::TempDir() + "csv_extractor_" + std::to_string(::getpid()) + ".csv";
    std::ofstream(path, std::ios::binary) << "x;y\n1.5;a\n2;b\n";
    CSVExtractor frame(path);
    std::remove(path.c_str());
    expectTable(frame, {"", {"x", "y"}, {"DOUBLE", "UTF8_STRING"}, {{"1.5", "2"}, {"'a'", "'b'"}}});
    EXPECT_EQ(frame.viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    EXPECT_EQ(frame.viewOrigin()->displayName(), "CsvPlugin Extractor");
    EXPECT_THROW(CSVExtractor(path + ".missing"), dravik::Error);
}

} // namespace
} // namespace quenza::csv::test
