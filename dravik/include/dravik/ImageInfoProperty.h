#pragma once

#include <dravik/Export.h>
#include <dravik/ImageType.h>
#include <dravik/Vector.h>

#include <cstdint>

namespace dravik {

/// What the element values of an image mean. Colour interpretations lie between
/// BINARY and MULTISPECTRAL.
enum class ImageInterpretation : uint8_t {
    UNKNOWN = 0,
    GRAYSCALE = 1,
    LABEL = 2,
    BINARY = 3,
    RGB = 4,
    HSL = 5,
    YIQ = 6,
    RGB_CHROMATICITY = 7,
    MULTISPECTRAL = 255,
};

/// Name of an interpretation: "GRAYSCALE", "RGB"...
DRAVIK_API const char* toString(ImageInterpretation interpretation);

/// Interpretation of values and axes, significant bits and value range of an image.
class DRAVIK_API ImageInfoProperty {
public:
    ImageInterpretation interpretation() const { return m_interpretation; }
    void setInterpretation(ImageInterpretation interpretation) { m_interpretation = interpretation; }
    const ImageType& axesInterpretation() const { return m_axes; }
    void setAxesInterpretation(const ImageType& axes) { m_axes = axes; }
    /// Significant bits of each value (a binary image of bytes has 1).
    uint32_t bitDepth() const { return m_bitDepth; }
    void setBitDepth(uint32_t bitDepth) { m_bitDepth = bitDepth; }
    /// (lowest, highest) value that the image can hold.
    const Vector2d& valueRange() const { return m_valueRange; }
    void setValueRange(const Vector2d& range) { m_valueRange = range; }
    void setValueRange(double lowest, double highest) { m_valueRange = Vector2d{lowest, highest}; }

    friend bool operator==(const ImageInfoProperty& a, const ImageInfoProperty& b)
    {
        return a.m_interpretation == b.m_interpretation && a.m_axes == b.m_axes && a.m_bitDepth == b.m_bitDepth
            && a.m_valueRange == b.m_valueRange;
    }

private:
    ImageInterpretation m_interpretation = ImageInterpretation::UNKNOWN;
    ImageType m_axes;
    uint32_t m_bitDepth = 0;
    Vector2d m_valueRange{0.0, 0.0};
};

} // namespace dravik
