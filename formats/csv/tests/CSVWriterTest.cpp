#include "CSVTestSupport.h"
#include "TestSupport.h"

#include <CSVWriter.h>

#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>
#include <dravik/ImageView.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccess.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenza::csv::test {
namespace {

using common::test::expectError;
using dravik::DataType;
using dravik::DataTypeId;

// A frame of one-cell-per-call columns, each given as its cells.
class FrameBuilder {
public:
    template <typename T>
    FrameBuilder& column(const std::string& name, DataType type, std::vector<T> cells, const std::string& unit = "")
    {
        m_names.push_back(name);
        m_types.push_back(type);
        m_units.push_back(unit);
        m_rows = cells.size();
        m_fill.push_back([cells](dravik::DataFrameView& frame, size_t c) {
            frame.write(c, 0, cells.size(), cells.data());
        });
        return *this;
    }
    std::shared_ptr<dravik::DataFrameView> build(bool withUnits = false) const
    {
        auto frame = dravik::DataFrameViewFactory::allocate({m_names.size(), m_rows}, m_names, m_types,
                                                            withUnits ? m_units : std::vector<std::string>{});
        for (size_t c = 0; c < m_fill.size(); ++c) {
            m_fill[c](*frame, c);
        }
        return frame;
    }

private:
    std::vector<std::string> m_names;
    std::vector<DataType> m_types;
    std::vector<std::string> m_units;
    uint64_t m_rows = 0;
    std::vector<std::function<void(dravik::DataFrameView&, size_t)>> m_fill;
};

std::string textOf(const std::shared_ptr<dravik::StreamAccess>& stream)
{
    const auto* bytes = static_cast<const char*>(stream->bufferReadOnly());
    return bytes == nullptr ? std::string() : std::string(bytes, stream->bufferSize());
}

// Writes `frame` with the options given and returns the text.
std::string written(const std::shared_ptr<dravik::View>& frame,
                    const std::vector<std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>>>& options = {})
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    CSVWriter writer(frame, stream, "CSV");
    for (const auto& [name, value] : options) {
        writer.setOption(name, value);
    }
    writer.writeAll();
    return textOf(stream);
}

std::shared_ptr<dravik::VariantDataValue> text(const char* chars)
{
    return dravik::VariantDataValueFactory::create(chars);
}

std::shared_ptr<dravik::VariantDataValue> number(int64_t n)
{
    return dravik::VariantDataValueFactory::create(n);
}

TEST(CSVWriterTest, HeaderThenRows)
{
    const auto frame = FrameBuilder()
                           .column<int64_t>("a", DataTypeId::INT64, {1, 2})
                           .column<std::string>("b", DataTypeId::UTF8_STRING, {"x", "y"})
                           .build();
    EXPECT_EQ(written(frame), "\"a\",\"b\"\n1,\"x\"\n2,\"y\"\n");
    EXPECT_EQ(written(frame, {{"delimiter", text(";")}}), "\"a\";\"b\"\n1;\"x\"\n2;\"y\"\n");
    EXPECT_EQ(written(frame, {{"delimiter", text(" | ")}}), "\"a\" | \"b\"\n1 | \"x\"\n2 | \"y\"\n");
    EXPECT_EQ(written(frame, {{"delimiter", text("")}}), "\"a\"\"b\"\n1\"x\"\n2\"y\"\n");
    EXPECT_EQ(written(frame, {{"delimiter", number(9)}}), "\"a\"9\"b\"\n19\"x\"\n29\"y\"\n");

    const auto empty = FrameBuilder()
                           .column<int64_t>("a", DataTypeId::INT64, {})
                           .column<std::string>("b", DataTypeId::UTF8_STRING, {})
                           .build();
    EXPECT_EQ(written(empty), "\"a\",\"b\"\n");
}

