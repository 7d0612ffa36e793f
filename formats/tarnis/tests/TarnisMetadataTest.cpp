#include "TarnisTestSupport.h"

#include <TarnisMetadata.h>

#include <gtest/gtest.h>

#include <cmath>

namespace quenza::tarnis::test {
namespace {

using dravik::MetadataNodeFactory;
using dravik::MetadataNodeHelper;
using dravik::VariantDataValueFactory;

std::shared_ptr<dravik::MetadataNode> tarnisNode()
{
    return MetadataNodeFactory::create("TARNIS");
}

std::string textAt(const std::shared_ptr<dravik::MetadataNode>& root, const std::string& path)
{
    auto node = MetadataNodeHelper::getNode(root, path);
    if (!node || !node->value()) {
        return "(none)";
    }
    return dravik::VariantDataValueConverter::toString(*node->value());
}

mcalib defaultCalibration()
{
    mcalib m{};
    initCalibration(m);
    return m;
}

TEST(TarnisMetadataTest, ComputeCalibByMode)
{
    const struct {
        int32_t mode;
        double ima[6];
        double real[6];
        double rxy[3];
    } cases[] = {
        {CAL_SQUARE, {10, 1, 1, 1, 1, 1}, {5, 1, 1, 1, 1, 1}, {0.5, 0.5, 1}},
        {CAL_RECT2, {10, 1, 1, 4, 1, 1}, {5, 1, 1, 8, 1, 1}, {0.5, 2, 0.25}},
        // Parallel segments: no solution.
        {CAL_RECT3, {1, 2, 2, 1, 4, 4}, {1, 3, 1, 6, 1, 1}, {0, 0, 0}},
        // (3, 0) measuring 1.5 and (0, 4) measuring 1: pixel sizes 0.5 and 0.25.
        {CAL_RECT3, {1, 3, 0, 1, 0, 4}, {1.5, 1, 1, 1, 1, 1}, {0.5, 0.25, 2}},
        // Ratio 2, a segment (3, 4) pixels measuring 10: sy = 10 / sqrt(36 + 16).
        {CAL_RECT1, {1, 3, 4, 1, 1, 1}, {10, 1, 1, 1, 1, 1}, {20 / std::sqrt(52.0), 10 / std::sqrt(52.0), 2}},
    };
    for (const auto& c : cases) {
        double ima[6];
        std::copy(std::begin(c.ima), std::end(c.ima), ima);
        double rxy[4] = {9, 9, 2, 7};
        computeCalib(c.mode, ima, c.real, rxy);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(rxy[i], c.rxy[i], 1e-12) << "mode " << c.mode << " rxy " << i;
        }
        EXPECT_EQ(rxy[3], 7) << "rxy[3] is never touched";
        if (c.mode == CAL_SQUARE || c.mode == CAL_RECT2) {
            EXPECT_EQ(ima[1], ima[0]);
            EXPECT_EQ(ima[2], 0);
            EXPECT_EQ(ima[4], 0);
            EXPECT_EQ(ima[5], c.mode == CAL_SQUARE ? ima[0] : ima[3]);
        }
    }
    double ima[6] = {1, 1, 1, 1, 1, 1}, real[6] = {1, 1, 1, 1, 1, 1}, rxy[4] = {};
    EXPECT_EQ(errorOf([&] { computeCalib(7, ima, real, rxy); }), "Unknown calibration mode (7)");
}

TEST(TarnisMetadataTest, HeaderTextBecomesNodes)
{
    auto node = tarnisNode();
    updateMetadataWithTarnisHeader(node, std::string("\x01Stain:blue\x01Tag\x01\x01", 17));
    ASSERT_EQ(node->childCount(), 2u);
    EXPECT_EQ(textAt(node, "Stain"), "blue");
    EXPECT_TRUE(node->hasChild("Tag"));
    EXPECT_FALSE(node->child("Tag")->hasValue());

    auto other = tarnisNode();
    const char raw[] = "\x01" "Dir/Sub:a:b\x01:orphan\x01/\x01Last:x\0\0";
    const std::string text(raw, sizeof raw - 1);
    updateMetadataWithTarnisHeader(other, text);
    EXPECT_EQ(textAt(other, "Dir/Sub"), "a:b") << "the value is what follows the first colon";
    EXPECT_EQ(textAt(other, "Last"), "x") << "values end at their first NUL";
    EXPECT_FALSE(other->hasValue()) << "a field without a name does not address the node itself";
    EXPECT_EQ(other->childCount(), 2u);
}

TEST(TarnisMetadataTest, CalibrationBecomesNodesOnce)
{
    mcalib m = defaultCalibration();
    m.c_mode = CAL_RECT2;
    m.rxy[0] = 0.5;
    std::memcpy(m.c_unit, "micrometre_per_pixel", 20);  // 20 characters, no NUL
    std::strcpy(m.c_comments, "note");
    m.GrayScaleSize = 3;
    m.ClasseType = 1;
    m.ClasseDeb[2] = 7.5F;
    m.ClasseVal[2] = 70.0F;
    std::strcpy(m.GrayScaleUnit, "OD");
    std::strcpy(m.unitSequence, "s");
    auto node = tarnisNode();
    MetadataNodeHelper::createPath(node, "Calibration", VariantDataValueFactory::create("from header"));
    updateMetadataWithCalibration(node, m);
    ASSERT_EQ(node->childCount(), 1u) << "the existing node is filled, not added again";
    auto calibration = node->child("Calibration");
    EXPECT_EQ(textAt(node, "Calibration"), "from header");
    std::vector<std::string> names;
    for (const auto& child : calibration->children()) {
        names.push_back(child->name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"c_mode", "ModeName", "ima_size", "real_size", "ima_orig", "real_orig",
                                               "rxy", "c_name", "cal_name", "c_comments", "c_unit",
                                               "IntensityCalibration", "unitSequence"}));
    EXPECT_EQ(textAt(node, "Calibration/ModeName"), "CAL_RECT2");
    EXPECT_EQ(textAt(node, "Calibration/c_unit"), "micrometre_per_pixel");
    EXPECT_EQ(calibration->child("rxy")->value()->get<double>(0), 0.5);
    EXPECT_EQ(calibration->child("c_mode")->value()->dataType(), dravik::DataType(dravik::DataTypeId::INT32));
    EXPECT_EQ(textAt(node, "Calibration/IntensityCalibration/TypeName"), "tray");
    auto intensity = MetadataNodeHelper::getNode(node, "Calibration/IntensityCalibration/Intensity")->value();
    ASSERT_EQ(intensity->size(), 3u);
    EXPECT_EQ(intensity->get<float>(2), 7.5F);
    EXPECT_EQ(MetadataNodeHelper::getNode(node, "Calibration/IntensityCalibration/Type")->value()->dataType(),
              dravik::DataType(dravik::DataTypeId::INT16));

