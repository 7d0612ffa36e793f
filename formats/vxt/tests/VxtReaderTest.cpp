#include "VxtTestSupport.h"

#include "TileCache.h"

#include <VxtExtractor.h>
#include <VxtResolutionExtractor.h>
#include <VxtTilingInfo.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace quenza::vxt::test {
namespace {

struct Fixture {
    Volume volume;
    Size3 tile;
    bool compressed;
    std::shared_ptr<CountingStorage> storage = std::make_shared<CountingStorage>();

    std::shared_ptr<VxtExtractor> open() const
    {
        return std::make_shared<VxtExtractor>(
            storage->openStreamAccess("volume.vxt", dravik::StreamAccessCapability::READ), "VXT");
    }
};

Fixture makeFixture(Size3 size, dravik::DataType type, Size3 tile, bool compressed,
                    const std::vector<uint8_t>* data = nullptr)
{
    Fixture f{makeVolume(size, type), tile, compressed};
    const uint64_t tiles = tilesInFileOrder(size, tile).size();
    putResource(*f.storage, "volume.vxt",
                headerText(size, typeWord(type), tile, "volume.dat", "", compressed ? tiles : 0));
    putResource(*f.storage, "volume.dat", data ? *data : dataFile(f.volume, tile, compressed));
    return f;
}

class VxtReaderTest : public ::testing::TestWithParam<bool> {};

TEST_P(VxtReaderTest, EveryLevelReadsItsVoxels)
{
    const struct {
        Size3 size;
        dravik::DataType type;
        Size3 tile;
    } cases[] = {
        {{21, 10, 7}, dravik::DataTypeId::UINT16, {8, 4, 4}},
        {{9, 9, 9}, dravik::DataTypeId::INT8, {3, 3, 3}},
        {{17, 3, 2}, dravik::DataTypeId::FLOAT, {4, 4, 4}},
        {{5, 6, 7}, dravik::DataTypeId::INT32, {8, 8, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size[0]) + "x" + std::to_string(c.size[1]) + "x" + std::to_string(c.size[2]));
        const Fixture f = makeFixture(c.size, c.type, c.tile, GetParam());
        auto lod = f.open();
        const auto range = lod->levelRange();
        ASSERT_EQ(range[0], 0);
        ASSERT_EQ(static_cast<size_t>(range[1]) + 1, 1 + tilesInFileOrder(c.size, c.tile).front().level);
        for (int64_t level = 0; level <= range[1]; ++level) {
            auto view = lod->resolution(level);
            const Volume expected = levelOf(f.volume, static_cast<uint64_t>(level));
            EXPECT_EQ(view->shape(), (dravik::VectorXu64{expected.size[0], expected.size[1], expected.size[2]}));
            EXPECT_EQ(view->dataType(), c.type);
            EXPECT_EQ(view->capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));
            EXPECT_TRUE(readAll(*view) == expected.bytes) << "level " << level;
        }
    }
}

TEST_P(VxtReaderTest, RegionsAcrossTileBordersLandAtTheirOffsets)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT16, {8, 4, 4}, GetParam());
    auto level0 = f.open()->resolution(0);
    const std::pair<Size3, Size3> regions[] = {
        {{6, 1, 1}, {4, 2, 2}},   // across x = 8
        {{1, 3, 1}, {2, 3, 1}},   // across y = 4
        {{2, 1, 3}, {3, 1, 3}},   // across z = 4
        {{7, 3, 3}, {12, 5, 4}},  // across all three
        {{20, 9, 6}, {1, 1, 1}},  // the last voxel
        {{0, 0, 0}, {21, 10, 7}},
    };
    for (const auto& [origin, size] : regions) {
        std::vector<uint8_t> got(size[0] * size[1] * size[2] * 2, 0xEE);
        level0->readRegion(dravik::RegionXu64({origin[0], origin[1], origin[2]}, {size[0], size[1], size[2]}),
                           got.data());
        EXPECT_EQ(got, regionBytes(f.volume, origin, size)) << origin[0] << "," << origin[1] << "," << origin[2];
    }
    // Two tiles along x: the second part starts at tile size - origin x in the destination.
    std::vector<uint8_t> got(4 * 2, 0);
    level0->readRegion(dravik::RegionXu64({6, 0, 0}, {4, 1, 1}), got.data());
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 4, got.end()), regionBytes(f.volume, {8, 0, 0}, {2, 1, 1}));
}

