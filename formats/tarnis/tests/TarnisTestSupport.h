#pragma once

// Tarnis files built byte by byte, independently of the reader's records: every word is
// appended in the order the layout gives, so a record laid out differently fails.

#include <common/AbstractExtractorMulti.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenza::tarnis::test {

class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::vector<uint8_t> bytes)
        : m_bytes(std::move(bytes))
    {
    }

    template <typename T>
    Bytes& put(T value)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        m_bytes.insert(m_bytes.end(), p, p + sizeof value);
        return *this;
    }
    Bytes& i32(int32_t v) { return put(v); }
    Bytes& u16(uint16_t v) { return put(v); }
    Bytes& f32(float v) { return put(v); }
    Bytes& f64(double v) { return put(v); }
    Bytes& i8(int8_t v) { return put(v); }
    /// A 32-bit word stored in the other byte order.
    Bytes& i32Swapped(int32_t v) { return put(__builtin_bswap32(static_cast<uint32_t>(v))); }
    Bytes& u16Swapped(uint16_t v) { return put(__builtin_bswap16(v)); }
    Bytes& text(const std::string& s)
    {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    /// `s` in a field of `width` bytes, NUL-padded.
    Bytes& field(const std::string& s, size_t width)
    {
        text(s.substr(0, width));
        return zeros(width - std::min(width, s.size()));
    }
    Bytes& zeros(size_t n)
    {
        m_bytes.insert(m_bytes.end(), n, 0);
        return *this;
    }
    Bytes& add(const Bytes& other)
    {
        m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
        return *this;
    }
    template <typename T>
    Bytes& setAt(size_t offset, T value)
    {
        std::memcpy(m_bytes.data() + offset, &value, sizeof value);
        return *this;
    }
    template <typename T>
    T at(size_t offset) const
    {
        T value;
        std::memcpy(&value, m_bytes.data() + offset, sizeof value);
        return value;
    }
    Bytes& setText(size_t offset, const std::string& s)
    {
        std::memcpy(m_bytes.data() + offset, s.data(), s.size());
        return *this;
    }

    size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    const std::vector<uint8_t>& data() const { return m_bytes; }
    uint8_t operator[](size_t i) const { return m_bytes[i]; }

private:
    std::vector<uint8_t> m_bytes;
};

/// `n` bytes that differ from their neighbours.
inline Bytes pattern(size_t n, uint32_t seed = 1)
{
    Bytes b;
    for (size_t i = 0; i < n; ++i) {
        b.put(static_cast<uint8_t>((i * 7 + seed * 13 + i / 251) & 0xFF));
    }
    return b;
}

/// Version 6 descriptor words, in file order, without the block sizes the builder counts.
struct V6Fields {
    int32_t magic = 0x6934;
    int32_t gx = 4, gy = 3, gz = 1, gc = 1, gt = 1;
    int32_t ox = 1, oy = 1, oz = 1, oc = 1, ot = 1;
    int32_t gtype = 0x100, grid = 0, gcode = 20, gbits = 8;
    int32_t version = 6500;
};

/// Trailing blocks; each is written, and its size counted, when not empty.
struct Blocks {
    Bytes header;
    Bytes aoi;
    Bytes graphics;
    Bytes calibration;
    Bytes segment;
    Bytes lut;
};

inline int32_t blockSize(const Bytes& b)
{
    return static_cast<int32_t>(b.size());
}

inline int32_t otherSize(const Blocks& b)
{
    return blockSize(b.header) + blockSize(b.aoi) + blockSize(b.graphics) + blockSize(b.calibration)
        + blockSize(b.segment) + blockSize(b.lut);
}

inline Bytes appendBlocks(Bytes file, const Blocks& b)
{
    return file.add(b.header).add(b.aoi).add(b.graphics).add(b.calibration).add(b.segment).add(b.lut);
}

