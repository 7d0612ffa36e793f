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

/// Runs one `quenza` command line (without the program name). The command's output
/// goes to `out`, messages and errors to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quenza::cli