    // Empty texts and no classes leave their nodes out; an unknown mode is named so.
    mcalib bare = defaultCalibration();
    bare.c_mode = 9;
    bare.c_name[0] = '\0';
    auto other = tarnisNode();
    updateMetadataWithCalibration(other, bare);
    EXPECT_EQ(textAt(other, "Calibration/ModeName"), "Unknown");
    EXPECT_FALSE(MetadataNodeHelper::exists(other, "Calibration/c_name"));
    EXPECT_FALSE(MetadataNodeHelper::exists(other, "Calibration/c_comments"));
    EXPECT_FALSE(MetadataNodeHelper::exists(other, "Calibration/IntensityCalibration"));
    EXPECT_FALSE(MetadataNodeHelper::exists(other, "Calibration/unitSequence"));
    EXPECT_FALSE(other->child("Calibration")->hasValue());
}

TEST(TarnisMetadataTest, IntensityClassesStayWithinTheRecord)
{
    // Files announcing more classes than the record holds are read as 256 classes.
    Bytes block = calibrationBlock(4424);
    block.setAt<int32_t>(cal::GrayScaleSize, 100000);
    block.setAt<int32_t>(cal::ClasseDeb + 4 * 255, 12);
    auto stream = memoryStream(block);
    image img;
    initImage(img);
    readCalibrationInFile(&img, *stream, 4424, IDS_V6COMPATIBLE);
    EXPECT_EQ(img.m_calibration.GrayScaleSize, 256);
    auto node = tarnisNode();
    updateMetadataWithCalibration(node, img.m_calibration);
    auto intensity = MetadataNodeHelper::getNode(node, "Calibration/IntensityCalibration/Intensity")->value();
    ASSERT_EQ(intensity->size(), 256u);
    EXPECT_EQ(intensity->get<float>(255), 12.0F);

    block.setAt<int32_t>(cal::GrayScaleSize, -3);
    auto negative = memoryStream(block);
    readCalibrationInFile(&img, *negative, 4424, IDS_V6COMPATIBLE);
    EXPECT_EQ(img.m_calibration.GrayScaleSize, 0);

    // Metadata announcing more classes keeps its first 256.
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/rxy", VariantDataValueFactory::create(std::vector<double>{1, 1, 1, 0}));
    std::vector<float> starts(300);
    for (size_t i = 0; i < starts.size(); ++i) {
        starts[i] = static_cast<float>(i);
    }
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/IntensityCalibration/GrayScaleSize",
                                   VariantDataValueFactory::create(int32_t(300)));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/IntensityCalibration/Intensity",
                                   VariantDataValueFactory::create(starts));
    mcalib m = defaultCalibration();
    updateCalibrationFromMetadata(m, root);
    EXPECT_EQ(m.GrayScaleSize, 256);
    EXPECT_EQ(m.ClasseDeb[255], 255.0F);
}

