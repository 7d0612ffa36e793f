#include "VxtTestSupport.h"

#include <VxtExtractor.h>
#include <VxtWriter.h>

#include <quenza/EncodingError.h>
#include <quenza/UnsupportedFormat.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <boost/algorithm/string/predicate.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace quenza::vxt::test {
namespace {

using dravik::VariantDataValueFactory;

std::shared_ptr<dravik::ImageView> volumeImage(Size3 size, dravik::DataType type = dravik::DataTypeId::UINT8)
{
    return makeVolume(size, type).image();
}

template <typename E>
std::string errorOfType(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong type: ") + e.what();
    }
    return "(no error)";
}

class VxtWriterTest : public ::testing::Test {
protected:
    std::shared_ptr<VxtWriter> writer(std::shared_ptr<dravik::View> view, const std::string& name = "v.vxt")
    {
        return std::make_shared<VxtWriter>(std::move(view), output(*m_storage, name), "VXT");
    }
    std::shared_ptr<VxtExtractor> reader(const std::string& name = "v.vxt")
    {
        return std::make_shared<VxtExtractor>(input(*m_storage, name), "VXT");
    }

    std::shared_ptr<dravik::DataStorage> m_storage = dravik::DataStorageFactory::createInMemory();
};

TEST_F(VxtWriterTest, OptionsAreCheckedAndOnlyBeforeWriteInit)
{
    auto w = writer(volumeImage({10, 10, 10}));
    const struct {
        const char* name;
        std::shared_ptr<dravik::VariantDataValue> value;
        std::string message;
    } refused[] = {
        {"tileSize", VariantDataValueFactory::create(std::vector<int64_t>{8, 8}), "tileSize needs a numerical VariantDataValue with 3 values"},
        {"tileSize", VariantDataValueFactory::create(std::vector<int64_t>{8, 0, 8}), "tileSize needs a numerical VariantDataValue with 3 values"},
        {"tileSize", VariantDataValueFactory::create(std::vector<int64_t>{8, -8, 8}), "tileSize needs a numerical VariantDataValue with 3 values"},
        {"tileSize", VariantDataValueFactory::create(std::vector<double>{8.5, 8, 8}), "tileSize needs a numerical VariantDataValue with 3 values"},
        {"tileSize", VariantDataValueFactory::create("8,8,8"), "tileSize needs a numerical VariantDataValue with 3 values"},
        {"tileSize", nullptr, "tileSize needs a numerical VariantDataValue with 3 values"},
        {"compressor", VariantDataValueFactory::create(int32_t(1)), "compressor option shall be a string"},
        {"compressor", nullptr, "compressor option shall be a string"},
        {"compressor", VariantDataValueFactory::create("zstd"), "Compressor not supported"},
        {"compressor", VariantDataValueFactory::create("gzipdatacompressor"), "Compressor not supported"},
        {"compressionLevel", VariantDataValueFactory::create(int64_t(0)), "Invalid level of compression: should be between 1 and 9"},
        {"compressionLevel", VariantDataValueFactory::create(int64_t(10)), "Invalid level of compression: should be between 1 and 9"},
        {"compressionLevel", VariantDataValueFactory::create(int64_t(-1)), "Invalid level of compression: should be between 1 and 9"},
        {"compressionLevel", VariantDataValueFactory::create("fast"), "Invalid level of compression: should be between 1 and 9"},
        {"compressionLevel", nullptr, "Invalid level of compression: should be between 1 and 9"},
        {"zipLevel", VariantDataValueFactory::create(int64_t(1)), "impossible to set options"},
        {"", VariantDataValueFactory::create(int64_t(1)), "impossible to set options"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(errorOf([&] { w->setOption(r.name, r.value); }), r.message) << r.name;
    }
    w->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{4, 5, 6}));
    w->setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
    w->setOption("compressionLevel", VariantDataValueFactory::create(int64_t(9)));
    w->setOption("histogram", VariantDataValueFactory::create(int64_t(1)));
    EXPECT_EQ(w->handle()->m_tileSize, (Vector3u64{4, 5, 6}));
    EXPECT_TRUE(w->handle()->m_compressed);
    EXPECT_EQ(w->handle()->m_compressionLevel, 9u);
    EXPECT_TRUE(w->handle()->m_histogram);
    w->setOption("compressor", VariantDataValueFactory::create(""));
    w->setOption("histogram", VariantDataValueFactory::create(int64_t(0)));
    EXPECT_FALSE(w->handle()->m_compressed);
    EXPECT_EQ(w->handle()->m_compressor, "");
    EXPECT_FALSE(w->handle()->m_histogram);
    w->writeInit();
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->setOption("tileSize", nullptr); }),
              "Calling setOption whereas header has already been written.");
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->setOption("anything", nullptr); }),
              "Calling setOption whereas header has already been written.");

    auto floats = writer(volumeImage({4, 4, 4}, dravik::DataTypeId::FLOAT), "f.vxt");
    EXPECT_EQ(errorOf([&] { floats->setOption("histogram", VariantDataValueFactory::create(int64_t(1))); }),
              "Histogram is not available for floating data");
}

