// `quenza preview`: the PNG pictures of grey, colour and label images, decoded here with
// libpng, and the images and options it refuses.

#include "CliTestSupport.h"
#include "PngFile.h"
#include "PreviewRenderer.h"

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/LodImageView.h>
#include <dravik/Providers.h>
#include <dravik/VariantDataValueFactory.h>

#include <png.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>

namespace quenza::cli::test {
namespace {

struct Png {
    uint32_t width = 0;
    uint32_t height = 0;
    /// 1 grey, 3 colour, as stored in the file.
    uint32_t channels = 0;
    std::vector<uint8_t> pixels;

    uint8_t level(uint32_t x, uint32_t y) const { return pixels.at((size_t(y) * width + x) * channels); }
    std::vector<uint8_t> at(uint32_t x, uint32_t y) const
    {
        const auto* p = pixels.data() + (size_t(y) * width + x) * channels;
        return std::vector<uint8_t>(p, p + channels);
    }
};

Png decode(const std::string& path)
{
    Png png;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
        return png;
    }
    // The stored format: 8-bit grey or RGB, no alpha, no palette.
    EXPECT_TRUE(image.format == PNG_FORMAT_GRAY || image.format == PNG_FORMAT_RGB) << image.format;
    png.width = image.width;
    png.height = image.height;
    png.channels = (image.format & PNG_FORMAT_FLAG_COLOR) != 0 ? 3 : 1;
    png.pixels.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.pixels.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
    }
    return png;
}

uint8_t grey(double v, double lo, double hi)
{
    return static_cast<uint8_t>(std::lround(std::clamp((v - lo) / (hi - lo), 0.0, 1.0) * 255));
}

std::shared_ptr<dravik::ImageView> image(const dravik::VectorXu64& shape, const dravik::DataType& type,
                                         dravik::ImageInterpretation interpretation)
{
    auto view = dravik::ImageViewFactory::allocate(shape, type);
    auto props = dravik::ImageProperties::fromDataType(type);
    props->imageInfo().setInterpretation(interpretation);
    props->imageInfo().setAxesInterpretation(dravik::ImageType::defaultFor(shape.size()));
    view->setProperties(props);
    return view;
}

/// A grey volume of 6 x 5 x 4 whose element (x, y, z) is 1000 z + 100 y + 10 x.
double greyValue(uint64_t x, uint64_t y, uint64_t z)
{
    return 1000.0 * z + 100.0 * y + 10.0 * x;
}

class Preview : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto volume = image({6, 5, 4}, dravik::DataTypeId::UINT16, dravik::ImageInterpretation::GRAYSCALE);
        auto* v = static_cast<uint16_t*>(volume->buffer());
        for (uint64_t z = 0; z < 4; ++z) {
            for (uint64_t y = 0; y < 5; ++y) {
                for (uint64_t x = 0; x < 6; ++x) {
                    *v++ = static_cast<uint16_t>(greyValue(x, y, z));
                }
            }
        }
        registry().createWriter(volume, m_dir / "grey.km", "KM").writer->writeAll();

        auto rgb = image({4, 3}, dravik::DataTypeId::VEC3_UINT8, dravik::ImageInterpretation::RGB);
        auto* c = static_cast<uint8_t*>(rgb->buffer());
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < 4; ++x) {
                for (uint8_t value : colourOf(x, y)) {
                    *c++ = value;
                }
            }
        }
        registry().createWriter(rgb, m_dir / "rgb.im6", "TARNIS_6").writer->writeAll();

        auto labels = image({8, 8, 3}, dravik::DataTypeId::UINT16, dravik::ImageInterpretation::LABEL);
        auto* l = static_cast<uint16_t*>(labels->buffer());
        for (uint64_t z = 0; z < 3; ++z) {
            for (uint64_t y = 0; y < 8; ++y) {
                for (uint64_t x = 0; x < 8; ++x) {
                    *l++ = labelOf(x, y);
                }
            }
        }
        registry().createWriter(labels, m_dir / "labels.km", "KM").writer->writeAll();
    }

    static std::vector<uint8_t> colourOf(uint32_t x, uint32_t y)
    {
        return {static_cast<uint8_t>(x * 60), static_cast<uint8_t>(y * 100), static_cast<uint8_t>(255 - x * 60)};
    }
    static uint16_t labelOf(uint64_t x, uint64_t y) { return static_cast<uint16_t>((x / 2 + (y / 2) * 4) % 5); }

    Png preview(const std::string& input, std::vector<std::string> options = {})
    {
        const std::string output = m_dir / "out.png";
        std::filesystem::remove(output);
        std::vector<std::string> args{"preview", m_dir / input, output};
        args.insert(args.end(), options.begin(), options.end());
        const Result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "-> " + output)) << r.out;
        m_lastOut = r.out;
        return decode(output);
    }

    TempFolder m_dir{"cli-preview"};
    std::string m_lastOut;
};