Bytes chain(int32_t id, const std::string& label, int32_t points)
{
    Bytes b;
    b.i32(id).i32(points).i32(1).i32(10).i32(11).i32(12).i32(13).i32(2).i32(20).i32(21).i32(22).i32(23).i32(1);
    b.field(label, 50);
    for (int32_t j = 0; j < points; ++j) {
        b.i32(j).f32(1.0F + j).f32(2.0F).f32(3.0F).f32(4.0F).f32(0.5F);
    }
    return b;
}

Bytes segmentSet(int32_t chains, int32_t points)
{
    Bytes b = Bytes().zeros(112).i32(chains).i32(6);
    for (int32_t i = 0; i < chains; ++i) {
        b.add(chain(100 + i, "chain label", points));
    }
    return b;
}

std::vector<char> asBuffer(const Bytes& block)
{
    std::vector<char> buffer(block.data().begin(), block.data().end());
    buffer.push_back('\0');
    return buffer;
}

TEST(TarnisMetadataTest, SegmentSetsByImageType)
{
    ASSERT_EQ(chain(0, "", 2).size(), 102u + 24 * 2);
    auto plain = tarnisNode();
    updateMetadataWithSegment(plain, asBuffer(segmentSet(2, 3)), IM_MONO);
    EXPECT_EQ(textAt(plain, "Segment/Number of chains"), "2");
    EXPECT_EQ(textAt(plain, "Segment/Type"), "6");
    EXPECT_EQ(textAt(plain, "Segment/chain_1/Id"), "101");
    EXPECT_EQ(textAt(plain, "Segment/chain_1/label"), "chain label");
    EXPECT_EQ(textAt(plain, "Segment/chain_0/tails"), "20, 21, 22, 23");
    EXPECT_EQ(textAt(plain, "Segment/chain_0/segment_2/x1"), "3");
    EXPECT_EQ(textAt(plain, "Segment/chain_0/segment_2/mean"), "0.5");

    auto sequence = tarnisNode();
    updateMetadataWithSegment(sequence, asBuffer(Bytes().i32(2).i32(7).add(segmentSet(1, 0)).i32(9).add(segmentSet(0, 0))),
                              IM_MONO | IM_SEQUENCE | IM_3D);
    EXPECT_EQ(textAt(sequence, "Segment/segment_sequence_7/Id"), "7");
    EXPECT_EQ(textAt(sequence, "Segment/segment_sequence_7/chain_0/Id"), "100");
    EXPECT_EQ(textAt(sequence, "Segment/segment_sequence_9/Number of chains"), "0");

    auto volume = tarnisNode();
    updateMetadataWithSegment(volume, asBuffer(Bytes().i32(2).i8(1).i32(4).add(segmentSet(0, 0)).i8(3).i32(5).add(segmentSet(1, 1))),
                              IM_MONO | IM_3D);
    EXPECT_EQ(textAt(volume, "Segment/segment_X4/Id"), "4");
    EXPECT_EQ(textAt(volume, "Segment/segment_Z5/chain_0/nb_pixels"), "1");

    auto unknown = tarnisNode();
    EXPECT_EQ(errorOf([&] {
                  updateMetadataWithSegment(unknown, asBuffer(Bytes().i32(1).i8('Q').i32(4).add(segmentSet(0, 0))),
                                            IM_3D);
              }),
              "Unknown segment axis (Q)");

    auto none = tarnisNode();
    updateMetadataWithSegment(none, {}, IM_MONO);
    EXPECT_EQ(none->childCount(), 0u);
}