TEST_P(VxtReaderTest, ARegionInsideOneTileReadsThatTileOnly)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT8, {8, 4, 4}, GetParam());
    auto level0 = f.open()->resolution(0);
    const uint64_t before = *f.storage->m_reads;
    std::vector<uint8_t> got(3 * 2 * 2);
    level0->readRegion(dravik::RegionXu64({9, 5, 1}, {3, 2, 2}), got.data());
    EXPECT_EQ(*f.storage->m_reads - before, 1u);
    EXPECT_EQ(got, regionBytes(f.volume, {9, 5, 1}, {3, 2, 2}));
    // Two tiles: the compressed one read in part before is still inflated.
    level0->readRegion(dravik::RegionXu64({7, 5, 1}, {3, 2, 2}), got.data());
    EXPECT_EQ(*f.storage->m_reads - before, GetParam() ? 2u : 3u);
    EXPECT_EQ(got, regionBytes(f.volume, {7, 5, 1}, {3, 2, 2}));
}

TEST_P(VxtReaderTest, TilingInfoDescribesEachLevel)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT16, {8, 4, 4}, GetParam());
    auto lod = f.open();
    const auto tiles = tilesInFileOrder({21, 10, 7}, {8, 4, 4});
    for (int64_t level = 0; level <= lod->levelRange()[1]; ++level) {
        auto view = lod->resolution(level);
        auto tiling = view->extension<dravik::TilingInfoExtension>();
        EXPECT_EQ(tiling->image(), view.get());
        EXPECT_EQ(tiling->maxTileSize(), (dravik::VectorXu64{8, 4, 4}));
        const Volume expected = levelOf(f.volume, static_cast<uint64_t>(level));
        uint64_t index = 0;
        for (const TileRef& r : tiles) {
            if (r.level != static_cast<uint64_t>(level)) {
                continue;
            }
            const dravik::VectorXu64 p{r.position[0], r.position[1], r.position[2]};
            EXPECT_EQ(tiling->tilingGrid().at(p), index);
            const Size3 origin{r.position[0] * 8, r.position[1] * 4, r.position[2] * 4};
            const Size3 size{std::min<uint64_t>(8, expected.size[0] - origin[0]),
                             std::min<uint64_t>(4, expected.size[1] - origin[1]),
                             std::min<uint64_t>(4, expected.size[2] - origin[2])};
            EXPECT_EQ(tiling->tileRegion(index), dravik::RegionXu64({origin[0], origin[1], origin[2]},
                                                                    {size[0], size[1], size[2]}));
            std::vector<uint8_t> got(size[0] * size[1] * size[2] * 2);
            tiling->readTile(index, got.data());
            EXPECT_EQ(got, regionBytes(expected, origin, size)) << "tile " << index << " of level " << level;
            ++index;
        }
        EXPECT_EQ(tiling->tileCount(), index);
        EXPECT_EQ(tiling->tilingGrid().size(), index);
        EXPECT_THROW(tiling->readTile(index, nullptr), dravik::InvalidArgument);
        EXPECT_THROW(tiling->tileRegion(index), dravik::InvalidArgument);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, VxtReaderTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Compressed" : "Uncompressed";
                         });

TEST(VxtReaderLevelsTest, ResolutionsAreMadeOnceAndOnlyInRange)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT8, {8, 4, 4}, false);
    auto lod = f.open();
    EXPECT_EQ(lod->levelRange(), (dravik::Vector<int64_t, 2>{0, 2}));
    EXPECT_EQ(lod->resolution(0), lod->resolution(0));
    EXPECT_NE(lod->resolution(0), lod->resolution(1));
    for (const int64_t level : {int64_t(-1), int64_t(3), INT64_MIN, INT64_MAX}) {
        try {
            lod->resolution(level);
            ADD_FAILURE() << "level " << level << " accepted";
        } catch (const dravik::InvalidArgument& e) {
            EXPECT_STREQ(e.what(), "lod required is out of range");
        }
    }
    // The coarsest level is one tile, the whole level.
    auto coarsest = lod->resolution(2)->extension<dravik::TilingInfoExtension>();
    EXPECT_EQ(coarsest->tileCount(), 1u);
    EXPECT_EQ(coarsest->tileRegion(0), dravik::RegionXu64({0, 0, 0}, {6, 3, 2}));
    // Every level shares the full-resolution calibration and the metadata.
    EXPECT_EQ(lod->resolution(0)->properties(), lod->resolution(2)->properties());
    EXPECT_EQ(lod->resolution(0)->metadata(), lod->resolution(1)->metadata());
    // A level keeps the volume open without its extractor.
    auto level1 = lod->resolution(1);
    lod.reset();
    EXPECT_TRUE(readAll(*level1) == levelOf(f.volume, 1).bytes);
}