TEST_F(Preview, GreySlicesAndProjectionsScaledFromTheValueRange)
{
    // The KorvelMesh reader gives a 16-bit image the whole 16-bit range.
    struct Case {
        std::vector<std::string> options;
        uint32_t width;
        uint32_t height;
        double (*value)(uint32_t u, uint32_t v);
        std::string said;
    };
    const Case cases[] = {
        {{}, 6, 5, [](uint32_t u, uint32_t v) { return greyValue(u, v, 2); }, "slice 2 of 4 along z"},
        {{"--slice", "0"}, 6, 5, [](uint32_t u, uint32_t v) { return greyValue(u, v, 0); }, "slice 0 of 4 along z"},
        {{"--mip"}, 6, 5, [](uint32_t u, uint32_t v) { return greyValue(u, v, 3); },
         "maximum-intensity projection along z"},
        {{"--axis", "x", "--slice", "1"}, 5, 4, [](uint32_t u, uint32_t v) { return greyValue(1, u, v); },
         "slice 1 of 6 along x"},
        {{"--axis", "y", "--mip"}, 6, 4, [](uint32_t u, uint32_t v) { return greyValue(u, 4, v); },
         "maximum-intensity projection along y"},
    };
    for (const Case& c : cases) {
        const Png png = preview("grey.km", c.options);
        ASSERT_EQ(png.width, c.width) << ::testing::PrintToString(c.options);
        ASSERT_EQ(png.height, c.height);
        EXPECT_EQ(png.channels, 1u);
        for (uint32_t v = 0; v < png.height; ++v) {
            for (uint32_t u = 0; u < png.width; ++u) {
                EXPECT_EQ(png.level(u, v), grey(c.value(u, v), 0, 65535)) << u << ", " << v << " "
                                                                        << ::testing::PrintToString(c.options);
            }
        }
        EXPECT_TRUE(contains(m_lastOut, c.said + ", " + std::to_string(c.width) + " x " + std::to_string(c.height)
                                            + " pixels, grey levels 0 to 65535"))
            << m_lastOut;
    }

    // Auto-contrast spreads the slice's own values over the 256 levels.
    const Png contrast = preview("grey.km", {"--auto-contrast"});
    EXPECT_EQ(contrast.level(0, 0), 0);
    EXPECT_EQ(contrast.level(5, 4), 255);
    EXPECT_EQ(contrast.level(3, 2), grey(greyValue(3, 2, 2), greyValue(0, 0, 2), greyValue(5, 4, 2)));
    EXPECT_TRUE(contains(m_lastOut, "grey levels 2000 to 2450 (0.5th to 99.5th percentile)")) << m_lastOut;
}

TEST_F(Preview, ColourImagesKeepTheirColours)
{
    // Tarnis keeps the colours as planes, read back along a CHANNEL axis.
    const Png png = preview("rgb.im6");
    ASSERT_EQ(png.width, 4u);
    ASSERT_EQ(png.height, 3u);
    ASSERT_EQ(png.channels, 3u);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(png.at(x, y), colourOf(x, y)) << x << ", " << y;
        }
    }
    EXPECT_TRUE(contains(m_lastOut, "4 x 3 pixels, colour levels 0 to 255")) << m_lastOut;
}

TEST_F(Preview, LabelsGetOneColourEach)
{
    const Png png = preview("labels.km", {"--slice", "1"});
    ASSERT_EQ(png.width, 8u);
    ASSERT_EQ(png.height, 8u);
    ASSERT_EQ(png.channels, 3u);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(png.at(x, y), labelColour(labelOf(x, y))) << x << ", " << y;
        }
    }
    EXPECT_EQ(png.at(0, 0), (std::vector<uint8_t>{0, 0, 0})) << "the background is black";
    std::set<std::vector<uint8_t>> colours;
    for (int64_t label = 0; label < 64; ++label) {
        colours.insert(labelColour(label));
    }
    EXPECT_EQ(colours.size(), 64u) << "neighbouring labels differ";
    EXPECT_TRUE(contains(m_lastOut, "one colour per label")) << m_lastOut;
}

TEST_F(Preview, ChoosesALevelOfAMultiResolutionFile)
{
    auto volume = image({32, 32, 8}, dravik::DataTypeId::UINT8, dravik::ImageInterpretation::GRAYSCALE);
    auto* v = static_cast<uint8_t*>(volume->buffer());
    for (uint64_t i = 0; i < volume->elementCount(); ++i) {
        v[i] = static_cast<uint8_t>(i % 251);
    }
    auto created = registry().createWriter(volume, m_dir / "volume.vxt", "VXT");
    created.writer->setOption("tileSize", dravik::VariantDataValueFactory::create(std::vector<int64_t>{16, 16, 4}));
    created.writer->writeAll();
    created.writer.reset();
    const Png full = preview("volume.vxt");
    EXPECT_EQ(full.width, 32u);
    EXPECT_EQ(full.height, 32u);
    const Png half = preview("volume.vxt", {"--level", "1", "--axis", "y"});
    EXPECT_EQ(half.width, 16u);
    EXPECT_EQ(half.height, 4u);
    EXPECT_TRUE(contains(m_lastOut, "slice 8 of 16 along y")) << m_lastOut;
}

