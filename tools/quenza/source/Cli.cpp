#include "Cli.h"

#include "Commands.h"

#include <quenza/Version.h>

#include <dravik/Error.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <ostream>

namespace quenza::cli {

namespace {

const Command* const COMMANDS[] = {&formatsCommand(), &infoCommand(), &convertCommand(), &previewCommand(),
                                   &demoCommand()};

void printUsage(std::ostream& out)
{
    fmt::print(out, "Usage: quenza COMMAND [OPTIONS]\n\nOpens, inspects and converts image files through the "
                    "format plug-ins.\n\nCommands:\n");
    for (const Command* command : COMMANDS) {
        fmt::print(out, "  {:<10} {}\n", command->name, command->summary);
    }
    fmt::print(out, "\n{}\nRun 'quenza COMMAND --help' for the options of a command; 'quenza --version' for the "
                    "version.\n",
               globalOptionsHelp());
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const RunOptions& options)
{
    if (args.empty()) {
        printUsage(err);
        return EXIT_USAGE;
    }
    const std::string& first = args.front();
    if (first == "--help" || first == "-h" || first == "help") {
        printUsage(out);
        return EXIT_OK;
    }
    if (first == "--version") {
        fmt::print(out, "quenza {} (revision {})\n", QUENZA_VERSION_STRING, QUENZA_SHA);
        return EXIT_OK;
    }
    const Command* command = nullptr;
    for (const Command* candidate : COMMANDS) {
        if (first == candidate->name) {
            command = candidate;
        }
    }
    if (command == nullptr) {
        fmt::print(err, "quenza: unknown command '{}'\nTry 'quenza --help'.\n", first);
        return EXIT_USAGE;
    }
    Arguments::Syntax syntax = command->syntax;
    addGlobalOptions(syntax);
    syntax.flags.insert("--help");
    try {
        const Arguments parsed(std::vector<std::string>(args.begin() + 1, args.end()), syntax);
        if (parsed.has("--help")) {
            fmt::print(out, "{}\n{}", command->help, globalOptionsHelp());
            return EXIT_OK;
        }
        return command->run(parsed, Console{out, err, options.errIsTerminal});
    } catch (const UsageError& e) {
        fmt::print(err, "quenza {}: {}\nTry 'quenza {} --help'.\n", command->name, e.what(), command->name);
        return EXIT_USAGE;
    } catch (const std::exception& e) {
        fmt::print(err, "quenza {}: {}\n", command->name, e.what());
        return EXIT_FAILED;
    }
}

} // namespace quenza::cli