TEST(VxtReaderLevelsTest, RegionsOutsideTheLevelOrNotThreeDimensionalAreRefused)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT8, {8, 4, 4}, false);
    auto level1 = f.open()->resolution(1);
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(errorOf([&] { level1->readRegion(dravik::RegionXu64({0, 0}, {2, 2}), buffer.data()); }),
              "Invalid region dimension");
    EXPECT_EQ(errorOf([&] { level1->readRegion(dravik::RegionXu64({0, 0, 0, 0}, {1, 1, 1, 1}), buffer.data()); }),
              "Invalid region dimension");
    const std::pair<Size3, Size3> outside[] = {
        {{0, 0, 0}, {12, 5, 4}}, {{10, 0, 0}, {2, 1, 1}}, {{0, 0, 4}, {1, 1, 1}}, {{UINT64_MAX, 0, 0}, {2, 1, 1}}};
    for (const auto& [origin, size] : outside) {
        EXPECT_THROW(level1->readRegion(dravik::RegionXu64({origin[0], origin[1], origin[2]},
                                                           {size[0], size[1], size[2]}),
                                        buffer.data()),
                     dravik::InvalidArgument);
    }
    EXPECT_EQ(errorOf([&] { level1->readRegion(dravik::RegionXu64({10, 0, 0}, {2, 1, 1}), buffer.data()); }),
              "Region origin (10, 0, 0) size (2, 1, 1) is outside level 1 of shape (11, 5, 4)");
    // An empty region inside reads nothing and succeeds.
    EXPECT_NO_THROW(level1->readRegion(dravik::RegionXu64({3, 3, 3}, {0, 1, 1}), buffer.data()));
}

TEST(VxtReaderLevelsTest, ExtensionsTellWhereTheLevelsComeFrom)
{
    const Fixture f = makeFixture({21, 10, 7}, dravik::DataTypeId::UINT8, {8, 4, 4}, false);
    auto lod = f.open();
    auto origin = lod->viewOrigin();
    ASSERT_NE(origin, nullptr);
    EXPECT_EQ(origin->displayName(), "VxtPlugin Extractor");
    EXPECT_EQ(origin->dataOrigin(), dravik::ViewDataOrigin::UNKNOWN);
    EXPECT_EQ(errorOf([&] { lod->extension(1); }), "Extension 1 not found");
    auto level = lod->resolution(1);
    auto levelOrigin = level->viewOrigin();
    ASSERT_NE(levelOrigin, nullptr);
    EXPECT_EQ(levelOrigin->displayName(), "VxtPlugin resolution Extractor");
    ASSERT_EQ(levelOrigin->parentCount(), 1u);
    EXPECT_EQ(levelOrigin->parent(0)->uid(), origin->uid());
    EXPECT_NE(std::dynamic_pointer_cast<VxtTilingInfo>(level->extension(1)), nullptr);
    EXPECT_EQ(errorOf([&] { level->extension(7); }), "Extension 7 not found");
}

/// The volume read one z slice at a time, into one buffer.
std::vector<uint8_t> readBySlices(dravik::ImageView& view)
{
    const dravik::VectorXu64 shape = view.shape();
    const uint64_t sliceBytes = shape[0] * shape[1] * view.dataType().byteCount();
    std::vector<uint8_t> out(sliceBytes * shape[2]);
    for (uint64_t z = 0; z < shape[2]; ++z) {
        view.readRegion(dravik::RegionXu64({0, 0, z}, {shape[0], shape[1], 1}), out.data() + z * sliceBytes);
    }
    return out;
}

TEST(VxtReaderLevelsTest, ReadsFromSeveralThreadsAgree)
{
    const Fixture f = makeFixture({40, 30, 20}, dravik::DataTypeId::UINT16, {8, 8, 8}, true);
    auto level0 = f.open()->resolution(0);
    std::vector<std::vector<uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
        // Half of them slice by slice, through the cache of inflated tiles.
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                results[t] = t % 2 == 0 ? readAll(*level0) : readBySlices(*level0);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const auto& r : results) {
        EXPECT_TRUE(r == f.volume.bytes);
    }
}

