// `quenza info` in plain text: what the view holds, the metadata tree and --depth; and the
// text helpers that keep what files say printable.

#include "CliTestSupport.h"
#include "MetadataTree.h"
#include "TextFormat.h"

#include <quenza/host/ViewDescription.h>

#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/Providers.h>
#include <dravik/VariantDataValueFactory.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace quenza::cli::test {
namespace {

using dravik::MetadataNodeHelper;
using dravik::VariantDataValueFactory;

class Info : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto image = dravik::ImageViewFactory::allocate({6, 5, 4}, dravik::DataTypeId::UINT8);
        auto props = dravik::ImageProperties::fromDataType(dravik::DataTypeId::UINT8);
        props->imageInfo().setAxesInterpretation(dravik::ImageTypeId::VOLUME);
        props->calibration().setOrigin({10, 0, -4});
        props->calibration().setSpacing({2, 1, 0.5});
        props->calibration().setUnit("um");
        image->setProperties(props);
        auto root = dravik::MetadataNodeFactory::create("root");
        MetadataNodeHelper::createPath(root, "KM/Content", VariantDataValueFactory::create("bead \"A\""));
        MetadataNodeHelper::createPath(root, "KM/Scan/Voltage", VariantDataValueFactory::create(int32_t{80}));
        std::vector<double> many(40);
        for (size_t i = 0; i < many.size(); ++i) {
            many[i] = 0.5 * static_cast<double>(i);
        }
        MetadataNodeHelper::createPath(root, "KM/Scan/Table", VariantDataValueFactory::create(many));
        image->setMetadata(root);
        registry().createWriter(image, m_path, "KM").writer->writeAll();
    }

    TempFolder m_dir{"cli-info"};
    std::string m_path = m_dir / "scan.km";
};

TEST_F(Info, PlainTextDescribesTheImageAndItsMetadataTree)
{
    const Result r = run({"info", m_path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected[] = {
        m_path + ": image, KM (KorvelMeshPlugin 1.3.0)\n",
        "\n  shape 6 x 5 x 4, UINT8, GRAYSCALE, axes COLUMN, ROW, SLICE\n",
        "\n  origin (10, 0, -4), spacing (2, 1, 0.5) um\n",
        "\n  directions (1, 0, 0), (0, 1, 0), (0, 0, 1)\n",
        "\n  bit depth 8, value range 0 to 255\n",
        "\n    root\n      KM\n        Content = \"bead \\\"A\\\"\"\n        Scan\n          Voltage = 80\n"
        "          Table = 0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7, 7.5, ... (40 values)\n",
        "        BoundingBox = 10, 22, 0, 5, -4, -2\n",
    };
    for (const std::string& part : expected) {
        EXPECT_TRUE(contains(r.out, part)) << "'" << part << "' not in\n" << r.out;
    }
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n  metadata \(\d+ nodes\):\n)"))) << r.out;
    EXPECT_FALSE(contains(r.out, "sha256"));
    const Result sum = run({"info", m_path, "--checksum"});
    EXPECT_TRUE(contains(sum.out, "\n  sha256 " + host::imageSha256(*dravik::ImageViewProvider::toImage(
                                                    registry().open(m_path).view)) + "\n"))
        << sum.out;
}

TEST_F(Info, DepthCutsTheTreeAndSaysWhatIsLeftOut)
{
    struct Case {
        std::string depth;
        std::vector<std::string> shown;
        std::vector<std::string> hidden;
    };
    const Case cases[] = {
        {"0", {"    root (+"}, {"      KM"}},
        {"1", {"    root\n", "      KM (+"}, {"Content"}},
        {"2", {"        Content = ", "        Scan (+2 nodes below)\n"}, {"Voltage"}},
        {"3", {"          Voltage = 80\n"}, {"nodes below"}},
    };
    for (const Case& c : cases) {
        const Result r = run({"info", m_path, "--depth", c.depth});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& part : c.shown) {
            EXPECT_TRUE(contains(r.out, part)) << "--depth " << c.depth << ": '" << part << "' not in\n" << r.out;
        }
        for (const std::string& part : c.hidden) {
            EXPECT_FALSE(contains(r.out, part)) << "--depth " << c.depth << ": '" << part << "' in\n" << r.out;
        }
    }
}

TEST_F(Info, JsonKeepsItsKeysAndOrder)
{
    const Result r = run({"info", m_path, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    std::vector<std::string> keys;
    for (const auto& [key, value] : doc.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"file", "plugin", "format", "view", "origin", "shape", "dataType",
                                              "capabilities", "calibration", "imageInfo", "metadata"}));
    const auto described = host::describeView(*registry().open(m_path).view);
    EXPECT_EQ(doc["metadata"], described["metadata"]);
}

TEST(MetadataTree, DeepTreesStopMovingRight)
{
    auto root = dravik::MetadataNodeFactory::create("root");
    auto node = root;
    for (int depth = 1; depth <= 40; ++depth) {
        auto child = dravik::MetadataNodeFactory::create("n" + std::to_string(depth));
        node->addChild(child);
        node = child;
    }
    std::ostringstream out;
    printMetadataTree(out, *root, "");
    const std::string text = out.str();
    EXPECT_TRUE(contains(text, "\n" + std::string(64, ' ') + "n32\n")) << text;
    EXPECT_TRUE(contains(text, "\n" + std::string(64, ' ') + "[depth 40] n40\n")) << text;
    EXPECT_EQ(metadataNodeCount(*root), 41u);
}

TEST(TextFormat, PrintableTextEscapesWhatATerminalWouldObey)
{
    struct Case {
        std::string text;
        std::string printable;
    };
    const Case cases[] = {
        {"plain text", "plain text"},
        {"two\nlines\tand\rreturn", "two\\nlines\\tand\\rreturn"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"caf\xC3\xA9 \xE2\x9C\x93", "caf\xC3\xA9 \xE2\x9C\x93"},
        {"\xC2\x9B" "2J", "\\u009b2J"},
        {"bad \xFF\xC3 end", "bad \xEF\xBF\xBD\xEF\xBF\xBD end"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printableText(c.text), c.printable) << c.text;
    }
    EXPECT_EQ(printableText(std::string(300, 'a'), 10), "aaaaaaaaaa...");
    EXPECT_EQ(printableText("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9...");
}

TEST(TextFormat, SizesAndDurations)
{
    EXPECT_EQ(byteText(512), "512 B");
    EXPECT_EQ(byteText(1536), "1.50 KiB");
    EXPECT_EQ(byteText(16.0 * (1 << 20)), "16.0 MiB");
    EXPECT_EQ(byteText(300.0 * (1 << 20)), "300 MiB");
    EXPECT_EQ(byteText(2.25 * (1 << 30)), "2.25 GiB");
    EXPECT_EQ(durationText(7.4), "0:07");
    EXPECT_EQ(durationText(750), "12:30");
    EXPECT_EQ(durationText(7500), "2:05:00");
    EXPECT_EQ(durationText(1e30), "99:59:59+");
    EXPECT_EQ(durationText(std::nan("")), "99:59:59+");
    EXPECT_EQ(shapeText({256, 256, 128}), "256 x 256 x 128");
}

} // namespace
} // namespace quenza::cli::test
