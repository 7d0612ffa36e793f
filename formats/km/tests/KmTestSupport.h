#pragma once

#include <dravik/Error.h>
#include <dravik/ImageView.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/Region.h>
#include <dravik/StreamAccessFactory.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenza::km::test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

inline Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// A header of the usual shape: identification, lattice size, optional Parameters
/// block, the given declaration lines, each followed by a line break.
inline std::string header(const std::string& encoding, const std::string& lattice, const std::string& declarations,
                          const std::string& parameters = "")
{
    std::string text = "# KorvelMesh " + encoding + " 2.1\n\n\ndefine Lattice " + lattice + "\n\n";
    if (!parameters.empty()) {
        text += parameters + "\n\n";
    }
    return text + declarations + "\n\n";
}

/// A file: header text, the marker line "@N", then the section's bytes.
inline Bytes fileOf(const std::string& headerText, const Bytes& data, int section = 1)
{
    return concat(bytesOf(headerText + "@" + std::to_string(section) + "\n"), data);
}

/// Values 0, 1, 2... of `count` elements of `bytesPerValue` bytes, little-endian.
inline Bytes counting(size_t count, size_t bytesPerValue)
{
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) {
        for (size_t b = 0; b < bytesPerValue; ++b) {
            bytes.push_back(static_cast<uint8_t>(b == 0 ? (i * 7 + 1) & 0xFF : (i >> (8 * b)) + b * 3));
        }
    }
    return bytes;
}

/// `bytes` with each run of `width` bytes reversed.
inline Bytes swapped(const Bytes& bytes, size_t width)
{
    Bytes out = bytes;
    for (size_t i = 0; i + width <= out.size(); i += width) {
        std::reverse(out.begin() + static_cast<std::ptrdiff_t>(i), out.begin() + static_cast<std::ptrdiff_t>(i + width));
    }
    return out;
}

/// One zlib stream of `data`.
inline Bytes zlibOf(const Bytes& data, int level = 6)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) {
        throw std::runtime_error("compress2 failed in a test");
    }
    out.resize(size);
    return out;
}

/// Literal packets only: the simplest valid HxByteRLE encoding.
inline Bytes literalRle(const Bytes& data)
{
    Bytes out;
    for (size_t i = 0; i < data.size(); i += 127) {
        const size_t n = std::min<size_t>(127, data.size() - i);
        out.push_back(static_cast<uint8_t>(0x80 + n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                   data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    return out;
}

inline std::shared_ptr<dravik::StreamAccess> streamOf(const Bytes& bytes)
{
    return dravik::StreamAccessFactory::fromBytes(bytes);
}

inline std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const dravik::Error& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("(not a dravik::Error) ") + e.what();
    }
    return "(no error)";
}

inline Bytes readAll(dravik::ImageView& image)
{
    Bytes out(static_cast<size_t>(image.byteCount()));
    image.readRegion(dravik::RegionXu64::fullRegion(image.shape()), out.data());
    return out;
}

inline Bytes readRegion(dravik::ImageView& image, const dravik::RegionXu64& region)
{
    Bytes out(static_cast<size_t>(region.elementCount() * image.dataType().byteCount()));
    image.readRegion(region, out.data());
    return out;
}

/// The elements of `region` of a dense little-endian array of `shape`.
inline Bytes cut(const Bytes& all, const dravik::VectorXu64& shape, uint64_t elementBytes,
                 const dravik::RegionXu64& region)
{
    Bytes out;
    const auto& o = region.origin();
    const auto& s = region.size();
    for (uint64_t z = o[2]; z < o[2] + s[2]; ++z) {
        for (uint64_t y = o[1]; y < o[1] + s[1]; ++y) {
            const uint64_t start = ((z * shape[1] + y) * shape[0] + o[0]) * elementBytes;
            out.insert(out.end(), all.begin() + static_cast<std::ptrdiff_t>(start),
                       all.begin() + static_cast<std::ptrdiff_t>(start + s[0] * elementBytes));
        }
    }
    return out;
}

inline Bytes fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

/// An image in memory holding `bytes`.
inline std::shared_ptr<dravik::ImageView> imageOf(const dravik::VectorXu64& shape, const dravik::DataType& type,
                                                  const Bytes& bytes)
{
    auto image = dravik::ImageViewFactory::allocate(shape, type);
    image->writeRegion(dravik::RegionXu64::fullRegion(shape), bytes.data());
    return image;
}

} // namespace quenza::km::test