TEST_F(VxtWriterTest, CallsOutOfOrderAreRefused)
{
    auto w = writer(volumeImage({10, 10, 10}));
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeData(); }), "Calling writeData at wrong step");
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeFinish(); }), "Calling writeFinish at wrong step");
    w->writeInit();
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeInit(); }), "Calling writeInit again is not accepted");
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeFinish(); }), "Calling writeFinish at wrong step");
    w->writeData();
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeData(); }), "Calling writeData at wrong step");
    EXPECT_EQ(resourceBytes(*m_storage, "v.vxt").size(), 0u) << "the header comes last";
    w->writeFinish();
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeFinish(); }), "Calling writeFinish at wrong step");
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeData(); }), "Calling writeData at wrong step");
    EXPECT_EQ(errorOfType<EncodingError>([&] { w->writeAll(); }), "Calling writeInit again is not accepted");
    EXPECT_EQ(w->name(), "VxtPlugin");
    EXPECT_EQ(w->version(), "3.3.1");
    EXPECT_TRUE(readAll(*reader()->resolution(0)) == readAll(*w->input()));
}

TEST_F(VxtWriterTest, InputsAreNormalisedOrRefused)
{
    // A 2-D image becomes one slice.
    auto flat = writer(dravik::ImageViewFactory::allocate({300, 200}, dravik::DataTypeId::UINT16));
    EXPECT_EQ(flat->input()->shape(), (dravik::VectorXu64{300, 200, 1}));
    // Frames are stacked; a multi-resolution view gives its full resolution.
    std::vector<std::shared_ptr<dravik::ImageView>> frames;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(dravik::ImageViewFactory::allocate({5, 4}, dravik::DataTypeId::INT16));
    }
    EXPECT_EQ(writer(dravik::MultiImageViewFactory::create(frames))->input()->shape(), (dravik::VectorXu64{5, 4, 3}));

    using dravik::DataTypeId;
    const struct {
        const char* what;
        std::shared_ptr<dravik::View> view;
        std::string message;
    } refused[] = {
        {"4-D", dravik::ImageViewFactory::allocate({2, 2, 2, 2}, DataTypeId::UINT8), "VXT writer plugin only handles 3D images"},
        {"1-D", dravik::ImageViewFactory::allocate({8}, DataTypeId::UINT8), "VXT writer plugin only handles 3D images"},
        {"empty", dravik::ImageViewFactory::allocate({8, 0, 2}, DataTypeId::UINT8), "VXT writer cannot write an empty volume of shape (8, 0, 2)"},
        {"a stack of 3-D frames", dravik::MultiImageViewFactory::create({dravik::ImageViewFactory::allocate({2, 2, 2}, DataTypeId::UINT8)}),
         "Input multiImageView does not represent a volume"},
        {"a plain view", std::make_shared<dravik::View>(), "VXT writer needs an image, a multi-image or a multi-resolution view"},
        {"nothing", nullptr, "VXT writer needs an image, a multi-image or a multi-resolution view"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(errorOf([&] { writer(r.view); }), r.message) << r.what;
    }
    for (const dravik::DataType type : {dravik::DataType(DataTypeId::UINT64), dravik::DataType(DataTypeId::INT64),
                                        dravik::DataType(DataTypeId::DOUBLE), dravik::DataType(DataTypeId::VEC3_UINT8),
                                        dravik::DataType(DataTypeId::COMPLEX_FLOAT)}) {
        EXPECT_EQ(errorOfType<UnsupportedFormat>([&] { writer(dravik::ImageViewFactory::allocate({2, 2, 2}, type)); }),
                  "Given DataType (" + type.toString() + ") is not supported");
    }
    // A single-component type that the header has no word for is refused as early.
    class TextImage : public CountingImage {
    public:
        using CountingImage::CountingImage;
        dravik::DataType dataType() const override { return dravik::DataTypeId::UTF8_STRING; }
    };
    EXPECT_EQ(errorOfType<UnsupportedFormat>([&] { writer(std::make_shared<TextImage>(volumeImage({2, 2, 2}))); }),
              "Given DataType (" + dravik::DataType(DataTypeId::UTF8_STRING).toString() + ") is not supported");
}

