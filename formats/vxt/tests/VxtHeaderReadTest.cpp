#include "VxtTestSupport.h"

#include <VxtExtractor.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <cmath>

namespace quenza::vxt::test {
namespace {

// A header around `body` for a 4 x 4 x 4 volume of `type` whose data file exists.
class HeaderFixture {
public:
    HeaderFixture() { putResource(*m_storage, "v.dat", std::vector<uint8_t>(4 * 4 * 4 * 4, 0)); }

    std::shared_ptr<VxtExtractor> open(const std::string& text)
    {
        putResource(*m_storage, "v.vxt", text);
        return std::make_shared<VxtExtractor>(
            m_storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "VXT");
    }
    std::string errorOpening(const std::string& text)
    {
        return errorOf([&] { open(text); });
    }

    std::shared_ptr<dravik::DataStorage> m_storage = dravik::DataStorageFactory::createInMemory();
};

std::string document(const std::string& body)
{
    return "<?xml version=\"1.0\"?>\n<VolumeInformation>" + body + "</VolumeInformation>";
}

const std::string SIZE = "<Size><U>4</U><V>4</V><W>4</W></Size>";
const std::string TILE = "<TileSize><U>4</U><V>4</V><W>4</W></TileSize>";
const std::string NAME = "<DataFilename>v.dat</DataFilename>";
const std::string STATS = "<NumSignificantBits>8</NumSignificantBits><Min>0</Min><Max>255</Max>";

std::string minimal(const std::string& type = "byte", const std::string& more = "")
{
    return document(SIZE + "<DataType>" + type + "</DataType>" + TILE + NAME + STATS + more);
}

TEST(VxtHeaderReadTest, HeaderFaultsCarryTheirMessages)
{
    HeaderFixture f;
    const std::pair<std::string, std::string> cases[] = {
        {document(SIZE + "<DataType>byte</DataType>" + TILE + "<DataFilename></DataFilename>" + STATS),
         "No data file associated with VXT file"},
        {minimal("double"), "Unsupported data type"},
        {minimal("Byte"), "Unsupported data type"},
        {minimal("byte", "<Border>1</Border>"), "Borders are not supported yet"},
        {minimal("byte", "<TileCompression><Compressor>Bzip</Compressor></TileCompression>"),
         "VXT compression other than GzipDataCompressor is not yet supported"},
        {minimal("byte", "<TileCompression><Compressor>gzipdatacompressor</Compressor></TileCompression>"),
         "VXT compression other than GzipDataCompressor is not yet supported"},
        {minimal("byte", "<Histogram><N>3</N></Histogram>"), "Histogram not correctly formatted"},
        {document(SIZE + "<DataType>byte</DataType>" + TILE + STATS), "VXT header has no VolumeInformation.DataFilename"},
        {document("<Size><U>4</U><V>4</V></Size><DataType>byte</DataType>" + TILE + NAME + STATS),
         "VXT header has no VolumeInformation.Size.W"},
        {document(SIZE + TILE + NAME + STATS), "VXT header has no VolumeInformation.DataType"},
        {document(SIZE + "<DataType>byte</DataType>" + TILE + NAME + "<Min>0</Min><Max>1</Max>"),
         "VXT header has no VolumeInformation.NumSignificantBits"},
        {document("<Size><U>4</U><V>-4</V><W>4</W></Size><DataType>byte</DataType>" + TILE + NAME + STATS),
         "VXT header value of VolumeInformation.Size.V is not an unsigned integer: '-4'"},
        {document("<Size><U>4x</U><V>4</V><W>4</W></Size><DataType>byte</DataType>" + TILE + NAME + STATS),
         "VXT header value of VolumeInformation.Size.U is not an unsigned integer: '4x'"},
        {document(SIZE + "<DataType>byte</DataType>" + TILE + NAME
                  + "<NumSignificantBits>256</NumSignificantBits><Min>0</Min><Max>1</Max>"),
         "VXT header value of VolumeInformation.NumSignificantBits is not an unsigned integer: '256'"},
        {document(SIZE + "<DataType>byte</DataType>" + TILE + NAME
                  + "<NumSignificantBits>8</NumSignificantBits><Min>low</Min><Max>1</Max>"),
         "VXT header value of VolumeInformation.Min is not a real number: 'low'"},
        {minimal("byte", "<Histogram><V>1</V><N>4294967296</N></Histogram>"),
         "VXT header value of VolumeInformation.Histogram.N is not a number of its type: '4294967296'"},
        {"<VolumeInformation><Size>", "VXT header is not valid XML: unexpected end of data (line 1)"},
        {"", "VXT header has no VolumeInformation.DataFilename"},
        {"<Other/>", "VXT header has no VolumeInformation.DataFilename"},
        {minimal("byte", "<CoordinateSystem><Origin>0 0 0</Origin></CoordinateSystem>"),
         "VXT header has no VolumeInformation.CoordinateSystem.TotalExtent.U"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(f.errorOpening(text), message) << text;
    }
    // A header naming a data file that is not there.
    EXPECT_THROW(f.open(document(SIZE + "<DataType>byte</DataType>" + TILE + "<DataFilename>none.dat</DataFilename>"
                                 + STATS)),
                 dravik::Error);
}

TEST(VxtHeaderReadTest, HostileDocumentsAreRefusedBeforeParsing)
{
    HeaderFixture f;
    std::string deep = "<VolumeInformation>";
    for (int i = 0; i < 200000; ++i) {
        deep += "<a>";
    }
    EXPECT_EQ(f.errorOpening(deep), "VXT header nests elements deeper than 64 levels");
    std::string huge = minimal("byte", "<!--" + std::string(16u << 20, 'x') + "-->");
    EXPECT_EQ(f.errorOpening(huge), "VXT header is larger than 16777216 bytes");
    // Comments, declarations and self-closed elements do not count as nesting.
    std::string flat = "<!DOCTYPE VolumeInformation [<!ELEMENT a ANY>]><!-- <a><a><a> --><VolumeInformation>" + SIZE
        + "<DataType>byte</DataType>" + TILE + NAME + STATS + "<x attr='>'/><y/><z><![CDATA[<b><b><b>]]></z>";
    for (int i = 0; i < 100; ++i) {
        flat += "<!-- <c> --><?pi <d> ?>";
    }
    flat += "</VolumeInformation>";
    EXPECT_NO_THROW(f.open(flat));
}

TEST(VxtHeaderReadTest, OptionalKeysTakeTheirDefaults)
{
    HeaderFixture f;
    auto lod = f.open(minimal("signed_short"));
    const VxtHandle& handle = *lod->handle();
    EXPECT_FALSE(handle.m_compressed);
    EXPECT_EQ(handle.m_compressor, "");
    EXPECT_EQ(handle.m_compressionLevel, 0u);
    EXPECT_EQ(handle.m_dataType, dravik::DataType(dravik::DataTypeId::INT16));
    auto properties = lod->resolution(0)->properties();
    ASSERT_NE(properties, nullptr);
    EXPECT_EQ(properties->calibration(), dravik::SpatialCalibrationProperty());
    EXPECT_EQ(properties->imageInfo().bitDepth(), 8u);
    EXPECT_EQ(properties->imageInfo().valueRange(), (dravik::Vector2d{0.0, 255.0}));
    EXPECT_EQ(properties->imageInfo().interpretation(), dravik::ImageInterpretation::GRAYSCALE);
    EXPECT_EQ(properties->imageInfo().axesInterpretation(), dravik::ImageType(dravik::ImageTypeId::VOLUME));
    // Border 0 is accepted, and so is an unreadable one; an empty compressor means none.
    for (const std::string more : {"<Border>0</Border>", "<Border>none</Border>",
                                   "<TileCompression><Compressor></Compressor></TileCompression>"}) {
        EXPECT_NO_THROW(f.open(minimal("byte", more))) << more;
    }
    // Without TileCompression the data file is read as raw tiles, even if it starts like a table.
    auto raw = f.open(minimal("byte"));
    EXPECT_FALSE(raw->handle()->m_compressed);
    // Every word of the table maps to its type.
    const std::pair<std::string, dravik::DataTypeId> words[] = {
        {"byte", dravik::DataTypeId::UINT8},         {"short", dravik::DataTypeId::UINT16},
        {"integer32", dravik::DataTypeId::UINT32},   {"signed_byte", dravik::DataTypeId::INT8},
        {"signed_short", dravik::DataTypeId::INT16}, {"signed_integer32", dravik::DataTypeId::INT32},
        {"float", dravik::DataTypeId::FLOAT}};
    for (const auto& [word, id] : words) {
        EXPECT_EQ(f.open(minimal(word))->resolution(0)->dataType(), dravik::DataType(id)) << word;
    }
}

TEST(VxtHeaderReadTest, CoordinateSystemGivesOriginSpacingAndDirections)
{
    HeaderFixture f;
    auto lod = f.open(minimal("byte", "<CoordinateSystem><Origin>1.5 -2 3e2</Origin><TotalExtent>"
                                      "<U>0 8 0</U><V>-2 0 0</V><W>0\t0  12</W></TotalExtent></CoordinateSystem>"));
    const auto& calibration = lod->resolution(0)->properties()->calibration();
    EXPECT_EQ(calibration.origin(), (dravik::Vector3d{1.5, -2.0, 300.0}));
    EXPECT_EQ(calibration.spacing(), (dravik::Vector3d{2.0, 0.5, 3.0}));
    EXPECT_EQ(calibration.directions().direction(0), (dravik::Vector3d{0.0, 1.0, 0.0}));
    EXPECT_EQ(calibration.directions().direction(1), (dravik::Vector3d{-1.0, 0.0, 0.0}));
    EXPECT_EQ(calibration.directions().direction(2), (dravik::Vector3d{0.0, 0.0, 1.0}));
    // Unreadable numbers stay 0; a degenerate pair of extents has no directions.
    auto partial = f.open(minimal("byte", "<CoordinateSystem><Origin>7 x</Origin><TotalExtent>"
                                          "<U>4 0 0</U><V>0 4</V><W>4</W></TotalExtent></CoordinateSystem>"));
    EXPECT_EQ(partial->resolution(0)->properties()->calibration().origin(), (dravik::Vector3d{7.0, 0.0, 0.0}));
    EXPECT_EQ(partial->resolution(0)->properties()->calibration().spacing(), (dravik::Vector3d{1.0, 1.0, 1.0}));
    EXPECT_THROW(f.open(minimal("byte", "<CoordinateSystem><Origin>0 0 0</Origin><TotalExtent>"
                                        "<U>0 0 0</U><V>0 4 0</V><W>0 0 4</W></TotalExtent></CoordinateSystem>")),
                 dravik::Error);
}

std::vector<std::string> childNames(const std::shared_ptr<const dravik::MetadataNode>& node)
{
    std::vector<std::string> names;
    for (const auto& child : node->children()) {
        names.push_back(child->name());
    }
    return names;
}

TEST(VxtHeaderReadTest, MetadataFollowsTheHeaderInItsOrder)
{
    HeaderFixture f;
    auto lod = f.open(minimal("float", "<Histogram><V>-1.5</V><N>3</N><V>2</V><N>4294967295</N></Histogram>"));
    auto root = lod->resolution(0)->metadata();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name(), "root");
    EXPECT_FALSE(root->hasValue());
    auto volume = dravik::MetadataNodeHelper::getNode(root, "VXT/VolumeInformation");
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(childNames(volume), (std::vector<std::string>{"Histogram", "DataFilename", "Size", "DataType", "TileSize",
                                                            "Border", "NumSignificantBits", "Min", "Max"}));
    using dravik::VariantDataValueConverter;
    EXPECT_EQ(VariantDataValueConverter::toString(volume->child("DataFilename")->value()), "v.dat");
    EXPECT_EQ(VariantDataValueConverter::toString(volume->child("DataType")->value()), "float");
    EXPECT_EQ(childNames(volume->child("Size")), (std::vector<std::string>{"U", "V", "W"}));
    EXPECT_EQ(volume->child("Size")->child("W")->value()->get<uint64_t>(0), 4u);
    EXPECT_EQ(volume->child("TileSize")->child("U")->value()->get<uint64_t>(0), 4u);
    EXPECT_EQ(volume->child("Border")->value()->get<uint64_t>(0), 0u);
    EXPECT_EQ(volume->child("NumSignificantBits")->value()->get<uint8_t>(0), 8u);
    EXPECT_EQ(volume->child("Min")->value()->get<double>(0), 0.0);
    EXPECT_EQ(volume->child("Max")->value()->get<double>(0), 255.0);
    auto histogram = volume->child("Histogram");
    EXPECT_EQ(childNames(histogram), (std::vector<std::string>{"item00000", "item00001"}));
    EXPECT_EQ(histogram->child("item00000")->child("V")->value()->get<float>(0), -1.5f);
    EXPECT_EQ(histogram->child("item00001")->child("N")->value()->get<uint32_t>(0), 4294967295u);
    // Without a histogram in the header there is no node for it.
    auto plain = dravik::MetadataNodeHelper::getNode(f.open(minimal())->resolution(0)->metadata(),
                                                     "VXT/VolumeInformation");
    EXPECT_EQ(childNames(plain).front(), "DataFilename");
}

TEST(VxtHeaderReadTest, HistogramItemsFollowTheirElements)
{
    HeaderFixture f;
    struct Case {
        std::string type;
        std::string body;
        std::vector<std::vector<std::string>> items;  // children of each item
    };
    const Case cases[] = {
        {"signed_byte", "<V>-3</V><N>1</N><V>5</V><N>2</N><V>7</V><N>3</N>", {{"V", "N"}, {"V", "N"}, {"V", "N"}}},
        {"short", "<E>2</E><V>10</V><N>1</N><V>11</V><N>5</N>", {{"E", "V", "N"}, {"V", "N"}}},
        // An E starts a new item; an item not closed by N is dropped; other elements are ignored.
        {"integer32", "<V>1</V><E>9</E><V>2</V><N>8</N><junk>x</junk><V>3</V>", {{"E", "V", "N"}}},
        {"byte", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        auto histogram = dravik::MetadataNodeHelper::getNode(
            f.open(minimal(c.type, "<Histogram>" + c.body + "</Histogram>"))->resolution(0)->metadata(),
            "VXT/VolumeInformation/Histogram");
        ASSERT_NE(histogram, nullptr);
        ASSERT_EQ(histogram->childCount(), c.items.size());
        for (size_t i = 0; i < c.items.size(); ++i) {
            EXPECT_EQ(childNames(histogram->child(i)), c.items[i]);
        }
    }
    auto histogram = dravik::MetadataNodeHelper::getNode(
        f.open(minimal("integer32", "<Histogram><V>1</V><E>9</E><V>2</V><N>8</N></Histogram>"))
            ->resolution(0)
            ->metadata(),
        "VXT/VolumeInformation/Histogram");
    // The counter advanced with the dropped item's V, so the kept item is the second.
    EXPECT_EQ(histogram->child(size_t(0))->name(), "item00001");
    EXPECT_EQ(histogram->child(size_t(0))->child("E")->value()->get<uint16_t>(0), 9u);
    EXPECT_EQ(histogram->child(size_t(0))->child("V")->value()->get<uint32_t>(0), 2u);
    auto signedItems = dravik::MetadataNodeHelper::getNode(
        f.open(minimal("signed_integer32", "<Histogram><V>-65536</V><N>8</N></Histogram>"))->resolution(0)->metadata(),
        "VXT/VolumeInformation/Histogram");
    EXPECT_EQ(signedItems->child(size_t(0))->child("V")->value()->get<int32_t>(0), -65536);
}

} // namespace
} // namespace quenza::vxt::test
