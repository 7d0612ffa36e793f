#include <quenza/host/ViewDescription.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace dravik;
using nlohmann::ordered_json;
using quenza::host::describeMetadata;
using quenza::host::describeView;

std::vector<std::string> keysOf(const ordered_json& j)
{
    std::vector<std::string> keys;
    for (const auto& item : j.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

std::shared_ptr<ImageView> smallImage()
{
    auto image = ImageViewFactory::allocate({3, 2}, DataTypeId::UINT8);
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    image->writeRegion(RegionXu64::fullRegion(image->shape()), bytes);
    auto props = ImageProperties::fromDataType(DataTypeId::UINT8);
    props->calibration().setOrigin(Vector3d{1.5, -2, 0});
    props->calibration().setSpacing(Vector3d{0.25, 0.25, 1});
    props->calibration().setUnit("nm");
    props->imageInfo().setAxesInterpretation(ImageTypeId::IMAGE);
    image->setProperties(props);
    return image;
}

TEST(DescribeView, ImageKeysAndValues)
{
    auto image = smallImage();
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "KM/Units/Coordinates", VariantDataValueFactory::create("nm"));
    image->setMetadata(root);

    const ordered_json j = describeView(*image, {true});
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"view", "origin", "shape", "dataType", "capabilities",
                                                    "calibration", "imageInfo", "metadata", "sha256"}));
    EXPECT_EQ(j["view"], "image");
    EXPECT_EQ(j["origin"]["dataOrigin"], "CPU_MEMORY");
    EXPECT_EQ(j["origin"]["parents"], 0);
    EXPECT_EQ(j["shape"], ordered_json::parse("[3, 2]"));
    EXPECT_EQ(j["dataType"], "UINT8");
    EXPECT_EQ(j["capabilities"], ordered_json::parse(R"(["READ", "WRITE", "RESHAPE", "MEMORY_ACCESS"])"));
    EXPECT_EQ(j["calibration"]["origin"], ordered_json::parse("[1.5, -2.0, 0.0]"));
    EXPECT_EQ(j["calibration"]["directions"], ordered_json::parse("[[1.0,0.0,0.0],[0.0,1.0,0.0],[0.0,0.0,1.0]]"));
    EXPECT_EQ(j["calibration"]["unit"], "nm");
    EXPECT_EQ(j["imageInfo"]["interpretation"], "GRAYSCALE");
    EXPECT_EQ(j["imageInfo"]["axes"], ordered_json::parse(R"(["COLUMN", "ROW"])"));
    EXPECT_EQ(j["imageInfo"]["bitDepth"], 8);
    EXPECT_EQ(j["metadata"]["children"][0]["children"][0]["children"][0]["value"],
              ordered_json::parse(R"({"type": "UTF8_STRING", "values": ["nm"]})"));
    // SHA-256 of the bytes 01 02 03 04 05 06.
    EXPECT_EQ(j["sha256"], "7192385c3c0605de55bb9476ce1d90748190ecb32a8eed7f5207b30cf6a1fe89");
    EXPECT_FALSE(describeView(*image).contains("sha256"));
}

TEST(DescribeView, MetadataValuesOfEveryType)
{
    auto root = MetadataNodeFactory::create("root");
    const double numbers[] = {1.5, std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY};
    root->addChild(MetadataNodeFactory::create("d", VariantDataValueFactory::create(numbers, 4)));
    root->addChild(MetadataNodeFactory::create("f", VariantDataValueFactory::create(0.5f)));
    root->addChild(MetadataNodeFactory::create("u8", VariantDataValueFactory::create(uint8_t{255})));
    root->addChild(MetadataNodeFactory::create("i8", VariantDataValueFactory::create(int8_t{-1})));
    root->addChild(MetadataNodeFactory::create("u64", VariantDataValueFactory::create(uint64_t{18446744073709551615ull})));
    root->addChild(MetadataNodeFactory::create("i64", VariantDataValueFactory::create(int64_t{-9007199254740993})));
    root->addChild(MetadataNodeFactory::create("s", VariantDataValueFactory::create(std::vector<std::string>{"a", "b"})));
    root->addChild(MetadataNodeFactory::create("empty"));

    const ordered_json j = describeMetadata(root.get());
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"name", "value", "children"}));
    EXPECT_EQ(j["value"], nullptr);
    const auto& c = j["children"];
    EXPECT_EQ(c[0]["value"], ordered_json::parse(R"({"type": "DOUBLE", "values": [1.5, "nan", "inf", "-inf"]})"));
    EXPECT_EQ(c[1]["value"]["values"][0], 0.5);
    EXPECT_EQ(c[2]["value"], ordered_json::parse(R"({"type": "UINT8", "values": [255]})"));
    EXPECT_EQ(c[3]["value"]["values"][0], -1);
    EXPECT_EQ(c[4]["value"]["values"][0].get<uint64_t>(), 18446744073709551615ull) << "exact, not a double";
    EXPECT_EQ(c[5]["value"]["values"][0].get<int64_t>(), -9007199254740993);
    EXPECT_EQ(c[6]["value"]["values"], ordered_json::parse(R"(["a", "b"])"));
    EXPECT_EQ(c[7]["value"], nullptr);
    EXPECT_EQ(c[7]["children"], ordered_json::array());
    EXPECT_EQ(describeMetadata(nullptr), nullptr);
}

