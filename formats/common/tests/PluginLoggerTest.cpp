#include "TestSupport.h"

#include <common/InternalPluginLogger.h>
#include <common/PluginLogger.h>

#include <dravik/Error.h>
#include <dravik/LogLevel.h>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quenza::common::test {
namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string levelText(dravik::LogLevel level)
{
    return std::to_string(static_cast<int>(level));
}

// One message per level, told apart by their texts.
void logEveryLevel()
{
    QUENZA_LOG_TRACE("message {0} trace", 1);
    QUENZA_LOG_DEBUG("message {} debug", 2);
    QUENZA_LOG_INFO("message {0} info", 3);
    QUENZA_LOG_WARN("message {} warn", 4);
    QUENZA_LOG_ERROR("message {0} error", 5);
    QUENZA_LOG_CRITICAL("message {} critical", 6);
    if (auto logger = PluginLogger::logger()) {
        logger->flush();
    }
}

const std::vector<std::string> MESSAGES = {"message 1 trace", "message 2 debug", "message 3 info",
                                           "message 4 warn",  "message 5 error", "message 6 critical"};

TEST(PluginLoggerTest, ConvertLogLevelFollowsTheTable)
{
    const std::vector<std::pair<dravik::LogLevel, spdlog::level::level_enum>> table = {
        {dravik::LOG_OFF, spdlog::level::off},     {dravik::LOG_CRITICAL, spdlog::level::critical},
        {dravik::LOG_ERR, spdlog::level::err},     {dravik::LOG_WARNING, spdlog::level::warn},
        {dravik::LOG_INFO, spdlog::level::info},   {dravik::LOG_DEBUG, spdlog::level::debug},
        {dravik::LOG_TRACE, spdlog::level::trace},
    };
    for (const auto& [level, expected] : table) {
        EXPECT_EQ(InternalPluginLogger::convertLogLevel(level), expected) << "level " << level;
    }
    for (int bad : {7, -1, 100}) {
        try {
            InternalPluginLogger::convertLogLevel(static_cast<dravik::LogLevel>(bad));
            ADD_FAILURE() << "level " << bad << " accepted";
        } catch (const dravik::Error& e) {
            EXPECT_STREQ(e.what(), "unsupported log level");
        }
    }
}

using PluginLoggerProcessTest = FreshProcessTest;

Problems checkNothingBeforeInit()
{
    Problems p;
    p.expect(!InternalPluginLogger::instance(), "an instance exists before init");
    p.expect(!PluginLogger::logger(), "a logger exists before init");
    p.expect(PluginLogger::logLevel() == dravik::LOG_OFF, "level before init is not LOG_OFF");
    StdoutCapture capture;
    logEveryLevel();
    const std::string out = capture.finish();
    p.expect(out.empty(), "printed before init: " + out);
    p.expect(!spdlog::get(PLUGIN_NAME), "a logger got registered by logging before init");
    return p;
}

TEST_F(PluginLoggerProcessTest, BeforeInitNothingIsLoggedAndTheLevelIsOff)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkNothingBeforeInit);
}

Problems checkUnsupportedLevelThenValid()
{
    Problems p;
    try {
        PluginLogger::init(static_cast<dravik::LogLevel>(7));
        p.expect(false, "level 7 accepted");
    } catch (const dravik::Error& e) {
        p.expect(std::string(e.what()) == "unsupported log level", std::string("wrong message: ") + e.what());
    }
    p.expect(!InternalPluginLogger::instance(), "an instance was stored after a rejected level");
    p.expect(!spdlog::get(PLUGIN_NAME), "a logger was registered for a rejected level");
    p.expect(PluginLogger::logLevel() == dravik::LOG_OFF, "level after a rejected init is not LOG_OFF");

    PluginLogger::init(dravik::LOG_INFO);
    auto logger = PluginLogger::logger();
    p.expect(logger != nullptr, "no logger after a valid init");
    p.expect(logger && logger->name() == PLUGIN_NAME, "the logger is not named after the plug-in");
    p.expect(spdlog::get(PLUGIN_NAME) == logger, "the logger is not the registered one");
    p.expect(PluginLogger::logLevel() == dravik::LOG_INFO, "level is not LOG_INFO");
    p.expect(logger && logger->level() == spdlog::level::info, "spdlog level is not info");

    // Once created, the logger and its level stay, whatever the later calls.
    PluginLogger::init(dravik::LOG_TRACE);
    PluginLogger::init(static_cast<dravik::LogLevel>(7));
    p.expect(PluginLogger::logLevel() == dravik::LOG_INFO,
             "a second init changed the level to " + levelText(PluginLogger::logLevel()));
    p.expect(PluginLogger::logger() == logger, "a second init replaced the logger");
    p.expect(logger && logger->level() == spdlog::level::info, "a second init changed the spdlog level");
    return p;
}

