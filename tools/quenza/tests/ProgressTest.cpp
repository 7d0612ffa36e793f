// The progress bar: its line, when it is drawn and erased, and the pass-through views that
// feed it from what each writer reads.

#include "CliTestSupport.h"
#include "CountingViews.h"
#include "ProgressMeter.h"

#include <quenza/host/ViewDescription.h>

#include <dravik/DataFrameViewFactory.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/Providers.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>

namespace quenza::cli::test {
namespace {

constexpr uint64_t MIB = uint64_t(1) << 20;

TEST(ProgressMeter, LineShowsBarAmountsRateAndTimeLeft)
{
    struct Case {
        std::string label;
        uint64_t done;
        uint64_t total;
        double seconds;
        ProgressMeter::Unit unit;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"out.km", 8 * MIB, 16 * MIB, 1.0, ProgressMeter::Unit::BYTES,
         {"out.km ", "[#######.......]  50% 8.00 MiB/16.0 MiB 8.00 MiB/s 0:01 left"}},
        {"out.km", 0, 16 * MIB, 0.0, ProgressMeter::Unit::BYTES, {"[..............]   0% 0 B/16.0 MiB"}},
        // A writer that reads some elements twice never goes past the end.
        {"twice.vxt", 40 * MIB, 16 * MIB, 2.0, ProgressMeter::Unit::BYTES,
         {"[##############] 100% 16.0 MiB/16.0 MiB", "0:00 left"}},
        {"table.csv", 25000, 100000, 0.5, ProgressMeter::Unit::CELLS,
         {"[###...........]  25% 25k/100k cells 50k cells/s 0:02 left"}},
        {"a-very-long-name-of-an-output-file.vxt", 1, 4, 1.0, ProgressMeter::Unit::BYTES,
         {"...tput-file.vxt [", " 25%"}},
        {"empty.raw", 0, 0, 1.0, ProgressMeter::Unit::BYTES, {"[##############] 100% 0 B/0 B"}},
        {"slow.km", 1, 1ull << 40, 1e6, ProgressMeter::Unit::BYTES, {"slow.km ", "0% 1 B/1.00 TiB", "99:59:59+ left"}},
    };
    for (const Case& c : cases) {
        const std::string line = ProgressMeter::line(c.label, c.done, c.total, c.seconds, c.unit);
        for (const std::string& part : c.parts) {
            EXPECT_TRUE(contains(line, part)) << "'" << part << "' not in '" << line << "'";
        }
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_LT(line.size(), 80u) << "wider than a terminal: " << line;
    }
}

TEST(ProgressMeter, DrawsAtMostTenTimesASecondAndErasesItsLine)
{
    double clock = 100.0;
    std::ostringstream err;
    ProgressMeter meter(err, true, "out.raw", 1000, ProgressMeter::Unit::BYTES, [&] { return clock; });
    meter.advance(100);
    const std::string first = err.str();
    EXPECT_EQ(first.rfind('\r', 0), 0u) << "each drawing starts at the beginning of the line";
    EXPECT_TRUE(contains(first, " 10%")) << first;

    clock += 0.05;
    meter.advance(100);
    EXPECT_EQ(err.str(), first) << "redrawn too soon";

    clock += 0.1;
    meter.advance(300);
    EXPECT_TRUE(contains(err.str(), " 50%")) << err.str();
    EXPECT_EQ(meter.done(), 500u);

    meter.finish();
    const std::string all = err.str();
    const size_t width = ProgressMeter::line("out.raw", 500, 1000, 0.15, ProgressMeter::Unit::BYTES).size();
    EXPECT_EQ(all.substr(all.size() - width - 2), "\r" + std::string(width, ' ') + "\r") << "the line is erased";

    clock += 1;
    meter.advance(500);
    EXPECT_EQ(err.str(), all) << "nothing after finish";
    EXPECT_EQ(meter.done(), 1000u);
}

TEST(ProgressMeter, CountsWithoutDrawingWhenDisabled)
{
    std::ostringstream err;
    {
        ProgressMeter meter(err, false, "out.raw", 1000);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 10000; ++i) {
                    meter.advance(3);
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(meter.done(), 120000u);
    }
    EXPECT_TRUE(err.str().empty()) << err.str();
}

TEST(ProgressMeter, ManyThreadsDrawWholeLines)
{
    std::ostringstream err;
    std::atomic<uint64_t> ticks{0};
    // Every call sees a later time, so that every thread tries to draw.
    ProgressMeter meter(err, true, "vxt", 40000, ProgressMeter::Unit::BYTES,
                        [&] { return static_cast<double>(ticks.fetch_add(1)); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                meter.advance(5);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    meter.finish();
    EXPECT_EQ(meter.done(), 40000u);
    // Lines never interleave: every drawing begins with a carriage return and a label.
    const std::string text = err.str();
    size_t lines = 0;
    for (size_t at = text.find("\rvxt"); at != std::string::npos; at = text.find("\rvxt", at + 1)) {
        ++lines;
    }
    EXPECT_GT(lines, 1u);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '[')), lines) << text.substr(0, 400);
}

