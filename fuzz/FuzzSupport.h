#pragma once

// What every fuzz target does with what a reader opened: read it whole when that is small
// enough to hold, and always read a few boxes of it, so that both the plain and the
// partial paths of each reader run on every input.

#include <dravik/DataFrameView.h>
#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/ImageView.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenza::fuzz {

/// Largest buffer a target allocates for one read. A reader that cannot back a shape must
/// refuse it at open; a lazy reader may announce more than this and still be right.
constexpr uint64_t MAX_READ_BYTES = uint64_t(64) << 20;

/// Runs `action`; a dravik::Error is the expected answer to bad bytes, anything else
/// escapes and is reported by the fuzzer as a finding.
inline void tolerate(const std::function<void()>& action)
{
    try {
        action();
    } catch (const dravik::Error&) {
    }
}

/// Bytes of `region` read packed, or nothing when they overflow or exceed MAX_READ_BYTES.
inline std::optional<uint64_t> regionBytes(const dravik::RegionXu64& region, const dravik::DataType& type)
{
    uint64_t bytes = type.byteCount();
    for (uint64_t s : region.size()) {
        if (s != 0 && bytes > MAX_READ_BYTES / s) {
            return std::nullopt;
        }
        bytes *= s;
    }
    if (bytes > MAX_READ_BYTES) {
        return std::nullopt;
    }
    return bytes;
}

inline void readBox(dravik::ImageView& image, const dravik::RegionXu64& region)
{
    const auto bytes = regionBytes(region, image.dataType());
    if (!bytes) {
        return;
    }
    std::vector<uint8_t> buffer(std::max<uint64_t>(*bytes, 1));
    tolerate([&] { image.readRegion(region, buffer.data()); });
}

/// The whole image, its first and last element, a box in the middle, and one plane.
inline void readImage(dravik::ImageView& image)
{
    const dravik::VectorXu64 shape = image.shape();
    const size_t n = shape.size();
    (void)image.properties();
    (void)image.metadata();
    if (n == 0) {
        return;
    }
    readBox(image, dravik::RegionXu64::fullRegion(shape));
    for (uint64_t s : shape) {
        if (s == 0) {
            return;
        }
    }
    dravik::VectorXu64 origin = shape;
    dravik::VectorXu64 size = shape;
    origin.fill(0);
    size.fill(1);
    readBox(image, dravik::RegionXu64(origin, size));
    for (size_t d = 0; d < n; ++d) {
        origin[d] = shape[d] - 1;
    }
    readBox(image, dravik::RegionXu64(origin, size));
    for (size_t d = 0; d < n; ++d) {
        origin[d] = shape[d] / 3;
        size[d] = std::min<uint64_t>(std::max<uint64_t>(shape[d] / 2, 1), shape[d] - origin[d]);
    }
    readBox(image, dravik::RegionXu64(origin, size));
    for (size_t d = 0; d < n; ++d) {
        origin[d] = 0;
        size[d] = shape[d];
    }
    origin[n - 1] = shape[n - 1] / 2;
    size[n - 1] = 1;
    readBox(image, dravik::RegionXu64(origin, size));
    // An out-of-bounds request must be refused, not served.
    origin[n - 1] = shape[n - 1];
    readBox(image, dravik::RegionXu64(origin, size));
}

inline void readFrames(dravik::MultiImageView& images)
{
    (void)images.metadata();
    const uint64_t count = images.frameCount();
    for (uint64_t i = 0; i < count; ++i) {
        tolerate([&] { readImage(*images.frame(i)); });
    }
    tolerate([&] { (void)images.frame(count); });
}

inline void readLevels(dravik::LodImageView& lod)
{
    const auto range = lod.levelRange();
    for (int64_t level = range[0]; level <= range[1]; ++level) {
        tolerate([&] { readImage(*lod.resolution(level)); });
    }
    tolerate([&] { (void)lod.resolution(range[1] + 1); });
}

inline void readColumns(dravik::DataFrameView& frame)
{
    const dravik::VectorXu64 shape = frame.shape();
    if (shape.size() != 2) {
        return;
    }
    const uint64_t rows = shape[1];
    for (size_t column = 0; column < shape[0]; ++column) {
        (void)frame.columnName(column);
        const dravik::DataType type = frame.columnDataType(column);
        for (const auto& [offset, count] : {std::pair<uint64_t, uint64_t>{0, rows},
                                            std::pair<uint64_t, uint64_t>{rows / 2, rows - rows / 2},
                                            std::pair<uint64_t, uint64_t>{rows, 1}}) {
            tolerate([&, offset = offset, count = count] {
                // Text and unknown columns hold std::string cells.
                if (type.isString() || type.isUnknown()) {
                    std::vector<std::string> cells(std::max<uint64_t>(count, 1));
                    frame.read(column, offset, count, cells.data());
                } else {
                    std::vector<uint8_t> cells(std::max<uint64_t>(count, 1) * std::max<uint64_t>(type.byteCount(), 1));
                    frame.read(column, offset, count, cells.data());
                }
            });
        }
    }
}

inline std::string textOf(const uint8_t* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

inline std::vector<uint8_t> bytesOf(const uint8_t* data, size_t size)
{
    return std::vector<uint8_t>(data, data + size);
}

} // namespace quenza::fuzz
