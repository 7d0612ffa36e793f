#include "Commands.h"

#include <fmt/format.h>

#include <map>

namespace quenza::cli {

namespace {

const std::map<std::string, dravik::LogLevel>& levelNames()
{
    static const std::map<std::string, dravik::LogLevel> names{
        {"off", dravik::LOG_OFF},   {"critical", dravik::LOG_CRITICAL}, {"error", dravik::LOG_ERR},
        {"warning", dravik::LOG_WARNING}, {"info", dravik::LOG_INFO}, {"debug", dravik::LOG_DEBUG},
        {"trace", dravik::LOG_TRACE},
    };
    return names;
}

} // namespace

bool progressWanted(const Arguments& args, const Console& console)
{
    return console.errIsTerminal && !args.has("--quiet");
}

void addGlobalOptions(Arguments::Syntax& syntax)
{
    syntax.values.insert({"--plugin-path", "--log-level"});
    syntax.repeatable.insert("--plugin-path");
}

const char* globalOptionsHelp()
{
    return "Options of every command:\n"
           "  --plugin-path DIR   also look for plug-ins in DIR (repeatable; searched before\n"
           "                      QUENZA_PLUGIN_PATH, a colon-separated list, and the installed ones)\n"
           "  --log-level LEVEL   what the plug-ins log to standard error: off, critical, error,\n"
           "                      warning (default), info, debug, trace\n";
}

std::unique_ptr<host::PluginRegistry> makeRegistry(const Arguments& args)
{
    host::RegistryOptions options;
    options.searchPaths = args.values("--plugin-path");
    const std::string level = args.value("--log-level", "warning");
    const auto found = levelNames().find(level);
    if (found == levelNames().end()) {
        throw UsageError(fmt::format("unknown log level '{}' (off, critical, error, warning, info, debug, trace)",
                                     level));
    }
    options.logLevel = found->second;
    return std::make_unique<host::PluginRegistry>(options);
}

} // namespace quenza::cli
