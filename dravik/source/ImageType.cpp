#include <dravik/Error.h>
#include <dravik/ImageInfoProperty.h>
#include <dravik/ImageType.h>

namespace dravik {

namespace {

constexpr ImageTypeId NAMED_IDS[] = {
    ImageTypeId::IMAGE,
    ImageTypeId::VOLUME,
    ImageTypeId::MULTICHANNEL_IMAGE,
    ImageTypeId::MULTICHANNEL_VOLUME,
    ImageTypeId::IMAGE_SEQUENCE,
    ImageTypeId::VOLUME_SEQUENCE,
    ImageTypeId::MULTICHANNEL_IMAGE_SEQUENCE,
    ImageTypeId::MULTICHANNEL_VOLUME_SEQUENCE,
};

} // namespace

const char* toString(ImageTypeDimension dimension)
{
    switch (dimension) {
    case ImageTypeDimension::COLUMN: return "COLUMN";
    case ImageTypeDimension::ROW: return "ROW";
    case ImageTypeDimension::SLICE: return "SLICE";
    case ImageTypeDimension::CHANNEL: return "CHANNEL";
    case ImageTypeDimension::SEQUENCE: return "SEQUENCE";
    }
    return "UNKNOWN";
}

const char* toString(ImageInterpretation interpretation)
{
    switch (interpretation) {
    case ImageInterpretation::UNKNOWN: return "UNKNOWN";
    case ImageInterpretation::GRAYSCALE: return "GRAYSCALE";
    case ImageInterpretation::LABEL: return "LABEL";
    case ImageInterpretation::BINARY: return "BINARY";
    case ImageInterpretation::RGB: return "RGB";
    case ImageInterpretation::HSL: return "HSL";
    case ImageInterpretation::YIQ: return "YIQ";
    case ImageInterpretation::RGB_CHROMATICITY: return "RGB_CHROMATICITY";
    case ImageInterpretation::MULTISPECTRAL: return "MULTISPECTRAL";
    }
    return "UNKNOWN";
}

ImageType::ImageType(ImageTypeId id)
    : m_mask(static_cast<uint32_t>(id))
{
}

ImageType::ImageType(const std::vector<ImageTypeDimension>& dimensions)
{
    for (ImageTypeDimension d : dimensions) {
        add(d);
    }
}

ImageType& ImageType::add(ImageTypeDimension dimension)
{
    m_mask |= bit(dimension);
    return *this;
}

ImageType& ImageType::remove(ImageTypeDimension dimension)
{
    m_mask &= ~bit(dimension);
    return *this;
}

size_t ImageType::dimensionCount() const
{
    size_t count = 0;
    for (size_t d = 0; d < IMAGE_TYPE_DIMENSION_COUNT; ++d) {
        count += has(static_cast<ImageTypeDimension>(d)) ? 1 : 0;
    }
    return count;
}

int ImageType::position(ImageTypeDimension dimension) const
{
    if (!has(dimension)) {
        return -1;
    }
    int pos = 0;
    for (size_t d = 0; d < static_cast<size_t>(dimension); ++d) {
        pos += has(static_cast<ImageTypeDimension>(d)) ? 1 : 0;
    }
    return pos;
}

std::vector<ImageTypeDimension> ImageType::dimensions() const
{
    std::vector<ImageTypeDimension> dims;
    for (size_t d = 0; d < IMAGE_TYPE_DIMENSION_COUNT; ++d) {
        if (has(static_cast<ImageTypeDimension>(d))) {
            dims.push_back(static_cast<ImageTypeDimension>(d));
        }
    }
    return dims;
}

ImageTypeId ImageType::id() const
{
    for (ImageTypeId named : NAMED_IDS) {
        if (static_cast<uint32_t>(named) == m_mask) {
            return named;
        }
    }
    return ImageTypeId::UNKNOWN;
}

std::string ImageType::toString() const
{
    std::string text;
    for (ImageTypeDimension d : dimensions()) {
        if (!text.empty()) {
            text += ", ";
        }
        text += dravik::toString(d);
    }
    return text;
}

ImageType ImageType::defaultFor(size_t dimensionCount)
{
    ImageType type;
    if (dimensionCount > IMAGE_TYPE_DIMENSION_COUNT) {
        return type;
    }
    for (size_t d = 0; d < dimensionCount; ++d) {
        type.add(static_cast<ImageTypeDimension>(d));
    }
    return type;
}

} // namespace dravik
