#include "Cli.h"
#include "Commands.h"
#include "CountingViews.h"
#include "DemoCheck.h"
#include "DemoData.h"
#include "PngFile.h"
#include "PreviewRenderer.h"
#include "TextFormat.h"

#include <quenza/host/ViewDescription.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/Providers.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace quenza::cli {

namespace {

namespace fs = std::filesystem;
using Option = std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>>;

constexpr uint64_t MAX_DEMO_VOXELS = uint64_t(1) << 30;
const char* const PASSED = "\xE2\x9C\x93";
const char* const FAILED = "\xE2\x9C\x97";

/// One file the demo writes and reads back.
struct Job {
    std::string file;
    std::string format;
    std::vector<Option> options;
    std::shared_ptr<dravik::View> source;
    ImageTraits traits;
    /// RAW files have no reader: they are read back as bytes of the known shape and type.
    bool bare = false;
    bool unitsInNames = false;
};

struct Row {
    std::string file;
    std::string format;
    std::string options;
    uint64_t fileBytes = 0;
    std::string ratio = "-";
    std::string writeRate = "-";
    std::string readRate = "-";
    std::string check;
    bool passed = false;
};

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string rateText(double bytes, double seconds)
{
    return seconds > 0 ? byteText(bytes / seconds) + "/s" : "-";
}

std::string optionsText(const std::vector<Option>& options)
{
    std::vector<std::string> parts;
    for (const auto& [key, value] : options) {
        const std::string text = value->isString()
            ? dravik::VariantDataValueConverter::toString(*value)
            : fmt::format("{}", fmt::join(dravik::VariantDataValueConverter::toStringArray(*value), ","));
        parts.push_back(key + "=" + (text.empty() ? "\"\"" : text));
    }
    return parts.empty() ? "-" : fmt::format("{}", fmt::join(parts, " "));
}

Option option(const std::string& key, const std::string& text)
{
    return {key, dravik::VariantDataValueFactory::create(text)};
}

template <typename T>
Option option(const std::string& key, std::vector<T> numbers)
{
    return {key, dravik::VariantDataValueFactory::create(numbers)};
}

std::map<fs::path, std::pair<fs::file_time_type, uintmax_t>> snapshot(const fs::path& dir)
{
    std::map<fs::path, std::pair<fs::file_time_type, uintmax_t>> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.is_regular_file(ec)) {
            files[entry.path()] = {entry.last_write_time(ec), entry.file_size(ec)};
        }
    }
    return files;
}

/// Bytes of the files a write created or changed: a header and its data file count together.
uint64_t writtenBytes(const fs::path& dir, const std::map<fs::path, std::pair<fs::file_time_type, uintmax_t>>& before)
{
    uint64_t bytes = 0;
    for (const auto& [path, stamp] : snapshot(dir)) {
        const auto found = before.find(path);
        if (found == before.end() || found->second != stamp) {
            bytes += stamp.second;
        }
    }
    return bytes;
}

std::vector<Job> jobsFor(const DemoDataset& data)
{
    ImageTraits km;
    km.origin = km.spacing = km.unit = km.interpretation = true;
    km.metadataSection = "KM";
    ImageTraits tarnis;
    tarnis.origin = tarnis.spacing = tarnis.unit = tarnis.interpretation = true;
    tarnis.metadataSection = "TARNIS";
    tarnis.textChildrenOnly = true;
    ImageTraits vxt;
    vxt.origin = vxt.spacing = vxt.directions = true;
    const ImageTraits bare;

    std::vector<Job> jobs;
    const auto volumeJobs = [&](const std::string& stem, const std::shared_ptr<dravik::ImageView>& image) {
        jobs.push_back({stem + "-raw.km", "KM", {option("compressor", "RAW")}, image, km});
        jobs.push_back({stem + "-rle.km", "KM", {option("compressor", "RLE")}, image, km});
        jobs.push_back({stem + "-zip.km", "KM", {option("compressor", "ZIP")}, image, km});
        jobs.push_back({stem + ".im6", "TARNIS_6", {}, image, tarnis});
        jobs.push_back({stem + "-gzip.vxt", "VXT",
                        {option("compressor", "GzipDataCompressor"), option<int64_t>("tileSize", {64, 64, 64})},
                        image, vxt});
        jobs.push_back({stem + ".vxt", "VXT", {option("compressor", ""), option<int64_t>("tileSize", {64, 64, 64})},
                        image, vxt});
        jobs.push_back({stem + ".raw", "RAW", {}, image, bare, true});
    };
    volumeJobs("grey", data.grey);
    volumeJobs("labels", data.labels);

    // The 2-D picture reaches the writers of volumes as a volume of one slice.
    const auto rgbVolume = dravik::ImageViewFactory::stack(dravik::MultiImageViewFactory::create({data.rgb}),
                                                           dravik::ImageTypeDimension::SLICE);
    jobs.push_back({"rgb-raw.km", "KM", {option("compressor", "RAW")}, rgbVolume, km});
    jobs.push_back({"rgb-rle.km", "KM", {option("compressor", "RLE")}, rgbVolume, km});
    jobs.push_back({"rgb-zip.km", "KM", {option("compressor", "ZIP")}, rgbVolume, km});
    jobs.push_back({"rgb.im6", "TARNIS_6", {}, data.rgb, tarnis});
    jobs.push_back({"rgb.raw", "RAW", {}, data.rgb, bare, true});

    Job csv{"measurements.csv", "CSV", {}, data.table, bare};
    csv.unitsInNames = true;
    jobs.push_back(csv);
    Job semicolon{"measurements-semicolon.csv", "CSV", {option("delimiter", ";"), option<int64_t>("display_units", {0})},
                  data.table, bare};
    jobs.push_back(semicolon);
    return jobs;
}

