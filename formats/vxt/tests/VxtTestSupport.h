#pragma once

// Volumes, headers and data files for the VXT tests, built independently of the
// plug-in's own numbering: tile ids come from a Morton code computed here.

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <thread>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace quenza::vxt::test {

using Size3 = std::array<uint64_t, 3>;

/// A volume in memory, dimension 0 fastest.
struct Volume {
    Size3 size{};
    dravik::DataType type;
    std::vector<uint8_t> bytes;

    uint64_t elementBytes() const { return type.byteCount(); }
    uint64_t count() const { return size[0] * size[1] * size[2]; }
    const uint8_t* at(uint64_t x, uint64_t y, uint64_t z) const
    {
        return bytes.data() + ((z * size[1] + y) * size[0] + x) * elementBytes();
    }
    uint8_t* at(uint64_t x, uint64_t y, uint64_t z)
    {
        return bytes.data() + ((z * size[1] + y) * size[0] + x) * elementBytes();
    }
    std::shared_ptr<dravik::ImageView> image() const
    {
        auto view = dravik::ImageViewFactory::allocate({size[0], size[1], size[2]}, type);
        std::memcpy(view->buffer(), bytes.data(), bytes.size());
        return view;
    }
};

/// A volume whose voxel bytes follow `seed`, different at every position.
inline Volume makeVolume(Size3 size, dravik::DataType type, uint32_t seed = 1)
{
    Volume v{size, type, {}};
    v.bytes.resize(v.count() * v.elementBytes());
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint8_t& b : v.bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    if (type.isFloatingPoint()) {
        // Keep floats finite and ordered: small integers as floats.
        auto* f = reinterpret_cast<float*>(v.bytes.data());
        for (uint64_t i = 0; i < v.count(); ++i) {
            f[i] = static_cast<float>(static_cast<int>((i * 7919u + seed) % 2001) - 1000) / 4.0f;
        }
    }
    return v;
}

/// Every second voxel of `v` on every axis.
inline Volume halve(const Volume& v)
{
    Volume h{{(v.size[0] + 1) / 2, (v.size[1] + 1) / 2, (v.size[2] + 1) / 2}, v.type, {}};
    h.bytes.resize(h.count() * h.elementBytes());
    for (uint64_t z = 0; z < h.size[2]; ++z) {
        for (uint64_t y = 0; y < h.size[1]; ++y) {
            for (uint64_t x = 0; x < h.size[0]; ++x) {
                std::memcpy(h.at(x, y, z), v.at(2 * x, 2 * y, 2 * z), v.elementBytes());
            }
        }
    }
    return h;
}

inline Volume levelOf(const Volume& v, uint64_t level)
{
    Volume r = v;
    for (uint64_t k = 0; k < level; ++k) {
        r = halve(r);
    }
    return r;
}

inline uint64_t morton(uint64_t x, uint64_t y, uint64_t z)
{
    uint64_t code = 0;
    for (uint64_t bit = 0; bit < 21; ++bit) {
        code |= ((x >> bit) & 1) << (3 * bit);
        code |= ((y >> bit) & 1) << (3 * bit + 1);
        code |= ((z >> bit) & 1) << (3 * bit + 2);
    }
    return code;
}

inline uint64_t ceilDiv(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

/// A tile of a level, with its grid-wide file id.
struct TileRef {
    uint64_t level;
    Size3 position;
    uint64_t fileId;
};

/// Every tile of the volume, in file-id order: coarsest level first, Morton order within a level.
inline std::vector<TileRef> tilesInFileOrder(Size3 size, Size3 tile)
{
    Size3 t{ceilDiv(size[0], tile[0]), ceilDiv(size[1], tile[1]), ceilDiv(size[2], tile[2])};
    uint64_t levels = 1;
    while ((uint64_t(1) << (levels - 1)) < std::max({t[0], t[1], t[2]})) {
        ++levels;
    }
    std::vector<TileRef> all;
    for (uint64_t k = levels; k-- > 0;) {
        Size3 g{((t[0] - 1) >> k) + 1, ((t[1] - 1) >> k) + 1, ((t[2] - 1) >> k) + 1};
        std::vector<TileRef> level;
        for (uint64_t z = 0; z < g[2]; ++z) {
            for (uint64_t y = 0; y < g[1]; ++y) {
                for (uint64_t x = 0; x < g[0]; ++x) {
                    level.push_back({k, {x, y, z}, 0});
                }
            }
        }
        std::sort(level.begin(), level.end(), [](const TileRef& a, const TileRef& b) {
            return morton(a.position[0], a.position[1], a.position[2])
                < morton(b.position[0], b.position[1], b.position[2]);
        });
        for (TileRef& r : level) {
            r.fileId = all.size();
            all.push_back(r);
        }
    }
    return all;
}

/// The bytes of one full tile of `level` (zero outside the clipped region).
inline std::vector<uint8_t> tileBytes(const Volume& level, Size3 position, Size3 tile)
{
    const uint64_t eb = level.elementBytes();
    std::vector<uint8_t> out(tile[0] * tile[1] * tile[2] * eb, 0);
    for (uint64_t z = 0; z < tile[2]; ++z) {
        for (uint64_t y = 0; y < tile[1]; ++y) {
            for (uint64_t x = 0; x < tile[0]; ++x) {
                const uint64_t gx = position[0] * tile[0] + x, gy = position[1] * tile[1] + y,
                               gz = position[2] * tile[2] + z;
                if (gx < level.size[0] && gy < level.size[1] && gz < level.size[2]) {
                    std::memcpy(out.data() + ((z * tile[1] + y) * tile[0] + x) * eb, level.at(gx, gy, gz), eb);
                }
            }
        }
    }
    return out;
}

inline void putU64(std::vector<uint8_t>& out, uint64_t offset, uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline uint64_t getU64(const uint8_t* in)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | in[i];
    }
    return v;
}

/// The data file of `v`: uncompressed tiles at their slots, or a table followed by
/// the compressed tiles stored in reverse file-id order.
inline std::vector<uint8_t> dataFile(const Volume& v, Size3 tile, bool compressed)
{
    const auto tiles = tilesInFileOrder(v.size, tile);
    std::map<uint64_t, Volume> levels;
    for (const TileRef& r : tiles) {
        if (levels.count(r.level) == 0) {
            levels.emplace(r.level, levelOf(v, r.level));
        }
    }
    const uint64_t tileSize = tile[0] * tile[1] * tile[2] * v.elementBytes();
    std::vector<uint8_t> out;
    if (!compressed) {
        out.resize(tiles.size() * tileSize);
        for (const TileRef& r : tiles) {
            const auto bytes = tileBytes(levels.at(r.level), r.position, tile);
            std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(r.fileId * tileSize));
        }
        return out;
    }
    out.resize(tiles.size() * 24);
    for (auto it = tiles.rbegin(); it != tiles.rend(); ++it) {
        const auto bytes = tileBytes(levels.at(it->level), it->position, tile);
        std::vector<uint8_t> packed(compressBound(bytes.size()));
        uLongf length = packed.size();
        compress2(packed.data(), &length, bytes.data(), bytes.size(), 6);
        putU64(out, it->fileId * 24, out.size());
        putU64(out, it->fileId * 24 + 8, length);
        putU64(out, it->fileId * 24 + 16, 0);
        out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
    }
    return out;
}