class NoLevels : public dravik::LodImageView {
public:
    dravik::Vector<int64_t, 2> levelRange() const override { return {0, -1}; }
    std::shared_ptr<dravik::ImageView> resolution(int64_t) override { throw dravik::InvalidArgument("none"); }
};

class UnreadableImage : public CountingImage {
public:
    using CountingImage::CountingImage;
    dravik::ImageCapabilitySet capabilities() const override { return {}; }
};

class UnreadableMulti : public dravik::MultiImageView {
public:
    dravik::MultiImageCapabilitySet capabilities() const override { return {}; }
    uint64_t frameCount() const override { return 0; }
    std::shared_ptr<dravik::ImageView> frame(uint64_t) override { return nullptr; }
};

class OneLevel : public dravik::LodImageView {
public:
    explicit OneLevel(std::shared_ptr<dravik::ImageView> image)
        : m_image(std::move(image))
    {
    }
    dravik::Vector<int64_t, 2> levelRange() const override { return {0, 0}; }
    std::shared_ptr<dravik::ImageView> resolution(int64_t) override { return m_image; }
    std::shared_ptr<dravik::ImageView> m_image;
};

TEST_F(VxtWriterTest, UnreadableAndEmptyInputsAreRefused)
{
    auto unreadable = std::make_shared<UnreadableImage>(volumeImage({4, 4, 4}));
    EXPECT_EQ(errorOf([&] { writer(unreadable); }), "Input ImageView does not have read capability");
    EXPECT_EQ(errorOf([&] { writer(std::make_shared<NoLevels>()); }), "Provided LodImage does not contain any level");
    EXPECT_EQ(errorOf([&] { writer(std::make_shared<OneLevel>(unreadable)); }), "Provided LodImage is not readable");
    EXPECT_EQ(errorOf([&] { writer(std::make_shared<UnreadableMulti>()); }), "Input MultiImageView is not readable");
    auto image = volumeImage({4, 4, 4});
    EXPECT_EQ(writer(std::make_shared<OneLevel>(image))->input(), image);
}