TEST(CSVWriterTest, UnitsInTheHeader)
{
    const FrameBuilder builder = FrameBuilder()
                                     .column<double>("d", DataTypeId::DOUBLE, {1.5}, "nm")
                                     .column<double>("e", DataTypeId::DOUBLE, {2.5}, "");
    EXPECT_EQ(written(builder.build(true)), "\"d (nm)\",\"e\"\n1.500000,2.500000\n");
    EXPECT_EQ(written(builder.build(true), {{"display_units", number(0)}}), "\"d\",\"e\"\n1.500000,2.500000\n");
    EXPECT_EQ(written(builder.build(true), {{"display_units", number(0)}, {"display_units", number(2)}}),
              "\"d (nm)\",\"e\"\n1.500000,2.500000\n");
    EXPECT_EQ(written(builder.build(false)), "\"d\",\"e\"\n1.500000,2.500000\n");
}

TEST(CSVWriterTest, CellTextByType)
{
    const auto frame = FrameBuilder()
                           .column<uint8_t>("u8", DataTypeId::UINT8, {255})
                           .column<uint16_t>("u16", DataTypeId::UINT16, {65535})
                           .column<uint32_t>("u32", DataTypeId::UINT32, {4294967295u})
                           .column<uint64_t>("u64", DataTypeId::UINT64, {std::numeric_limits<uint64_t>::max()})
                           .column<int8_t>("i8", DataTypeId::INT8, {-1})
                           .column<int16_t>("i16", DataTypeId::INT16, {-32768})
                           .column<int32_t>("i32", DataTypeId::INT32, {std::numeric_limits<int32_t>::min()})
                           .column<int64_t>("i64", DataTypeId::INT64, {std::numeric_limits<int64_t>::min()})
                           .column<float>("f", DataTypeId::FLOAT, {0.1f})
                           .column<double>("d", DataTypeId::DOUBLE, {2.5})
                           .column<std::string>("s", DataTypeId::UTF8_STRING, {"a,b"})
                           .build();
    EXPECT_EQ(written(frame), "\"u8\",\"u16\",\"u32\",\"u64\",\"i8\",\"i16\",\"i32\",\"i64\",\"f\",\"d\",\"s\"\n"
                              "255,65535,4294967295,18446744073709551615,-1,-32768,-2147483648,"
                              "-9223372036854775808,0.100000,2.500000,\"a,b\"\n");
}

// Six decimals only where they give the value back; otherwise its shortest exact text.
TEST(CSVWriterTest, RealsKeepTheirValue)
{
    const auto frame = FrameBuilder()
                           .column<double>("d", DataTypeId::DOUBLE,
                                           {2.5, 0.1, 1e-9, 0.1234567, 1e-300, -0.0, 1e20,
                                            std::numeric_limits<double>::quiet_NaN(),
                                            -std::numeric_limits<double>::infinity()})
                           .column<float>("f", DataTypeId::FLOAT, {2.5f, 0.1f, 1e-9f, 0.1234567f, 1e-30f, -0.0f, 1e20f,
                                                                   std::numeric_limits<float>::quiet_NaN(),
                                                                   std::numeric_limits<float>::infinity()})
                           .build();
    EXPECT_EQ(written(frame), "\"d\",\"f\"\n"
                              "2.500000,2.500000\n"
                              "0.100000,0.100000\n"
                              "1e-09,1e-09\n"
                              "0.1234567,0.1234567\n"
                              "1e-300,1e-30\n"
                              "-0.000000,-0.000000\n"
                              "100000000000000000000.000000,100000002004087734272.000000\n"
                              "nan,nan\n"
                              "-inf,inf\n");
}

// Double quotes and backslashes get a backslash, the reader's escape; the rest stays.
TEST(CSVWriterTest, TextsAndNamesAreEscaped)
{
    const auto frame = FrameBuilder()
                           .column<std::string>("say \"hi\"", DataTypeId::UTF8_STRING,
                                                {"a \"b\" c", "back\\slash", "line\nbreak\r\n", "x,y;z", ""})
                           .column<std::string>("u", DataTypeId::UTF8_STRING, {"1", "2", "3", "4", "5"}, "\\mu\"m")
                           .build(true);
    EXPECT_EQ(written(frame), "\"say \\\"hi\\\"\",\"u (\\\\mu\\\"m)\"\n"
                              "\"a \\\"b\\\" c\",\"1\"\n"
                              "\"back\\\\slash\",\"2\"\n"
                              "\"line\nbreak\r\n\",\"3\"\n"
                              "\"x,y;z\",\"4\"\n"
                              "\"\",\"5\"\n");
}

