#include "Cli.h"
#include "Commands.h"
#include "MetadataTree.h"
#include "TextFormat.h"

#include <quenza/host/ViewDescription.h>

#include <dravik/ColumnUnitExtension.h>
#include <dravik/ImageProperties.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace quenza::cli {

namespace {

using nlohmann::ordered_json;

struct PlainOptions {
    bool checksum = false;
    size_t depth = std::numeric_limits<size_t>::max();
};

std::string numberText(double v)
{
    // A computed -0 reads as a mistake.
    return fmt::format("{}", v == 0 ? 0.0 : v);
}

std::string vectorText(const dravik::Vector3d& v)
{
    return fmt::format("({}, {}, {})", numberText(v[0]), numberText(v[1]), numberText(v[2]));
}

bool sameTree(const dravik::MetadataNode* a, const dravik::MetadataNode* b)
{
    return a == b || host::describeMetadata(a) == host::describeMetadata(b);
}

void printMetadata(std::ostream& out, const dravik::MetadataNode* md, const std::string& indent,
                   const PlainOptions& options)
{
    if (md == nullptr) {
        return;
    }
    fmt::print(out, "{}metadata ({} nodes):\n", indent, metadataNodeCount(*md));
    printMetadataTree(out, *md, indent + "  ", options.depth);
}

/// `shown` is the metadata already printed for a sibling, which is not printed again.
void printImage(std::ostream& out, dravik::ImageView& image, const std::string& indent, const PlainOptions& options,
                const dravik::MetadataNode* shown = nullptr)
{
    fmt::print(out, "{}shape {}, {}", indent, shapeText(image.shape()), image.dataType().toString());
    if (auto props = image.properties()) {
        const auto& info = props->imageInfo();
        fmt::print(out, ", {}", dravik::toString(info.interpretation()));
        if (!info.axesInterpretation().isUnknown()) {
            fmt::print(out, ", axes {}", info.axesInterpretation().toString());
        }
        const auto& cal = props->calibration();
        fmt::print(out, "\n{}origin {}, spacing {}{}\n", indent, vectorText(cal.origin()), vectorText(cal.spacing()),
                   cal.unit().empty() ? "" : " " + printableText(cal.unit()));
        const auto& dirs = cal.directions();
        fmt::print(out, "{}directions {}, {}, {}\n", indent, vectorText(dirs.direction(0)),
                   vectorText(dirs.direction(1)), vectorText(dirs.direction(2)));
        fmt::print(out, "{}bit depth {}, value range {} to {}\n", indent, info.bitDepth(),
                   numberText(info.valueRange()[0]), numberText(info.valueRange()[1]));
    } else {
        fmt::print(out, "\n");
    }
    const auto md = image.metadata();
    if (md && shown != nullptr && sameTree(md.get(), shown)) {
        fmt::print(out, "{}metadata as above\n", indent);
    } else {
        printMetadata(out, md.get(), indent, options);
    }
    if (options.checksum) {
        fmt::print(out, "{}sha256 {}\n", indent, host::imageSha256(image));
    }
}

void printSummary(std::ostream& out, dravik::View& view, const PlainOptions& options)
{
    if (auto* image = dynamic_cast<dravik::ImageView*>(&view)) {
        printImage(out, *image, "  ", options);
    } else if (auto* multi = dynamic_cast<dravik::MultiImageView*>(&view)) {
        const auto md = multi->metadata();
        printMetadata(out, md.get(), "  ", options);
        // Frames often carry the sequence's tree again.
        std::shared_ptr<const dravik::MetadataNode> previous = md;
        for (uint64_t i = 0; i < multi->frameCount(); ++i) {
            fmt::print(out, "  frame {}:\n", i);
            auto frame = multi->frame(i);
            printImage(out, *frame, "    ", options, previous.get());
            previous = frame->metadata();
        }
    } else if (auto* lod = dynamic_cast<dravik::LodImageView*>(&view)) {
        const auto range = lod->levelRange();
        std::shared_ptr<const dravik::MetadataNode> previous;
        for (int64_t level = range[0]; level <= range[1]; ++level) {
            fmt::print(out, "  level {}:\n", level);
            auto resolution = lod->resolution(level);
            printImage(out, *resolution, "    ", options, previous.get());
            previous = resolution->metadata();
        }
    } else if (auto* frame = dynamic_cast<dravik::DataFrameView*>(&view)) {
        std::shared_ptr<dravik::ColumnUnitExtension> units;
        try {
            units = frame->extension<dravik::ColumnUnitExtension>();
        } catch (const dravik::Error&) {
        }
        const auto& shape = frame->shape();
        for (uint64_t c = 0; c < shape[0]; ++c) {
            const std::string unit = units ? units->unit(c) : "";
            fmt::print(out, "  column {}: {} {}{}\n", c, printableText(frame->columnName(c)),
                       frame->columnDataType(c).toString(), unit.empty() ? "" : " [" + printableText(unit) + "]");
        }
        fmt::print(out, "  rows {}\n", shape[1]);
        if (options.checksum) {
            const auto description = host::describeView(view, {true});
            const auto sha = description.find("sha256");
            if (sha != description.end() && sha->is_string()) {
                fmt::print(out, "  sha256 {}\n", sha->get_ref<const std::string&>());
            }
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

int runInfo(const Arguments& args, const Console& console)
{
    if (args.positionals().size() != 1) {
        throw UsageError(args.positionals().empty() ? "a FILE is needed" : "only one FILE is accepted");
    }
    PlainOptions options;
    options.checksum = args.has("--checksum");
    if (args.has("--depth")) {
        options.depth = parseCount("--depth", args.value("--depth"));
        if (args.has("--json")) {
            throw UsageError("--depth applies to the plain description, not to --json");
        }
    }
    const std::string& path = args.positionals().front();
    const auto registry = makeRegistry(args);
    const auto opened = registry->open(path, args.value("--format"));
    if (args.has("--json")) {
        ordered_json doc;
        doc["file"] = path;
        doc["plugin"] = opened.library->descriptor().name();
        doc["format"] = opened.format;
        const ordered_json description = host::describeView(*opened.view, {options.checksum});
        for (const auto& [key, value] : description.items()) {
            doc[key] = value;
        }
        console.out << host::toJsonText(doc) << '\n';
        return EXIT_OK;
    }
    fmt::print(console.out, "{}: {}, {} ({} {})\n", path, headline(*opened.view), opened.format,
               opened.library->descriptor().name(), opened.library->descriptor().version());
    printSummary(console.out, *opened.view, options);
    return EXIT_OK;
}

} // namespace

const Command& infoCommand()
{
    static const Command command{
        "info", "describe what a reader returns for a file",
        "Usage: quenza info FILE [--format NAME] [--json] [--checksum] [--depth N]\n\n"
        "Opens FILE with the plug-in chosen by its extension (or --format) and describes the view:\n"
        "kind, shape, type, interpretation, calibration with its unit, value range, frames or\n"
        "levels, and the metadata tree.\n\n"
        "  --format NAME   read FILE as format NAME whatever its extension\n"
        "  --json          print the description as JSON\n"
        "  --checksum      add the SHA-256 of every image's elements (tables: their rows and the\n"
        "                  SHA-256 of their text)\n"
        "  --depth N       show the metadata tree N levels below its root (0: the root alone)\n",
        Arguments::Syntax{{"--json", "--checksum"}, {"--format", "--depth"}, {}}, &runInfo};
    return command;
}

} // namespace quenza::cli
