#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/ImageInfoProperty.h>
#include <dravik/SpatialCalibrationProperty.h>
#include <dravik/VectorX.h>

#include <memory>

namespace dravik {

/// The calibration and the image information of an image view.
class DRAVIK_API ImageProperties {
public:
    ImageProperties() = default;

    /// Properties suited to elements of `type`: default calibration; bit depth and
    /// value range of the type; GRAYSCALE for scalars and complex numbers, RGB for
    /// 3- and 4-component vectors, MULTISPECTRAL for other vectors; no axes.
    static std::shared_ptr<ImageProperties> fromDataType(const DataType& type);

    std::shared_ptr<ImageProperties> clone() const;

    SpatialCalibrationProperty& calibration() { return m_calibration; }
    const SpatialCalibrationProperty& calibration() const { return m_calibration; }
    ImageInfoProperty& imageInfo() { return m_imageInfo; }
    const ImageInfoProperty& imageInfo() const { return m_imageInfo; }

    /// True when these properties can describe an image of `shape` and `type`: the
    /// axes interpretation, when known, has one axis per dimension, and the bit
    /// depth does not exceed the bits of one component.
    bool isCompatibleWith(const VectorXu64& shape, const DataType& type) const;

    friend bool operator==(const ImageProperties& a, const ImageProperties& b)
    {
        return a.m_calibration == b.m_calibration && a.m_imageInfo == b.m_imageInfo;
    }

private:
    SpatialCalibrationProperty m_calibration;
    ImageInfoProperty m_imageInfo;
};

} // namespace dravik
