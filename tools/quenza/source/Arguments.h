#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenza::cli {

/// A mistake in the command line: the message says what, and the status is EXIT_USAGE.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The options and positional words of one command. Options are "--name", "--name value",
/// "--name=value" or a short "-o value"; "--" ends the options.
class Arguments {
public:
    struct Syntax {
        /// Options that stand alone: --json.
        std::set<std::string> flags;
        /// Options that take a value: --format NAME.
        std::set<std::string> values;
        /// Of those, the ones that may be given several times.
        std::set<std::string> repeatable;
    };

    Arguments(const std::vector<std::string>& words, const Syntax& syntax);

    bool has(const std::string& option) const { return m_values.count(option) != 0; }
    /// The value of `option`, or `fallback` when it is absent.
    std::string value(const std::string& option, const std::string& fallback = "") const;
    /// Every value of a repeatable option, in order.
    std::vector<std::string> values(const std::string& option) const;
    const std::vector<std::string>& positionals() const { return m_positionals; }

private:
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positionals;
};

/// A non-negative integer option value, or a UsageError naming `option`.
unsigned long long parseCount(const std::string& option, const std::string& text);

} // namespace quenza::cli
