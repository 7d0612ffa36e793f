#include <ImageProcessing.h>

#include "TileBytes.h"

#include <dravik/Providers.h>

#include <algorithm>
#include <limits>

namespace quenza::vxt {

ImageProcessing::ImageProcessing(const dravik::DataType& dataType, bool histogram)
    : m_dataType(dataType)
    , m_histogram(histogram)
{
    if (m_histogram) {
        const uint32_t bits = std::min<uint32_t>(m_dataType.bitDepth(), 16);
        m_bins.assign(uint64_t(1) << bits, 0);
    }
    const auto [lower, upper] = dravik::DataType::standardRange(m_dataType);
    m_range = dravik::Vector2d{upper, lower};
}

template <typename T>
void ImageProcessing::processElement(const T* data, uint64_t count)
{
    if (m_histogram) {
        for (uint64_t i = 0; i < count; ++i) {
            ++m_bins[getEntry(data[i])];
        }
    }
    // In the element type, which holds the standard range exactly, so that the loop
    // vectorises; NaNs compare false both ways and leave the range as it is.
    T lowest = static_cast<T>(m_range[0]);
    T highest = static_cast<T>(m_range[1]);
    for (uint64_t i = 0; i < count; ++i) {
        const T v = data[i];
        lowest = v < lowest ? v : lowest;
        highest = v > highest ? v : highest;
    }
    m_range = dravik::Vector2d{static_cast<double>(lowest), static_cast<double>(highest)};
}

template void ImageProcessing::processElement<uint8_t>(const uint8_t*, uint64_t);
template void ImageProcessing::processElement<uint16_t>(const uint16_t*, uint64_t);
template void ImageProcessing::processElement<uint32_t>(const uint32_t*, uint64_t);
template void ImageProcessing::processElement<int8_t>(const int8_t*, uint64_t);
template void ImageProcessing::processElement<int16_t>(const int16_t*, uint64_t);
template void ImageProcessing::processElement<int32_t>(const int32_t*, uint64_t);
template void ImageProcessing::processElement<float>(const float*, uint64_t);

int64_t ImageProcessing::histoValue(uint64_t bin) const
{
    const uint64_t c = (uint64_t(m_dataType.bitDepth()) * m_dataType.elementCount() - 1) / 8;
    int64_t value = static_cast<int64_t>(bin);
    if (m_dataType.primitiveType() == dravik::PrimitiveType::SIGNED_INTEGER) {
        value -= c == 0 ? 128 : 32768;
    }
    if (c == 3) {
        value *= 65536;
    }
    return value;
}

void ImageProcessing::processTile(const std::shared_ptr<TileNode>& tile)
{
    auto view = dravik::ImageViewProvider::toImage(tile->view);
    if (!view) {
        throw dravik::Error("VXT statistics: the tile has no image");
    }
    std::vector<uint8_t> scratch;
    const uint8_t* voxels = packedVoxels(*view, scratch);
    const uint64_t n = view->elementCount();
    const uint32_t bits = m_dataType.bitDepth();
    auto run = [&](auto tag) {
        using T = decltype(tag);
        processElement(reinterpret_cast<const T*>(voxels), n);
    };
    switch (m_dataType.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        if (bits == 8) return run(uint8_t{});
        if (bits == 16) return run(uint16_t{});
        if (bits == 32) return run(uint32_t{});
        throw dravik::Error("unsupported bit depth");
    case dravik::PrimitiveType::SIGNED_INTEGER:
        if (bits == 8) return run(int8_t{});
        if (bits == 16) return run(int16_t{});
        if (bits == 32) return run(int32_t{});
        throw dravik::Error("unsupported bit depth");
    case dravik::PrimitiveType::FLOATING_POINT:
        if (bits != 32) {
            throw dravik::Error("unsupported bit depth");
        }
        return run(float{});
    default:
        throw dravik::Error("unsupported type");
    }
}

} // namespace quenza::vxt