inline std::string typeWord(const dravik::DataType& type)
{
    switch (type.id()) {
    case dravik::DataTypeId::UINT8: return "byte";
    case dravik::DataTypeId::UINT16: return "short";
    case dravik::DataTypeId::UINT32: return "integer32";
    case dravik::DataTypeId::INT8: return "signed_byte";
    case dravik::DataTypeId::INT16: return "signed_short";
    case dravik::DataTypeId::INT32: return "signed_integer32";
    case dravik::DataTypeId::FLOAT: return "float";
    default: return "unknown";
    }
}

/// A header text; `extra` is inserted before the closing root tag.
inline std::string headerText(Size3 size, const std::string& type, Size3 tile, const std::string& dataName,
                              const std::string& extra = "", uint64_t tileInfos = 0)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<VolumeInformation>\n"
                       "\t<WordFormat>LittleEndian</WordFormat>\n";
    text += "\t<Size><U>" + std::to_string(size[0]) + "</U><V>" + std::to_string(size[1]) + "</V><W>"
        + std::to_string(size[2]) + "</W></Size>\n";
    text += "\t<DataType>" + type + "</DataType>\n";
    text += "\t<TileSize><U>" + std::to_string(tile[0]) + "</U><V>" + std::to_string(tile[1]) + "</V><W>"
        + std::to_string(tile[2]) + "</W></TileSize>\n";
    text += "\t<DataFilename>" + dataName + "</DataFilename>\n";
    text += "\t<NumSignificantBits>8</NumSignificantBits>\n\t<Min>0</Min>\n\t<Max>255</Max>\n";
    if (tileInfos != 0) {
        text += "\t<TileCompression><Compressor>GzipDataCompressor</Compressor><Level>6</Level><NumTileInfos>"
            + std::to_string(tileInfos) + "</NumTileInfos></TileCompression>\n";
    }
    text += extra + "</VolumeInformation>\n";
    return text;
}

inline void putResource(dravik::DataStorage& storage, const std::string& name, const std::vector<uint8_t>& bytes)
{
    auto stream = storage.openStreamAccess(name, dravik::StreamAccessCapability::WRITE);
    ASSERT_EQ(stream->write(bytes.size(), bytes.data()), bytes.size());
    stream->flush();
}

