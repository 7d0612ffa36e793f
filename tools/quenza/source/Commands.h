#pragma once

#include "Arguments.h"

#include <quenza/host/PluginRegistry.h>

#include <iosfwd>
#include <memory>
#include <string>

namespace quenza::cli {

/// One subcommand of `quenza`.
struct Command {
    const char* name;
    const char* summary;
    /// Usage and options, printed by --help.
    const char* help;
    Arguments::Spec spec;
    int (*run)(const Arguments& args, std::ostream& out, std::ostream& err);
};

const Command& formatsCommand();
const Command& infoCommand();
const Command& convertCommand();

/// The registry asked for by the global options (--plugin-path, --log-level).
std::unique_ptr<host::PluginRegistry> makeRegistry(const Arguments& args);

/// Options every command accepts.
void addGlobalOptions(Arguments::Spec& spec);
/// The help text of the global options.
const char* globalOptionsHelp();

} // namespace quenza::cli
