#include "TestSupport.h"

#include <common/AbstractExtractor.h>
#include <common/AbstractExtractorPlugin.h>
#include <common/AbstractWriterPlugin.h>
#include <common/PluginLogger.h>

#include <dravik/DataAccess.h>
#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/Writer.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quenza::common::test {
namespace {

// Records how the descriptor built it.
class RecordingExtractor : public AbstractExtractor {
public:
    explicit RecordingExtractor(const std::string& path)
        : m_path(path)
    {
        if (path.empty()) {
            throw dravik::InvalidArgument("no path");
        }
    }
    RecordingExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
        : m_accessor(std::move(accessor))
        , m_format(format)
    {
        if (format != "TEST") {
            throw dravik::InvalidArgument("Format " + format + " not supported");
        }
    }
    void readRegion(const dravik::RegionXu64& /*region*/, void* /*dst*/) override {}

    std::string m_path;
    std::shared_ptr<dravik::DataAccess> m_accessor;
    std::string m_format;
};

class RecordingWriter : public dravik::Writer {
public:
    RecordingWriter(std::shared_ptr<dravik::View> view, const std::string& path)
        : m_view(std::move(view))
        , m_path(path)
    {
    }
    RecordingWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> accessor,
                    const std::string& format)
        : m_view(std::move(view))
        , m_accessor(std::move(accessor))
        , m_format(format)
    {
        if (format != "TEST") {
            throw dravik::InvalidArgument("Format " + format + " not supported");
        }
    }
    void writeAll() override {}
    void writeInit() override {}
    void writeData() override {}
    void writeFinish() override {}
    std::string name() const override { return "writer"; }
    std::string version() const override { return "0"; }
    void setOption(const std::string& /*name*/, std::shared_ptr<dravik::VariantDataValue> /*value*/) override {}

    std::shared_ptr<dravik::View> m_view;
    std::string m_path;
    std::shared_ptr<dravik::DataAccess> m_accessor;
    std::string m_format;
};

class TestExtractorPlugin : public AbstractExtractorPlugin<RecordingExtractor> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;
    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};
const solvane::FormatList TestExtractorPlugin::s_supportedFormats{"TEST"};
const solvane::ExtensionMap TestExtractorPlugin::s_extensionMapping{{"tst", "TEST"}};

class TestWriterPlugin : public AbstractWriterPlugin<RecordingWriter> {
public:
    static const solvane::FormatList s_supportedFormats;
    static const solvane::ExtensionMap s_extensionMapping;
    const solvane::FormatList& supportedFormats() const override { return s_supportedFormats; }
    const solvane::ExtensionMap& extensionMap() const override { return s_extensionMapping; }
};
const solvane::FormatList TestWriterPlugin::s_supportedFormats{"TEST"};
const solvane::ExtensionMap TestWriterPlugin::s_extensionMapping{{"tst", "TEST"}};

} // namespace
} // namespace quenza::common::test

using quenza::common::test::RecordingExtractor;
using quenza::common::test::RecordingWriter;
template <>
const std::string quenza::common::AbstractExtractorPlugin<RecordingExtractor>::s_name = "ExtractorName";
template <>
const std::string quenza::common::AbstractExtractorPlugin<RecordingExtractor>::s_version = "1.2.3";
template <>
const std::string quenza::common::AbstractWriterPlugin<RecordingWriter>::s_name = "WriterName";
template <>
const std::string quenza::common::AbstractWriterPlugin<RecordingWriter>::s_version = "4.5.6";