TEST(CSVWriterTest, RowsComeInBlocks)
{
    const uint64_t rows = 3 * CSVWriter::ROWS_PER_BLOCK + 17;
    std::vector<int32_t> numbers;
    std::vector<double> reals;
    std::vector<std::string> texts;
    std::string expected = "\"n\",\"r\",\"t\"\n";
    for (uint64_t i = 0; i < rows; ++i) {
        numbers.push_back(static_cast<int32_t>(i) - 5);
        reals.push_back(static_cast<double>(i) + 0.25);
        texts.push_back("t" + std::to_string(i));
        expected += std::to_string(numbers.back()) + "," + std::to_string(reals.back()) + ",\"" + texts.back() + "\"\n";
    }
    const auto frame = FrameBuilder()
                           .column("n", DataTypeId::INT32, numbers)
                           .column("r", DataTypeId::DOUBLE, reals)
                           .column("t", DataTypeId::UTF8_STRING, texts)
                           .build();
    EXPECT_EQ(written(frame), expected);
}

// Without a separator on its lines a table would not read back: one column gets a
// final delimiter on each line.
TEST(CSVWriterTest, SingleColumnLinesEndWithTheDelimiter)
{
    const auto frame = FrameBuilder().column<double>("v", DataTypeId::DOUBLE, {0.5, 1e-9}).build();
    EXPECT_EQ(written(frame), "\"v\",\n0.500000,\n1e-09,\n");
    EXPECT_EQ(written(frame, {{"delimiter", text(";")}}), "\"v\";\n0.500000;\n1e-09;\n");
}

TEST(CSVWriterTest, StepByStep)
{
    const auto frame = FrameBuilder().column<int64_t>("a", DataTypeId::INT64, {4}).build();
    auto stream = dravik::StreamAccessFactory::createInMemory();
    CSVWriter writer(frame, stream, "CSV");
    EXPECT_EQ(writer.name(), "CsvPlugin");
    EXPECT_EQ(writer.version(), "1.2.0");
    writer.writeData();
    writer.writeInit();
    writer.setOption("delimiter", text(";"));
    writer.writeInit();
    writer.writeFinish();
    EXPECT_EQ(textOf(stream), "4,\n\"a\",\n\"a\";\n");
}

std::shared_ptr<dravik::View> anImage()
{
    return dravik::ImageViewFactory::allocate({2, 2}, DataTypeId::UINT8);
}

TEST(CSVWriterTest, RefusedArguments)
{
    const auto frame = FrameBuilder().column<int64_t>("a", DataTypeId::INT64, {1}).build();
    const auto memory = dravik::StreamAccessFactory::createInMemory();
    expectError([&] { CSVWriter(frame, memory, "csv"); }, "unsupported format: csv");
    EXPECT_THROW(CSVWriter(frame, memory, "RAW"), dravik::InvalidArgument);
    expectError([&] { CSVWriter(anImage(), memory, "CSV"); },
                "CSV writer only accepts dataframes as input");
    expectError([&] { CSVWriter(nullptr, memory, "CSV"); }, "CSV writer only accepts dataframes as input");
    expectError([&] { CSVWriter(frame, dravik::RandomAccessFactory::fromBytes({}), "CSV"); },
                "CSV writer only accepts streams as output");
    expectError([&] { CSVWriter(frame, nullptr, "CSV"); }, "CSV writer only accepts streams as output");

    const std::string path = ::testing::TempDir() + "csv_readonly_" + std::to_string(::getpid()) + ".csv";
    std::ofstream(path) << "kept";
    expectError([&] { CSVWriter(frame, dravik::StreamAccessFactory::openFileRead(path), "CSV"); },
                "output stream must support writing");

    CSVWriter writer(frame, memory, "CSV");
    expectError([&] { writer.setOption("sep", text(";")); }, "invalid option sep");
    EXPECT_THROW(writer.setOption("delimiter", nullptr), dravik::Error);
    EXPECT_THROW(writer.setOption("display_units", text("on")), dravik::Error);

    // A view refused by path leaves the file as it was.
    expectError([&] { CSVWriter(anImage(), path); },
                "CSV writer only accepts dataframes as input");
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "kept");
    CSVWriter(frame, path).writeAll();
    std::ifstream again(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>()), "\"a\",\n1,\n");
    std::remove(path.c_str());
}

