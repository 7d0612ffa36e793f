#include <dravik/ColumnUnitExtension.h>
#include <dravik/DataFrameView.h>
#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace dravik;

namespace {

template <typename F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const InvalidArgument& e) {
        return e.what();
    } catch (const Error& e) {
        return std::string("<not InvalidArgument> ") + e.what();
    }
    return "<no error>";
}

std::shared_ptr<DataFrameView> makeFrame(const std::vector<std::string>& units = {})
{
    return DataFrameViewFactory::allocate({4, 5}, {"id", "x", "label", "id"},
                                          {DataTypeId::INT64, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING,
                                           DataTypeId::VEC3_UINT8},
                                          units);
}

} // namespace

TEST(DataFrameTest, DescribesItsColumns)
{
    auto frame = makeFrame();
    EXPECT_EQ(frame->shape(), (VectorXu64{4, 5}));
    EXPECT_TRUE(frame->support(DataFrameCapability::READ));
    EXPECT_TRUE(frame->support(DataFrameCapability::WRITE));
    EXPECT_EQ(frame->columnName(2), "label");
    EXPECT_EQ(frame->columnDataType(1), DataType(DataTypeId::DOUBLE));
    EXPECT_EQ(frame->columnDataType(3), DataType(DataTypeId::VEC3_UINT8));
    EXPECT_EQ(frame->columnIndex("label"), 2u);
    EXPECT_EQ(frame->columnIndex("id"), 0u) << "the first of equal names";
    EXPECT_EQ(errorOf([&] { frame->columnIndex("y"); }), "No column named 'y'");
    EXPECT_THROW(frame->columnName(4), InvalidArgument);
    EXPECT_THROW(frame->columnDataType(4), InvalidArgument);
}

TEST(DataFrameTest, ColumnsStartEmptyAndRoundTripInSubRanges)
{
    auto frame = makeFrame();

    std::vector<int64_t> ids(5, -1);
    frame->read(0, 0, 5, ids.data());
    EXPECT_EQ(ids, std::vector<int64_t>(5, 0));
    std::vector<std::string> labels(5, "stale");
    frame->read(2, 0, 5, labels.data());
    EXPECT_EQ(labels, std::vector<std::string>(5, ""));

    const std::vector<int64_t> writtenIds = {std::numeric_limits<int64_t>::min(), -1, 0, 9007199254740993,
                                             std::numeric_limits<int64_t>::max()};
    const std::vector<double> writtenX = {0.5, -1e300, 3.25, 1e-10, 42};
    const std::vector<std::string> writtenLabels = {"alpha", "", "gamma delta", std::string(100, 'z'), "omega"};
    const std::vector<uint8_t> writtenRgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 255};
    frame->write(0, 0, 5, writtenIds.data());
    frame->write(1, 0, 5, writtenX.data());
    frame->write(2, 0, 5, writtenLabels.data());
    frame->write(3, 0, 5, writtenRgb.data());

    struct Range {
        uint64_t offset;
        uint64_t count;
    };
    for (const Range r : {Range{0, 5}, Range{1, 3}, Range{4, 1}, Range{5, 0}}) {
        SCOPED_TRACE("offset " + std::to_string(r.offset) + ", count " + std::to_string(r.count));
        const auto first = static_cast<std::ptrdiff_t>(r.offset);
        const auto last = static_cast<std::ptrdiff_t>(r.offset + r.count);

        std::vector<int64_t> idsRead(r.count);
        frame->read(0, r.offset, r.count, idsRead.data());
        EXPECT_EQ(idsRead, std::vector<int64_t>(writtenIds.begin() + first, writtenIds.begin() + last));

        std::vector<double> xRead(r.count);
        frame->read(1, r.offset, r.count, xRead.data());
        EXPECT_EQ(xRead, std::vector<double>(writtenX.begin() + first, writtenX.begin() + last));

        std::vector<std::string> labelsRead(r.count);
        frame->read(2, r.offset, r.count, labelsRead.data());
        EXPECT_EQ(labelsRead, std::vector<std::string>(writtenLabels.begin() + first, writtenLabels.begin() + last));

        std::vector<uint8_t> rgbRead(3 * r.count);
        frame->read(3, r.offset, r.count, rgbRead.data());
        EXPECT_EQ(rgbRead, std::vector<uint8_t>(writtenRgb.begin() + 3 * first, writtenRgb.begin() + 3 * last));
    }

    // A partial write touches only its rows.
    const std::vector<std::string> patch = {"B", "C"};
    frame->write(2, 1, 2, patch.data());
    std::vector<std::string> labelsRead(5);
    frame->read(2, 0, 5, labelsRead.data());
    EXPECT_EQ(labelsRead, (std::vector<std::string>{"alpha", "B", "C", std::string(100, 'z'), "omega"}));
    const double x = 7;
    frame->write(1, 4, 1, &x);
    std::vector<double> xRead(5);
    frame->read(1, 0, 5, xRead.data());
    EXPECT_EQ(xRead, (std::vector<double>{0.5, -1e300, 3.25, 1e-10, 7}));
}

