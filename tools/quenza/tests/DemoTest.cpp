// `quenza demo`: every writer and reader on the synthetic data, and the comparison that
// decides each check mark.

#include "CliTestSupport.h"
#include "DemoCheck.h"
#include "DemoData.h"

#include <dravik/ColumnUnitExtension.h>
#include <dravik/DataFrameViewFactory.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValueFactory.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <numeric>
#include <regex>

namespace quenza::cli::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> DEMO_FILES{
    "grey-raw.km",   "grey-rle.km",   "grey-zip.km",   "grey.im6",   "grey-gzip.vxt",     "grey.vxt",
    "grey.raw",      "labels-raw.km", "labels-rle.km", "labels-zip.km", "labels.im6",     "labels-gzip.vxt",
    "labels.vxt",    "labels.raw",    "rgb-raw.km",    "rgb-rle.km", "rgb-zip.km",         "rgb.im6",
    "rgb.raw",       "measurements.csv", "measurements-semicolon.csv"};

/// The table row of `file` in the demo's output, or "".
std::string rowOf(const std::string& out, const std::string& file)
{
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(file + " ", 0) == 0) {
            return line;
        }
    }
    return "";
}

void expectEveryFilePassed(const Result& r, const fs::path& dir)
{
    for (const std::string& file : DEMO_FILES) {
        const std::string row = rowOf(r.out, file);
        EXPECT_FALSE(row.empty()) << file << " not listed:\n" << r.out;
        EXPECT_TRUE(contains(row, "\xE2\x9C\x93")) << row;
        EXPECT_TRUE(fs::exists(dir / file)) << file;
    }
    for (const char* format : {" KM ", " TARNIS_6 ", " VXT ", " RAW ", " CSV "}) {
        EXPECT_TRUE(contains(r.out, format)) << format;
    }
    for (const char* picture : {"grey.png", "grey-mip.png", "labels.png", "rgb.png"}) {
        EXPECT_TRUE(fs::exists(dir / picture)) << picture;
    }
    EXPECT_TRUE(contains(r.out, "Read only, so not in the demo: DM")) << r.out;
    EXPECT_TRUE(contains(r.out, "All 21 files read back as written")) << r.out;
    EXPECT_TRUE(contains(r.out, "Demo folder: " + fs::canonical(dir).string() + "\n")) << r.out;
}

/// The default size, from a folder of its own, through the program: standard error is a
/// file, so there is no progress bar on it.
TEST(Demo, DefaultRunPassesInANewFolderWithoutProgressOffATerminal)
{
    TempFolder cwd("cli-demo-default");
    const Result r = runShell("cd '" + cwd.path().string() + "' && '" + QUENZA_EXECUTABLE + "' demo");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(contains(r.out, "grey levels 256 x 256 x 128 UINT16 (16.0 MiB)")) << r.out;
    expectEveryFilePassed(r, cwd.path() / "quenza-demo");
    // Sizes and ratios as the files are: the raw sections hold the 16 MiB and a little header.
    const std::string grey = rowOf(r.out, "grey-raw.km");
    EXPECT_TRUE(std::regex_search(grey, std::regex(R"(16\.0 MiB +1\.00 )"))) << grey;
    const std::string labels = rowOf(r.out, "labels-zip.km");
    std::smatch ratio;
    ASSERT_TRUE(std::regex_search(labels, ratio, std::regex(R"(iB +([0-9]+\.[0-9]{2}) )"))) << labels;
    EXPECT_GT(std::stod(ratio[1]), 10.0) << "labels compress well: " << labels;

    // A second run beside the first takes a new folder.
    const Result again = runShell("cd '" + cwd.path().string() + "' && '" + QUENZA_EXECUTABLE
                                  + "' demo --size 16,16,16");
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_TRUE(fs::exists(cwd.path() / "quenza-demo-2" / "grey.im6"));
}

TEST(Demo, DrawsProgressForEveryFileOnATerminal)
{
    TempFolder dir("cli-demo-small");
    const Result r = run({"demo", dir.path().string(), "--size", "40,24,20"}, true);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    expectEveryFilePassed(r, dir.path());
    for (const std::string& file : DEMO_FILES) {
        // Long names keep their end.
        const std::string shown = file.size() <= 16 ? file + " " : file.substr(file.size() - 12) + " [";
        EXPECT_TRUE(contains(r.err, shown)) << file << " drew no bar";
    }
    const Result quiet = run({"demo", dir.path().string(), "--size", "16,16,16", "--quiet"}, true);
    ASSERT_EQ(quiet.status, 0) << quiet.out;
    EXPECT_TRUE(quiet.err.empty()) << quiet.err;
}