// A refused column fails at its first cell: the cells before it stay written.
TEST(CSVWriterTest, RefusedColumnTypes)
{
    const std::vector<std::pair<DataType, std::string>> cases = {
        {DataType(dravik::PrimitiveType::UNSIGNED_INTEGER, 1, 24), "unsupported unsigned integer bit depth of 24"},
        {DataType(dravik::PrimitiveType::SIGNED_INTEGER, 1, 128), "unsupported signed integer bit depth of 128"},
        {DataType(dravik::PrimitiveType::FLOATING_POINT, 1, 16), "unsupported floating-point bit depth of 16"},
        {DataType(dravik::PrimitiveType::UNICODE_STRING, 1, 16), "unsupported UTF string bit depth of 16"},
        {DataTypeId::UNKNOWN, "Unsupported data type: UNKNOWN"},
        {DataTypeId::VEC3_UINT8, "Unsupported data type: VEC3_UINT8"},
        {DataTypeId::COMPLEX_FLOAT, "Unsupported data type: COMPLEX_FLOAT"},
    };
    for (const auto& [type, message] : cases) {
        const auto frame = dravik::DataFrameViewFactory::allocate({3, 2}, {"a", "b", "c"},
                                                                  {DataTypeId::INT64, type, DataTypeId::INT64});
        const int64_t seven[2] = {7, 8};
        frame->write(0, 0, 2, seven);
        auto stream = dravik::StreamAccessFactory::createInMemory();
        CSVWriter writer(frame, stream, "CSV");
        writer.writeInit();
        expectError([&] { writer.writeData(); }, message);
        EXPECT_EQ(textOf(stream), "\"a\",\"b\",\"c\"\n7,") << message;

        const auto empty =
            dravik::DataFrameViewFactory::allocate({2, 0}, {"a", "b"}, {DataTypeId::INT64, type});
        EXPECT_EQ(written(empty), "\"a\",\"b\"\n") << "no cell, no error: " << message;
    }
    const auto first = dravik::DataFrameViewFactory::allocate({1, 1}, {"a"}, {DataTypeId::UNKNOWN});
    auto stream = dravik::StreamAccessFactory::createInMemory();
    expectError([&] { CSVWriter(first, stream, "CSV").writeAll(); }, "Unsupported data type: UNKNOWN");
    EXPECT_EQ(textOf(stream), "\"a\",\n");
}

// A frame whose shape lacks the row count.
class ShapelessFrame : public dravik::DataFrameView {
public:
    dravik::DataFrameCapabilitySet capabilities() const override { return dravik::DataFrameCapability::READ; }
    const dravik::VectorXu64& shape() const override { return m_shape; }
    std::string columnName(size_t) const override { return "only"; }
    size_t columnIndex(const std::string&) const override { return 0; }
    dravik::DataType columnDataType(size_t) const override { return DataTypeId::INT64; }
    void read(size_t, uint64_t, uint64_t, void*) override { throw dravik::Error("no cell to read"); }

private:
    dravik::VectorXu64 m_shape{1};
};

TEST(CSVWriterTest, ShapeWithoutRowsWritesTheHeaderOnly)
{
    EXPECT_EQ(written(std::make_shared<ShapelessFrame>()), "\"only\",\n");
}

// A stream that takes only part of each write.
class ShortStream : public dravik::StreamAccess {
public:
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return ""; }
    dravik::StreamAccessCapabilitySet capabilities() const override { return dravik::StreamAccessCapability::WRITE; }
    bool eof() const override { return false; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t, void*) override { return 0; }
    uint64_t write(uint64_t size, const void*) override { return size / 2; }
    uint64_t tell() const override { return 0; }
};

TEST(CSVWriterTest, ShortWritesAreErrors)
{
    const auto frame = FrameBuilder().column<int64_t>("a", DataTypeId::INT64, {1}).build();
    CSVWriter writer(frame, std::make_shared<ShortStream>(), "CSV");
    expectError([&] { writer.writeInit(); }, "CSV writer could write only 2 of 5 bytes");
    expectError([&] { writer.writeData(); }, "CSV writer could write only 1 of 3 bytes");
}

} // namespace
} // namespace quenza::csv::test