TEST(TarnisMetadataTest, SegmentCountsNeverWalkPastTheBlock)
{
    Bytes tooManyPoints = segmentSet(1, 2);
    tooManyPoints.setAt<int32_t>(112 + 8 + 4, 3);
    Bytes tooManyChains = segmentSet(2, 1);
    tooManyChains.setAt<int32_t>(112, 3);
    Bytes negativePoints = segmentSet(1, 0);
    negativePoints.setAt<int32_t>(112 + 8 + 4, -1);
    const Bytes oneChain = segmentSet(1, 0);
    const struct {
        const char* what;
        Bytes block;
        int32_t gtype;
    } cases[] = {
        {"short skip", Bytes().zeros(100), IM_MONO},
        {"points past the end", tooManyPoints, IM_MONO},
        {"chains past the end", tooManyChains, IM_MONO},
        {"negative points", negativePoints, IM_MONO},
        {"huge sequence count", Bytes().i32(0x7fffffff).i32(1).add(segmentSet(0, 0)), IM_SEQUENCE},
        {"negative volume count", Bytes().i32(-5), IM_3D},
        {"label cut", Bytes(std::vector<uint8_t>(oneChain.data().begin(), oneChain.data().end() - 1)), IM_MONO},
    };
    for (const auto& c : cases) {
        auto node = tarnisNode();
        EXPECT_EQ(errorOf([&] { updateMetadataWithSegment(node, asBuffer(c.block), c.gtype); }), "Invalid segment")
            << c.what;
    }
}

TEST(TarnisMetadataTest, LookUpTablesBecomeNodes)
{
    auto node = tarnisNode();
    MetadataNodeHelper::createPath(node, "Lut", VariantDataValueFactory::create("Fire"));
    updateMetadataWithLut(node, {1, 2}, {3, 4}, {});
    ASSERT_EQ(node->childCount(), 1u);
    EXPECT_EQ(textAt(node, "Lut"), "Fire");
    EXPECT_EQ(textAt(node, "Lut/LutG"), "3, 4");
    EXPECT_FALSE(MetadataNodeHelper::exists(node, "Lut/LutB"));
    auto empty = tarnisNode();
    updateMetadataWithLut(empty, {}, {}, {});
    EXPECT_EQ(empty->childCount(), 0u);
}

std::shared_ptr<dravik::MetadataNode> lutMetadata(size_t red, size_t green, const char* name)
{
    auto tarnis = tarnisNode();
    auto lut = MetadataNodeHelper::createPath(tarnis, "Lut", name ? VariantDataValueFactory::create(name) : nullptr);
    MetadataNodeHelper::createPath(lut, "LutR", VariantDataValueFactory::create(std::vector<uint16_t>(red, 1)));
    MetadataNodeHelper::createPath(lut, "LutG", VariantDataValueFactory::create(std::vector<uint16_t>(green, 2)));
    MetadataNodeHelper::createPath(lut, "LutB", VariantDataValueFactory::create(std::vector<uint16_t>(red, 3)));
    return tarnis;
}