// --- Large reads on several threads ---------------------------------------------

TEST(VxtReaderParallelTest, OnlyLargeReadsOfSeveralTilesStartThreads)
{
    constexpr uint64_t MIN = VxtResolutionExtractor::PARALLEL_READ_MIN_BYTES;
    const struct {
        uint64_t tiles;
        uint64_t work;
        unsigned hardware;
        unsigned workers;
    } cases[] = {
        {64, 256 * MIN, 0, 1},  // the thread count is unknown
        {64, 256 * MIN, 1, 1},  // one core
        {1, 256 * MIN, 8, 1},   // one tile
        {64, MIN - 1, 8, 1},    // too little to share
        {64, MIN, 2, 2},
        {3, MIN, 8, 3},         // no more threads than tiles
        {64, MIN, 64, 8},       // nor than MAX_READ_WORKERS
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tiles) + " tiles, " + std::to_string(c.work) + " bytes, "
                     + std::to_string(c.hardware) + " threads");
        EXPECT_EQ(VxtResolutionExtractor::readWorkers(c.tiles, c.work, c.hardware), c.workers);
    }
}

// 256 x 256 x 136 16-bit voxels: a whole read is above the threshold, compressed or not,
// in 48 tiles whose last z-row is cut short; an uncompressed tile is two chunks of 32 slices.
class VxtReaderLargeReadTest : public ::testing::TestWithParam<bool> {};

TEST_P(VxtReaderLargeReadTest, ALargeReadSharedAmongThreadsReadsEveryVoxel)
{
    const bool compressed = GetParam();
    const Fixture f = makeFixture({256, 256, 136}, dravik::DataTypeId::UINT16, {64, 64, 64}, compressed);
    ASSERT_GE(f.volume.bytes.size(), VxtResolutionExtractor::PARALLEL_READ_MIN_BYTES);
    auto lod = f.open();
    auto level0 = lod->resolution(0);
    EXPECT_TRUE(readAll(*level0) == f.volume.bytes);
    if (std::thread::hardware_concurrency() > 1) {
        EXPECT_GT(f.storage->m_readers->count(), 1u);
    }
    // Slice by slice every read stays on this thread, and meets the same voxels.
    EXPECT_TRUE(readBySlices(*level0) == f.volume.bytes);
    // Compressed, the tiles used in part go to the cache from every thread and a second
    // read finds them; uncompressed, every tile is read in chunks of slices that start
    // and end inside it.
    const Size3 origin{1, 2, 3};
    const Size3 size{250, 200, 130};
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<uint8_t> out(size[0] * size[1] * size[2] * 2);
        level0->readRegion(dravik::RegionXu64({origin[0], origin[1], origin[2]}, {size[0], size[1], size[2]}),
                           out.data());
        EXPECT_TRUE(out == regionBytes(f.volume, origin, size));
    }
    EXPECT_TRUE(readAll(*lod->resolution(1)) == levelOf(f.volume, 1).bytes);
}

INSTANTIATE_TEST_SUITE_P(Compression, VxtReaderLargeReadTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Compressed" : "Uncompressed";
                         });

TEST(VxtReaderParallelTest, ADamagedTileFailsTheSharedReadAndNothingElse)
{
    const Size3 size{256, 256, 136};
    const Size3 tile{64, 64, 64};
    const Volume volume = makeVolume(size, dravik::DataTypeId::UINT16);
    std::vector<uint8_t> data = dataFile(volume, tile, true);
    // A level-0 tile inside the volume: its zlib header is broken.
    const auto tiles = tilesInFileOrder(size, tile);
    const auto damaged = std::find_if(tiles.begin(), tiles.end(), [](const TileRef& t) {
                             return t.level == 0 && t.position == Size3{2, 1, 1};
                         })->fileId;
    data[getU64(data.data() + damaged * 24)] = 0;
    const Fixture f = makeFixture(size, dravik::DataTypeId::UINT16, tile, true, &data);
    auto lod = f.open();
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(errorOf([&] { readAll(*lod->resolution(0)); }), "Error when uncompressing VXT tile using zlib");
    }
    // The tiles around it still read.
    std::vector<uint8_t> out(64 * 64 * 64 * 2);
    lod->resolution(0)->readRegion(dravik::RegionXu64({0, 0, 0}, {64, 64, 64}), out.data());
    EXPECT_TRUE(out == regionBytes(volume, {0, 0, 0}, {64, 64, 64}));
}