TEST(DescribeView, InvalidUtf8AndDeepTreesStillPrint)
{
    auto root = MetadataNodeFactory::create("root");
    root->addChild(MetadataNodeFactory::create(std::string("\xB5m"), VariantDataValueFactory::create("ok")));
    auto node = root;
    for (int i = 0; i < 5000; ++i) {
        auto child = MetadataNodeFactory::create("level");
        node->addChild(child);
        node = child;
    }
    const std::string text = quenza::host::toJsonText(describeMetadata(root.get()));
    const auto parsed = ordered_json::parse(text);
    EXPECT_EQ(parsed["children"][0]["name"], "\xEF\xBF\xBDm") << "replaced by U+FFFD";
    EXPECT_NE(text.find("childrenOmitted"), std::string::npos);
}

class TwoLevels : public LodImageView {
public:
    TwoLevels()
        : m_levels{smallImage(), ImageViewFactory::subSample(smallImage(), 2)}
    {
    }
    Vector<int64_t, 2> levelRange() const override { return Vector<int64_t, 2>{0, 1}; }
    std::shared_ptr<ImageView> resolution(int64_t level) override { return m_levels.at(static_cast<size_t>(level)); }

private:
    std::vector<std::shared_ptr<ImageView>> m_levels;
};

TEST(DescribeView, SequencesAndLevels)
{
    auto multi = MultiImageViewFactory::create({smallImage(), smallImage()}, MetadataNodeFactory::create("root"));
    const ordered_json m = describeView(*multi);
    EXPECT_EQ(keysOf(m), (std::vector<std::string>{"view", "origin", "frameCount", "metadata", "frames"}));
    EXPECT_EQ(m["view"], "multi-image");
    EXPECT_EQ(m["frameCount"], 2);
    EXPECT_EQ(m["origin"]["parents"], 2);
    EXPECT_EQ(m["frames"][1]["view"], "image");
    EXPECT_EQ(m["frames"][1]["shape"], ordered_json::parse("[3, 2]"));

    TwoLevels lod;
    const ordered_json l = describeView(lod);
    EXPECT_EQ(keysOf(l), (std::vector<std::string>{"view", "origin", "levelRange", "levels"}));
    EXPECT_EQ(l["origin"], nullptr) << "this view registers no origin";
    EXPECT_EQ(l["levelRange"], ordered_json::parse("[0, 1]"));
    EXPECT_EQ(l["levels"][1]["shape"], ordered_json::parse("[2, 1]"));
}

TEST(DescribeView, DataFrameColumnsRowsAndChecksum)
{
    auto frame = DataFrameViewFactory::allocate({3, 2}, {"id", "size", "label"},
                                                {DataTypeId::INT64, DataTypeId::DOUBLE, DataTypeId::UTF8_STRING},
                                                {"", "nm", ""});
    const int64_t ids[] = {1, 2};
    const double sizes[] = {0.5, std::numeric_limits<double>::quiet_NaN()};
    const std::string labels[] = {"a b", "c"};
    frame->write(0, 0, 2, ids);
    frame->write(1, 0, 2, sizes);
    frame->write(2, 0, 2, labels);

    const ordered_json j = describeView(*frame, {true});
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"view", "origin", "shape", "columns", "rows", "sha256"}));
    EXPECT_EQ(j["shape"], ordered_json::parse("[3, 2]"));
    EXPECT_EQ(j["columns"][1], ordered_json::parse(R"({"name": "size", "dataType": "DOUBLE", "unit": "nm"})"));
    EXPECT_EQ(j["rows"], ordered_json::parse(R"([[1, 0.5, "a b"], [2, "nan", "c"]])"));
    // SHA-256 of "1\t0.5\ta b\n2\tnan\tc\n".
    EXPECT_EQ(j["sha256"], "333c88400968f7cef7eace301cce895020341a04398875010fe19f67f07799fa");

    auto plain = DataFrameViewFactory::allocate({1, 0}, {"x"}, {DataTypeId::INT64});
    const ordered_json p = describeView(*plain);
    EXPECT_EQ(p["columns"][0]["unit"], nullptr) << "no unit extension";
    EXPECT_FALSE(p.contains("rows"));
}

} // namespace
