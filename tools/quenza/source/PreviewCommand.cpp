#include "Cli.h"
#include "Commands.h"
#include "PngFile.h"
#include "PreviewRenderer.h"

#include <quenza/host/PluginRegistry.h>

#include <dravik/Error.h>
#include <dravik/Providers.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <ostream>

namespace quenza::cli {

namespace {

std::shared_ptr<dravik::ImageView> chooseImage(std::shared_ptr<dravik::View> view, const Arguments& args,
                                               const std::string& input)
{
    if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        const uint64_t frame = args.has("--frame") ? parseCount("--frame", args.value("--frame")) : 0;
        if (frame >= multi->frameCount()) {
            throw dravik::Error(fmt::format("{} has {} frames: there is no frame {}", input, multi->frameCount(), frame));
        }
        view = multi->frame(frame);
    } else if (args.has("--frame")) {
        throw dravik::Error(fmt::format("{} is not a sequence of frames: --frame does not apply", input));
    }
    if (auto lod = dravik::LodImageViewProvider::toLod(view)) {
        const auto range = lod->levelRange();
        const int64_t level = args.has("--level") ? static_cast<int64_t>(parseCount("--level", args.value("--level")))
                                                  : range[0];
        if (level < range[0] || level > range[1]) {
            throw dravik::Error(fmt::format("{} has the levels {} to {}: there is no level {}", input, range[0],
                                            range[1], level));
        }
        view = lod->resolution(level);
    } else if (args.has("--level")) {
        throw dravik::Error(fmt::format("{} has no resolution levels: --level does not apply", input));
    }
    if (dravik::DataFrameViewProvider::isDataFrame(view)) {
        throw dravik::Error(fmt::format("{} is a table, not an image: there is nothing to preview", input));
    }
    auto image = dravik::ImageViewProvider::toImage(view);
    if (!image) {
        throw dravik::Error(fmt::format("{} holds no image to preview", input));
    }
    return image;
}

PreviewOptions parseOptions(const Arguments& args)
{
    PreviewOptions options;
    options.mip = args.has("--mip");
    options.autoContrast = args.has("--auto-contrast");
    if (args.has("--slice")) {
        if (options.mip) {
            throw UsageError("--slice and --mip exclude each other");
        }
        options.slice = parseCount("--slice", args.value("--slice"));
    }
    if (args.has("--axis")) {
        const std::string axis = args.value("--axis");
        if (axis == "x") {
            options.axis = 0;
        } else if (axis == "y") {
            options.axis = 1;
        } else if (axis == "z") {
            options.axis = 2;
        } else {
            throw UsageError(fmt::format("option --axis takes x, y or z, not '{}'", axis));
        }
    }
    for (const char* count : {"--frame", "--level"}) {
        if (args.has(count)) {
            parseCount(count, args.value(count));
        }
    }
    return options;
}

int runPreview(const Arguments& args, const Console& console)
{
    if (args.positionals().size() != 2) {
        throw UsageError("INPUT and OUTPUT.png are needed");
    }
    const std::string& input = args.positionals()[0];
    const std::string& output = args.positionals()[1];
    if (host::extensionOf(output) != "png") {
        throw UsageError(fmt::format("the picture is written as PNG: OUTPUT must end in .png, not '{}'", output));
    }
    const PreviewOptions options = parseOptions(args);
    const auto registry = makeRegistry(args);
    const auto opened = registry->open(input, args.value("--format"));
    const Picture picture = renderPreview(chooseImage(opened.view, args, input), options);
    writePng(output, picture);
    fmt::print(console.out, "{} ({}): {} -> {}\n", input, opened.format, picture.description, output);
    return EXIT_OK;
}

} // namespace

const Command& previewCommand()
{
    static const Command command{
        "preview", "render a slice or a projection of an image as a PNG picture",
        "Usage: quenza preview INPUT OUTPUT.png [--format NAME] [--frame N] [--level N]\n"
        "                      [--slice K | --mip] [--axis x|y|z] [--auto-contrast]\n\n"
        "Renders one 2-D slice of INPUT (by default the middle one across z) as an 8-bit PNG:\n"
        "grey levels scaled from the image's value range, RGB images in colour, label images\n"
        "with one colour per label (0 black).\n\n"
        "  --format NAME     read INPUT as format NAME whatever its extension\n"
        "  --frame N         frame N of a sequence (default 0)\n"
        "  --level N         resolution level N of a multi-resolution input (default: the first)\n"
        "  --slice K         slice K across the axis (default: the middle one)\n"
        "  --mip             the maximum-intensity projection along the axis instead of a slice\n"
        "  --axis x|y|z      the axis the slice is taken across (default z: an x-y picture; y gives\n"
        "                    x-z, x gives y-z)\n"
        "  --auto-contrast   grey levels from the 0.5th to the 99.5th percentile of the picture\n",
        Arguments::Syntax{{"--mip", "--auto-contrast"}, {"--format", "--frame", "--level", "--slice", "--axis"}, {}},
        &runPreview};
    return command;
}

} // namespace quenza::cli