inline Bytes v6File(const V6Fields& f, const Bytes& pixels, const Blocks& b = {})
{
    Bytes d;
    d.i32(f.magic).i32(f.gx).i32(f.gy).i32(f.gz).i32(f.gc).i32(f.gt);
    d.i32(f.ox).i32(f.oy).i32(f.oz).i32(f.oc).i32(f.ot);
    d.i32(f.gtype).i32(f.grid).i32(f.gcode).i32(f.gbits).i32(0).i32(0);
    d.i32(blockSize(b.header)).i32(blockSize(b.aoi)).i32(blockSize(b.graphics)).i32(blockSize(b.calibration));
    d.i32(blockSize(b.segment)).i32(blockSize(b.lut)).i32(f.version).i32(0).i32(0);
    d.i32(116).i32(otherSize(b)).i32(116 + otherSize(b));
    return appendBlocks(d.add(pixels), b);
}

struct V4Fields {
    int32_t magic = 0x6932;
    int32_t gx = 4, gy = 3, gz = 1, gt = 1;
    int32_t ox = 1, oy = 1, oz = 1, ot = 1;
    int32_t gtype = 0x100, grid = 0, gcode = 20, gbits = 8;
    int32_t version = 4000;
};

/// A version 4 file; `swapped` stores the descriptor words in the other byte order (the
/// blocks are taken as given).
inline Bytes v4File(const V4Fields& f, const Bytes& pixels, const Blocks& b = {}, bool swapped = false)
{
    const int32_t words[] = {f.magic,      f.gx,
                             f.gy,         f.gz,
                             f.gt,         f.ox,
                             f.oy,         f.oz,
                             f.ot,         f.gtype,
                             f.grid,       f.gcode,
                             f.gbits,      0,
                             0,            blockSize(b.header),
                             blockSize(b.aoi), blockSize(b.graphics),
                             blockSize(b.calibration), blockSize(b.segment),
                             blockSize(b.lut), f.version,
                             0,            0,
                             108,          otherSize(b),
                             108 + otherSize(b)};
    Bytes d;
    for (int32_t w : words) {
        swapped ? d.i32Swapped(w) : d.i32(w);
    }
    return appendBlocks(d.add(pixels), b);
}

struct V3Fields {
    int32_t magic = 0x6931;
    int32_t dimx = 4, dimy = 3, dimz = 1;
    int32_t maille = 0, code = 20, bstoc = 8;
    int32_t orix = 1, oriy = 1, oriz = 1;
};

inline Bytes v3File(const V3Fields& f, const std::string& userHeader, const Bytes& pixels, bool swapped = false)
{
    const int32_t words[] = {f.magic, f.dimx, f.dimy, f.dimz, 0, 0, f.maille, 0, f.code, f.bstoc,
                             0,       f.orix, f.oriy, f.oriz, 0, 76, static_cast<int32_t>(userHeader.size()), 0, 0};
    Bytes d;
    for (int32_t w : words) {
        swapped ? d.i32Swapped(w) : d.i32(w);
    }
    return d.text(userHeader).add(pixels);
}

/// Offsets of the calibration record's fields.
namespace cal {
constexpr size_t c_mode = 0, ima_size = 8, real_size = 56, ima_orig = 104, real_orig = 120, rxy = 136,
                 c_unit = 168, c_comments = 188, c_name = 2236, cal_name = 2286, ClasseDeb = 2336,
                 ClasseVal = 3360, ClasseType = 4384, GrayScaleSize = 4388, GrayScaleUnit = 4392, oz = 4412,
                 deltaz = 4416, originSequence = 4424, deltaSequence = 4432, unitSequence = 4440,
                 originSpectral = 4496, deltaSpectral = 4504;
} // namespace cal

/// The first `size` bytes of a calibration record holding the default values.
inline Bytes calibrationBlock(size_t size)
{
    Bytes full;
    full.i32(0).zeros(4);
    for (int i = 0; i < 12; ++i) {
        full.f64(1.0);
    }
    full.f64(1.0).f64(1.0).f64(0.0).f64(0.0);
    full.f64(1.0).f64(1.0).f64(1.0).f64(0.0);
    full.field("pixel", 20).zeros(2048).field("no_calib", 50).field("no_calib", 50);
    full.zeros(1024).zeros(1024);
    full.put(int16_t(0)).zeros(2).i32(0).zeros(20).f32(0.0F).f32(1.0F).zeros(4);
    full.f64(0.0).f64(1.0).zeros(50).zeros(6).f64(0.0).f64(1.0);
    EXPECT_EQ(full.size(), 4512u);
    return Bytes(std::vector<uint8_t>(full.data().begin(), full.data().begin() + static_cast<std::ptrdiff_t>(size)));
}

