#pragma once

#include "Arguments.h"

#include <quenza/host/PluginRegistry.h>

#include <iosfwd>
#include <memory>
#include <string>

namespace quenza::cli {

/// Where a command writes: its output, its messages, and whether progress may be drawn.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
};

/// One subcommand of `quenza`.
struct Command {
    const char* name;
    const char* summary;
    /// Usage and options, printed by --help.
    const char* help;
    Arguments::Syntax syntax;
    int (*run)(const Arguments& args, const Console& console);
};

const Command& formatsCommand();
const Command& infoCommand();
const Command& convertCommand();
const Command& previewCommand();
const Command& demoCommand();

/// The registry asked for by the global options (--plugin-path, --log-level).
std::unique_ptr<host::PluginRegistry> makeRegistry(const Arguments& args);

/// Options every command accepts.
void addGlobalOptions(Arguments::Syntax& syntax);
/// The help text of the global options.
const char* globalOptionsHelp();

/// Progress is drawn when standard error is a terminal and --quiet is absent.
bool progressWanted(const Arguments& args, const Console& console);

} // namespace quenza::cli
