#include "Cli.h"
#include "Commands.h"

#include <quenza/host/ViewDescription.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <algorithm>
#include <ostream>

namespace quenza::cli {

namespace {

using nlohmann::ordered_json;

std::vector<std::string> listOf(const solvane::Plugin* plugin)
{
    return plugin ? std::vector<std::string>(plugin->supportedFormats().begin(), plugin->supportedFormats().end())
                  : std::vector<std::string>{};
}

// Formats in the order the reader lists them, then those only the writer has.
std::vector<std::string> allFormats(const host::PluginLibrary& library)
{
    std::vector<std::string> formats = listOf(library.extractor);
    for (const std::string& f : listOf(library.writer)) {
        if (std::find(formats.begin(), formats.end(), f) == formats.end()) {
            formats.push_back(f);
        }
    }
    return formats;
}

std::map<std::string, std::string> extensions(const host::PluginLibrary& library)
{
    std::map<std::string, std::string> map;
    for (const solvane::Plugin* plugin : {static_cast<const solvane::Plugin*>(library.extractor),
                                          static_cast<const solvane::Plugin*>(library.writer)}) {
        if (plugin) {
            map.insert(plugin->extensionMap().begin(), plugin->extensionMap().end());
        }
    }
    return map;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

int runFormats(const Arguments& args, const Console& console)
{
    std::ostream& out = console.out;
    std::ostream& err = console.err;
    if (!args.positionals().empty()) {
        throw UsageError(fmt::format("unexpected argument '{}'", args.positionals().front()));
    }
    const auto registry = makeRegistry(args);
    if (args.has("--json")) {
        ordered_json doc;
        doc["searchPaths"] = registry->searchPaths();
        ordered_json plugins = ordered_json::array();
        for (const auto& library : registry->libraries()) {
            ordered_json p;
            p["library"] = library.fileName();
            p["path"] = library.path;
            p["name"] = library.descriptor().name();
            p["version"] = library.descriptor().version();
            p["api"] = library.descriptor().api();
            p["formats"] = allFormats(library);
            p["extensions"] = extensions(library);
            p["read"] = listOf(library.extractor);
            p["write"] = listOf(library.writer);
            plugins.push_back(p);
        }
        doc["plugins"] = plugins;
        ordered_json failures = ordered_json::array();
        for (const auto& failure : registry->failures()) {
            failures.push_back(ordered_json{{"library", failure.path}, {"error", failure.reason}});
        }
        doc["failures"] = failures;
        out << host::toJsonText(doc) << '\n';
        return EXIT_OK;
    }

    if (registry->libraries().empty()) {
        fmt::print(err, "No plug-in found; searched: {}\n", fmt::join(registry->searchPaths(), ", "));
    }
    for (const auto& library : registry->libraries()) {
        const auto reads = listOf(library.extractor);
        const auto writes = listOf(library.writer);
        const auto map = extensions(library);
        for (const std::string& format : allFormats(library)) {
            std::string mode = std::string(contains(reads, format) ? "r" : "") + (contains(writes, format) ? "w" : "");
            std::vector<std::string> exts;
            for (const auto& [ext, f] : map) {
                if (f == format) {
                    exts.push_back("." + ext);
                }
            }
            fmt::print(out, "  {:<10} {:<4}  {:<20} {:<8} {:<12} {}\n", format, "(" + mode + ")",
                       library.descriptor().name(), library.descriptor().version(),
                       fmt::format("{}", fmt::join(exts, " ")), library.fileName());
        }
    }
    for (const auto& failure : registry->failures()) {
        fmt::print(err, "quenza formats: not loaded: {}: {}\n", failure.path, failure.reason);
    }
    return EXIT_OK;
}

} // namespace

const Command& formatsCommand()
{
    static const Command command{
        "formats", "list the plug-ins found, with the formats they read (r) and write (w)",
        "Usage: quenza formats [--json]\n\n"
        "Lists every format plug-in found: format, read (r) and/or write (w), plug-in name and\n"
        "version, file extensions, library file.\n\n"
        "  --json   print the list as JSON: searchPaths, plugins (library, path, name, version, api,\n"
        "           formats, extensions, read, write) and failures (library, error)\n",
        Arguments::Syntax{{"--json"}, {}, {}}, &runFormats};
    return command;
}

} // namespace quenza::cli
