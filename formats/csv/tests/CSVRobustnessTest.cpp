#include "RobustnessSweep.h"

#include <CSVExtractor.h>

#include <dravik/DataFrameView.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quenza::csv::test {
namespace {

using common::test::SweepBytes;
using common::test::SweepFixture;

SweepBytes bytesOf(const std::string& text)
{
    return SweepBytes(text.begin(), text.end());
}

SweepBytes fileBytes(const std::string& name)
{
    std::ifstream in(std::string(QUENZA_TESTDATA_DIR) + "/csv/" + name, std::ios::binary);
    return SweepBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The small committed files, and texts with quotes, blanks, other separators and line ends.
std::vector<SweepFixture> fixtures()
{
    return {
        {"chickens", fileBytes("chickens.csv")},
        {"longley", fileBytes("longley.csv")},
        {"mtcars", fileBytes("mtcars.csv")},
        {"quoted-crlf", bytesOf("name,city,n\r\nAnn,\"Oslo, Norway\",1\r\nBo,\"Line\nbreak\",2.5\r\n,\"say \\\"hi\\\"\",\r\n")},
        {"semicolons-utf8", bytesOf("\xc3\xa9t\xc3\xa9;hiver;x\n1;2;a\n3;4.5e3;\n-7;;b\n")},
        {"bars-no-header", bytesOf("1|2|3\n4| 5 |6\n7|8|9\n")},
    };
}

/// Opens the text and reads every column whole, from its middle, and one cell.
void exercise(const SweepBytes& bytes)
{
    CSVExtractor frame(dravik::StreamAccessFactory::fromBytes(bytes), "CSV");
    const auto shape = frame.shape();
    const uint64_t rows = shape[1];
    for (size_t column = 0; column < shape[0]; ++column) {
        (void)frame.columnName(column);
        const bool text = frame.columnDataType(column).isString() || frame.columnDataType(column).isUnknown();
        const uint64_t bytesPerCell = text ? 0 : frame.columnDataType(column).byteCount();
        for (const auto& [offset, count] : {std::pair<uint64_t, uint64_t>{0, rows}, {rows / 2, rows - rows / 2}}) {
            if (text) {
                std::vector<std::string> cells(count + 1);
                frame.read(column, offset, count, cells.data());
            } else {
                std::vector<uint8_t> cells((count + 1) * std::max<uint64_t>(bytesPerCell, 1));
                frame.read(column, offset, count, cells.data());
            }
        }
    }
}

TEST(CSVRobustnessTest, FixturesRead)
{
    const auto all = fixtures();
    for (const SweepFixture& f : all) {
        ASSERT_FALSE(f.bytes.empty()) << f.name;
        const auto result = common::test::runExercise(exercise, f.bytes);
        EXPECT_EQ(result.outcome, common::test::SweepOutcome::READ) << f.name << ": " << result.message;
    }
    common::test::writeSeeds("csv_reader", all);
}

TEST(CSVRobustnessTest, EveryPrefixIsReadOrRefused)
{
    for (const SweepFixture& f : fixtures()) {
        // The empty text has no table.
        common::test::prefixSweep(f, exercise, 1);
    }
}

TEST(CSVRobustnessTest, SingleByteCorruptionsAreReadOrRefused)
{
    uint32_t seed = 23;
    for (const SweepFixture& f : fixtures()) {
        common::test::corruptionSweep(f, exercise, 300, seed++);
    }
}

TEST(CSVRobustnessTest, FuzzRegressionsAreReadOrRefused)
{
    const auto regressions = common::test::fuzzRegressions("csv_reader");
    ASSERT_FALSE(regressions.empty());
    for (const SweepFixture& f : regressions) {
        const auto result = common::test::runExercise(exercise, f.bytes);
        EXPECT_NE(result.outcome, common::test::SweepOutcome::FOREIGN) << f.name << ": " << result.message;
    }
    // The first finding was in the fuzz target: an empty column has the unknown type,
    // and its cells are texts like those of a text column.
    const auto& first = regressions.front();
    ASSERT_EQ(first.name, "unknown-column-cells-are-text");
    CSVExtractor frame(dravik::StreamAccessFactory::fromBytes(first.bytes), "CSV");
    ASSERT_EQ(frame.shape(), (dravik::VectorXu64{9, 1}));
    EXPECT_TRUE(frame.columnDataType(4).isUnknown());
    std::string cell = "not read";
    frame.read(4, 0, 1, &cell);
    EXPECT_EQ(cell, "");
}

} // namespace
} // namespace quenza::csv::test