TEST(TarnisMetadataTest, UpdateLutTakesOnlyMatchingTables)
{
    std::string name = "old";
    std::vector<uint16_t> r{9}, g{9}, b{9};
    updateLut(name, r, g, b, lutMetadata(256, 256, "Fire"));
    EXPECT_EQ(name, "Fire");
    EXPECT_EQ(r.size(), 256u);
    EXPECT_EQ(b[10], 3);

    updateLut(name, r, g, b, lutMetadata(256, 255, "Fire"));
    EXPECT_TRUE(r.empty() && g.empty() && b.empty());
    EXPECT_EQ(name, "");

    auto wrongType = lutMetadata(4, 4, nullptr);
    MetadataNodeHelper::createPath(wrongType, "Lut/LutB", VariantDataValueFactory::create(std::vector<int32_t>(4, 1)));
    updateLut(name, r, g, b, wrongType);
    EXPECT_TRUE(r.empty());

    updateLut(name, r, g, b, lutMetadata(4, 4, nullptr));
    EXPECT_EQ(r.size(), 4u);
    EXPECT_EQ(name, "");
    updateLut(name, r, g, b, tarnisNode());
    EXPECT_TRUE(r.empty());
    updateLut(name, r, g, b, nullptr);
    EXPECT_TRUE(r.empty());
}

TEST(TarnisMetadataTest, SpatialCalibrationToRecord)
{
    const int8_t planar[5] = {0, 1, -1, -1, -1};
    const int8_t volume[5] = {0, 1, 2, -1, -1};
    dravik::SpatialCalibrationProperty spatial;
    spatial.setSpacing({0.5, 0.5, 3.0});
    spatial.setOrigin({10.0, 20.0, -4.0});
    spatial.setUnit("mm");
    mcalib m{};
    updateCalibration(m, spatial, nullptr, planar);
    EXPECT_EQ(m.c_mode, CAL_SQUARE);
    EXPECT_EQ(m.rxy[0], 0.5);
    EXPECT_EQ(m.rxy[1], 0.5);
    EXPECT_EQ(m.rxy[2], 1.0);
    EXPECT_EQ(m.real_orig[0], 10.0);
    EXPECT_EQ(m.real_orig[1], 20.0);
    EXPECT_EQ(m.deltaz, 1.0F) << "no slice axis";
    EXPECT_STREQ(m.c_unit, "mm");

    spatial.setSpacing({0.5, 0.25, 3.0});
    updateCalibration(m, spatial, nullptr, volume);
    EXPECT_EQ(m.c_mode, CAL_RECT2);
    EXPECT_EQ(m.rxy[0], 0.5);
    EXPECT_EQ(m.rxy[1], 0.25);
    EXPECT_EQ(m.rxy[2], 2.0);
    EXPECT_EQ(m.deltaz, 3.0F);
    EXPECT_EQ(m.oz, -4.0F);

    spatial.setUnit("a_unit_of_more_than_twenty");
    updateCalibration(m, spatial, nullptr, planar);
    EXPECT_EQ(fieldText(m.c_unit, 20), "a_unit_of_more_than_") << "cut to the field, without NUL";
}

std::shared_ptr<dravik::MetadataNode> storedCalibration(std::vector<double> rxy)
{
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/rxy", VariantDataValueFactory::create(rxy));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/c_mode", VariantDataValueFactory::create(int32_t(CAL_SQUARE)));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/ima_size",
                                   VariantDataValueFactory::create(std::vector<double>{10, 1, 1, 1, 1, 1}));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/real_size",
                                   VariantDataValueFactory::create(std::vector<double>{5, 1, 1, 1, 1, 1}));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/c_name", VariantDataValueFactory::create("stage 4"));
    MetadataNodeHelper::createPath(root, "TARNIS/Calibration/unitSequence", VariantDataValueFactory::create("min"));
    return root;
}

