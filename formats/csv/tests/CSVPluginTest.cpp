#include "TestSupport.h"

#include <CSVExtractor.h>
#include <CSVExtractorPlugin.h>
#include <CSVWriter.h>
#include <CSVWriterPlugin.h>

#include <common/PluginLogger.h>

#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <dlfcn.h>

namespace quenza::csv::test {
namespace {

using common::test::Problems;
using common::test::StdoutCapture;

std::shared_ptr<dravik::StreamAccess> textStream(const std::string& text)
{
    return dravik::StreamAccessFactory::fromBytes(std::vector<uint8_t>(text.begin(), text.end()));
}

std::shared_ptr<dravik::DataFrameView> smallFrame()
{
    auto frame = dravik::DataFrameViewFactory::allocate({1, 1}, {"a"}, {dravik::DataTypeId::INT64});
    const int64_t one = 1;
    frame->write(0, 0, 1, &one);
    return frame;
}

void expectDescriptor(const solvane::Plugin& plugin)
{
    EXPECT_EQ(plugin.api(), 6u);
    EXPECT_EQ(plugin.name(), "CsvPlugin");
    EXPECT_EQ(plugin.version(), "1.2.0");
    EXPECT_EQ(plugin.supportedFormats(), solvane::FormatList{"CSV"});
    EXPECT_EQ(plugin.extensionMap(), (solvane::ExtensionMap{{"csv", "CSV"}}));
}

TEST(CSVPluginTest, DescribeThePlugin)
{
    CSVExtractorPlugin extractor;
    CSVWriterPlugin writer;
    expectDescriptor(extractor);
    expectDescriptor(writer);
    EXPECT_EQ(&extractor.supportedFormats(), &CSVExtractorPlugin::s_supportedFormats);
    EXPECT_EQ(&writer.extensionMap(), &CSVWriterPlugin::s_extensionMapping);
}

TEST(CSVPluginTest, OpenCallsBuildIndependentObjects)
{
    CSVExtractorPlugin extractorPlugin;
    solvane::ExtractorPlugin& reader = extractorPlugin;
    auto first = reader.openDataAccess(textStream("a,b\n1,2\n"), "CSV");
    auto second = reader.openDataAccess(textStream("a,b\n1,2\n"), "CSV");
    ASSERT_NE(std::dynamic_pointer_cast<CSVExtractor>(first), nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_THROW(reader.openDataAccess(textStream("a,b\n"), "KM"), dravik::InvalidArgument);

    CSVWriterPlugin writerPlugin;
    solvane::WriterPlugin& writer = writerPlugin;
    auto stream = dravik::StreamAccessFactory::createInMemory();
    auto csvWriter = writer.openDataAccess(smallFrame(), stream, "CSV");
    ASSERT_NE(std::dynamic_pointer_cast<CSVWriter>(csvWriter), nullptr);
    csvWriter->writeAll();
    EXPECT_EQ(stream->bufferSize(), 8u);
    EXPECT_THROW(writer.openDataAccess(smallFrame(), stream, "KM"), dravik::InvalidArgument);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

using CSVPluginLoggerTest = common::test::FreshProcessTest;

Problems checkDebugLogging()
{
    Problems p;
    CSVExtractorPlugin extractor;
    p.expect(extractor.logLevel() == dravik::LOG_OFF, "level before init is not LOG_OFF");
    extractor.initLogger(dravik::LOG_DEBUG);
    p.expect(spdlog::get("CsvPlugin") == common::PluginLogger::logger(), "no logger named CsvPlugin");
    p.expect(CSVWriterPlugin().logLevel() == dravik::LOG_DEBUG, "the writer descriptor has another level");
    CSVWriterPlugin().initLogger(dravik::LOG_ERR);
    p.expect(extractor.logLevel() == dravik::LOG_DEBUG, "a later initLogger changed the level");

    StdoutCapture capture;
    auto frame = std::dynamic_pointer_cast<dravik::DataFrameView>(
        extractor.openDataAccess(textStream("x;y,z\np;q,2.5\nr;s,7\n"), "CSV"));
    common::PluginLogger::logger()->flush();
    const std::string log = capture.finish();
    p.expect(frame && frame->shape() == dravik::VectorXu64({2, 2}) && frame->columnName(0) == "x;y",
             "the table is not the ',' one");
    for (const char* line : {"=====CONTENT with separator ','=====", "=====CONTENT with separator ';'=====",
                             "LINE:", "Val STRING read: x;y", "Val STRING read: q,2.5", "Val STRING read: s,7",
                             "Val INT read: 7", "Val double read: 2.5", "Separator used: ','",
                             "COLUMN: 0", "COLUMN: 1", "CSVLineAnalysis.cpp"}) {
        p.expect(contains(log, line), std::string("not logged: ") + line);
    }
    p.expect(!contains(log, "separator '|'"), "a failed parse was logged");
    return p;
}

TEST_F(CSVPluginLoggerTest, DebugLevelLogsEveryParse)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkDebugLogging);
}

Problems checkInfoLogging()
{
    Problems p;
    CSVWriterPlugin writerPlugin;
    writerPlugin.initLogger(dravik::LOG_INFO);
    const std::string message = "column units requested but the source does not support the column units extension";

    StdoutCapture capture;
    auto frame = CSVExtractorPlugin().openDataAccess(textStream("x,y\n1,2\n"), "CSV");
    writerPlugin.openDataAccess(smallFrame(), dravik::StreamAccessFactory::createInMemory(), "CSV")->writeAll();
    common::PluginLogger::logger()->flush();
    const std::string log = capture.finish();
    p.expect(contains(log, "COLUMN: 0") && contains(log, "COLUMN: 1"), "columns not logged at info level");
    p.expect(!contains(log, "LINE:") && !contains(log, "Separator used"), "debug messages at info level");
    p.expect(log.find(message) != std::string::npos && log.find(message) == log.rfind(message),
             "the units message is not logged once");

    StdoutCapture quiet;
    auto writer = writerPlugin.openDataAccess(smallFrame(), dravik::StreamAccessFactory::createInMemory(), "CSV");
    writer->setOption("display_units", dravik::VariantDataValueFactory::create(int64_t{0}));
    writer->writeAll();
    common::PluginLogger::logger()->flush();
    p.expect(!contains(quiet.finish(), message), "units message logged with display_units 0");
    return p;
}

TEST_F(CSVPluginLoggerTest, InfoLevelLogsColumnsAndMissingUnits)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkInfoLogging);
}

// The built library, opened as a host would: the descriptors are all it exports.
TEST(CSVPluginTest, TheLibraryExportsBothDescriptors)
{
    void* handle = ::dlopen(QUENZA_CSV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* extractor = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    auto* writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    ASSERT_NE(extractor, nullptr);
    ASSERT_NE(writer, nullptr);
    expectDescriptor(*extractor);
    expectDescriptor(*writer);
    auto frame = std::dynamic_pointer_cast<dravik::DataFrameView>(extractor->openDataAccess(textStream("a,b\n1,2\n"), "CSV"));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->columnName(1), "b");
    frame.reset();
    // Objects of the library were made: like the host, keep it loaded.
}

TEST(CSVPluginTest, TheLibraryExportsNothingElse)
{
    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_CSV_PLUGIN_PATH, {"g_extractorPlugin", "g_writerPlugin"});
}

} // namespace
} // namespace quenza::csv::test
