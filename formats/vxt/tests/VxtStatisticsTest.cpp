#include "VxtTestSupport.h"

#include <CacheImageView.h>
#include <ImageProcessing.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <limits>

namespace quenza::vxt::test {
namespace {

template <typename T>
std::shared_ptr<TileNode> tileOf(const std::vector<T>& values)
{
    auto node = std::make_shared<TileNode>();
    auto image = dravik::ImageViewFactory::allocate({values.size(), 1, 1}, dravik::dataTypeOf<T>());
    std::memcpy(image->buffer(), values.data(), values.size() * sizeof(T));
    node->view = image;
    return node;
}

template <typename T>
void expectBins(const std::vector<T>& values, const std::map<uint64_t, uint64_t>& bins,
                const std::map<uint64_t, int64_t>& binValues, size_t binCount)
{
    SCOPED_TRACE(dravik::dataTypeOf<T>().toString());
    ImageProcessing statistics(dravik::dataTypeOf<T>(), true);
    ASSERT_EQ(statistics.bins().size(), binCount);
    statistics.processTile(tileOf(values));
    std::map<uint64_t, uint64_t> got;
    for (uint64_t i = 0; i < statistics.bins().size(); ++i) {
        if (statistics.bins()[i] != 0) {
            got[i] = statistics.bins()[i];
        }
    }
    EXPECT_EQ(got, bins);
    for (const auto& [bin, value] : binValues) {
        EXPECT_EQ(statistics.histoValue(bin), value) << "bin " << bin;
    }
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    EXPECT_EQ(statistics.range(), (dravik::Vector2d{double(*lowest), double(*highest)}));
}

TEST(VxtStatisticsTest, EveryIntegerTypeHasItsBins)
{
    expectBins<uint8_t>({0, 0, 5, 255}, {{0, 2}, {5, 1}, {255, 1}}, {{0, 0}, {5, 5}, {255, 255}}, 256);
    expectBins<int8_t>({-128, 0, 127, 0}, {{0, 1}, {128, 2}, {255, 1}}, {{0, -128}, {128, 0}, {255, 127}}, 256);
    expectBins<uint16_t>({65535, 0, 7}, {{65535, 1}, {0, 1}, {7, 1}}, {{65535, 65535}, {7, 7}}, 65536);
    expectBins<int16_t>({32767, -32768, -1}, {{65535, 1}, {0, 1}, {32767, 1}},
                        {{65535, 32767}, {0, -32768}, {32767, -1}}, 65536);
    expectBins<uint32_t>({0, 65535, 65536, 4294967295u}, {{0, 2}, {1, 1}, {65535, 1}},
                         {{0, 0}, {1, 65536}, {65535, int64_t(65535) * 65536}}, 65536);
    expectBins<int32_t>({-1, 65535, INT32_MIN, INT32_MAX}, {{32767, 1}, {32768, 1}, {0, 1}, {65535, 1}},
                        {{32767, -65536}, {32768, 0}, {0, int64_t(INT32_MIN)}, {65535, int64_t(32767) * 65536}},
                        65536);
    EXPECT_EQ(ImageProcessing::getEntry<int32_t>(-65537), 32766u);
    EXPECT_EQ(errorOf([] { ImageProcessing::getEntry<float>(1.0f); }), "getEntry method not implemented for float yet");
}

TEST(VxtStatisticsTest, RangesStartReversedAndFollowTheValues)
{
    ImageProcessing bytes(dravik::DataTypeId::UINT8, false);
    EXPECT_EQ(bytes.range(), (dravik::Vector2d{255.0, 0.0}));
    EXPECT_TRUE(bytes.bins().empty());
    bytes.processTile(tileOf<uint8_t>({42, 42, 42}));
    EXPECT_EQ(bytes.range(), (dravik::Vector2d{42.0, 42.0}));
    EXPECT_TRUE(bytes.bins().empty());
    bytes.processTile(tileOf<uint8_t>({40, 41}));
    EXPECT_EQ(bytes.range(), (dravik::Vector2d{40.0, 42.0}));

    ImageProcessing floats(dravik::DataTypeId::FLOAT, false);
    floats.processTile(tileOf<float>({std::numeric_limits<float>::quiet_NaN(), -2.5f, 3.0f}));
    EXPECT_EQ(floats.range(), (dravik::Vector2d{-2.5, 3.0}));
    ImageProcessing floatHistogram(dravik::DataTypeId::FLOAT, true);
    EXPECT_EQ(errorOf([&] { floatHistogram.processTile(tileOf<float>({1.0f})); }),
              "getEntry method not implemented for float yet");
    EXPECT_TRUE(floatHistogram.bins().size() == 65536);
}

TEST(VxtStatisticsTest, TypesWithoutRulesAreRefused)
{
    ImageProcessing wide(dravik::DataTypeId::UINT64, false);
    EXPECT_EQ(errorOf([&] { wide.processTile(tileOf<uint64_t>({1})); }), "unsupported bit depth");
    ImageProcessing doubles(dravik::DataTypeId::DOUBLE, false);
    EXPECT_EQ(errorOf([&] { doubles.processTile(tileOf<double>({1})); }), "unsupported bit depth");
    EXPECT_EQ(doubles.range()[0], std::numeric_limits<double>::max());
}

// --- The block cache ----------------------------------------------------------

TEST(VxtCacheTest, ReadsLoadTheAlignedBlockThatHoldsThem)
{
    auto source = std::make_shared<CountingImage>(makeVolume({1100, 300, 270}, dravik::DataTypeId::UINT8).image());
    CacheImageView cache(source, {512, 256, 256});
    struct Step {
        dravik::VectorXu64 origin;
        dravik::VectorXu64 blockOrigin;
        uint64_t loads;
    };
    const Step steps[] = {
        {{130, 0, 0}, {0, 0, 0}, 1},   {{600, 0, 0}, {512, 0, 0}, 2}, {{140, 10, 10}, {0, 0, 0}, 3},
        {{200, 100, 100}, {0, 0, 0}, 3}, {{1050, 290, 260}, {1024, 256, 256}, 4},
    };
    for (const Step& s : steps) {
        const dravik::RegionXu64 region(s.origin, {10, 10, 10});
        std::vector<uint8_t> got(1000);
        cache.readRegion(region, got.data());
        std::vector<uint8_t> expected(1000);
        source->m_source->readRegion(region, expected.data());
        EXPECT_EQ(got, expected);
        EXPECT_EQ(cache.blockOrigin(), s.blockOrigin);
        EXPECT_EQ(cache.loadCount(), s.loads);
    }
    // The last block is clipped to the image: only its part was read.
    EXPECT_EQ(source->m_voxels.load(), 3 * 512u * 256 * 256 + 76u * 44 * 14);
}

TEST(VxtCacheTest, AVolumeInsideOneBlockIsReadOnce)
{
    auto source = std::make_shared<CountingImage>(makeVolume({300, 200, 100}, dravik::DataTypeId::UINT16).image());
    CacheImageView cache(source, {512, 256, 256});
    EXPECT_EQ(cache.capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));
    EXPECT_EQ(cache.shape(), source->shape());
    const auto whole = readAll(*source->m_source);
    const uint64_t before = source->m_voxels;
    for (uint64_t z = 0; z < 100; z += 64) {
        for (uint64_t y = 0; y < 200; y += 64) {
            for (uint64_t x = 0; x < 300; x += 64) {
                const dravik::RegionXu64 tile({x, y, z}, {std::min<uint64_t>(64, 300 - x), std::min<uint64_t>(64, 200 - y),
                                                          std::min<uint64_t>(64, 100 - z)});
                std::vector<uint8_t> got(tile.elementCount() * 2);
                cache.readRegion(tile, got.data());
            }
        }
    }
    EXPECT_EQ(source->m_voxels - before, 300u * 200 * 100);
    EXPECT_EQ(source->m_reads.load(), 1u);
    EXPECT_EQ(cache.loadCount(), 1u);
}

TEST(VxtCacheTest, ARegionAcrossBlocksIsReadFromTheSource)
{
    auto source = std::make_shared<CountingImage>(makeVolume({64, 16, 16}, dravik::DataTypeId::INT8).image());
    CacheImageView cache(source, {16, 16, 16});
    const dravik::RegionXu64 across({10, 2, 2}, {20, 4, 4});
    std::vector<uint8_t> got(across.elementCount());
    cache.readRegion(across, got.data());
    std::vector<uint8_t> expected(across.elementCount());
    source->m_source->readRegion(across, expected.data());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(cache.loadCount(), 0u);
    EXPECT_EQ(source->m_voxels.load(), across.elementCount());
    EXPECT_THROW(cache.readRegion(dravik::RegionXu64({60, 0, 0}, {5, 1, 1}), got.data()), dravik::InvalidArgument);
    // A failed load leaves the cache usable.
    source->m_failAt = source->m_reads + 1;
    EXPECT_THROW(cache.readRegion(dravik::RegionXu64({0, 0, 0}, {2, 2, 2}), got.data()), CountingImage::FailedRead);
    source->m_failAt = 0;
    cache.readRegion(dravik::RegionXu64({0, 0, 0}, {2, 2, 2}), got.data());
    EXPECT_EQ(cache.loadCount(), 1u);
}

} // namespace
} // namespace quenza::vxt::test
