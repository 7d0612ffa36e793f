#include "VxtTestSupport.h"

#include <CompressionScheduler.h>
#include <PipelineState.h>
#include <VxtExtractor.h>
#include <VxtWriter.h>
#include <WriteScheduler.h>

#include <quenza/EncodingError.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

namespace quenza::vxt::test {
namespace {

using dravik::VariantDataValueFactory;

/// The error of a data stream that gave up, of a type of its own.
class DiskFull : public dravik::Error {
public:
    using dravik::Error::Error;
};

/// A data stream in memory that fails, or waits, at its n-th write.
class ScriptedDataStream : public StreamInStorage {
public:
    using StreamInStorage::StreamInStorage;
    uint64_t write(uint64_t size, const void* src) override
    {
        const uint64_t n = ++m_writes;
        if (m_failAt != 0 && n >= m_failAt) {
            throw DiskFull("disk full at write " + std::to_string(n));
        }
        if (m_shortAt != 0 && n >= m_shortAt) {
            return StreamInStorage::write(size / 2, src);
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released.wait(lock, [this] { return !m_hold; });
        return StreamInStorage::write(size, src);
    }
    void release()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_hold = false;
        }
        m_released.notify_all();
    }

    std::atomic<uint64_t> m_writes{0};
    uint64_t m_failAt = 0;
    uint64_t m_shortAt = 0;
    bool m_hold = false;
    std::mutex m_mutex;
    std::condition_variable m_released;
};

/// A memory storage whose data files are scripted streams.
class ScriptedStorage : public dravik::DataStorage, public std::enable_shared_from_this<ScriptedStorage> {
public:
    std::string location() const override { return "scripted"; }
    bool exists(const std::string& id) const override { return m_inner->exists(id); }
    std::shared_ptr<dravik::StreamAccess> openStreamAccess(const std::string& id,
                                                           dravik::StreamAccessCapabilitySet caps) override
    {
        auto stream = std::make_shared<ScriptedDataStream>(m_inner->openStreamAccess(id, caps), weak_from_this());
        if (boost_ends(id, ".dat")) {
            stream->m_failAt = m_failAt;
            stream->m_shortAt = m_shortAt;
            stream->m_hold = m_hold;
            m_data = stream;
        }
        return stream;
    }
    std::shared_ptr<dravik::RandomAccess> openRandomAccess(const std::string& id,
                                                           dravik::RandomAccessCapabilitySet caps) override
    {
        return m_inner->openRandomAccess(id, caps);
    }
    bool remove(const std::string& id) override { return m_inner->remove(id); }

    static bool boost_ends(const std::string& s, const std::string& end)
    {
        return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
    }

    std::shared_ptr<dravik::DataStorage> m_inner = dravik::DataStorageFactory::createInMemory();
    uint64_t m_failAt = 0;
    uint64_t m_shortAt = 0;
    bool m_hold = false;
    std::shared_ptr<ScriptedDataStream> m_data;
};

std::shared_ptr<VxtWriter> smallTiles(std::shared_ptr<dravik::View> view, dravik::DataStorage& storage,
                                      bool compressed)
{
    auto w = std::make_shared<VxtWriter>(std::move(view), output(storage, "v.vxt"), "VXT");
    w->setOption("tileSize", VariantDataValueFactory::create(std::vector<int64_t>{8, 8, 8}));
    if (compressed) {
        w->setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
    }
    return w;
}

TEST(VxtPipelineTest, AWorkerErrorLeavesWriteDataWithItsTypeAndStopsEveryThread)
{
    const size_t threadsBefore = threadCount();
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "uncompressed");
        auto storage = std::make_shared<ScriptedStorage>();
        storage->m_failAt = 5;
        auto w = smallTiles(makeVolume({40, 40, 40}, dravik::DataTypeId::UINT16).image(), *storage, compressed);
        w->writeInit();
        try {
            w->writeData();
            ADD_FAILURE() << "no error";
        } catch (const DiskFull& e) {
            EXPECT_STREQ(e.what(), "disk full at write 5");
        }
        EXPECT_EQ(threadCount(), threadsBefore) << "a worker outlived writeData";
        EXPECT_EQ(storage->m_data->m_writes.load(), 5u) << "the stages went on after the failure";
        EXPECT_EQ(errorOf([&] { w->writeData(); }), "Calling writeData at wrong step");
        EXPECT_EQ(errorOf([&] { w->writeFinish(); }), "Calling writeFinish at wrong step");
    }
    // A short write is an error too.
    auto storage = std::make_shared<ScriptedStorage>();
    storage->m_shortAt = 2;
    auto w = smallTiles(makeVolume({20, 20, 20}, dravik::DataTypeId::UINT8).image(), *storage, false);
    w->writeInit();
    EXPECT_EQ(errorOf([&] { w->writeData(); }).rfind("VXT data file: only 256 of the 512 bytes of a tile could be written", 0), 0u);
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(VxtPipelineTest, AnInputErrorOnTheCallingThreadStopsThePipeline)
{
    const size_t threadsBefore = threadCount();
    for (const bool compressed : {false, true}) {
        for (const bool memoryAccess : {false, true}) {
            auto storage = std::make_shared<ScriptedStorage>();
            auto input = std::make_shared<CountingImage>(makeVolume({40, 40, 40}, dravik::DataTypeId::INT8).image(),
                                                         memoryAccess);
            input->m_failAt = memoryAccess ? 30 : 2;
            auto w = smallTiles(input, *storage, compressed);
            w->writeInit();
            try {
                w->writeData();
                ADD_FAILURE() << "no error";
            } catch (const CountingImage::FailedRead& e) {
                EXPECT_EQ(std::string(e.what()), "read " + std::to_string(input->m_failAt) + " failed");
            }
            EXPECT_EQ(threadCount(), threadsBefore);
        }
    }
}