/// The image of what a reader returned: the full resolution of a multi-resolution view.
std::shared_ptr<dravik::ImageView> imageOf(const std::shared_ptr<dravik::View>& view)
{
    if (auto lod = dravik::LodImageViewProvider::toLod(view)) {
        return lod->resolution(lod->levelRange()[0]);
    }
    auto image = dravik::ImageViewProvider::toImage(view);
    if (!image) {
        throw dravik::Error(fmt::format("the reader returned a {} view, not an image", host::viewKind(*view)));
    }
    return image;
}

/// A format that keeps colours as planes gives them back as a CHANNEL axis: fold it into
/// the elements again when the written image had colour elements.
std::shared_ptr<dravik::ImageView> asWritten(std::shared_ptr<dravik::ImageView> read, const dravik::ImageView& written)
{
    const auto props = read->properties();
    if (!written.dataType().isScalar() && read->dataType().isScalar() && props
        && props->imageInfo().axesInterpretation().has(dravik::ImageTypeDimension::CHANNEL)) {
        return dravik::ImageViewFactory::assembleChannels(read);
    }
    return read;
}

Row runJob(const Job& job, const fs::path& dir, const host::PluginRegistry& registry, bool progress,
           const Console& console)
{
    Row row;
    row.file = job.file;
    row.format = job.format;
    row.options = optionsText(job.options);
    const std::string path = (dir / job.file).string();
    const uint64_t sourceBytes = readAmount(*job.source);
    const bool table = dravik::DataFrameViewProvider::isDataFrame(job.source);

    const auto before = snapshot(dir);
    auto meter = std::make_shared<ProgressMeter>(console.err, progress, job.file, sourceBytes,
                                                 readUnit(*job.source));
    const double writeStart = now();
    {
        auto created = registry.createWriter(progress ? countReads(job.source, meter) : job.source, path, job.format);
        for (const auto& [key, value] : job.options) {
            created.writer->setOption(key, value);
        }
        created.writer->writeAll();
    }
    const double writeSeconds = now() - writeStart;
    meter->finish();
    row.fileBytes = writtenBytes(dir, before);
    const double measured = table ? static_cast<double>(row.fileBytes) : static_cast<double>(sourceBytes);
    row.writeRate = rateText(measured, writeSeconds);
    if (!table && row.fileBytes > 0) {
        row.ratio = fmt::format("{:.2f}", static_cast<double>(sourceBytes) / static_cast<double>(row.fileBytes));
    }

    const double readStart = now();
    if (table) {
        auto read = dravik::DataFrameViewProvider::toDataFrame(registry.open(path).view);
        if (!read) {
            throw dravik::Error("the reader returned no table");
        }
        auto written = dravik::DataFrameViewProvider::toDataFrame(job.source);
        row.readRate = rateText(measured, now() - readStart);
        row.check = firstTableDifference(*written, *read, job.unitsInNames);
    } else {
        auto written = dravik::ImageViewProvider::toImage(job.source);
        std::shared_ptr<dravik::ImageView> read;
        if (job.bare) {
            read = dravik::ImageViewFactory::fromRandomAccess(dravik::RandomAccessFactory::openFileRead(path),
                                                              written->shape(), written->dataType());
            if (!read) {
                throw dravik::Error("the file holds fewer bytes than the image");
            }
        } else {
            read = asWritten(imageOf(registry.open(path).view), *written);
        }
        std::vector<uint8_t> bytes;
        if (read->shape() == written->shape() && read->dataType() == written->dataType()) {
            bytes.resize(read->byteCount());
            read->readRegion(dravik::RegionXu64::fullRegion(read->shape()), bytes.data());
        }
        row.readRate = rateText(measured, now() - readStart);
        row.check = firstImageDifference(*written, *read, bytes.data(), job.traits);
    }
    row.passed = row.check.empty();
    return row;
}

