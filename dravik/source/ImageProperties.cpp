#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/SpatialCalibrationProperty.h>
#include <dravik/SpatialDirections.h>

#include <cmath>

namespace dravik {

namespace {

Vector3d cross(const Vector3d& a, const Vector3d& b)
{
    return Vector3d{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double norm(const Vector3d& v)
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

Vector3d normalized(const Vector3d& v)
{
    const double n = norm(v);
    if (!(n > 0.0) || !std::isfinite(n)) {
        throw InvalidArgument("A spatial direction must be a finite, non-zero vector, not (" + v.toString() + ")");
    }
    return v / n;
}

} // namespace

SpatialDirections::SpatialDirections()
    : m_axes{Vector3d{1.0, 0.0, 0.0}, Vector3d{0.0, 1.0, 0.0}, Vector3d{0.0, 0.0, 1.0}}
{
}

SpatialDirections::SpatialDirections(const Vector3d& axis0, const Vector3d& axis1)
{
    m_axes[0] = normalized(axis0);
    m_axes[1] = normalized(axis1);
    const Vector3d third = cross(m_axes[0], m_axes[1]);
    if (norm(third) < 1e-12) {
        throw InvalidArgument("Spatial directions (" + axis0.toString() + ") and (" + axis1.toString()
                              + ") are parallel");
    }
    m_axes[2] = normalized(third);
}

const Vector3d& SpatialDirections::direction(size_t index) const
{
    if (index >= 3) {
        throw InvalidArgument("Spatial direction index " + std::to_string(index) + " out of range");
    }
    return m_axes[index];
}

SpatialCalibrationProperty::SpatialCalibrationProperty()
    : m_origin(0.0)
    , m_spacing(1.0)
{
}

std::shared_ptr<ImageProperties> ImageProperties::fromDataType(const DataType& type)
{
    auto props = std::make_shared<ImageProperties>();
    ImageInfoProperty& info = props->imageInfo();
    if (type.isUnknown() || type.isString()) {
        return props;
    }
    info.setBitDepth(type.bitDepth());
    const auto range = DataType::standardRange(type);
    info.setValueRange(range.first, range.second);
    if (type.isVector()) {
        const uint32_t n = type.elementCount();
        info.setInterpretation(n == 3 || n == 4 ? ImageInterpretation::RGB : ImageInterpretation::MULTISPECTRAL);
    } else {
        info.setInterpretation(ImageInterpretation::GRAYSCALE);
    }
    return props;
}

std::shared_ptr<ImageProperties> ImageProperties::clone() const
{
    return std::make_shared<ImageProperties>(*this);
}

bool ImageProperties::isCompatibleWith(const VectorXu64& shape, const DataType& type) const
{
    const ImageType& axes = m_imageInfo.axesInterpretation();
    if (!axes.isUnknown() && axes.dimensionCount() != shape.size()) {
        return false;
    }
    return m_imageInfo.bitDepth() <= type.bitDepth();
}

} // namespace dravik