std::shared_ptr<dravik::ImageView> countingVolume(const dravik::VectorXu64& shape)
{
    auto image = dravik::ImageViewFactory::allocate(shape, dravik::DataTypeId::UINT16);
    auto* values = static_cast<uint16_t*>(image->buffer());
    std::iota(values, values + image->elementCount(), uint16_t{1});
    image->setProperties(dravik::ImageProperties::fromDataType(dravik::DataTypeId::UINT16));
    return image;
}

TEST(CountingViews, PassReadsThroughAndCountThem)
{
    auto meter = std::make_shared<ProgressMeter>(std::cerr, false, "x", 0);
    auto image = countingVolume({4, 3, 2});
    auto counted = dravik::ImageViewProvider::toImage(countReads(image, meter));
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(readAmount(*counted), 48u);
    EXPECT_TRUE(counted->support(dravik::ImageCapability::READ));
    EXPECT_FALSE(counted->support(dravik::ImageCapability::MEMORY_ACCESS)) << "reads must come through the view";
    EXPECT_FALSE(counted->support(dravik::ImageCapability::WRITE));
    EXPECT_EQ(counted->properties(), image->properties());
    std::vector<uint16_t> row(4);
    counted->readRegion(dravik::RegionXu64({0, 2, 1}, {4, 1, 1}), row.data());
    EXPECT_EQ(row, (std::vector<uint16_t>{21, 22, 23, 24}));
    uint16_t one = 0;
    counted->read({3, 0, 0}, &one);
    EXPECT_EQ(one, 4);
    EXPECT_EQ(meter->done(), 10u);

    auto multi = dravik::MultiImageViewFactory::create({countingVolume({2, 2}), countingVolume({2, 2})});
    auto countedMulti = dravik::MultiImageViewProvider::toMultiImage(countReads(multi, meter));
    ASSERT_NE(countedMulti, nullptr);
    EXPECT_EQ(readAmount(*countedMulti), 16u);
    auto stacked = dravik::ImageViewFactory::stack(countedMulti);
    std::vector<uint16_t> all(8);
    stacked->readRegion(dravik::RegionXu64::fullRegion(stacked->shape()), all.data());
    EXPECT_EQ(all, (std::vector<uint16_t>{1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(meter->done(), 26u);

    auto table = dravik::DataFrameViewFactory::allocate({2, 5}, {"a", "b"},
                                                        {dravik::DataTypeId::INT64, dravik::DataTypeId::DOUBLE});
    auto countedTable = dravik::DataFrameViewProvider::toDataFrame(countReads(table, meter));
    ASSERT_NE(countedTable, nullptr);
    EXPECT_EQ(readAmount(*countedTable), 10u);
    EXPECT_EQ(readUnit(*countedTable), ProgressMeter::Unit::CELLS);
    std::vector<double> cells(5);
    countedTable->read(1, 0, 5, cells.data());
    EXPECT_EQ(meter->done(), 31u);
}

/// Every writer, handed the pass-through view, writes what it would have written from
/// the input itself, and the bar shows the file's name as it goes.
TEST(Progress, ConvertShowsABarOnATerminalOnlyAndWritesTheSameFiles)
{
    TempFolder dir("cli-progress");
    auto volume = countingVolume({40, 30, 20});
    const std::string input = dir / "input.km";
    registry().createWriter(volume, input, "KM").writer->writeAll();
    const std::string expected = host::imageSha256(*volume);

    for (const char* output : {"out.km", "out.im6", "out.vxt", "out.raw"}) {
        struct Mode {
            bool terminal;
            bool quiet;
            bool drawn;
        };
        for (const Mode& mode : {Mode{false, false, false}, Mode{true, true, false}, Mode{true, false, true}}) {
            std::vector<std::string> args{"convert", input, dir / output};
            if (mode.quiet) {
                args.push_back("--quiet");
            }
            const Result r = run(args, mode.terminal);
            ASSERT_EQ(r.status, 0) << output << ": " << r.err;
            if (mode.drawn) {
                EXPECT_TRUE(contains(r.err, std::string("\r") + output)) << output << ": " << r.err;
                EXPECT_TRUE(contains(r.err, "%")) << r.err;
                EXPECT_EQ(r.err.back(), '\r') << "the bar is erased at the end";
            } else {
                EXPECT_TRUE(r.err.empty()) << output << ": " << r.err;
            }
            const std::string written = dir / output;
            std::string sha;
            if (std::string(output) == "out.raw") {
                const auto bytes = fileBytes(written);
                ASSERT_EQ(bytes.size(), volume->byteCount());
                auto view = dravik::ImageViewFactory::allocate(volume->shape(), volume->dataType());
                std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(view->buffer()));
                sha = host::imageSha256(*view);
            } else {
                auto opened = registry().open(written).view;
                auto lod = dravik::LodImageViewProvider::toLod(opened);
                auto image = lod ? lod->resolution(0) : dravik::ImageViewProvider::toImage(opened);
                sha = host::imageSha256(*image);
            }
            EXPECT_EQ(sha, expected) << output;
        }
    }

    // Tables are counted in cells.
    const std::string csv = dir / "table.csv";
    {
        std::ofstream(csv) << "a,b\n1,2.5\n3,4.5\n";
    }
    const Result table = run({"convert", csv, dir / "copy.csv"}, true);
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(contains(table.err, "/4 cells")) << table.err;
}

} // namespace
} // namespace quenza::cli::test
