#pragma once

#include <dravik/Export.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dravik {

/// The meaning of one axis of an image. Axes always come in this order in a shape,
/// so a set of dimensions says where each one is.
enum class ImageTypeDimension : uint8_t {
    COLUMN = 0,
    ROW = 1,
    SLICE = 2,
    CHANNEL = 3,
    SEQUENCE = 4,
};

/// Number of ImageTypeDimension values.
constexpr size_t IMAGE_TYPE_DIMENSION_COUNT = 5;

/// Usual combinations of axes.
enum class ImageTypeId : uint32_t {
    UNKNOWN = 0,
    IMAGE = 0x03,                         // COLUMN ROW
    VOLUME = 0x07,                        // COLUMN ROW SLICE
    MULTICHANNEL_IMAGE = 0x0B,            // COLUMN ROW CHANNEL
    MULTICHANNEL_VOLUME = 0x0F,           // COLUMN ROW SLICE CHANNEL
    IMAGE_SEQUENCE = 0x13,                // COLUMN ROW SEQUENCE
    VOLUME_SEQUENCE = 0x17,               // COLUMN ROW SLICE SEQUENCE
    MULTICHANNEL_IMAGE_SEQUENCE = 0x1B,   // COLUMN ROW CHANNEL SEQUENCE
    MULTICHANNEL_VOLUME_SEQUENCE = 0x1F,  // COLUMN ROW SLICE CHANNEL SEQUENCE
};

/// Name of a dimension: "COLUMN", "ROW", "SLICE", "CHANNEL", "SEQUENCE".
DRAVIK_API const char* toString(ImageTypeDimension dimension);

/// The axes interpretation of an image: which dimensions its axes stand for.
class DRAVIK_API ImageType {
public:
    /// No interpretation (UNKNOWN).
    ImageType() = default;
    ImageType(ImageTypeId id); // NOLINT(google-explicit-constructor): ids are types
    explicit ImageType(const std::vector<ImageTypeDimension>& dimensions);

    bool isUnknown() const { return m_mask == 0; }
    bool has(ImageTypeDimension dimension) const { return (m_mask & bit(dimension)) != 0; }
    ImageType& add(ImageTypeDimension dimension);
    ImageType& remove(ImageTypeDimension dimension);

    /// Number of axes.
    size_t dimensionCount() const;
    /// Position of `dimension` among the axes, or -1 when absent.
    int position(ImageTypeDimension dimension) const;
    /// The axes in shape order.
    std::vector<ImageTypeDimension> dimensions() const;
    /// The matching id, or UNKNOWN for a combination without a name.
    ImageTypeId id() const;
    uint32_t mask() const { return m_mask; }
    /// "COLUMN, ROW, SLICE"; empty for UNKNOWN.
    std::string toString() const;

    /// The usual axes of an image of `dimensionCount` axes when nothing else is known:
    /// the first `dimensionCount` dimensions (UNKNOWN above 5).
    static ImageType defaultFor(size_t dimensionCount);

    friend bool operator==(const ImageType& a, const ImageType& b) { return a.m_mask == b.m_mask; }
    friend bool operator!=(const ImageType& a, const ImageType& b) { return a.m_mask != b.m_mask; }

private:
    static uint32_t bit(ImageTypeDimension d) { return 1u << static_cast<uint32_t>(d); }
    uint32_t m_mask = 0;
};

} // namespace dravik