TEST_F(VxtWriterTest, OutputsAreChecked)
{
    auto image = volumeImage({4, 4, 4});
    for (const std::string format : {"vxt", "KM", ""}) {
        EXPECT_EQ(errorOfType<dravik::InvalidArgument>([&] { VxtWriter(image, output(*m_storage, "a.vxt"), format); }),
                  "Format " + format + " not supported by the plugin VxtPlugin");
    }
    EXPECT_EQ(errorOf([&] { VxtWriter(image, dravik::RandomAccessFactory::fromBytes({}), "VXT"); }),
              "VXT writer needs a writable stream access as output");
    EXPECT_EQ(errorOf([&] { VxtWriter(image, nullptr, "VXT"); }), "VXT writer needs a writable stream access as output");
    putResource(*m_storage, "r.vxt", std::string("x"));
    EXPECT_EQ(errorOf([&] { VxtWriter(image, input(*m_storage, "r.vxt"), "VXT"); }),
              "VXT writer needs a writable stream access as output");
    EXPECT_EQ(errorOf([&] { VxtWriter(image, dravik::StreamAccessFactory::createInMemory(), "VXT"); }),
              "Storage of given output stream cannot be retrieved");
}

TEST_F(VxtWriterTest, TheDataFileIsNamedAfterTheHeader)
{
    const std::pair<std::string, std::string> names[] = {
        {"Scan.VXT", "Scan.dat"}, {"scan.vxa", "scan.dat"}, {"scan.xml", "scan.xml_data"},
        {"vxt", "vxt_data"},      {".vxt", ".dat"},        {"a.b.Vxa", "a.b.dat"},
    };
    for (const auto& [header, data] : names) {
        EXPECT_EQ(VxtWriter::dataFileNameFor(header), data);
        auto w = writer(volumeImage({3, 3, 3}), header);
        EXPECT_EQ(w->handle()->m_dataAccess->resourceId(), data);
        EXPECT_TRUE(m_storage->exists(data));
    }
    EXPECT_EQ(VxtWriter::dataFileNameFor(""), "");
    // Without a name, a fresh one is made from a random identifier.
    std::set<std::string> made;
    for (int i = 0; i < 3; ++i) {
        class Nameless : public StreamInStorage {
        public:
            using StreamInStorage::StreamInStorage;
            std::string resourceId() const override { return {}; }
        };
        auto stream = std::make_shared<Nameless>(output(*m_storage, "x" + std::to_string(i)), m_storage);
        VxtWriter w(volumeImage({3, 3, 3}), stream, "VXT");
        const std::string name = w.handle()->m_dataAccess->resourceId();
        EXPECT_EQ(name.size(), 36u + 4u) << name;
        EXPECT_TRUE(boost::algorithm::ends_with(name, ".dat")) << name;
        made.insert(name);
    }
    EXPECT_EQ(made.size(), 3u);
}

TEST_F(VxtWriterTest, TilingInfoOfTheInputSetsTheTileSizeUnlessOverridden)
{
    auto tiled = std::make_shared<CountingImage>(volumeImage({100, 70, 30}), true);
    tiled->m_tiling = std::make_shared<FixedTiling>(dravik::VectorXu64{64, 64, 64});
    auto w = writer(tiled);
    EXPECT_EQ(w->handle()->m_tileSize, (Vector3u64{64, 64, 64}));
    w->writeAll();
    EXPECT_EQ(reader()->handle()->m_tileSize, (Vector3u64{64, 64, 64}));
    auto overridden = writer(tiled, "o.vxt");
    overridden->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{16, 32, 8}));
    overridden->writeAll();
    EXPECT_EQ(reader("o.vxt")->handle()->m_tileSize, (Vector3u64{16, 32, 8}));
    // A tiling info of another dimension is ignored.
    tiled->m_tiling = std::make_shared<FixedTiling>(dravik::VectorXu64{64, 64});
    EXPECT_EQ(writer(tiled, "p.vxt")->handle()->m_tileSize, (Vector3u64{128, 128, 128}));
    EXPECT_EQ(writer(volumeImage({4, 4, 4}), "q.vxt")->handle()->m_tileSize, (Vector3u64{128, 128, 128}));
}

