// The KorvelMesh plug-in as a user's program sees it: loaded by the host, reached only
// through its exported descriptors.

#include "KmTestSupport.h"

#include <quenza/host/PluginRegistry.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace quenza::km::test {
namespace {

using namespace dravik;

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

std::string tempDir(const std::string& name)
{
    const std::string dir = ::testing::TempDir() + "/" + name + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    return dir;
}

TEST(KmEndToEnd, DescriptorsAsTheHostSeesThem)
{
    const auto* reader = registry().readerOf("KM");
    const auto* writer = registry().writerOf("KM");
    ASSERT_NE(reader, nullptr) << "libquenza-korvelMesh.so not found in "
                               << quenza::host::PluginRegistry::defaultPluginPath();
    EXPECT_EQ(reader, writer) << "one library reads and writes";
    ASSERT_NE(reader->extractor, nullptr);
    ASSERT_NE(reader->writer, nullptr);
    EXPECT_EQ(reader->extractor->name(), "KorvelMeshPlugin");
    EXPECT_EQ(reader->writer->version(), "1.3.0");
    EXPECT_EQ(reader->extractor->logLevel(), LOG_WARNING) << "the host started the logger with its default level";
    EXPECT_EQ(registry().readerForPath("a/b/volume.KM").second, "KM");
}

struct Kind {
    DataType type;
    const char* name;
};

TEST(KmEndToEnd, RoundTripsKeepVoxelsCalibrationAndMetadata)
{
    const std::string dir = tempDir("km-e2e");
    const Kind kinds[] = {{DataTypeId::UINT8, "uint8"},   {DataTypeId::INT16, "int16"},
                          {DataTypeId::FLOAT, "float"},   {DataTypeId::DOUBLE, "double"},
                          {DataTypeId::INT64, "int64"},   {DataTypeId::VEC3_UINT8, "rgb"},
                          {DataTypeId::COMPLEX_FLOAT, "complex"}};
    const VectorXu64 shapes[] = {{1, 1, 1}, {5, 4, 3}, {33, 2, 7}};
    auto metadata = MetadataNodeFactory::create("root", nullptr);
    MetadataNodeHelper::createPath(metadata, "KM/Content", VariantDataValueFactory::create("volume \"one\""));
    MetadataNodeHelper::createPath(metadata, "KM/Acquisition/Voltage", VariantDataValueFactory::create(300.25));
    for (const char* method : {"RAW", "RLE", "ZIP"}) {
        for (const Kind& kind : kinds) {
            for (const VectorXu64& shape : shapes) {
                const std::string path = dir + "/" + method + "-" + kind.name + "-" + std::to_string(shape[0]) + ".km";
                SCOPED_TRACE(path);
                const Bytes values = counting(static_cast<size_t>(shape.prod()), static_cast<size_t>(kind.type.byteCount()));
                auto properties = ImageProperties::fromDataType(kind.type);
                properties->calibration().setOrigin({1.5, -2, 0.25});
                properties->calibration().setSpacing({0.5, 0.25, 2});
                properties->calibration().setUnit("mm");
                auto image = ImageViewFactory::fromImageView(imageOf(shape, kind.type, values), properties, metadata);

                auto created = registry().createWriter(image, path);
                EXPECT_EQ(created.format, "KM");
                created.writer->setOption("compressor", VariantDataValueFactory::create(method));
                created.writer->writeAll();
                created.writer.reset();

                auto opened = registry().open(path);
                auto back = ImageViewProvider::toImage(opened.view);
                ASSERT_NE(back, nullptr);
                EXPECT_EQ(back->shape(), shape);
                EXPECT_EQ(back->dataType(), kind.type);
                EXPECT_EQ(readAll(*back), values);
                const auto& calibration = back->properties()->calibration();
                EXPECT_EQ(calibration.origin(), (Vector3d{1.5, -2, 0.25}));
                EXPECT_EQ(calibration.spacing(), (Vector3d{0.5, 0.25, 2}));
                EXPECT_EQ(calibration.unit(), "mm");
                auto content = MetadataNodeHelper::getNode(back->metadata(), "KM/Content");
                ASSERT_NE(content, nullptr);
                EXPECT_EQ(VariantDataValueConverter::toString(*content->value()), "volume \"one\"");
                auto voltage = MetadataNodeHelper::getNode(back->metadata(), "KM/Acquisition/Voltage");
                ASSERT_NE(voltage, nullptr);
                EXPECT_EQ(VariantDataValueConverter::toDouble(*voltage->value()), 300.25);
            }
        }
    }
}

TEST(KmEndToEnd, LabelsStayLabels)
{
    const std::string dir = tempDir("km-e2e-labels");
    Bytes values(64 * 64 * 4, 0);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<uint8_t>((i / 500) % 3);
    }
    auto properties = ImageProperties::fromDataType(DataTypeId::UINT8);
    properties->imageInfo().setInterpretation(ImageInterpretation::LABEL);
    auto image = ImageViewFactory::fromImageView(imageOf({64, 64, 4}, DataTypeId::UINT8, values), properties, nullptr);
    registry().createWriter(image, dir + "/labels.km").writer->writeAll();
    const Bytes file = fileBytes(dir + "/labels.km");
    EXPECT_NE(std::string(file.begin(), file.end()).find("Lattice { byte Labels } @1(HxByteRLE,"), std::string::npos);
    EXPECT_LT(file.size(), values.size() / 10) << "runs are coded";
    auto back = ImageViewProvider::toImage(registry().open(dir + "/labels.km").view);
    EXPECT_EQ(back->properties()->imageInfo().interpretation(), ImageInterpretation::LABEL);
    EXPECT_EQ(readAll(*back), values);
}

TEST(KmEndToEnd, ReadErrorsReachTheHostAsTheirMessages)
{
    const std::string dir = tempDir("km-e2e-errors");
    writeFile(dir + "/short.km", fileOf(header("BINARY-LITTLE-ENDIAN", "4 4 4", "Lattice { ushort Data } @1"), Bytes(10, 0)));
    EXPECT_EQ(errorOf([&] { registry().open(dir + "/short.km"); }),
              "Unable to create an access to image data(Data is truncated)");
    EXPECT_EQ(errorOf([&] { registry().readerOf("KM")->extractor->openDataAccess(streamOf(Bytes(3, 0)), "KM"); }),
              "Expected section is not found");
}

} // namespace
} // namespace quenza::km::test