TEST(VxtPipelineTest, TheProducerWaitsWhenTheDataFileDoesNotKeepUp)
{
    auto storage = std::make_shared<ScriptedStorage>();
    storage->m_hold = true;
    auto input = std::make_shared<CountingImage>(makeVolume({64, 64, 64}, dravik::DataTypeId::UINT8).image(), true);
    auto w = smallTiles(input, *storage, true);
    w->writeInit();
    auto done = std::async(std::launch::async, [&] { w->writeData(); });
    // With the write stage stuck, the reads stop at the pipeline's bound.
    uint64_t reads = 0;
    for (int stable = 0; stable < 20;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const uint64_t now = input->m_reads;
        stable = now == reads ? stable + 1 : 0;
        reads = now;
    }
    const uint64_t workers = VxtWriter::compressionWorkers(std::thread::hardware_concurrency());
    const uint64_t bound = VxtWriter::maxTilesInFlight(workers);
    EXPECT_LE(reads, bound + 1) << "of 512 level-0 tiles";
    EXPECT_LT(reads, 512u);
    storage->m_data->release();
    done.get();
    EXPECT_EQ(input->m_reads.load(), 512u);
    EXPECT_LE(w->peakTilesInFlight(), bound);
    w->writeFinish();
    VxtExtractor lod(test::input(*storage->m_inner, "v.vxt"), "VXT");
    EXPECT_TRUE(readAll(*lod.resolution(0)) == readAll(*input->m_source));
}

TEST(VxtPipelineTest, ThereIsAlwaysACompressionWorker)
{
    EXPECT_EQ(VxtWriter::compressionWorkers(0), 1u);
    EXPECT_EQ(VxtWriter::compressionWorkers(1), 1u);
    EXPECT_EQ(VxtWriter::compressionWorkers(12), 12u);
    EXPECT_EQ(VxtWriter::maxTilesInFlight(12), 26u);
}

TEST(VxtPipelineTest, StagesWriteTilesAtTheirPlaceWhateverTheOrder)
{
    auto storage = dravik::DataStorageFactory::createInMemory();
    auto handle = std::make_shared<VxtHandle>();
    handle->m_dataType = dravik::DataTypeId::UINT8;
    handle->m_tileSize = Vector3u64{4, 4, 4};
    handle->m_tileIndexer = dravik::Indexer({4, 4, 4}, dravik::DataTypeId::UINT8);
    handle->m_dataStream = output(*storage, "d.dat");
    auto grid = std::make_shared<VxtGrid>(Vector3u64{8, 4, 4}, dravik::DataTypeId::UINT8, Vector3u64{4, 4, 4});
    handle->m_numTileInfos = grid->tilesCount();
    handle->m_tileInfos.resize(grid->tilesCount());
    auto state = std::make_shared<PipelineState>(8);
    auto stage = std::make_shared<WriteScheduler>(handle, grid, state);
    EXPECT_EQ(stage->threadCount(), 1u);
    EXPECT_EQ(stage->offset(), 72u);
    // Tiles in reverse file-id order, each filled with its file id.
    const std::pair<uint64_t, Vector3u64> tiles[] = {{0, {1, 0, 0}}, {0, {0, 0, 0}}, {1, {0, 0, 0}}};
    for (const auto& [level, position] : tiles) {
        auto node = std::make_shared<TileNode>();
        node->level = level;
        node->position = position;
        node->region = grid->regionTile(position, level);
        auto image = dravik::ImageViewFactory::allocate(dravik::VectorXu64(node->region.size()), dravik::DataTypeId::UINT8);
        std::memset(image->buffer(), static_cast<int>(grid->fileID(position, level)), image->byteCount());
        node->view = image;
        state->acquire();
        stage->pushTile(node);
    }
    stage->join();
    state->rethrowIfFailed();
    const auto bytes = resourceBytes(*storage, "d.dat");
    ASSERT_EQ(bytes.size(), 3u * 64);
    for (uint64_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], i / 64 == 0 ? 0 : i / 64) << i;
    }
    EXPECT_EQ(state->tilesInFlight(), 0u);
}