TEST_F(Preview, RefusesWhatItCannotShowAndLeavesNoPicture)
{
    {
        std::ofstream(m_dir / "table.csv") << "a,b\n1,2\n";
    }
    auto created = registry().createWriter(
        image({8, 8, 4}, dravik::DataTypeId::UINT8, dravik::ImageInterpretation::GRAYSCALE), m_dir / "lod.vxt", "VXT");
    created.writer->setOption("tileSize", dravik::VariantDataValueFactory::create(std::vector<int64_t>{4, 4, 4}));
    created.writer->writeAll();
    created.writer.reset();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"table.csv"}, "table.csv is a table, not an image"},
        {{"grey.km", "--slice", "4"}, "Slice 4 is outside the image: it has 4 along z (0 to 3)"},
        {{"grey.km", "--axis", "y", "--slice", "5"}, "Slice 5 is outside the image: it has 5 along y (0 to 4)"},
        {{"grey.km", "--frame", "1"}, "grey.km is not a sequence of frames: --frame does not apply"},
        {{"grey.km", "--level", "1"}, "grey.km has no resolution levels: --level does not apply"},
        {{"lod.vxt", "--level", "9"}, "lod.vxt has the levels 0 to 1: there is no level 9"},
        {{"missing.km"}, "missing.km: no such file"},
    };
    const std::string output = m_dir / "refused.png";
    for (const Case& c : cases) {
        std::vector<std::string> args{"preview", m_dir / c.args.front(), output};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const Result r = run(args);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(c.args);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(output)) << ::testing::PrintToString(c.args);
    }
}

/// An image as large as a file may claim, that throws when it is read.
class ClaimedImage : public dravik::ImageView {
public:
    explicit ClaimedImage(dravik::VectorXu64 shape, dravik::DataType type = dravik::DataTypeId::UINT8)
        : m_shape(std::move(shape))
        , m_type(type)
    {
    }
    dravik::ImageCapabilitySet capabilities() const override { return dravik::ImageCapability::READ; }
    const dravik::VectorXu64& shape() const override { return m_shape; }
    dravik::DataType dataType() const override { return m_type; }
    void readRegion(const dravik::RegionXu64&, void*) override { throw dravik::Error("not to be read"); }

private:
    dravik::VectorXu64 m_shape;
    dravik::DataType m_type;
};

TEST(PreviewRenderer, RefusesPicturesItCannotMakeBeforeReadingAnything)
{
    struct Case {
        std::shared_ptr<dravik::ImageView> image;
        std::string message;
    };
    const Case cases[] = {
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{1u << 16, 1u << 16, 10}),
         "A preview of 65536 x 65536 pixels is too large (at most 33554432 pixels)"},
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{4, 4, 4, 4}),
         "A preview shows 2-D and 3-D images, not one of 4 dimensions (4 x 4 x 4 x 4)"},
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{16}), "not one of 1 dimensions"},
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{4, 0, 4}), "The image is empty (4 x 0 x 4)"},
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{4, 4}, dravik::DataTypeId::VEC2_FLOAT),
         "Elements of 2 components (VEC2_FLOAT) cannot be shown"},
        {std::make_shared<ClaimedImage>(dravik::VectorXu64{4, 4}, dravik::DataTypeId::COMPLEX_FLOAT),
         "Elements of type COMPLEX_FLOAT cannot be shown"},
    };
    for (const Case& c : cases) {
        try {
            renderPreview(c.image, {});
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const dravik::Error& e) {
            EXPECT_TRUE(contains(e.what(), c.message)) << e.what();
        }
    }
}

TEST(PreviewRenderer, RealNumbersSpanTheirOwnValuesAndNotANumberIsBlack)
{
    // FLOAT's value range is every float: the values themselves give the levels.
    auto real = image({4, 1}, dravik::DataTypeId::FLOAT, dravik::ImageInterpretation::GRAYSCALE);
    auto* v = static_cast<float*>(real->buffer());
    v[0] = -2.0F;
    v[1] = std::numeric_limits<float>::quiet_NaN();
    v[2] = 0.0F;
    v[3] = 2.0F;
    const Picture picture = renderPreview(real, {});
    EXPECT_EQ(picture.pixels, (std::vector<uint8_t>{0, 0, 128, 255}));
    EXPECT_TRUE(contains(picture.description, "grey levels -2 to 2")) << picture.description;

    const std::string path = ::testing::TempDir() + "/real-" + std::to_string(::getpid()) + ".png";
    writePng(path, picture);
    const Png png = decode(path);
    EXPECT_EQ(png.pixels, picture.pixels);
    std::filesystem::remove(path);
    EXPECT_THROW(writePng(::testing::TempDir() + "/no-such-folder/x.png", picture), dravik::Error);
}

} // namespace
} // namespace quenza::cli::test