struct PreviewJob {
    std::string picture;
    std::string from;
    PreviewOptions options;
};

std::vector<PreviewJob> previewJobs()
{
    PreviewOptions contrast;
    contrast.autoContrast = true;
    PreviewOptions mip = contrast;
    mip.mip = true;
    mip.axis = 1;
    return {{"grey.png", "grey-zip.km", contrast},
            {"grey-mip.png", "grey-gzip.vxt", mip},
            {"labels.png", "labels-rle.km", {}},
            {"rgb.png", "rgb.im6", {}}};
}

void printTable(std::ostream& out, const std::vector<Row>& rows)
{
    const std::vector<std::string> heads{"file", "format", "options", "size", "ratio", "write", "read", "check"};
    std::vector<std::vector<std::string>> cells;
    for (const Row& row : rows) {
        cells.push_back({row.file, row.format, row.options, byteText(static_cast<double>(row.fileBytes)), row.ratio,
                         row.writeRate, row.readRate,
                         row.passed ? std::string(PASSED) : std::string(FAILED) + " " + row.check});
    }
    std::vector<size_t> widths;
    for (size_t c = 0; c + 1 < heads.size(); ++c) {
        size_t width = heads[c].size();
        for (const auto& line : cells) {
            width = std::max(width, line[c].size());
        }
        widths.push_back(width);
    }
    // Numbers are aligned to the right, words to the left.
    const std::set<size_t> numeric{3, 4, 5, 6};
    const auto print = [&](const std::vector<std::string>& line) {
        std::string text;
        for (size_t c = 0; c < widths.size(); ++c) {
            text += numeric.count(c) ? fmt::format("{:>{}}  ", line[c], widths[c])
                                     : fmt::format("{:<{}}  ", line[c], widths[c]);
        }
        fmt::print(out, "{}{}\n", text, line.back());
    };
    print(heads);
    for (const auto& line : cells) {
        print(line);
    }
}

fs::path newDemoFolder()
{
    for (int n = 1; n < 1000; ++n) {
        const fs::path candidate = n == 1 ? fs::path("quenza-demo") : fs::path(fmt::format("quenza-demo-{}", n));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            return candidate;
        }
    }
    throw dravik::Error("cannot create a new folder quenza-demo-N in the current directory; name one as DIR");
}

dravik::Vector3u64 parseSize(const std::string& text)
{
    std::vector<uint64_t> sizes;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        sizes.push_back(parseCount("--size", item));
    }
    if (sizes.size() != 3 || text.back() == ',') {
        throw UsageError(fmt::format("option --size needs X,Y,Z such as 256,256,128, not '{}'", text));
    }
    for (uint64_t s : sizes) {
        if (s < MIN_DEMO_SIZE) {
            throw UsageError(fmt::format("option --size needs at least {} along each axis", MIN_DEMO_SIZE));
        }
    }
    if (sizes[0] > MAX_DEMO_VOXELS / sizes[1] || sizes[0] * sizes[1] > MAX_DEMO_VOXELS / sizes[2]) {
        throw UsageError(fmt::format("option --size asks for more than {} voxels", MAX_DEMO_VOXELS));
    }
    return {sizes[0], sizes[1], sizes[2]};
}

/// The formats of the plug-ins found that nothing can write, so the demo cannot show them.
std::vector<std::string> readOnlyFormats(const host::PluginRegistry& registry)
{
    std::vector<std::string> formats;
    for (const auto& library : registry.libraries()) {
        if (library.extractor == nullptr) {
            continue;
        }
        for (const std::string& format : library.extractor->supportedFormats()) {
            if (registry.writerOf(format) == nullptr) {
                formats.push_back(format);
            }
        }
    }
    return formats;
}