inline void putResource(dravik::DataStorage& storage, const std::string& name, const std::string& text)
{
    putResource(storage, name, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> resourceBytes(dravik::DataStorage& storage, const std::string& name)
{
    auto random = storage.openRandomAccess(name, dravik::RandomAccessCapability::READ);
    std::vector<uint8_t> bytes(random->size());
    if (!bytes.empty()) {
        random->read(0, bytes.size(), bytes.data());
    }
    return bytes;
}

/// Counts the reads of the random accesses it hands out.
/// The threads that read through an access.
struct ReaderThreads {
    std::mutex mutex;
    std::set<std::thread::id> ids;

    void add()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ids.insert(std::this_thread::get_id());
    }
    size_t count()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return ids.size();
    }
};

class CountingRandomAccess : public dravik::RandomAccess {
public:
    CountingRandomAccess(std::shared_ptr<dravik::RandomAccess> source, std::shared_ptr<std::atomic<uint64_t>> reads,
                         std::shared_ptr<ReaderThreads> threads)
        : m_source(std::move(source))
        , m_reads(std::move(reads))
        , m_threads(std::move(threads))
    {
    }
    std::shared_ptr<dravik::DataStorage> storage() const override { return m_source->storage(); }
    std::string resourceId() const override { return m_source->resourceId(); }
    dravik::RandomAccessCapabilitySet capabilities() const override { return dravik::RandomAccessCapability::READ; }
    uint64_t size() const override { return m_source->size(); }
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override
    {
        ++*m_reads;
        m_threads->add();
        return m_source->read(offset, size, dst);
    }

private:
    std::shared_ptr<dravik::RandomAccess> m_source;
    std::shared_ptr<std::atomic<uint64_t>> m_reads;
    std::shared_ptr<ReaderThreads> m_threads;
};

/// A stream that reports another storage as its own.
class StreamInStorage : public dravik::StreamAccess {
public:
    StreamInStorage(std::shared_ptr<dravik::StreamAccess> source, std::weak_ptr<dravik::DataStorage> storage)
        : m_source(std::move(source))
        , m_storage(std::move(storage))
    {
    }
    std::shared_ptr<dravik::DataStorage> storage() const override { return m_storage.lock(); }
    std::string resourceId() const override { return m_source->resourceId(); }
    dravik::StreamAccessCapabilitySet capabilities() const override
    {
        return m_source->capabilities() & dravik::StreamAccessCapabilitySet{dravik::StreamAccessCapability::READ,
                                                                            dravik::StreamAccessCapability::WRITE,
                                                                            dravik::StreamAccessCapability::SEEK};
    }
    bool eof() const override { return m_source->eof(); }
    bool fail() const override { return m_source->fail(); }
    uint64_t read(uint64_t size, void* dst) override { return m_source->read(size, dst); }
    uint64_t write(uint64_t size, const void* src) override { return m_source->write(size, src); }
    void flush() override { m_source->flush(); }
    uint64_t tell() const override { return m_source->tell(); }
    void seek(int64_t offset, dravik::SeekOrigin origin) override { m_source->seek(offset, origin); }

private:
    std::shared_ptr<dravik::StreamAccess> m_source;
    std::weak_ptr<dravik::DataStorage> m_storage;
};

/// A storage in memory whose random accesses count their reads.
class CountingStorage : public dravik::DataStorage, public std::enable_shared_from_this<CountingStorage> {
public:
    std::string location() const override { return "counting"; }
    bool exists(const std::string& id) const override { return m_inner->exists(id); }
    std::shared_ptr<dravik::StreamAccess> openStreamAccess(const std::string& id,
                                                           dravik::StreamAccessCapabilitySet caps) override
    {
        return std::make_shared<StreamInStorage>(m_inner->openStreamAccess(id, caps), weak_from_this());
    }
    std::shared_ptr<dravik::RandomAccess> openRandomAccess(const std::string& id,
                                                           dravik::RandomAccessCapabilitySet caps) override
    {
        return std::make_shared<CountingRandomAccess>(m_inner->openRandomAccess(id, caps), m_reads, m_readers);
    }
    bool remove(const std::string& id) override { return m_inner->remove(id); }

    std::shared_ptr<dravik::DataStorage> m_inner = dravik::DataStorageFactory::createInMemory();
    std::shared_ptr<std::atomic<uint64_t>> m_reads = std::make_shared<std::atomic<uint64_t>>(0);
    std::shared_ptr<ReaderThreads> m_readers = std::make_shared<ReaderThreads>();
};