TEST(VxtPipelineTest, InternalFaultsAreReportedNotFatal)
{
    auto handle = std::make_shared<VxtHandle>();
    handle->m_dataType = dravik::DataTypeId::UINT8;
    handle->m_tileIndexer = dravik::Indexer({4, 4, 4}, dravik::DataTypeId::UINT8);
    handle->m_dataStream = dravik::StreamAccessFactory::createInMemory();
    handle->m_numTileInfos = 1;
    handle->m_tileInfos.resize(1);
    auto grid = std::make_shared<VxtGrid>(Vector3u64{4, 4, 4}, dravik::DataTypeId::UINT8, Vector3u64{4, 4, 4});
    for (const bool compressed : {false, true}) {
        handle->m_compressed = compressed;
        auto state = std::make_shared<PipelineState>(4);
        auto write = std::make_shared<WriteScheduler>(handle, grid, state);
        std::shared_ptr<CompressionScheduler> compress;
        if (compressed) {
            compress = std::make_shared<CompressionScheduler>(2, handle, write, state);
        }
        auto missing = std::make_shared<TileNode>();
        state->acquire();
        (compress ? static_cast<Scheduler&>(*compress) : static_cast<Scheduler&>(*write)).pushTile(missing);
        if (compress) {
            compress->join();
        }
        write->join();
        try {
            state->rethrowIfFailed();
            ADD_FAILURE() << "no error";
        } catch (const EncodingError& e) {
            EXPECT_STREQ(e.what(), "Internal error - unexpected tile to write");
        }
        EXPECT_TRUE(state->stopped());
        EXPECT_EQ(errorOf([&] { state->acquire(); }), "Internal error - unexpected tile to write");
    }
    // The base stage has no task.
    auto state = std::make_shared<PipelineState>(1);
    Scheduler base(1, handle, nullptr, state);
    base.taskStart();
    base.join();
    EXPECT_EQ(errorOf([&] { state->rethrowIfFailed(); }), "No defined task");
}

TEST(VxtPipelineTest, AStageDestroyedUnjoinedStopsItsWorkers)
{
    const size_t threadsBefore = threadCount();
    auto handle = std::make_shared<VxtHandle>();
    handle->m_dataType = dravik::DataTypeId::UINT8;
    handle->m_tileIndexer = dravik::Indexer({4, 4, 4}, dravik::DataTypeId::UINT8);
    auto state = std::make_shared<PipelineState>(1);
    {
        auto write = std::make_shared<WriteScheduler>(handle, nullptr, state);
        auto compress = std::make_shared<CompressionScheduler>(3, handle, write, state);
        EXPECT_EQ(threadCount(), threadsBefore + 4);
        EXPECT_FALSE(compress->tileToProcess());
        EXPECT_EQ(compress->popTile(), nullptr);
    }
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_TRUE(state->stopped());
    EXPECT_EQ(errorOf([&] { state->acquire(); }), "VXT tile pipeline was stopped");
}

TEST(VxtPipelineTest, CompressedTilesHoldOnlyTheirBytesAndInflateWithZlib)
{
    for (const uint64_t level : {1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        auto handle = std::make_shared<VxtHandle>();
        handle->m_dataType = dravik::DataTypeId::UINT16;
        handle->m_tileIndexer = dravik::Indexer({16, 16, 16}, dravik::DataTypeId::UINT16);
        handle->m_compressionLevel = level;
        auto state = std::make_shared<PipelineState>(1);
        CompressionScheduler stage(2, handle, nullptr, state);
        // A border tile: zero outside its region; then a whole one, on the other worker.
        for (const Size3 size : {Size3{5, 16, 3}, Size3{16, 16, 16}}) {
            auto image = makeVolume(size, dravik::DataTypeId::UINT16).image();
            auto compressed = stage.compressTile(size[0] == 16 ? 1 : 0, *image);
            EXPECT_EQ(compressed->size, compressed->buffer.size());
            std::vector<uint8_t> tile(16 * 16 * 16 * 2);
            uLongf length = tile.size();
            ASSERT_EQ(uncompress(tile.data(), &length, compressed->buffer.data(), compressed->size), Z_OK);
            ASSERT_EQ(length, tile.size());
            const Volume full{size, dravik::DataTypeId::UINT16, readAll(*image)};
            EXPECT_EQ(tile, tileBytes(full, {0, 0, 0}, {16, 16, 16}));
            std::vector<uint8_t> part(4);
            compressed->copy(0, 4, part.data());
            EXPECT_EQ(std::vector<uint8_t>(compressed->buffer.begin(), compressed->buffer.begin() + 4), part);
            EXPECT_THROW(compressed->copy(0, compressed->size + 1, part.data()), dravik::InvalidArgument);
        }
        stage.join();
    }
}

} // namespace
} // namespace quenza::vxt::test