TEST(DataFrameTest, UnknownTypedColumnsHoldTexts)
{
    auto frame = DataFrameViewFactory::allocate({1, 2}, {"any"}, {DataType()});
    const std::vector<std::string> texts = {"one", "two"};
    frame->write(0, 0, 2, texts.data());
    std::vector<std::string> read(2);
    frame->read(0, 0, 2, read.data());
    EXPECT_EQ(read, texts);
}

TEST(DataFrameTest, UnitsExtensionOnlyWithUnits)
{
    auto withUnits = makeFrame({"", "nm", "", "rgb"});
    auto units = withUnits->extension<ColumnUnitExtension>();
    EXPECT_EQ(units->unit(1), "nm");
    EXPECT_EQ(withUnits->unit(3), "rgb");
    EXPECT_EQ(withUnits->unit(0), "");
    units->setUnit(1, "um");
    EXPECT_EQ(withUnits->unit(1), "um");
    EXPECT_THROW(units->unit(4), InvalidArgument);
    EXPECT_THROW(units->setUnit(4, "s"), InvalidArgument);
    EXPECT_EQ(errorOf([&] { withUnits->extension(ColumnUnitExtension::EXTENSION_ID + 100); }),
              "<not InvalidArgument> Extension 102 not found");
    EXPECT_EQ(withUnits->viewOrigin(), nullptr);

    auto withoutUnits = makeFrame();
    EXPECT_EQ(errorOf([&] { withoutUnits->extension(ColumnUnitExtension::EXTENSION_ID); }),
              "<not InvalidArgument> Extension 2 not found");
    EXPECT_THROW(withoutUnits->unit(0), Error);
}

TEST(DataFrameTest, RejectsInconsistentAllocations)
{
    using Types = std::vector<DataType>;
    using Names = std::vector<std::string>;
    const DataType i32 = DataTypeId::INT32;
    struct Case {
        const char* what;
        std::function<void()> allocate;
    };
    const std::vector<Case> cases = {
        {"shape of one entry", [&] { DataFrameViewFactory::allocate({2}, {"a", "b"}, {i32, i32}); }},
        {"shape of three entries", [&] { DataFrameViewFactory::allocate({2, 3, 1}, {"a", "b"}, {i32, i32}); }},
        {"too few names", [&] { DataFrameViewFactory::allocate({2, 3}, Names{"a"}, {i32, i32}); }},
        {"too many types", [&] { DataFrameViewFactory::allocate({2, 3}, {"a", "b"}, Types{i32, i32, i32}); }},
        {"too few units", [&] { DataFrameViewFactory::allocate({2, 3}, {"a", "b"}, {i32, i32}, {"m"}); }},
        {"overflowing size",
         [&] {
             DataFrameViewFactory::allocate({1, std::numeric_limits<uint64_t>::max() / 2}, Names{"a"},
                                            Types{DataTypeId::VEC4_DOUBLE});
         }},
        {"overflowing text count",
         [&] {
             DataFrameViewFactory::allocate({1, std::numeric_limits<uint64_t>::max()}, Names{"a"},
                                            Types{DataTypeId::UTF8_STRING});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = errorOf(c.allocate);
        EXPECT_EQ(message.find('<'), std::string::npos) << message;
    }
    EXPECT_EQ(errorOf([&] { DataFrameViewFactory::allocate({2, 3}, Names{"a"}, {i32, i32}); }),
              "A data frame of 2 columns needs 2 column names, not 1");

    auto empty = DataFrameViewFactory::allocate({0, 0}, {}, {});
    EXPECT_EQ(empty->shape(), (VectorXu64{0, 0}));
}

TEST(DataFrameTest, RejectsOutOfRangeAccess)
{
    auto frame = makeFrame();
    std::vector<int64_t> buffer(8);
    struct Case {
        const char* what;
        std::function<void()> access;
    };
    const std::vector<Case> cases = {
        {"read past the last row", [&] { frame->read(0, 3, 3, buffer.data()); }},
        {"read from beyond the rows", [&] { frame->read(0, 6, 0, buffer.data()); }},
        {"read with wrapping count",
         [&] { frame->read(0, 2, std::numeric_limits<uint64_t>::max(), buffer.data()); }},
        {"read of a missing column", [&] { frame->read(4, 0, 1, buffer.data()); }},
        {"read into no buffer", [&] { frame->read(0, 0, 1, nullptr); }},
        {"write past the last row", [&] { frame->write(1, 5, 1, buffer.data()); }},
        {"write of a missing column", [&] { frame->write(9, 0, 1, buffer.data()); }},
        {"write from no buffer", [&] { frame->write(0, 0, 1, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = errorOf(c.access);
        EXPECT_EQ(message.find('<'), std::string::npos) << message;
    }
    EXPECT_EQ(errorOf([&] { frame->read(0, 3, 3, buffer.data()); }),
              "Rows 3 to 6 out of range for a data frame of 5 rows");
}