TEST(Demo, ExitsWithOneWhenAFileFailsAndGoesOnWithTheOthers)
{
    TempFolder dir("cli-demo-failing");
    // A folder where the RAW writer wants its file.
    fs::create_directories(dir.path() / "labels.raw");
    const Result r = run({"demo", dir.path().string(), "--size", "16,16,16"});
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string row = rowOf(r.out, "labels.raw");
    EXPECT_TRUE(contains(row, "\xE2\x9C\x97 ")) << row;
    EXPECT_TRUE(contains(rowOf(r.out, "labels.vxt"), "\xE2\x9C\x93")) << r.out;
    EXPECT_TRUE(contains(rowOf(r.out, "measurements.csv"), "\xE2\x9C\x93")) << r.out;
    EXPECT_TRUE(contains(r.out, "1 of 25 checks failed.")) << r.out;
}

TEST(DemoData, IsTheSameForTheSameSize)
{
    const DemoDataset a = makeDemoDataset({40, 32, 24});
    const DemoDataset b = makeDemoDataset({40, 32, 24});
    ASSERT_EQ(a.grey->byteCount(), 40u * 32 * 24 * 2);
    EXPECT_EQ(std::memcmp(a.grey->bufferReadOnly(), b.grey->bufferReadOnly(), a.grey->byteCount()), 0);
    EXPECT_EQ(std::memcmp(a.labels->bufferReadOnly(), b.labels->bufferReadOnly(), a.labels->byteCount()), 0);
    EXPECT_EQ(a.rgb->shape(), (dravik::VectorXu64{40, 32}));
    EXPECT_EQ(a.labels->properties()->imageInfo().interpretation(), dravik::ImageInterpretation::LABEL);

    // The table measures the labels: as many rows as labels, voxels adding up.
    const auto* labels = static_cast<const uint16_t*>(a.labels->bufferReadOnly());
    const uint16_t highest = *std::max_element(labels, labels + a.labels->elementCount());
    ASSERT_GT(highest, 0);
    ASSERT_EQ(a.table->shape()[1], highest);
    std::vector<int64_t> voxels(highest);
    a.table->read(2, 0, highest, voxels.data());
    const auto labelled = static_cast<int64_t>(
        std::count_if(labels, labels + a.labels->elementCount(), [](uint16_t l) { return l != 0; }));
    EXPECT_EQ(std::accumulate(voxels.begin(), voxels.end(), int64_t{0}), labelled);
    EXPECT_THROW(makeDemoDataset({8, 64, 64}), dravik::InvalidArgument);
}

std::shared_ptr<dravik::ImageView> sampleImage()
{
    auto image = dravik::ImageViewFactory::allocate({4, 3, 2}, dravik::DataTypeId::UINT16);
    auto* v = static_cast<uint16_t*>(image->buffer());
    std::iota(v, v + 24, uint16_t{5});
    auto props = dravik::ImageProperties::fromDataType(dravik::DataTypeId::UINT16);
    props->calibration().setOrigin({1, 2, 3});
    props->calibration().setSpacing({0.5, 0.5, 2});
    props->calibration().setUnit("mm");
    image->setProperties(props);
    auto root = dravik::MetadataNodeFactory::create("root");
    dravik::MetadataNodeHelper::createPath(root, "KM/Name", dravik::VariantDataValueFactory::create("bead"));
    dravik::MetadataNodeHelper::createPath(root, "KM/Deep/Count", dravik::VariantDataValueFactory::create(int32_t{3}));
    image->setMetadata(root);
    return image;
}

