#pragma once

// Running `quenza` in this process (through the command line's library) or as the built
// program, and the folders and registry the tests share.

#include "Cli.h"

#include <quenza/host/PluginRegistry.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace quenza::cli::test {

struct Result {
    int status;
    std::string out;
    std::string err;
};

/// Runs a command line in this process; `terminal` says standard error is a terminal.
inline Result run(const std::vector<std::string>& args, bool terminal = false)
{
    std::ostringstream out;
    std::ostringstream err;
    RunOptions options;
    options.errIsTerminal = terminal;
    const int status = quenza::cli::run(args, out, err, options);
    return {status, out.str(), err.str()};
}

/// Runs `command` in a shell; standard output and standard error are kept apart.
inline Result runShell(const std::string& command)
{
    const std::string errFile = ::testing::TempDir() + "/quenza-stderr-" + std::to_string(::getpid()) + ".txt";
    FILE* pipe = ::popen((command + " 2>'" + errFile + "'").c_str(), "r");
    std::string out;
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while (pipe != nullptr && (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        out.append(chunk.data(), n);
    }
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    std::ifstream errIn(errFile);
    std::stringstream err;
    err << errIn.rdbuf();
    std::filesystem::remove(errFile);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err.str()};
}

/// Runs the built program with `args` (already quoted for the shell).
inline Result runProgram(const std::string& args)
{
    return runShell(std::string("'") + QUENZA_EXECUTABLE + "' " + args);
}

/// A folder of its own for one test, removed afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : m_path(std::filesystem::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

/// The plug-ins of the build, loaded once.
inline const host::PluginRegistry& registry()
{
    static const host::PluginRegistry instance;
    return instance;
}

inline std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace quenza::cli::test