/// The packed bytes of `region` of `v`.
inline std::vector<uint8_t> regionBytes(const Volume& v, Size3 origin, Size3 size)
{
    std::vector<uint8_t> out;
    for (uint64_t z = 0; z < size[2]; ++z) {
        for (uint64_t y = 0; y < size[1]; ++y) {
            const uint8_t* row = v.at(origin[0], origin[1] + y, origin[2] + z);
            out.insert(out.end(), row, row + size[0] * v.elementBytes());
        }
    }
    return out;
}

inline std::vector<uint8_t> readAll(dravik::ImageView& view)
{
    std::vector<uint8_t> out(view.byteCount());
    view.readRegion(dravik::RegionXu64::fullRegion(view.shape()), out.data());
    return out;
}

inline std::string errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const dravik::Error& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace quenza::vxt::test

namespace quenza::vxt::test {

/// An image in memory that counts the voxels it serves, and can fail its n-th read,
/// claim memory access, or carry a tiling info.
class CountingImage : public dravik::ImageView {
public:
    explicit CountingImage(std::shared_ptr<dravik::ImageView> source, bool memoryAccess = false)
        : m_source(std::move(source))
        , m_memoryAccess(memoryAccess)
    {
    }
    dravik::ImageCapabilitySet capabilities() const override
    {
        return m_memoryAccess ? dravik::ImageCapabilitySet{dravik::ImageCapability::READ,
                                                           dravik::ImageCapability::MEMORY_ACCESS}
                              : dravik::ImageCapabilitySet{dravik::ImageCapability::READ};
    }
    const dravik::VectorXu64& shape() const override { return m_source->shape(); }
    dravik::DataType dataType() const override { return m_source->dataType(); }
    std::shared_ptr<const dravik::ImageProperties> properties() const override { return m_source->properties(); }
    void readRegion(const dravik::RegionXu64& region, void* dst) override
    {
        const uint64_t n = ++m_reads;
        if (m_failAt != 0 && n >= m_failAt) {
            throw FailedRead("read " + std::to_string(n) + " failed");
        }
        m_voxels += region.elementCount();
        m_source->readRegion(region, dst);
    }
    using dravik::ImageView::extension;
    std::shared_ptr<dravik::Extension> extension(size_t id) override
    {
        if (m_tiling && id == dravik::TilingInfoExtension::EXTENSION_ID) {
            return m_tiling;
        }
        return dravik::ImageView::extension(id);
    }

    /// The error of a failed read, of a type of its own.
    class FailedRead : public dravik::Error {
    public:
        using dravik::Error::Error;
    };

    std::shared_ptr<dravik::ImageView> m_source;
    bool m_memoryAccess;
    std::atomic<uint64_t> m_reads{0};
    std::atomic<uint64_t> m_voxels{0};
    uint64_t m_failAt = 0;
    std::shared_ptr<dravik::Extension> m_tiling;
};

/// A tiling info that only reports a tile size.
class FixedTiling : public dravik::TilingInfoExtension {
public:
    explicit FixedTiling(dravik::VectorXu64 tile)
        : m_tile(std::move(tile))
    {
    }
    dravik::VectorXu64 maxTileSize() const override { return m_tile; }
    uint64_t tileCount() const override { return 0; }
    dravik::RegionXu64 tileRegion(uint64_t) const override { return {}; }
    const dravik::ArrayX<uint64_t>& tilingGrid() const override { return m_grid; }
    void readTile(uint64_t, void*) override {}
    dravik::ImageView* image() const override { return nullptr; }

private:
    dravik::VectorXu64 m_tile;
    dravik::ArrayX<uint64_t> m_grid;
};

inline std::shared_ptr<dravik::StreamAccess> output(dravik::DataStorage& storage, const std::string& name)
{
    return storage.openStreamAccess(name, dravik::StreamAccessCapability::WRITE);
}

inline std::shared_ptr<dravik::StreamAccess> input(dravik::DataStorage& storage, const std::string& name)
{
    return storage.openStreamAccess(name, dravik::StreamAccessCapability::READ);
}

inline std::string resourceText(dravik::DataStorage& storage, const std::string& name)
{
    const auto bytes = resourceBytes(storage, name);
    return std::string(bytes.begin(), bytes.end());
}

/// Threads of this process.
inline size_t threadCount()
{
    // A sanitizer runtime starts a thread of its own with the process's first new thread:
    // start one before counting, so that counts before and after a pipeline compare.
    static const bool runtimeStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)runtimeStarted;
    auto count = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
            ++n;
        }
        return n;
    };
    // A joined thread can still be listed for a moment while the kernel finishes its exit:
    // the count is the one that holds for a few milliseconds.
    size_t last = count();
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const size_t now = count();
        if (now == last) {
            return now;
        }
        last = now;
    }
    return last;
}

} // namespace quenza::vxt::test
