#include <quenza/EncodingError.h>
#include <quenza/UnsupportedFormat.h>
#include <quenza/Version.h>

#include <solvane/ExtractorPlugin.h>
#include <solvane/WriterPlugin.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

// A descriptor that overrides only what the interface leaves pure, as a plug-in whose
// library has no logger does.
class BareExtractor : public solvane::ExtractorPlugin {
public:
    const std::string& name() const override { return m_name; }
    const std::string& version() const override { return m_version; }
    const solvane::FormatList& supportedFormats() const override { return m_formats; }
    const solvane::ExtensionMap& extensionMap() const override { return m_map; }
    std::shared_ptr<dravik::View> openFile(const std::string&) override { return nullptr; }
    std::shared_ptr<dravik::View> openDataAccess(std::shared_ptr<dravik::DataAccess>, const std::string&) override
    {
        return nullptr;
    }

private:
    std::string m_name = "Bare";
    std::string m_version = "0.1.0";
    solvane::FormatList m_formats{"BARE"};
    solvane::ExtensionMap m_map{{"bare", "BARE"}};
};

TEST(FrameworkHeaders, VersionRecordIsOneEightZero)
{
    EXPECT_EQ(QUENZA_VERSION.major, 1);
    EXPECT_EQ(QUENZA_VERSION.minor, 8);
    EXPECT_EQ(QUENZA_VERSION.patch, 0);
    EXPECT_STREQ(QUENZA_VERSION_STRING, "1.8.0");
}

TEST(FrameworkHeaders, RevisionIsFortyHexDigits)
{
    const std::string sha = QUENZA_SHA;
    ASSERT_EQ(sha.size(), 40u);
    for (char c : sha) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << sha;
    }
}

TEST(FrameworkHeaders, DescriptorDefaultsAreApiSixAndNoLogger)
{
    BareExtractor plugin;
    solvane::Plugin& base = plugin;
    EXPECT_EQ(base.api(), 6u);
    base.initLogger(dravik::LOG_TRACE);
    EXPECT_EQ(base.logLevel(), dravik::LOG_OFF);
}

TEST(FrameworkHeaders, ExceptionsAreDravikErrorsCarryingTheirText)
{
    try {
        throw quenza::UnsupportedFormat(std::string("Given DataType (DOUBLE) is not supported"));
    } catch (const dravik::Error& e) {
        EXPECT_STREQ(e.what(), "Given DataType (DOUBLE) is not supported");
    }
    char message[] = "Calling writeData at wrong step";
    quenza::EncodingError error(message);
    std::memset(message, 0, sizeof message); // the error keeps its own copy
    EXPECT_STREQ(error.what(), "Calling writeData at wrong step");
    EXPECT_NE(dynamic_cast<const dravik::Error*>(&error), nullptr);
}

} // namespace
