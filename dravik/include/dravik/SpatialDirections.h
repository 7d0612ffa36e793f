#pragma once

#include <dravik/Export.h>
#include <dravik/Vector.h>

namespace dravik {

/// Orientation of the three image axes in space: one unit vector per axis.
class DRAVIK_API SpatialDirections {
public:
    /// The axes of space (identity).
    SpatialDirections();
    /// From the directions of axes 0 and 1; both are normalised and the third is
    /// their cross product. Throws InvalidArgument for a zero or parallel pair.
    SpatialDirections(const Vector3d& axis0, const Vector3d& axis1);

    /// Unit vector of axis `index` (0, 1 or 2); throws InvalidArgument otherwise.
    const Vector3d& direction(size_t index) const;

    friend bool operator==(const SpatialDirections& a, const SpatialDirections& b)
    {
        return a.m_axes[0] == b.m_axes[0] && a.m_axes[1] == b.m_axes[1] && a.m_axes[2] == b.m_axes[2];
    }
    friend bool operator!=(const SpatialDirections& a, const SpatialDirections& b) { return !(a == b); }

private:
    Vector3d m_axes[3];
};

} // namespace dravik