namespace quenza::common::test {
namespace {

TEST(AbstractExtractorPluginTest, ReportsItsConstantsByReference)
{
    TestExtractorPlugin plugin;
    const solvane::Plugin& base = plugin;
    EXPECT_EQ(base.api(), 6u);
    EXPECT_EQ(base.name(), "ExtractorName");
    EXPECT_EQ(base.version(), "1.2.3");
    EXPECT_EQ(base.supportedFormats(), solvane::FormatList{"TEST"});
    EXPECT_EQ(base.extensionMap(), (solvane::ExtensionMap{{"tst", "TEST"}}));
    EXPECT_EQ(&base.name(), &TestExtractorPlugin().name());
}

TEST(AbstractExtractorPluginTest, OpenCallsBuildANewExtractorEachTime)
{
    TestExtractorPlugin plugin;
    solvane::ExtractorPlugin& base = plugin;
    auto first = base.openFile("/some/path.tst");
    auto second = base.openFile("/some/path.tst");
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    auto byPath = std::dynamic_pointer_cast<RecordingExtractor>(first);
    ASSERT_NE(byPath, nullptr);
    EXPECT_EQ(byPath->m_path, "/some/path.tst");

    auto stream = dravik::StreamAccessFactory::createInMemory();
    auto byAccess = std::dynamic_pointer_cast<RecordingExtractor>(base.openDataAccess(stream, "TEST"));
    ASSERT_NE(byAccess, nullptr);
    EXPECT_EQ(byAccess->m_accessor, stream);
    EXPECT_EQ(byAccess->m_format, "TEST");
}

TEST(AbstractExtractorPluginTest, ConstructorErrorsPropagate)
{
    TestExtractorPlugin plugin;
    EXPECT_THROW(plugin.openFile(""), dravik::InvalidArgument);
    EXPECT_THROW(plugin.openDataAccess(dravik::StreamAccessFactory::createInMemory(), "KM"), dravik::InvalidArgument);
}

TEST(AbstractWriterPluginTest, ReportsItsConstantsAndBuildsWriters)
{
    TestWriterPlugin plugin;
    solvane::WriterPlugin& base = plugin;
    EXPECT_EQ(base.api(), 6u);
    EXPECT_EQ(base.name(), "WriterName");
    EXPECT_EQ(base.version(), "4.5.6");
    EXPECT_EQ(base.supportedFormats(), solvane::FormatList{"TEST"});
    EXPECT_EQ(base.extensionMap(), (solvane::ExtensionMap{{"tst", "TEST"}}));

    auto view = dravik::ImageViewFactory::allocate({2, 2}, dravik::DataTypeId::UINT8);
    auto byPath = std::dynamic_pointer_cast<RecordingWriter>(base.openFile(view, "out.tst"));
    ASSERT_NE(byPath, nullptr);
    EXPECT_EQ(byPath->m_view, view);
    EXPECT_EQ(byPath->m_path, "out.tst");

    auto stream = dravik::StreamAccessFactory::createInMemory();
    auto writer = base.openDataAccess(view, stream, "TEST");
    EXPECT_EQ(writer.use_count(), 1);
    auto byAccess = std::dynamic_pointer_cast<RecordingWriter>(writer);
    ASSERT_NE(byAccess, nullptr);
    EXPECT_EQ(byAccess->m_accessor, stream);
    EXPECT_EQ(byAccess->m_format, "TEST");
    EXPECT_NE(base.openDataAccess(view, stream, "TEST"), writer);
    EXPECT_THROW(base.openDataAccess(view, stream, "RAW"), dravik::InvalidArgument);
}

using PluginDescriptorLoggerTest = FreshProcessTest;

Problems checkSharedLevel()
{
    Problems p;
    TestExtractorPlugin extractor;
    TestWriterPlugin writer;
    p.expect(extractor.logLevel() == dravik::LOG_OFF, "extractor level before init is not LOG_OFF");
    writer.initLogger(dravik::LOG_DEBUG);
    p.expect(extractor.logLevel() == dravik::LOG_DEBUG, "the extractor does not see the writer's level");
    p.expect(writer.logLevel() == dravik::LOG_DEBUG, "the writer does not report its level");
    extractor.initLogger(dravik::LOG_ERR);
    writer.initLogger(dravik::LOG_ERR);
    p.expect(extractor.logLevel() == dravik::LOG_DEBUG && writer.logLevel() == dravik::LOG_DEBUG,
             "a later initLogger changed the level");
    p.expect(PluginLogger::logger() != nullptr, "no logger after initLogger");
    return p;
}

TEST_F(PluginDescriptorLoggerTest, DescriptorsOfALibraryShareTheFirstLevel)
{
    EXPECT_NO_PROBLEMS_IN_FRESH_PROCESS(checkSharedLevel);
}

} // namespace
} // namespace quenza::common::test