TEST(TarnisMetadataTest, StoredCalibrationIsTakenWithinTolerance)
{
    const int8_t planar[5] = {0, 1, -1, -1, -1};
    dravik::SpatialCalibrationProperty spatial;
    spatial.setSpacing({0.5, 0.5, 1.0});
    mcalib within{};
    updateCalibration(within, spatial, storedCalibration({0.5004, 0.5, 1, 0}), planar);
    EXPECT_EQ(within.ima_size[0], 10.0) << "the stored measurements are used";
    EXPECT_EQ(within.rxy[0], 0.5);
    EXPECT_STREQ(within.c_name, "stage 4");
    EXPECT_STREQ(within.unitSequence, "min");

    spatial.setUnit("mm");
    auto withUnit = storedCalibration({0.5, 0.5, 1, 0});
    MetadataNodeHelper::createPath(withUnit, "TARNIS/Calibration/c_unit", VariantDataValueFactory::create("pixel"));
    mcalib unit{};
    updateCalibration(unit, spatial, withUnit, planar);
    EXPECT_STREQ(unit.c_unit, "mm") << "the image's unit wins over the stored one";
    EXPECT_EQ(unit.ima_size[0], 10.0);
    spatial.setUnit("");
    updateCalibration(unit, spatial, withUnit, planar);
    EXPECT_STREQ(unit.c_unit, "pixel") << "the stored unit stands in for a missing one";

    mcalib outside{};
    updateCalibration(outside, spatial, storedCalibration({0.51, 0.5, 1, 0}), planar);
    EXPECT_EQ(outside.ima_size[0], 1.0) << "only the spacing-derived record";
    EXPECT_EQ(outside.rxy[0], 0.5);
    EXPECT_STREQ(outside.c_name, "no_calib");
    EXPECT_STREQ(outside.unitSequence, "");

    mcalib wrongCount{};
    updateCalibration(wrongCount, spatial, storedCalibration({0.5, 0.5, 1}), planar);
    EXPECT_EQ(wrongCount.ima_size[0], 1.0) << "rxy must hold exactly four values";
}

TEST(TarnisMetadataTest, TiffResolutionUnitWinsOverTheStoredCalibration)
{
    for (const auto& [unit, text] : std::vector<std::pair<int32_t, std::string>>{{2, "inch"}, {3, "cm"}, {1, "pixel"}}) {
        auto root = storedCalibration({1, 1, 1, 0});
        MetadataNodeHelper::createPath(root, "TIFF/ResolutionUnit", VariantDataValueFactory::create(uint16_t(unit)));
        mcalib m = defaultCalibration();
        updateCalibrationFromMetadata(m, root);
        EXPECT_EQ(std::string(m.c_unit), text);
        EXPECT_STREQ(m.c_name, "no_calib") << "the stored calibration is not consulted";
    }
}

std::string headerOf(const std::shared_ptr<dravik::MetadataNode>& root)
{
    std::string header;
    updateHeaderField(header, root);
    return header;
}

std::shared_ptr<dravik::MetadataNode> tiffDescription(const std::string& description)
{
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "TIFF/ImageDescription", VariantDataValueFactory::create(description));
    return root;
}

TEST(TarnisMetadataTest, TiffFieldsBecomeHeaderFields)
{
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "TIFF/Software", VariantDataValueFactory::create("scanner 2"));
    MetadataNodeHelper::createPath(root, "TIFF/DateTime", VariantDataValueFactory::create("2020:01:02"));
    MetadataNodeHelper::createPath(root, "TIFF/Artist", VariantDataValueFactory::create("A. N."));
    MetadataNodeHelper::createPath(root, "TIFF/Make", VariantDataValueFactory::create(int32_t(3)));
    MetadataNodeHelper::createPath(root, "TARNIS/Stain", VariantDataValueFactory::create("blue"));
    EXPECT_EQ(headerOf(root), "\x01" "Artist:A. N.\x01Software:scanner 2\x01" "Date:2020:01:02")
        << "TIFF fields in their order; a TIFF node suppresses the TARNIS fields";

    const struct {
        const char* description;
        std::string header;
    } cases[] = {
        {"plain words", "\x01" "Comments:plain words"},
        {"Processing: blur Comments: noisy", "\x01" "Processing:blur Comments: noisy"},
        {"Comments: noisy Processing: blur", "\x01" "Processing:blur\x01" "Comments:noisy "},
        {"Scan 3 Comments: noisy", "\x01" "Comments:noisy\rScan 3 "},
        {"Scan: 3", "\x01" "Comments:Scan: 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(headerOf(tiffDescription(c.description)), c.header) << c.description;
    }
}