int runDemo(const Arguments& args, const Console& console)
{
    if (args.positionals().size() > 1) {
        throw UsageError("only one DIR is accepted");
    }
    const dravik::Vector3u64 size = args.has("--size") ? parseSize(args.value("--size"))
                                                       : dravik::Vector3u64{256, 256, 128};
    const auto registry = makeRegistry(args);
    fs::path dir;
    if (args.positionals().empty()) {
        dir = newDemoFolder();
    } else {
        dir = args.positionals().front();
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir)) {
            throw dravik::Error(fmt::format("{}: cannot create the folder{}", dir.string(),
                                            ec ? ": " + ec.message() : ""));
        }
    }

    const double start = now();
    const DemoDataset data = makeDemoDataset(size);
    fmt::print(console.out,
               "Synthetic data made in {:.2f} s: grey levels {} {} ({}), their labels ({} spheres), a colour picture "
               "{}, a table of {} rows\n\n",
               now() - start, shapeText(data.grey->shape()), data.grey->dataType().toString(),
               byteText(static_cast<double>(data.grey->byteCount())), data.table->shape()[1],
               shapeText(data.rgb->shape()), data.table->shape()[1]);
    console.out.flush();

    const bool progress = progressWanted(args, console);
    std::vector<Row> rows;
    for (const Job& job : jobsFor(data)) {
        try {
            rows.push_back(runJob(job, dir, *registry, progress, console));
        } catch (const std::exception& e) {
            Row failed;
            failed.file = job.file;
            failed.format = job.format;
            failed.options = optionsText(job.options);
            failed.check = e.what();
            rows.push_back(failed);
        }
    }
    printTable(console.out, rows);

    size_t failures = static_cast<size_t>(std::count_if(rows.begin(), rows.end(), [](const Row& r) { return !r.passed; }));
    fmt::print(console.out, "\nPreviews:\n");
    for (const PreviewJob& preview : previewJobs()) {
        try {
            const auto opened = registry->open((dir / preview.from).string());
            const Picture picture = renderPreview(imageOf(opened.view), preview.options);
            writePng((dir / preview.picture).string(), picture);
            fmt::print(console.out, "  {:<13} {}: {}\n", preview.picture, preview.from, picture.description);
        } catch (const std::exception& e) {
            ++failures;
            fmt::print(console.out, "  {:<13} {} {}: {}\n", preview.picture, FAILED, preview.from, e.what());
        }
    }

    const auto readOnly = readOnlyFormats(*registry);
    if (!readOnly.empty()) {
        fmt::print(console.out, "\nRead only, so not in the demo: {}\n", fmt::join(readOnly, ", "));
    }
    if (failures == 0) {
        fmt::print(console.out, "\nAll {} files read back as written, in {:.1f} s.\n", rows.size(), now() - start);
    } else {
        fmt::print(console.out, "\n{} of {} checks failed.\n", failures, rows.size() + previewJobs().size());
    }
    std::error_code ec;
    const fs::path shown = fs::absolute(dir, ec);
    fmt::print(console.out, "Demo folder: {}\n", (ec ? dir : shown).lexically_normal().string());
    return failures == 0 ? EXIT_OK : EXIT_FAILED;
}

} // namespace

const Command& demoCommand()
{
    static const Command command{
        "demo", "write synthetic data with every writer, read it back and compare",
        "Usage: quenza demo [DIR] [--size X,Y,Z] [--quiet]\n\n"
        "Makes a dataset in memory (a 16-bit grey-level volume of spheres, its label volume, a\n"
        "colour picture and a table of per-label measurements), writes it with every writer that\n"
        "can take it, reads every file back through the readers and compares voxels, calibration\n"
        "and metadata as far as each format keeps them. Prints one line per file: format and\n"
        "options, size, compression ratio, write and read throughput, and a check mark or the\n"
        "first difference; then writes PNG previews of some of the files. The exit status is 1\n"
        "when any check fails.\n\n"
        "  DIR            the folder to write in (default: a new folder quenza-demo-N here)\n"
        "  --size X,Y,Z   the volume's size (default 256,256,128)\n"
        "  --quiet        no progress bar (it is drawn only when standard error is a terminal)\n",
        Arguments::Syntax{{"--quiet"}, {"--size"}, {}}, &runDemo};
    return command;
}

} // namespace quenza::cli