/// A copy of sampleImage with its own buffer, properties and metadata, changed by `change`.
std::shared_ptr<dravik::ImageView> changed(const std::function<void(dravik::ImageView&, dravik::ImageProperties&,
                                                                    dravik::MetadataNode&)>& change)
{
    auto source = sampleImage();
    auto copy = dravik::ImageViewFactory::allocate(source->shape(), source->dataType());
    std::memcpy(copy->buffer(), source->bufferReadOnly(), source->byteCount());
    auto props = source->properties()->clone();
    auto md = source->metadata()->clone();
    change(*copy, *props, *md);
    copy->setProperties(props);
    copy->setMetadata(md);
    return copy;
}

TEST(DemoCheck, NamesTheFirstDifferenceOfAnImage)
{
    ImageTraits all;
    all.origin = all.spacing = all.directions = all.unit = all.interpretation = true;
    all.metadataSection = "KM";
    ImageTraits textOnly = all;
    textOnly.textChildrenOnly = true;
    const ImageTraits nothing;
    using Change = std::function<void(dravik::ImageView&, dravik::ImageProperties&, dravik::MetadataNode&)>;
    struct Case {
        std::string what;
        Change change;
        ImageTraits traits;
        std::string difference;
    };
    const Case cases[] = {
        {"identical", [](auto&, auto&, auto&) {}, all, ""},
        {"element", [](dravik::ImageView& i, auto&, auto&) { static_cast<uint16_t*>(i.buffer())[13] = 99; }, all,
         "element (1, 0, 1): wrote 18, read 99"},
        {"element, nothing else kept", [](dravik::ImageView& i, auto&, auto&) {
             static_cast<uint16_t*>(i.buffer())[0] = 1; }, nothing, "element (0, 0, 0): wrote 5, read 1"},
        {"origin", [](auto&, dravik::ImageProperties& p, auto&) { p.calibration().setOrigin({1, 2, 4}); }, all,
         "origin (1, 2, 3) read back as (1, 2, 4)"},
        {"origin not kept", [](auto&, dravik::ImageProperties& p, auto&) { p.calibration().setOrigin({0, 0, 0}); },
         nothing, ""},
        {"origin within rounding", [](auto&, dravik::ImageProperties& p, auto&) {
             p.calibration().setOrigin({1, 2, 3 + 1e-12}); }, all, ""},
        {"spacing", [](auto&, dravik::ImageProperties& p, auto&) { p.calibration().setSpacing({0.5, 0.25, 2}); }, all,
         "spacing (0.5, 0.5, 2) read back as (0.5, 0.25, 2)"},
        {"directions", [](auto&, dravik::ImageProperties& p, auto&) {
             p.calibration().setDirections(dravik::SpatialDirections({0, 1, 0}, {-1, 0, 0})); }, all,
         "direction 0 (1, 0, 0) read back as (0, 1, 0)"},
        {"unit", [](auto&, dravik::ImageProperties& p, auto&) { p.calibration().setUnit("um"); }, all,
         "unit \"mm\" read back as \"um\""},
        {"interpretation", [](auto&, dravik::ImageProperties& p, auto&) {
             p.imageInfo().setInterpretation(dravik::ImageInterpretation::LABEL); }, all,
         "interpretation GRAYSCALE read back as LABEL"},
        {"metadata value", [](auto&, auto&, dravik::MetadataNode& m) {
             m.child("KM")->child("Name")->setValue(dravik::VariantDataValueFactory::create("ball")); }, all,
         "metadata KM/Name = \"bead\" read back as \"ball\""},
        {"deep metadata", [](auto&, auto&, dravik::MetadataNode& m) {
             m.child("KM")->child("Deep")->removeChild("Count"); }, all, "metadata KM/Deep/Count missing"},
        {"numbers of another type", [](auto&, auto&, dravik::MetadataNode& m) {
             m.child("KM")->child("Deep")->child("Count")->setValue(dravik::VariantDataValueFactory::create(3.0)); },
         all, ""},
        {"only text children kept", [](auto&, auto&, dravik::MetadataNode& m) {
             m.child("KM")->removeChild("Deep"); }, textOnly, ""},
        {"section", [](auto&, auto&, dravik::MetadataNode& m) { m.removeChild("KM"); }, all, "metadata KM missing"},
    };
    for (const Case& c : cases) {
        auto written = sampleImage();
        auto read = changed(c.change);
        EXPECT_EQ(firstImageDifference(*written, *read, read->bufferReadOnly(), c.traits), c.difference) << c.what;
    }

    auto written = sampleImage();
    auto flat = dravik::ImageViewFactory::allocate({4, 6}, dravik::DataTypeId::UINT16);
    EXPECT_EQ(firstImageDifference(*written, *flat, flat->bufferReadOnly(), all), "shape 4 x 3 x 2 read back as 4 x 6");
    auto wider = dravik::ImageViewFactory::allocate({4, 3, 2}, dravik::DataTypeId::UINT32);
    EXPECT_EQ(firstImageDifference(*written, *wider, wider->bufferReadOnly(), all), "type UINT16 read back as UINT32");
    auto bare = dravik::ImageViewFactory::fromImageView(written, nullptr, nullptr);
    EXPECT_EQ(firstImageDifference(*written, *bare, written->bufferReadOnly(), all), "no image properties read back");
    EXPECT_EQ(firstImageDifference(*written, *bare, written->bufferReadOnly(), nothing), "");
}

