#pragma once

#include <dravik/Error.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include <unistd.h>

namespace quenza::common::test {

/// Collects what went wrong in a check run in a child process, where test
/// assertions do not reach the parent.
class Problems {
public:
    void expect(bool condition, const std::string& what)
    {
        if (!condition) {
            m_text += what + "\n";
        }
    }
    bool empty() const { return m_text.empty(); }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

/// Everything written to standard output (file descriptor 1) between construction and
/// `finish()`.
class StdoutCapture {
public:
    StdoutCapture()
        : m_file(std::tmpfile())
    {
        std::fflush(stdout);
        m_saved = ::dup(1);
        ::dup2(::fileno(m_file), 1);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { restore(); }

    std::string finish()
    {
        restore();
        std::string text;
        std::rewind(m_file);
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0) {
            text.append(chunk, n);
        }
        return text;
    }

private:
    void restore()
    {
        if (m_saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_saved, 1);
            ::close(m_saved);
            m_saved = -1;
        }
    }

    std::FILE* m_file;
    int m_saved = -1;
};

/// Death-test style that re-runs the test binary for each child: the child starts from
/// a process in which no logger was ever created, whatever ran before in the parent.
class FreshProcessTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

/// Expects the shared library `library` to export exactly `descriptors`, besides the
/// symbols the linker defines itself, as `nm` lists its dynamic symbols.
inline void expectOnlyExports(const std::string& nm, const std::string& library,
                              const std::set<std::string>& descriptors)
{
    if (nm.empty()) {
        GTEST_SKIP() << "no nm program found at configure time";
    }
    const std::string command = nm + " -D --defined-only --format=posix '" + library + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        symbols.insert(name);
    }
    ASSERT_EQ(::pclose(pipe), 0) << command;
    const std::set<std::string> linkerSymbols = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    for (const std::string& descriptor : descriptors) {
        EXPECT_EQ(symbols.count(descriptor), 1u) << descriptor << " is not exported";
    }
    for (const std::string& symbol : symbols) {
        EXPECT_TRUE(descriptors.count(symbol) == 1 || linkerSymbols.count(symbol) == 1) << "exported: " << symbol;
    }
}

/// Runs `action` and expects a dravik::Error with exactly `message`.
inline void expectError(const std::function<void()>& action, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const dravik::Error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

} // namespace quenza::common::test

/// Runs `check`, a callable returning Problems, in a fresh child process; the test
/// fails with the problems found when any.
#define EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(...)                                          \
    EXPECT_EXIT(                                                                          \
        {                                                                                 \
            const ::quenza::common::test::Problems problems_ = (__VA_ARGS__)();             \
            std::fputs(problems_.text().c_str(), stderr);                                 \
            std::exit(problems_.empty() ? 0 : 1);                                         \
        },                                                                                \
        ::testing::ExitedWithCode(0), "")
