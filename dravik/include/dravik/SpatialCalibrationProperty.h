#pragma once

#include <dravik/Export.h>
#include <dravik/SpatialDirections.h>
#include <dravik/Vector.h>

#include <string>

namespace dravik {

/// Position of an image in space: origin of the first element, spacing between
/// elements along each axis, axis directions, and the unit of lengths.
class DRAVIK_API SpatialCalibrationProperty {
public:
    /// Origin (0, 0, 0), spacing (1, 1, 1), identity directions, no unit.
    SpatialCalibrationProperty();

    const Vector3d& origin() const { return m_origin; }
    void setOrigin(const Vector3d& origin) { m_origin = origin; }
    const Vector3d& spacing() const { return m_spacing; }
    void setSpacing(const Vector3d& spacing) { m_spacing = spacing; }
    const SpatialDirections& directions() const { return m_directions; }
    void setDirections(const SpatialDirections& directions) { m_directions = directions; }
    const std::string& unit() const { return m_unit; }
    void setUnit(const std::string& unit) { m_unit = unit; }

    friend bool operator==(const SpatialCalibrationProperty& a, const SpatialCalibrationProperty& b)
    {
        return a.m_origin == b.m_origin && a.m_spacing == b.m_spacing && a.m_directions == b.m_directions
            && a.m_unit == b.m_unit;
    }

private:
    Vector3d m_origin;
    Vector3d m_spacing;
    SpatialDirections m_directions;
    std::string m_unit;
};

} // namespace dravik