TEST_F(PluginLoggerProcessTest, UnsupportedLevelRegistersNothingAndALaterInitWorks)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkUnsupportedLevelThenValid);
}

// Messages are listed from the least severe; `level` must print the last `printedCount`.
Problems checkPrintedMessages(dravik::LogLevel level, size_t printedCount)
{
    Problems p;
    PluginLogger::init(level);
    p.expect(PluginLogger::logger() != nullptr, "no logger");
    p.expect(PluginLogger::logLevel() == level, "logLevel() is not the level given");
    StdoutCapture capture;
    logEveryLevel();
    const std::string out = capture.finish();
    for (size_t i = 0; i < MESSAGES.size(); ++i) {
        const bool expected = i >= MESSAGES.size() - printedCount;
        p.expect(contains(out, MESSAGES[i]) == expected,
                 "'" + MESSAGES[i] + (expected ? "' missing from: " : "' printed: ") + out);
    }
    return p;
}

TEST_F(PluginLoggerProcessTest, EachLevelPrintsItsMessagesAndTheMoreSevereOnes)
{
    const std::vector<std::pair<dravik::LogLevel, size_t>> table = {
        {dravik::LOG_OFF, 0},  {dravik::LOG_CRITICAL, 1}, {dravik::LOG_ERR, 2},   {dravik::LOG_WARNING, 3},
        {dravik::LOG_INFO, 4}, {dravik::LOG_DEBUG, 5},    {dravik::LOG_TRACE, 6},
    };
    for (const auto& [level, printed] : table) {
        SCOPED_TRACE("level " + levelText(level));
        const dravik::LogLevel initLevel = level;
        const size_t printedCount = printed;
        EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS([=] { return checkPrintedMessages(initLevel, printedCount); });
    }
}

Problems checkLineContent()
{
    Problems p;
    PluginLogger::init(dravik::LOG_WARNING);
    StdoutCapture capture;
    const int line = __LINE__ + 1;
    QUENZA_LOG_WARN("value {0} of {1}", 3, "seven");
    PluginLogger::logger()->flush();
    const std::string out = capture.finish();
    p.expect(contains(out, "[CommonTestPlugin]"), "logger name missing: " + out);
    p.expect(contains(out, "[warning]"), "level missing: " + out);
    p.expect(contains(out, "value 3 of seven"), "message missing: " + out);
    p.expect(contains(out, "PluginLoggerTest.cpp:" + std::to_string(line)), "source location missing: " + out);
    return p;
}

TEST_F(PluginLoggerProcessTest, LinesNameTheLoggerTheLevelAndTheSourceLocation)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkLineContent);
}

Problems checkConcurrentInits()
{
    Problems p;
    const std::vector<dravik::LogLevel> levels = {dravik::LOG_CRITICAL, dravik::LOG_ERR, dravik::LOG_WARNING,
                                                  dravik::LOG_INFO,     dravik::LOG_DEBUG, dravik::LOG_TRACE,
                                                  dravik::LOG_OFF,      dravik::LOG_INFO};
    std::atomic<size_t> waiting{levels.size()};
    std::atomic<size_t> failures{0};
    std::vector<std::thread> threads;
    for (dravik::LogLevel level : levels) {
        threads.emplace_back([level, &waiting, &failures] {
            --waiting;
            while (waiting.load() != 0) {
                std::this_thread::yield();
            }
            try {
                PluginLogger::init(level);
            } catch (...) {
                ++failures;
            }
            QUENZA_LOG_TRACE("logging while others init");
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    p.expect(failures.load() == 0, std::to_string(failures.load()) + " init calls failed");
    auto logger = PluginLogger::logger();
    p.expect(logger != nullptr && spdlog::get(PLUGIN_NAME) == logger, "not exactly the registered logger");
    const std::set<dravik::LogLevel> given(levels.begin(), levels.end());
    p.expect(given.count(PluginLogger::logLevel()) == 1, "level is none of those given");
    p.expect(logger && logger->level() == InternalPluginLogger::convertLogLevel(PluginLogger::logLevel()),
             "spdlog level does not match logLevel()");
    return p;
}

TEST_F(PluginLoggerProcessTest, ConcurrentInitsCreateOneLogger)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkConcurrentInits);
}

Problems checkNameTaken()
{
    Problems p;
    auto other = spdlog::stdout_color_mt(PLUGIN_NAME);
    try {
        PluginLogger::init(dravik::LOG_INFO);
        p.expect(false, "init succeeded over a registered name");
    } catch (const spdlog::spdlog_ex&) {
    }
    p.expect(!InternalPluginLogger::instance(), "an instance was stored after a failed init");
    p.expect(PluginLogger::logLevel() == dravik::LOG_OFF, "level after a failed init is not LOG_OFF");
    return p;
}

TEST_F(PluginLoggerProcessTest, ANameAlreadyRegisteredFailsAndLeavesNoInstance)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkNameTaken);
}

} // namespace
} // namespace quenza::common::test