// --- Inflated tiles kept between reads -------------------------------------------

TEST(VxtReaderCacheTest, ASliceBySliceReadInflatesEachTileOnce)
{
    const struct {
        Size3 size;
        Size3 tile;
        uint64_t level;
    } cases[] = {
        {{40, 30, 20}, {8, 8, 8}, 0},
        {{40, 30, 20}, {8, 8, 8}, 1},
        {{17, 9, 13}, {16, 4, 5}, 0},
        {{33, 2, 40}, {4, 4, 4}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size[0]) + "x" + std::to_string(c.size[1]) + "x" + std::to_string(c.size[2])
                     + " level " + std::to_string(c.level));
        for (const bool compressed : {false, true}) {
            SCOPED_TRACE(compressed ? "compressed" : "uncompressed");
            const Fixture f = makeFixture(c.size, dravik::DataTypeId::UINT16, c.tile, compressed);
            auto view = f.open()->resolution(static_cast<int64_t>(c.level));
            const auto all = tilesInFileOrder(c.size, c.tile);
            const uint64_t tiles = static_cast<uint64_t>(
                std::count_if(all.begin(), all.end(), [&](const TileRef& t) { return t.level == c.level; }));
            const dravik::VectorXu64 shape = view->shape();
            const uint64_t rowTiles = ceilDiv(shape[0], c.tile[0]) * ceilDiv(shape[1], c.tile[1]);
            const uint64_t before = *f.storage->m_reads;
            EXPECT_TRUE(readBySlices(*view) == levelOf(f.volume, c.level).bytes);
            // Uncompressed, each slice reads its rows of every tile it crosses.
            EXPECT_EQ(*f.storage->m_reads - before, compressed ? tiles : rowTiles * shape[2]);
            // A whole read afterwards finds the last z-row of tiles inflated already.
            const uint64_t afterSlices = *f.storage->m_reads;
            EXPECT_TRUE(readAll(*view) == levelOf(f.volume, c.level).bytes);
            EXPECT_EQ(*f.storage->m_reads - afterSlices, compressed ? tiles - rowTiles : tiles);
        }
    }
}

TEST(VxtReaderCacheTest, TheCacheHoldsAZRowOfTilesAndDropsTheLeastRecentlyUsed)
{
    const uint64_t mib = uint64_t(1) << 20;
    const struct {
        Vector3u64 grid;
        uint64_t tileBytes;
        uint64_t capacity;
    } sizes[] = {
        {{8, 8, 2}, 4 * mib, 64},
        {{3, 5, 7}, 1000, 15},
        {{64, 64, 64}, 4 * mib, TileCache::MAX_BYTES / (4 * mib)},
        {{2, 1, 1}, TileCache::MAX_BYTES, 1},
        {{2, 1, 1}, TileCache::MAX_BYTES + 1, 0},
    };
    for (const auto& c : sizes) {
        EXPECT_EQ(TileCache::capacityFor(c.grid, c.tileBytes), c.capacity) << c.grid.toString();
    }

    TileCache cache(2);
    auto tile = [](uint8_t value) {
        std::shared_ptr<uint8_t[]> bytes(new uint8_t[4]);
        std::fill(bytes.get(), bytes.get() + 4, value);
        return TileCache::Tile(bytes);
    };
    cache.insert(1, tile(1));
    cache.insert(2, tile(2));
    ASSERT_NE(cache.find(1), nullptr);
    const TileCache::Tile held = cache.find(2);
    cache.insert(3, tile(3));
    // 1 was used after 2 was inserted, then 2 was: 1 is the one that left.
    EXPECT_EQ(cache.find(1), nullptr);
    EXPECT_EQ(cache.find(2).get()[0], 2);
    EXPECT_EQ(cache.find(3).get()[0], 3);
    EXPECT_EQ(cache.size(), 2u);
    cache.insert(3, tile(33));
    EXPECT_EQ(cache.find(3).get()[0], 33);
    cache.insert(4, tile(4));
    cache.insert(5, tile(5));
    EXPECT_EQ(cache.find(2), nullptr);
    // A tile that left the cache stays whole for the read holding it.
    EXPECT_EQ(held.get()[3], 2);
    TileCache none(0);
    none.insert(1, tile(1));
    EXPECT_EQ(none.find(1), nullptr);
    EXPECT_EQ(none.size(), 0u);
}