TEST_F(VxtWriterTest, MoreThanTwentyLevelsAreRefused)
{
    const uint64_t limit = uint64_t(1) << 19;
    auto fits = writer(dravik::ImageViewFactory::allocate({limit, 1, 1}, dravik::DataTypeId::UINT8));
    fits->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{1, 1, 1}));
    EXPECT_NO_THROW(fits->writeInit());
    auto tooMany = writer(dravik::ImageViewFactory::allocate({limit + 1, 1, 1}, dravik::DataTypeId::UINT8), "w.vxt");
    tooMany->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{1, 1, 1}));
    EXPECT_EQ(errorOfType<EncodingError>([&] { tooMany->writeInit(); }), "Max level count is reached");
    auto huge = writer(dravik::ImageViewFactory::allocate({4, 4, 4}, dravik::DataTypeId::UINT32), "h.vxt");
    huge->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{65536, 65536, 1}));
    EXPECT_EQ(errorOfType<EncodingError>([&] { huge->writeInit(); }),
              "VXT tiles of (65536, 65536, 1) voxels are larger than the 4294967295 bytes supported");
}

std::vector<std::string> elementLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(VxtWriterTest, TheHeaderHasItsKeysInOrderAndForm)
{
    // 2 x 2 x 1 bytes 0, 0, 5, 255.
    auto image = dravik::ImageViewFactory::allocate({2, 2, 1}, dravik::DataTypeId::UINT8);
    const uint8_t values[] = {0, 0, 5, 255};
    std::memcpy(image->buffer(), values, 4);
    auto properties = dravik::ImageProperties::fromDataType(dravik::DataTypeId::UINT8);
    properties->calibration().setOrigin({0.5, -1, 2});
    properties->calibration().setSpacing({0.25, 1, 3});
    image->setProperties(properties);
    auto w = writer(image, "scan.vxt");
    w->setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
    w->setOption("compressionLevel", VariantDataValueFactory::create(int64_t(6)));
    w->setOption("histogram", VariantDataValueFactory::create(int64_t(1)));
    w->writeAll();
    const std::vector<std::string> expected = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
        "<VolumeInformation>",
        "\t<WordFormat>LittleEndian</WordFormat>",
        "\t<Size>",
        "\t\t<U>2</U>",
        "\t\t<V>2</V>",
        "\t\t<W>1</W>",
        "\t</Size>",
        "\t<DataType>byte</DataType>",
        "\t<TileSize>",
        "\t\t<U>128</U>",
        "\t\t<V>128</V>",
        "\t\t<W>128</W>",
        "\t</TileSize>",
        "\t<DataFilename>scan.dat</DataFilename>",
        "\t<NumSignificantBits>8</NumSignificantBits>",
        "\t<Min>0</Min>",
        "\t<Max>255</Max>",
        "\t<CoordinateSystem>",
        "\t\t<Origin>0.5 -1 2</Origin>",
        "\t\t<TotalExtent>",
        "\t\t\t<U>0.5 0 0</U>",
        "\t\t\t<V>0 2 0</V>",
        "\t\t\t<W>0 0 3</W>",
        "\t\t</TotalExtent>",
        "\t</CoordinateSystem>",
        "\t<TileCompression>",
        "\t\t<Compressor>GzipDataCompressor</Compressor>",
        "\t\t<Level>6</Level>",
        "\t\t<NumTileInfos>1</NumTileInfos>",
        "\t</TileCompression>",
        "\t<Histogram>",
        "\t\t<V>0</V>",
        "\t\t<N>2</N>",
        "\t\t<V>5</V>",
        "\t\t<N>1</N>",
        "\t\t<V>255</V>",
        "\t\t<N>1</N>",
        "\t</Histogram>",
        "</VolumeInformation>",
    };
    EXPECT_EQ(elementLines(resourceText(*m_storage, "scan.vxt")), expected);
    // A single compressed tile: a 24-byte table, then the tile.
    const auto data = resourceBytes(*m_storage, "scan.dat");
    ASSERT_GT(data.size(), 24u);
    EXPECT_EQ(getU64(data.data()), 24u);
    EXPECT_EQ(getU64(data.data() + 8), data.size() - 24);
    EXPECT_EQ(getU64(data.data() + 16), 0u);
    auto lod = reader("scan.vxt");
    EXPECT_EQ(readAll(*lod->resolution(0)), std::vector<uint8_t>(values, values + 4));
    EXPECT_EQ(lod->resolution(0)->properties()->calibration(), properties->calibration());
}