/// A look-up-table block of `n` entries per table: red i, green 1000 + i, blue 2000 + i,
/// closed by a uint16 0 as the writer does.
inline Bytes lutBlock(uint16_t n, bool swapped = false)
{
    Bytes b;
    swapped ? b.u16Swapped(n) : b.u16(n);
    for (uint16_t base : {uint16_t(0), uint16_t(1000), uint16_t(2000)}) {
        for (uint16_t i = 0; i < n; ++i) {
            swapped ? b.u16Swapped(static_cast<uint16_t>(base + i)) : b.u16(static_cast<uint16_t>(base + i));
        }
    }
    return b.u16(0);
}

inline std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "tarnis_" + std::to_string(::getpid()) + "_" + name;
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data().data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

inline std::shared_ptr<dravik::StreamAccess> memoryStream(const Bytes& bytes)
{
    return dravik::StreamAccessFactory::fromBytes(bytes.data());
}

/// The message of the dravik::Error that `f` throws, "(no error)" otherwise.
inline std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const dravik::Error& e) {
        return e.what();
    }
    return "(no error)";
}

/// A root view carrying the origin extension that frames derive theirs from.
class RootView : public common::AbstractExtractorMulti {
public:
    explicit RootView(dravik::ViewDataOrigin origin = dravik::ViewDataOrigin::DRIVE)
    {
        m_extensions.add<common::ViewOriginExtensionImpl>(
            std::make_shared<common::ViewOriginExtensionImpl>("test root", origin));
    }
    uint64_t frameCount() const override { return 0; }
    std::shared_ptr<dravik::ImageView> frame(uint64_t /*index*/) override { return nullptr; }
};

/// All elements of a view, packed.
inline std::vector<uint8_t> readAll(dravik::ImageView& view)
{
    std::vector<uint8_t> bytes(view.byteCount());
    view.readRegion(dravik::RegionXu64::fullRegion(view.shape()), bytes.data());
    return bytes;
}

/// A stream that passes everything to another and counts the reads and writes.
class CountingStream : public dravik::StreamAccess {
public:
    explicit CountingStream(std::shared_ptr<dravik::StreamAccess> inner, uint64_t writeLimit = UINT64_MAX)
        : m_inner(std::move(inner))
        , m_writeLimit(writeLimit)
    {
    }
    std::shared_ptr<dravik::DataStorage> storage() const override { return m_inner->storage(); }
    std::string resourceId() const override { return m_inner->resourceId(); }
    dravik::StreamAccessCapabilitySet capabilities() const override { return m_inner->capabilities(); }
    bool eof() const override { return m_inner->eof(); }
    bool fail() const override { return m_inner->fail(); }
    uint64_t read(uint64_t size, void* dst) override
    {
        ++reads;
        return m_inner->read(size, dst);
    }
    /// Writes at most `writeLimit` bytes in all, then nothing.
    uint64_t write(uint64_t size, const void* src) override
    {
        ++writes;
        const uint64_t allowed = std::min(size, m_writeLimit - written);
        const uint64_t done = m_inner->write(allowed, src);
        written += done;
        return done;
    }
    void flush() override { m_inner->flush(); }
    uint64_t tell() const override { return m_inner->tell(); }
    void seek(int64_t offset, dravik::SeekOrigin origin) override { m_inner->seek(offset, origin); }

    uint64_t reads = 0;
    uint64_t writes = 0;
    uint64_t written = 0;

private:
    std::shared_ptr<dravik::StreamAccess> m_inner;
    uint64_t m_writeLimit;
};

} // namespace quenza::tarnis::test
