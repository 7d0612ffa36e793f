#include "ImageViewBase.h"

#include <dravik/Error.h>
#include <dravik/ViewOriginExtension.h>

#include <fmt/format.h>

namespace dravik {

ImageViewBase::ImageViewBase(const VectorXu64& shape, const DataType& type, ImageCapabilitySet capabilities)
    : m_shape(shape)
    , m_type(type)
    , m_capabilities(capabilities)
{
}

std::shared_ptr<Extension> ImageViewBase::extension(size_t id)
{
    if (id == ViewOriginExtension::EXTENSION_ID && m_origin) {
        return m_origin;
    }
    return ImageView::extension(id);
}

void ImageViewBase::checkRegion(const RegionXu64& region) const
{
    if (!region.isInside(m_shape)) {
        throw InvalidArgument(fmt::format("Region {} is outside the image of shape ({})", region.toString(),
                                          m_shape.toString()));
    }
}

uint64_t checkedElementCount(const VectorXu64& shape)
{
    if (shape.empty()) {
        return 0;
    }
    uint64_t count = 1;
    for (uint64_t s : shape) {
        if (s != 0 && count > UINT64_MAX / s) {
            throw InvalidArgument(fmt::format("Shape ({}) holds too many elements", shape.toString()));
        }
        count *= s;
    }
    return count;
}

uint64_t checkedByteCount(uint64_t elementCount, const DataType& type)
{
    const uint64_t bytes = type.byteCount();
    if (bytes != 0 && elementCount > UINT64_MAX / bytes) {
        throw InvalidArgument(fmt::format("{} elements of {} do not fit in memory", elementCount, type.toString()));
    }
    return elementCount * bytes;
}

} // namespace dravik