// --- Damaged data files ---------------------------------------------------------

TEST(VxtReaderDamageTest, BadTileEntriesAndStreamsFailTheirRead)
{
    const Size3 size{16, 8, 8};
    const Size3 tile{8, 8, 8};
    const Volume volume = makeVolume(size, dravik::DataTypeId::UINT8);
    const std::vector<uint8_t> good = dataFile(volume, tile, true);
    const auto tiles = tilesInFileOrder(size, tile);
    ASSERT_EQ(tiles.size(), 3u);
    const uint64_t last = tiles.back().fileId;

    auto withEntry = [&](uint64_t offset, uint64_t length) {
        std::vector<uint8_t> bytes = good;
        putU64(bytes, last * 24, offset);
        putU64(bytes, last * 24 + 8, length);
        return bytes;
    };
    auto withTile = [&](const std::vector<uint8_t>& stream) {
        std::vector<uint8_t> bytes = good;
        putU64(bytes, last * 24, bytes.size());
        putU64(bytes, last * 24 + 8, stream.size());
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        return bytes;
    };
    auto packed = [](const std::vector<uint8_t>& raw) {
        std::vector<uint8_t> out(compressBound(raw.size()));
        uLongf length = out.size();
        compress2(out.data(), &length, raw.data(), raw.size(), 1);
        out.resize(length);
        return out;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> data;
        std::string message;
    } cases[] = {
        {"entry past the end", withEntry(good.size() + 1, 4), "tile data corrupted, impossible to read"},
        {"entry running off the end", withEntry(good.size() - 2, 10), "tile data corrupted, impossible to read"},
        {"entry of 2^64 - 1 bytes", withEntry(72, UINT64_MAX), "tile data corrupted, impossible to read"},
        {"offset of 2^64 - 1", withEntry(UINT64_MAX, 2), "tile data corrupted, impossible to read"},
        {"not a zlib stream", withTile({1, 2, 3, 4, 5, 6, 7, 8}), "Error when uncompressing VXT tile using zlib"},
        {"a truncated stream", withTile([&] {
             auto s = packed(std::vector<uint8_t>(512, 9));
             s.resize(s.size() / 2);
             return s;
         }()),
         "Error when uncompressing VXT tile using zlib"},
        {"a tile too short", withTile(packed(std::vector<uint8_t>(511, 9))), "tile data corrupted, impossible to read"},
        {"a tile too long", withTile(packed(std::vector<uint8_t>(513, 9))), "Error when uncompressing VXT tile using zlib"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f = makeFixture(size, dravik::DataTypeId::UINT8, tile, true, &c.data);
        auto lod = f.open();
        EXPECT_EQ(errorOf([&] { readAll(*lod->resolution(0)); }), c.message);
        EXPECT_EQ(errorOf([&] {
                      std::vector<uint8_t> out(512);
                      lod->resolution(0)->extension<dravik::TilingInfoExtension>()->readTile(1, out.data());
                  }),
                  c.message);
        // The other tiles and levels stay readable.
        EXPECT_TRUE(readAll(*lod->resolution(1)) == levelOf(volume, 1).bytes);
    }
}

TEST(VxtReaderDamageTest, AnUncompressedFileCutAfterOpeningFailsItsRead)
{
    const std::string dir = ::testing::TempDir() + "vxt_cut_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const Volume volume = makeVolume({16, 8, 8}, dravik::DataTypeId::UINT8);
    const auto data = dataFile(volume, {8, 8, 8}, false);
    std::ofstream(dir + "/v.vxt") << headerText({16, 8, 8}, "byte", {8, 8, 8}, "v.dat");
    std::ofstream(dir + "/v.dat", std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                          static_cast<std::streamsize>(data.size()));
    VxtExtractor lod(dir + "/v.vxt");
    EXPECT_EQ(lod.viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
    std::filesystem::resize_file(dir + "/v.dat", data.size() - 100);
    EXPECT_EQ(errorOf([&] { readAll(*lod.resolution(0)); }), "tile data corrupted, impossible to read");
    EXPECT_TRUE(readAll(*lod.resolution(1)) == levelOf(volume, 1).bytes);
    std::filesystem::remove_all(dir);
}

TEST(VxtReaderDamageTest, DataFilesThatCannotHoldTheVolumeAreRefusedAtOpen)
{
    const Size3 size{16, 8, 8};
    const Size3 tile{8, 8, 8};
    const Volume volume = makeVolume(size, dravik::DataTypeId::UINT8);
    auto storage = dravik::DataStorageFactory::createInMemory();
    auto open = [&] {
        VxtExtractor(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "VXT");
    };
    auto uncompressed = dataFile(volume, tile, false);
    uncompressed.pop_back();
    putResource(*storage, "v.dat", uncompressed);
    putResource(*storage, "v.vxt", headerText(size, "byte", tile, "v.dat"));
    EXPECT_EQ(errorOf(open), "VXT data file holds 1535 bytes, fewer than the 1536 its 3 tiles need");

    putResource(*storage, "v.dat", dataFile(volume, tile, true));
    for (const uint64_t infos : {2, 4}) {
        putResource(*storage, "v.vxt", headerText(size, "byte", tile, "v.dat", "", infos));
        EXPECT_EQ(errorOf(open), "VXT header lists " + std::to_string(infos)
                      + " tile entries (NumTileInfos) for a volume of 3 tiles");
    }
    putResource(*storage, "v.vxt",
                headerText(size, "byte", tile, "v.dat",
                           "<TileCompression><Compressor>GzipDataCompressor</Compressor></TileCompression>"));
    EXPECT_EQ(errorOf(open), "VXT header lists 0 tile entries (NumTileInfos) for a volume of 3 tiles");
    putResource(*storage, "v.dat", std::vector<uint8_t>(70));
    putResource(*storage, "v.vxt", headerText(size, "byte", tile, "v.dat", "", 3));
    EXPECT_EQ(errorOf(open), "VXT data file of 70 bytes is too short for its tile table of 72 bytes");
    // Tiles of 2 GiB cannot come out of a few hundred bytes.
    putResource(*storage, "v.dat", std::vector<uint8_t>(100));
    putResource(*storage, "v.vxt", headerText({1024, 1024, 2048}, "byte", {1024, 1024, 2048}, "v.dat", "", 1));
    EXPECT_EQ(errorOf(open), "VXT data file of 100 bytes cannot hold compressed tiles of 2147483648 bytes");
    // Geometries the grid cannot number, or would need too much memory for.
    const std::pair<std::string, std::string> refused[] = {
        {headerText({0, 8, 8}, "byte", tile, "v.dat"),
         "VXT volume of size (0, 8, 8) in tiles of (8, 8, 8) has an empty axis"},
        {headerText(size, "byte", {8, 0, 8}, "v.dat"),
         "VXT volume of size (16, 8, 8) in tiles of (8, 0, 8) has an empty axis"},
        {headerText({uint64_t(1) << 21, 1, 1}, "byte", {1, 1, 1}, "v.dat"),
         "VXT volume of size (2097152, 1, 1) in tiles of (1, 1, 1) needs 2097152 tiles along axis 0, more than the "
         "2097151 supported"},
        {headerText({2048, 2048, 2}, "byte", {1, 1, 1}, "v.dat"),
         "VXT volume of size (2048, 2048, 2) in tiles of (1, 1, 1) has 9786709 tiles, more than the 4194304 "
         "supported"},
        {headerText({5, 5, 5}, "integer32", {1u << 20, 1u << 20, 1}, "v.dat"),
         "VXT tiles of (1048576, 1048576, 1) voxels are larger than the 4294967295 bytes supported"},
        {headerText({5, 5, 5}, "byte", {UINT64_MAX, UINT64_MAX, 2}, "v.dat"),
         "VXT tiles of (18446744073709551615, 18446744073709551615, 2) voxels are larger than the 4294967295 bytes "
         "supported"},
        {headerText({UINT64_MAX, UINT64_MAX, UINT64_MAX}, "byte", {1u << 20, 1u << 20, 1u << 20}, "v.dat"),
         "VXT volume of size (18446744073709551615, 18446744073709551615, 18446744073709551615) in tiles of "
         "(1048576, 1048576, 1048576) needs 17592186044416 tiles along axis 0, more than the 2097151 supported"},
    };
    for (const auto& [text, message] : refused) {
        putResource(*storage, "v.vxt", text);
        EXPECT_EQ(errorOf(open), message);
    }
}

// --- Where the data file is found ------------------------------------------------

TEST(VxtReaderFilesTest, HeaderAndDataFileMoveTogether)
{
    const std::string base = ::testing::TempDir() + "vxt_move_" + std::to_string(::getpid());
    const std::string first = base + "/first";
    const std::string second = base + "/second/deeper";
    std::filesystem::create_directories(first);
    std::filesystem::create_directories(second);
    const Volume volume = makeVolume({12, 9, 5}, dravik::DataTypeId::INT16);
    const auto data = dataFile(volume, {4, 4, 4}, true);
    std::ofstream(first + "/scan.vxa") << headerText({12, 9, 5}, "signed_short", {4, 4, 4}, "scan.dat", "",
                                                     tilesInFileOrder({12, 9, 5}, {4, 4, 4}).size());
    std::ofstream(first + "/scan.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    EXPECT_TRUE(readAll(*VxtExtractor(first + "/scan.vxa").resolution(0)) == volume.bytes);
    std::filesystem::rename(first + "/scan.vxa", second + "/scan.vxa");
    std::filesystem::rename(first + "/scan.dat", second + "/scan.dat");
    VxtExtractor moved(second + "/scan.vxa");
    EXPECT_TRUE(readAll(*moved.resolution(0)) == volume.bytes);
    // Through a data access, the same way.
    VxtExtractor byAccess(dravik::StreamAccessFactory::openFileRead(second + "/scan.vxa"), "VXT");
    EXPECT_TRUE(readAll(*byAccess.resolution(1)) == levelOf(volume, 1).bytes);
    VxtExtractor byRandom(dravik::RandomAccessFactory::openFileRead(second + "/scan.vxa"), "VXT");
    EXPECT_TRUE(readAll(*byRandom.resolution(0)) == volume.bytes);
    // A data file outside the header's folder is not reachable.
    std::ofstream(second + "/escape.vxt") << headerText({12, 9, 5}, "signed_short", {4, 4, 4}, "../scan.dat");
    EXPECT_THROW(VxtExtractor(second + "/escape.vxt"), dravik::Error);
    std::filesystem::remove_all(base);
}

// A storage that can only stream its resources.
class StreamOnlyStorage : public CountingStorage {
public:
    std::shared_ptr<dravik::RandomAccess> openRandomAccess(const std::string&, dravik::RandomAccessCapabilitySet) override
    {
        throw dravik::Error("no random access here");
    }
};

TEST(VxtReaderFilesTest, AStorageWithoutRandomAccessIsReadThroughAStream)
{
    auto storage = std::make_shared<StreamOnlyStorage>();
    const Volume volume = makeVolume({12, 9, 5}, dravik::DataTypeId::UINT32);
    putResource(*storage, "v.vxt", headerText({12, 9, 5}, "integer32", {8, 8, 8}, "v.dat", "", 5));
    putResource(*storage, "v.dat", dataFile(volume, {8, 8, 8}, true));
    VxtExtractor lod(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), "VXT");
    EXPECT_TRUE(readAll(*lod.resolution(0)) == volume.bytes);
    EXPECT_EQ(*storage->m_reads, 0u) << "every read went through the stream";
}

TEST(VxtReaderFilesTest, TheFormatNameAndTheAccessAreChecked)
{
    auto storage = dravik::DataStorageFactory::createInMemory();
    putResource(*storage, "v.vxt", headerText({4, 4, 4}, "byte", {4, 4, 4}, "v.dat"));
    putResource(*storage, "v.dat", std::vector<uint8_t>(64));
    for (const std::string format : {"vxt", "KM", ""}) {
        EXPECT_EQ(errorOf([&] {
                      VxtExtractor(storage->openStreamAccess("v.vxt", dravik::StreamAccessCapability::READ), format);
                  }),
                  "Unsupported format");
    }
    EXPECT_EQ(errorOf([&] { VxtExtractor(nullptr, "VXT"); }), "Invalid accessor");
    // Bytes with no storage cannot name a data file.
    EXPECT_EQ(errorOf([&] {
                  const std::string text = headerText({4, 4, 4}, "byte", {4, 4, 4}, "v.dat");
                  VxtExtractor(dravik::StreamAccessFactory::fromBytes({text.begin(), text.end()}), "VXT");
              }),
              "Impossible to retrieve data file from given DataAccess");
    EXPECT_THROW(VxtExtractor("/nonexistent/v.vxt"), dravik::Error);
}

} // namespace
} // namespace quenza::vxt::test
