#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quenza::cli {

/// Exit statuses of the command line.
enum ExitStatus : int {
    EXIT_OK = 0,
    /// The operation failed: unreadable input, a writer's error...
    EXIT_FAILED = 1,
    /// The command line itself is wrong.
    EXIT_USAGE = 2,
};

/// What the program knows about where its output goes.
struct RunOptions {
    /// Standard error is a terminal, so progress may be drawn on it.
    bool errIsTerminal = false;
};

/// Runs one `quenza` command line (without the program name). The command's output
/// goes to `out`, messages, errors and progress to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const RunOptions& options = {});

} // namespace quenza::cli
