#pragma once

#include <TileNode.h>

#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/Vector.h>

#include <cstdint>
#include <memory>
#include <limits>
#include <type_traits>
#include <vector>

namespace quenza::vxt {

/// The value range and, on request, the histogram of a volume, gathered from its
/// full-resolution tiles on the thread that builds them.
class ImageProcessing {
public:
    ImageProcessing(const dravik::DataType& dataType, bool histogram);

    /// Adds every voxel of a level-0 tile, whose view is an image of its clipped region.
    void processTile(const std::shared_ptr<TileNode>& tile);
    /// Adds `count` values of type T read from `data`.
    template <typename T>
    void processElement(const T* data, uint64_t count);

    /// The bin of `value`. Throws dravik::Error for floating-point values.
    template <typename T>
    static uint64_t getEntry(T value)
    {
        if constexpr (std::is_floating_point_v<T>) {
            throw dravik::Error("getEntry method not implemented for float yet");
        } else if constexpr (sizeof(T) == 1 || sizeof(T) == 2) {
            return static_cast<uint64_t>(static_cast<int64_t>(value) - static_cast<int64_t>(std::numeric_limits<T>::min()));
        } else if constexpr (std::is_signed_v<T>) {
            // An arithmetic shift: floor(v / 65536).
            return static_cast<uint64_t>((static_cast<int64_t>(value) >> 16) + 32768);
        } else {
            return static_cast<uint64_t>(value) >> 16;
        }
    }
    /// The lowest value of bin `bin`.
    int64_t histoValue(uint64_t bin) const;

    /// (minimum, maximum) of the values seen; (upper, lower) of the type's standard range before any.
    const dravik::Vector2d& range() const { return m_range; }
    /// Counts by bin index; empty without histogram.
    const std::vector<uint64_t>& bins() const { return m_bins; }
    bool histogram() const { return m_histogram; }

private:
    std::vector<uint64_t> m_bins;
    dravik::DataType m_dataType;
    bool m_histogram;
    dravik::Vector2d m_range;
};

} // namespace quenza::vxt
