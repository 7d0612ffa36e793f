#include "Cli.h"
#include "Commands.h"
#include "CountingViews.h"
#include "OptionValue.h"
#include "TextFormat.h"

#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/Providers.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <sstream>

namespace quenza::cli {

namespace {

namespace fs = std::filesystem;

dravik::VectorXu64 parseNumbers(const std::string& text, const std::string& what)
{
    dravik::VectorXu64 numbers;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        numbers.push_back(parseCount(what, item));
    }
    if (numbers.empty() || text.back() == ',') {
        throw UsageError(fmt::format("option {} needs numbers separated by commas, not '{}'", what, text));
    }
    return numbers;
}

/// "X,Y,Z:SX,SY,SZ", any dimension count.
dravik::RegionXu64 parseRegion(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        throw UsageError(fmt::format("option --region needs ORIGIN:SIZE such as 0,0,0:64,64,8, not '{}'", text));
    }
    const auto origin = parseNumbers(text.substr(0, colon), "--region");
    const auto size = parseNumbers(text.substr(colon + 1), "--region");
    if (origin.size() != size.size()) {
        throw UsageError(fmt::format("option --region has {} origin values and {} sizes", origin.size(), size.size()));
    }
    return dravik::RegionXu64(origin, size);
}

/// The files directly inside the folder of `path`.
std::set<fs::path> filesBeside(const fs::path& path)
{
    std::set<fs::path> files;
    std::error_code ec;
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        files.insert(entry.path());
    }
    return files;
}

std::shared_ptr<dravik::View> selectInput(std::shared_ptr<dravik::View> view, const Arguments& args,
                                          const std::string& input)
{
    if (args.has("--frame")) {
        auto multi = dravik::MultiImageViewProvider::toMultiImage(view);
        if (!multi) {
            throw dravik::Error(fmt::format("{} is not a sequence of frames: --frame does not apply", input));
        }
        view = multi->frame(parseCount("--frame", args.value("--frame")));
    } else if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        // Frames of different shapes cannot become one image: let the user choose.
        bool alike = true;
        std::string frames;
        for (uint64_t i = 0; i < multi->frameCount(); ++i) {
            auto frame = multi->frame(i);
            auto first = multi->frame(0);
            alike = alike && frame->shape() == first->shape() && frame->dataType() == first->dataType();
            frames += fmt::format("\n  frame {}: {} {}", i, shapeText(frame->shape()), frame->dataType().toString());
        }
        if (!alike) {
            throw dravik::Error(fmt::format("{} holds frames of different shapes or types, which cannot be stacked "
                                            "into one image; choose one with --frame N:{}",
                                            input, frames));
        }
    }
    if (auto lod = dravik::LodImageViewProvider::toLod(view)) {
        const auto range = lod->levelRange();
        const int64_t level = args.has("--level") ? static_cast<int64_t>(parseCount("--level", args.value("--level")))
                                                  : range[0];
        view = lod->resolution(level);
    } else if (args.has("--level")) {
        throw dravik::Error(fmt::format("{} has no resolution levels: --level does not apply", input));
    }
    if (args.has("--region")) {
        auto image = dravik::ImageViewProvider::toImage(view);
        if (!image) {
            throw dravik::Error(fmt::format("{} is not an image: --region does not apply", input));
        }
        const auto region = parseRegion(args.value("--region"));
        if (region.dimensionCount() != image->shape().size()) {
            throw dravik::Error(fmt::format("--region has {} dimensions, the image {} ({})", region.dimensionCount(),
                                            image->shape().size(), shapeText(image->shape())));
        }
        view = dravik::ImageViewFactory::extractRegion(image, region);
    }
    return view;
}

int runConvert(const Arguments& args, const Console& console)
{
    if (args.positionals().size() != 2) {
        throw UsageError("INPUT and OUTPUT are needed");
    }
    const std::string& input = args.positionals()[0];
    const std::string& output = args.positionals()[1];
    std::vector<std::pair<std::string, std::shared_ptr<dravik::VariantDataValue>>> options;
    for (const std::string& option : args.values("-o")) {
        options.push_back(parseOption(option));
    }
    // Malformed numbers are usage errors, found before any file is touched.
    for (const char* count : {"--frame", "--level"}) {
        if (args.has(count)) {
            parseCount(count, args.value(count));
        }
    }
    if (args.has("--region")) {
        parseRegion(args.value("--region"));
    }
    const auto registry = makeRegistry(args);
    const auto opened = registry->open(input, args.value("--from"));
    auto view = selectInput(opened.view, args, input);

    const auto before = filesBeside(fs::path(output));
    // Without a bar to draw the writer gets the input itself, memory access and all.
    const bool progress = progressWanted(args, console);
    auto meter = std::make_shared<ProgressMeter>(console.err, progress, fs::path(output).filename().string(),
                                                 progress ? readAmount(*view) : 0, readUnit(*view));
    host::CreatedWriter created;
    try {
        created = registry->createWriter(progress ? countReads(view, meter) : view, output, args.value("--to"));
        for (const auto& [key, value] : options) {
            created.writer->setOption(key, value);
        }
        created.writer->writeAll();
        meter->finish();
    } catch (...) {
        meter->finish();
        // Leave nothing half-written: the writer goes first (it may hold files open),
        // then every file it created beside the output.
        created.writer.reset();
        for (const fs::path& file : filesBeside(fs::path(output))) {
            if (before.count(file) == 0) {
                std::error_code ec;
                fs::remove(file, ec);
            }
        }
        throw;
    }
    created.writer.reset();
    fmt::print(console.out, "{} ({}) -> {} ({})\n", input, opened.format, output, created.format);
    return EXIT_OK;
}

} // namespace

const Command& convertCommand()
{
    static const Command command{
        "convert", "read a file and write it in another format",
        "Usage: quenza convert INPUT OUTPUT [--from NAME] [--to NAME] [-o KEY=VALUE]...\n"
        "                      [--frame N] [--level N] [--region X,Y,Z:SX,SY,SZ] [--quiet]\n\n"
        "Reads INPUT with the reader of its extension (or --from) and writes OUTPUT with the\n"
        "writer of its extension (or --to). Nothing half-written is left behind on failure.\n\n"
        "  --from NAME        read INPUT as format NAME\n"
        "  --to NAME          write OUTPUT as format NAME\n"
        "  -o KEY=VALUE       a writer option; VALUE reads as a whole number, else a real number,\n"
        "                     else numbers separated by commas, else text; s:TEXT is always text\n"
        "  --frame N          write frame N of a sequence (frames of different shapes need it)\n"
        "  --level N          write resolution level N of a multi-resolution input (default: the first)\n"
        "  --region O:S       write only the region of origin O and size S, e.g. 0,0,0:64,64,8\n"
        "  --quiet            no progress bar (it is drawn only when standard error is a terminal)\n",
        Arguments::Syntax{{"--quiet"}, {"--from", "--to", "-o", "--frame", "--level", "--region"}, {"-o"}}, &runConvert};
    return command;
}

} // namespace quenza::cli