TEST_F(VxtWriterTest, FloatRangesAreWrittenWithFloatPrecision)
{
    auto image = dravik::ImageViewFactory::allocate({3, 1, 1}, dravik::DataTypeId::FLOAT);
    const float values[] = {0.1f, 7.0f, 1e10f};
    std::memcpy(image->buffer(), values, sizeof values);
    writer(image)->writeAll();
    const std::string text = resourceText(*m_storage, "v.vxt");
    EXPECT_NE(text.find("<Min>0.100000001</Min>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Max>1e+10</Max>"), std::string::npos) << text;
    EXPECT_EQ(text.find("Histogram"), std::string::npos);
    EXPECT_EQ(text.find("TileCompression"), std::string::npos);
    auto range = reader()->resolution(0)->properties()->imageInfo().valueRange();
    EXPECT_EQ(static_cast<float>(range[0]), 0.1f);
    auto shorts = dravik::ImageViewFactory::allocate({2, 1, 1}, dravik::DataTypeId::INT16);
    const int16_t pair[] = {-128, 300};
    std::memcpy(shorts->buffer(), pair, sizeof pair);
    writer(shorts, "s.vxt")->writeAll();
    const std::string shortText = resourceText(*m_storage, "s.vxt");
    EXPECT_NE(shortText.find("<Min>-128</Min>"), std::string::npos);
    EXPECT_NE(shortText.find("<Max>300</Max>"), std::string::npos);
    EXPECT_NE(shortText.find("<NumSignificantBits>16</NumSignificantBits>"), std::string::npos);
}

TEST_F(VxtWriterTest, EachInputVoxelIsReadOnce)
{
    for (const bool memoryAccess : {true, false}) {
        for (const bool compressed : {false, true}) {
            SCOPED_TRACE(std::string(memoryAccess ? "in memory" : "through the cache") + (compressed ? ", compressed" : ""));
            auto counting = std::make_shared<CountingImage>(volumeImage({37, 29, 21}), memoryAccess);
            auto w = writer(counting, "once.vxt");
            w->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{8, 8, 4}));
            w->setOption("histogram", VariantDataValueFactory::create(int64_t(1)));
            if (compressed) {
                w->setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
            }
            w->writeAll();
            EXPECT_EQ(counting->m_voxels.load(), 37u * 29 * 21);
            EXPECT_TRUE(readAll(*reader("once.vxt")->resolution(0)) == readAll(*counting->m_source));
        }
    }
}

TEST_F(VxtWriterTest, AFileByPathLeavesAnExistingFileAloneWhenTheViewIsRefused)
{
    const std::string dir = ::testing::TempDir() + "vxt_writer_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    { std::ofstream(dir + "/keep.vxt") << "keep"; }
    EXPECT_THROW(VxtWriter(dravik::ImageViewFactory::allocate({2, 2, 2, 2}, dravik::DataTypeId::UINT8),
                           dir + "/keep.vxt"),
                 dravik::Error);
    EXPECT_EQ(std::filesystem::file_size(dir + "/keep.vxt"), 4u);
    EXPECT_FALSE(std::filesystem::exists(dir + "/keep.dat"));
    // A larger volume written before leaves nothing behind in the data file.
    VxtWriter(volumeImage({40, 40, 40}), dir + "/v.vxt").writeAll();
    VxtWriter small(volumeImage({4, 4, 4}), dir + "/v.vxt");
    small.setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
    small.writeAll();
    EXPECT_LT(std::filesystem::file_size(dir + "/v.dat"), 100000u);
    EXPECT_TRUE(readAll(*VxtExtractor(dir + "/v.vxt").resolution(0)) == readAll(*volumeImage({4, 4, 4})));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quenza::vxt::test
