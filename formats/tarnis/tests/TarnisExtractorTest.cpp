#include "TestSupport.h"
#include "TarnisTestSupport.h"

#include <TarnisEditableImageView.h>
#include <TarnisExtractor.h>
#include <TarnisExtractorPlugin.h>
#include <TarnisWriterPlugin.h>

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include <dlfcn.h>
#include <sys/stat.h>
#include <utime.h>

namespace quenza::tarnis::test {
namespace {

using dravik::VectorXu64;

Bytes plainFile()
{
    V6Fields f;
    f.gx = 8;
    f.gy = 4;
    Blocks blocks;
    blocks.calibration = calibrationBlock(4424);
    return v6File(f, pattern(32), blocks);
}

Bytes fileWithOverlay()
{
    V6Fields f;
    f.gx = 8;
    f.gy = 4;
    f.version = 6000;
    Blocks blocks;
    blocks.graphics = pattern(64, 3);
    blocks.calibration = calibrationBlock(4424);
    return v6File(f, pattern(32), blocks);
}

void expectDescriptors(solvane::ExtractorPlugin& reader, solvane::WriterPlugin& writer)
{
    for (solvane::Plugin* plugin : {static_cast<solvane::Plugin*>(&reader), static_cast<solvane::Plugin*>(&writer)}) {
        EXPECT_EQ(plugin->api(), 6u);
        EXPECT_EQ(plugin->name(), "TarnisPlugin");
        EXPECT_EQ(plugin->version(), "1.2.0");
        plugin->initLogger(dravik::LOG_TRACE);
        EXPECT_EQ(plugin->logLevel(), dravik::LOG_OFF) << "the library has no logger";
    }
    EXPECT_EQ(reader.supportedFormats(), (solvane::FormatList{"TARNIS_3", "TARNIS_4", "TARNIS_5", "TARNIS_6"}));
    EXPECT_EQ(reader.extensionMap(), (solvane::ExtensionMap{{"im3", "TARNIS_3"},
                                                            {"im4", "TARNIS_4"},
                                                            {"im5", "TARNIS_5"},
                                                            {"im6", "TARNIS_6"}}));
    EXPECT_EQ(writer.supportedFormats(), solvane::FormatList{"TARNIS_6"});
    EXPECT_EQ(writer.extensionMap(), (solvane::ExtensionMap{{"im6", "TARNIS_6"}}));
}

TEST(TarnisExtractorTest, DescriptorsAsTabled)
{
    TarnisExtractorPlugin reader;
    TarnisWriterPlugin writer;
    expectDescriptors(reader, writer);
    EXPECT_EQ(&reader.supportedFormats(), &TarnisExtractorPlugin::s_supportedFormats);
    EXPECT_EQ(&writer.extensionMap(), &TarnisWriterPlugin::s_extensionMap);
}

TEST(TarnisExtractorTest, AFileWithoutOverlayOpensAsItsImage)
{
    const std::string dir = tempPath("data");
    boost::filesystem::create_directories(dir);
    const std::string path = dir + "/cells.im6";
    writeFile(path, plainFile());
    auto view = TarnisExtractorPlugin().openFile(path);
    auto image = std::dynamic_pointer_cast<TarnisEditableImageView>(view);
    ASSERT_NE(image, nullptr) << "a writable file gives an editable main frame";
    EXPECT_EQ(dravik::MultiImageViewProvider::toMultiImage(view), nullptr);
    EXPECT_EQ(image->tarnisInformation().name, "cells");
    EXPECT_EQ(image->shape(), (VectorXu64{8, 4}));
    auto fromFile = dravik::MetadataNodeHelper::getNode(image->metadata(), "TARNIS/FromFile");
    ASSERT_NE(fromFile, nullptr);
    EXPECT_EQ(fromFile->value()->strings().front(), path);
    EXPECT_EQ(readAll(*image), pattern(32).data()) << "the view keeps the file open without the extractor";
    auto origin = image->viewOrigin();
    EXPECT_EQ(origin->displayName(), "TarnisPlugin frame Extractor");
    EXPECT_EQ(origin->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    EXPECT_EQ(origin->parent(0)->displayName(), "TarnisPlugin Extractor");
    view.reset();
    image.reset();
    boost::filesystem::remove_all(dir);
}

TEST(TarnisExtractorTest, AFileWithOverlayOpensAsTwoFrames)
{
    const std::string path = tempPath("labels.im3");
    writeFile(path, fileWithOverlay());
    TarnisExtractorPlugin plugin;
    auto view = plugin.openFile(path);
    auto multi = std::dynamic_pointer_cast<TarnisExtractor>(view);
    ASSERT_NE(multi, nullptr) << "recognised by its magic number whatever the extension";
    EXPECT_EQ(multi->frameCount(), 2u);
    EXPECT_EQ(multi->capabilities(), dravik::MultiImageCapabilitySet(dravik::MultiImageCapability::READ));
    auto overlay = multi->frame(1);
    EXPECT_TRUE(dravik::MetadataNodeHelper::exists(overlay->metadata(), "TARNIS/Overlay"));
    EXPECT_TRUE(dravik::MetadataNodeHelper::exists(overlay->metadata(), "TARNIS/FromFile"));
    EXPECT_TRUE(dravik::MetadataNodeHelper::exists(multi->metadata(), "TARNIS/FromFile"));
    EXPECT_EQ(overlay->imageInterpretation(), dravik::ImageInterpretation::LABEL);
    EXPECT_EQ(readAll(*overlay), pattern(64, 3).data());
    EXPECT_EQ(multi->frame(0)->shape(), (VectorXu64{8, 4}));
    EXPECT_EQ(errorOf([&] { multi->frame(2); }), "Invalid frame index: 2");
    EXPECT_EQ(multi->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    std::remove(path.c_str());
}

TEST(TarnisExtractorTest, DataAccessesAreReadByMagicNumber)
{
    TarnisExtractorPlugin plugin;
    for (const char* format : {"TARNIS_3", "TARNIS_6", "anything"}) {
        auto view = plugin.openDataAccess(memoryStream(plainFile()), format);
        auto image = dravik::ImageViewProvider::toImage(view);
        ASSERT_NE(image, nullptr) << format;
        EXPECT_FALSE(dravik::MetadataNodeHelper::exists(image->metadata(), "TARNIS/FromFile"));
        EXPECT_EQ(image->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::UNKNOWN);
    }
    EXPECT_EQ(plugin.openDataAccess(nullptr, "TARNIS_6"), nullptr);
    EXPECT_EQ(errorOf([&] { plugin.openDataAccess(dravik::RandomAccessFactory::fromBytes(plainFile().data()), "TARNIS_6"); }),
              "Invalid storage");

    TarnisExtractor extractor(memoryStream(fileWithOverlay()));
    EXPECT_EQ(extractor.metadata(), nullptr);
    EXPECT_EQ(extractor.frameCount(), 2u);

    // A stream that cannot write gives a read-only main frame.
    const std::string path = tempPath("readonly.im6");
    writeFile(path, plainFile());
    auto readOnly = dravik::ImageViewProvider::toImage(
        plugin.openDataAccess(dravik::StreamAccessFactory::openFileRead(path), "TARNIS_6"));
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<TarnisEditableImageView>(readOnly), nullptr);
    EXPECT_EQ(readOnly->capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));
    std::remove(path.c_str());
}

TEST(TarnisExtractorTest, BadPathsAndStreams)
{
    EXPECT_EQ(errorOf([] { TarnisExtractor("/no/such/dir/cells.im6"); }), "Invalid file path: /no/such/dir/cells.im6");
    EXPECT_EQ(errorOf([] { TarnisExtractor(::testing::TempDir()); }), "Impossible to open file") << "a directory";
    const std::string path = tempPath("garbage.im6");
    writeFile(path, pattern(200));
    EXPECT_EQ(errorOf([&] { TarnisExtractorPlugin().openFile(path); }).substr(0, 21), "Invalid magic number ");
    std::remove(path.c_str());
}

struct FileState {
    Bytes bytes;
    struct timespec modified;
};

FileState stateOf(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return {readFile(path), info.st_mtim};
}

TEST(TarnisExtractorTest, OpeningAndReadingNeverChangeTheFile)
{
    for (const Bytes& content : {plainFile(), fileWithOverlay()}) {
        const std::string path = tempPath("untouched.im6");
        writeFile(path, content);
        struct utimbuf old {1000000000, 1000000000};
        ASSERT_EQ(::utime(path.c_str(), &old), 0);
        const FileState before = stateOf(path);
        {
            auto view = TarnisExtractorPlugin().openFile(path);
            if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
                for (uint64_t i = 0; i < multi->frameCount(); ++i) {
                    readAll(*multi->frame(i));
                }
            } else {
                auto image = dravik::ImageViewProvider::toImage(view);
                readAll(*image);
                uint8_t one;
                image->read({1, 1}, &one);
            }
        }
        const FileState after = stateOf(path);
        EXPECT_EQ(after.bytes.data(), before.bytes.data());
        EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec);
        EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);
        std::remove(path.c_str());
    }
}

// The built library, opened as a host would.
TEST(TarnisExtractorTest, TheLibraryExportsBothDescriptorsAndNothingElse)
{
    void* handle = ::dlopen(QUENZA_TARNIS_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* reader = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    auto* writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(writer, nullptr);
    expectDescriptors(*reader, *writer);
    auto image = dravik::ImageViewProvider::toImage(reader->openDataAccess(memoryStream(plainFile()), "TARNIS_6"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->shape(), (VectorXu64{8, 4}));
    image.reset();

    quenza::common::test::expectOnlyExports(QUENZA_NM, QUENZA_TARNIS_PLUGIN_PATH, {"g_extractorPlugin", "g_writerPlugin"});
}

} // namespace
} // namespace quenza::tarnis::test
