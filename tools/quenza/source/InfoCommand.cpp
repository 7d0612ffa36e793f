#include "Cli.h"
#include "Commands.h"

#include <quenza/host/ViewDescription.h>

#include <dravik/ImageProperties.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <ostream>

namespace quenza::cli {

namespace {

using nlohmann::ordered_json;

size_t nodeCount(const dravik::MetadataNode& root)
{
    size_t count = 0;
    std::vector<const dravik::MetadataNode*> pending{&root};
    while (!pending.empty()) {
        const auto* node = pending.back();
        pending.pop_back();
        ++count;
        for (const auto& child : node->children()) {
            pending.push_back(child.get());
        }
    }
    return count;
}

void printImage(std::ostream& out, dravik::ImageView& image, const std::string& indent, bool checksum)
{
    std::vector<std::string> sizes;
    for (uint64_t s : image.shape()) {
        sizes.push_back(std::to_string(s));
    }
    fmt::print(out, "{}shape {}, {}", indent, fmt::join(sizes, " x "), image.dataType().toString());
    if (auto props = image.properties()) {
        const auto& info = props->imageInfo();
        fmt::print(out, ", {}", dravik::toString(info.interpretation()));
        if (!info.axesInterpretation().isUnknown()) {
            fmt::print(out, ", axes {}", info.axesInterpretation().toString());
        }
        const auto& cal = props->calibration();
        fmt::print(out, "\n{}origin ({}), spacing ({}){}", indent, cal.origin().toString(), cal.spacing().toString(),
                   cal.unit().empty() ? "" : " " + cal.unit());
    }
    fmt::print(out, "\n");
    if (auto md = image.metadata()) {
        fmt::print(out, "{}metadata: {} nodes under \"{}\"\n", indent, nodeCount(*md), md->name());
    }
    if (checksum) {
        fmt::print(out, "{}sha256 {}\n", indent, host::imageSha256(image));
    }
}

void printSummary(std::ostream& out, dravik::View& view, bool checksum)
{
    if (auto* image = dynamic_cast<dravik::ImageView*>(&view)) {
        printImage(out, *image, "  ", checksum);
    } else if (auto* multi = dynamic_cast<dravik::MultiImageView*>(&view)) {
        for (uint64_t i = 0; i < multi->frameCount(); ++i) {
            fmt::print(out, "  frame {}:\n", i);
            printImage(out, *multi->frame(i), "    ", checksum);
        }
    } else if (auto* lod = dynamic_cast<dravik::LodImageView*>(&view)) {
        const auto range = lod->levelRange();
        for (int64_t level = range[0]; level <= range[1]; ++level) {
            fmt::print(out, "  level {}:\n", level);
            printImage(out, *lod->resolution(level), "    ", checksum);
        }
    } else if (auto* frame = dynamic_cast<dravik::DataFrameView*>(&view)) {
        const auto& shape = frame->shape();
        for (uint64_t c = 0; c < shape[0]; ++c) {
            fmt::print(out, "  column {}: {} {}\n", c, frame->columnName(c), frame->columnDataType(c).toString());
        }
    }
}

std::string headline(dravik::View& view)
{
    const std::string kind = host::viewKind(view);
    if (auto* multi = dynamic_cast<dravik::MultiImageView*>(&view)) {
        return fmt::format("multi-image of {} frames", multi->frameCount());
    }
    if (auto* lod = dynamic_cast<dravik::LodImageView*>(&view)) {
        const auto range = lod->levelRange();
        return fmt::format("lod of levels {} to {}", range[0], range[1]);
    }
    if (auto* frame = dynamic_cast<dravik::DataFrameView*>(&view)) {
        return fmt::format("data-frame of {} columns x {} rows", frame->shape()[0], frame->shape()[1]);
    }
    return kind;
}

int runInfo(const Arguments& args, std::ostream& out, std::ostream& /*err*/)
{
    if (args.positionals().size() != 1) {
        throw UsageError(args.positionals().empty() ? "a FILE is needed" : "only one FILE is accepted");
    }
    const std::string& path = args.positionals().front();
    const auto registry = makeRegistry(args);
    const auto opened = registry->open(path, args.value("--format"));
    const bool checksum = args.has("--checksum");
    if (args.has("--json")) {
        ordered_json doc;
        doc["file"] = path;
        doc["plugin"] = opened.library->descriptor().name();
        doc["format"] = opened.format;
        const ordered_json description = host::describeView(*opened.view, {checksum});
        for (const auto& [key, value] : description.items()) {
            doc[key] = value;
        }
        out << host::toJsonText(doc) << '\n';
        return EXIT_OK;
    }
    fmt::print(out, "{}: {}, {} ({} {})\n", path, headline(*opened.view), opened.format,
               opened.library->descriptor().name(), opened.library->descriptor().version());
    printSummary(out, *opened.view, checksum);
    return EXIT_OK;
}

} // namespace

const Command& infoCommand()
{
    static const Command command{
        "info", "describe what a reader returns for a file",
        "Usage: quenza info FILE [--format NAME] [--json] [--checksum]\n\n"
        "Opens FILE with the plug-in chosen by its extension (or --format) and describes the view:\n"
        "kind, shape, type, calibration, image information, metadata.\n\n"
        "  --format NAME   read FILE as format NAME whatever its extension\n"
        "  --json          print the description as JSON\n"
        "  --checksum      add the SHA-256 of every image's elements (tables: their rows and the\n"
        "                  SHA-256 of their text)\n",
        Arguments::Spec{{"--json", "--checksum"}, {"--format"}, {}}, &runInfo};
    return command;
}

} // namespace quenza::cli