std::shared_ptr<dravik::DataFrameView> sampleTable(double mean, const std::string& name, bool withUnits = true)
{
    auto table = dravik::DataFrameViewFactory::allocate(
        {3, 2}, {"label", "name", "mean"},
        {dravik::DataTypeId::INT32, dravik::DataTypeId::UTF8_STRING, dravik::DataTypeId::DOUBLE},
        withUnits ? std::vector<std::string>{"", "", "mm"} : std::vector<std::string>{});
    const int32_t labels[] = {1, 2};
    const std::string names[] = {"one", name};
    const double means[] = {1.5, mean};
    table->write(0, 0, 2, labels);
    table->write(1, 0, 2, names);
    table->write(2, 0, 2, means);
    return table;
}

TEST(DemoCheck, NamesTheFirstDifferenceOfATable)
{
    auto written = sampleTable(2.25, "two");
    // As a CSV file gives it back: the units in the names, whole numbers as INT64.
    auto readAs = [](double mean, const std::string& name, const std::string& meanColumn) {
        auto table = dravik::DataFrameViewFactory::allocate(
            {3, 2}, {"label", "name", meanColumn},
            {dravik::DataTypeId::INT64, dravik::DataTypeId::UTF8_STRING, dravik::DataTypeId::DOUBLE});
        const int64_t labels[] = {1, 2};
        const std::string names[] = {"one", name};
        const double means[] = {1.5, mean};
        table->write(0, 0, 2, labels);
        table->write(1, 0, 2, names);
        table->write(2, 0, 2, means);
        return table;
    };
    struct Case {
        std::shared_ptr<dravik::DataFrameView> read;
        bool unitsInNames;
        std::string difference;
    };
    const Case cases[] = {
        {readAs(2.25, "two", "mean (mm)"), true, ""},
        {readAs(2.25, "two", "mean"), false, ""},
        {readAs(2.2500004, "two", "mean (mm)"), true, ""},
        {readAs(2.25001, "two", "mean (mm)"), true, "row 1, column mean (mm): wrote 2.25, read 2.25001"},
        {readAs(2.25, "too", "mean (mm)"), true, "row 1, column name: wrote \"two\", read \"too\""},
        {readAs(2.25, "two", "mean"), true, "column 2 named \"mean (mm)\" read back as \"mean\""},
        {sampleTable(2.25, "two", false), false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firstTableDifference(*written, *c.read, c.unitsInNames), c.difference);
    }
    auto shorter = dravik::DataFrameViewFactory::allocate({3, 1}, {"label", "name", "mean"},
                                                          {dravik::DataTypeId::INT32, dravik::DataTypeId::UTF8_STRING,
                                                           dravik::DataTypeId::DOUBLE});
    EXPECT_EQ(firstTableDifference(*written, *shorter, false), "table of 3 columns x 2 rows read back as 3 x 1");
    auto numbers = dravik::DataFrameViewFactory::allocate({3, 2}, {"label", "name", "mean"},
                                                          {dravik::DataTypeId::INT32, dravik::DataTypeId::DOUBLE,
                                                           dravik::DataTypeId::DOUBLE});
    const int32_t labels[] = {1, 2};
    numbers->write(0, 0, 2, labels);
    EXPECT_EQ(firstTableDifference(*written, *numbers, false), "column name of UTF8_STRING read back as DOUBLE");
}

} // namespace
} // namespace quenza::cli::test