TEST(TarnisMetadataTest, TarnisChildrenBecomeHeaderFieldsUnlessIgnored)
{
    auto root = MetadataNodeFactory::create("root");
    for (const char* ignored : s_listIgnoredMetadata) {
        MetadataNodeHelper::createPath(root, std::string("TARNIS/") + ignored, VariantDataValueFactory::create("x"));
    }
    MetadataNodeHelper::createPath(root, "TARNIS/Stain", VariantDataValueFactory::create("blue"));
    MetadataNodeHelper::createPath(root, "TARNIS/Count", VariantDataValueFactory::create(int32_t(4)));
    MetadataNodeHelper::createPath(root, "TARNIS/colortype", VariantDataValueFactory::create("kept"));
    EXPECT_EQ(headerOf(root), "\x01Stain:blue\x01" "colortype:kept");
    auto emptyTiff = MetadataNodeFactory::create("root");
    emptyTiff->addChild(MetadataNodeFactory::create("TIFF"));
    MetadataNodeHelper::createPath(emptyTiff, "TARNIS/Stain", VariantDataValueFactory::create("blue"));
    EXPECT_EQ(headerOf(emptyTiff), "\x01Stain:blue") << "a TIFF node without children does not count";
    EXPECT_EQ(headerOf(nullptr), "");
}

TEST(TarnisMetadataTest, CalibrationNames)
{
    mcalib m = defaultCalibration();
    const std::string sixty = "a name with spaces that goes on for sixty characters in all!";
    ASSERT_EQ(sixty.size(), 60u);
    updateCalibrationName(m, sixty.c_str());
    std::string expected = sixty.substr(0, 49);
    std::replace(expected.begin(), expected.end(), ' ', '_');
    EXPECT_EQ(std::string(m.c_name), expected);
    EXPECT_EQ(std::string(m.cal_name), expected);
    updateCalibrationName(m, "");
    EXPECT_STREQ(m.c_name, "unknown");
    EXPECT_STREQ(m.cal_name, "unknown");
}

TEST(TarnisMetadataTest, ExtractedValuesNeedTheirTypes)
{
    auto root = MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "a/int", VariantDataValueFactory::create(int32_t(12)));
    MetadataNodeHelper::createPath(root, "a/big", VariantDataValueFactory::create(int32_t(70000)));
    MetadataNodeHelper::createPath(root, "a/text", VariantDataValueFactory::create("abcdef"));
    MetadataNodeHelper::createPath(root, "a/floats", VariantDataValueFactory::create(std::vector<float>{1, 2}));
    MetadataNodeHelper::createPath(root, "a/empty");
    const std::shared_ptr<const dravik::MetadataNode> croot = root;
    int16_t small = -1;
    EXPECT_TRUE(extractMetadataValue(croot, "a/int", small));
    EXPECT_EQ(small, 12);
    EXPECT_FALSE(extractMetadataValue(croot, "a/big", small)) << "does not fit in 16 bits";
    EXPECT_EQ(small, 12);
    int32_t whole = 5;
    EXPECT_FALSE(extractMetadataValue(croot, "a/empty", whole));
    EXPECT_FALSE(extractMetadataValue(croot, "a/missing", whole));
    EXPECT_EQ(whole, 5);
    char field[4] = {'x', 'x', 'x', 'x'};
    EXPECT_TRUE(extractMetadataValue(croot, "a/text", field, sizeof field));
    EXPECT_EQ(std::string(field), "abc");
    EXPECT_FALSE(extractMetadataValue(croot, "a/int", field, sizeof field));
    std::string text;
    EXPECT_FALSE(extractMetadataValue(croot, "a/int", text));
    float two[2] = {};
    EXPECT_TRUE(extractMetadataValue(croot, "a/floats", two, 2));
    EXPECT_EQ(two[1], 2.0F);
    float three[3] = {9, 9, 9};
    EXPECT_FALSE(extractMetadataValue(croot, "a/floats", three, 3));
    EXPECT_EQ(three[0], 9.0F);
    double doubles[2] = {};
    EXPECT_FALSE(extractMetadataValue(croot, "a/floats", doubles, 2)) << "32-bit floats are not doubles";
}

TEST(TarnisMetadataTest, AddHeaderFieldAppends)
{
    std::string header = "x";
    addHeaderField(header, "Name", "Value");
    EXPECT_EQ(header, "x\x01Name:Value");
}

} // namespace
} // namespace quenza::tarnis::test
