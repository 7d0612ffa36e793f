#pragma once

#include <dravik/Vector.h>
#include <dravik/VectorX.h>

#include <algorithm>
#include <string>

namespace dravik {

/// A box of an n-dimensional lattice: an origin and a size per dimension.
/// `V` is a `VectorX<T>` (dimension known at run time) or a `Vector<T,N>`.
template <typename V>
class BasicRegion {
public:
    using VectorType = V;
    using value_type = typename V::value_type;

    BasicRegion() = default;
    BasicRegion(const V& origin, const V& size)
        : m_origin(origin)
        , m_size(size)
    {
        if (m_origin.size() != m_size.size()) {
            throw InvalidArgument("Region origin and size differ in dimension: " + std::to_string(m_origin.size())
                                  + " and " + std::to_string(m_size.size()));
        }
    }
    /// Converts between fixed and run-time regions of the same dimension.
    template <typename W>
    explicit BasicRegion(const BasicRegion<W>& other)
        : BasicRegion(V(other.origin()), V(other.size()))
    {
    }

    /// The region covering a whole shape: origin 0, size `shape`.
    static BasicRegion fullRegion(const V& shape)
    {
        V origin = shape;
        origin.fill(value_type(0));
        return BasicRegion(origin, shape);
    }

    const V& origin() const { return m_origin; }
    const V& size() const { return m_size; }
    void setOrigin(const V& origin) { *this = BasicRegion(origin, m_size); }
    void setSize(const V& size) { *this = BasicRegion(m_origin, size); }
    size_t dimensionCount() const { return m_size.size(); }

    /// The exclusive upper corner: origin + size.
    V end() const { return m_origin + m_size; }
    /// The inclusive upper corner, origin + size - 1; meaningful for non-empty regions only.
    V max() const { return m_origin + m_size - value_type(1); }

    /// True when there is no element: no dimension, or a dimension of size 0.
    bool isEmpty() const
    {
        return m_size.size() == 0 || std::any_of(m_size.begin(), m_size.end(), [](value_type s) { return s == 0; });
    }
    /// Number of elements (0 for an empty region).
    value_type elementCount() const { return isEmpty() ? value_type(0) : m_size.prod(); }

    /// True when `point` (same dimension) lies inside.
    bool contains(const V& point) const
    {
        if (point.size() != dimensionCount()) {
            return false;
        }
        for (size_t i = 0; i < point.size(); ++i) {
            if (point[i] < m_origin[i] || point[i] - m_origin[i] >= m_size[i]) {
                return false;
            }
        }
        return true;
    }
    /// True when `other` (same dimension) lies inside. Overflowing corners are never inside.
    bool contains(const BasicRegion& other) const
    {
        if (other.dimensionCount() != dimensionCount()) {
            return false;
        }
        for (size_t i = 0; i < dimensionCount(); ++i) {
            if (other.m_origin[i] < m_origin[i]) {
                return false;
            }
            value_type offset = other.m_origin[i] - m_origin[i];
            if (offset > m_size[i] || other.m_size[i] > m_size[i] - offset) {
                return false;
            }
        }
        return true;
    }
    /// True when this region lies inside the full region of `shape`.
    bool isInside(const V& shape) const { return fullRegion(shape).contains(*this); }

    /// The common part of two regions; its size is 0 along the axes where they do not meet.
    BasicRegion intersect(const BasicRegion& other) const
    {
        if (other.dimensionCount() != dimensionCount()) {
            throw InvalidArgument("Cannot intersect regions of dimension " + std::to_string(dimensionCount())
                                  + " and " + std::to_string(other.dimensionCount()));
        }
        V origin = m_origin;
        V size = m_size;
        for (size_t i = 0; i < dimensionCount(); ++i) {
            value_type lo = std::max(m_origin[i], other.m_origin[i]);
            value_type hi = std::min(m_origin[i] + m_size[i], other.m_origin[i] + other.m_size[i]);
            origin[i] = lo;
            size[i] = hi > lo ? hi - lo : value_type(0);
        }
        return BasicRegion(origin, size);
    }
    bool intersects(const BasicRegion& other) const { return !intersect(other).isEmpty(); }

    /// The slice at `index` (counted from this region's origin) along `axis`: same
    /// dimension, size 1 along `axis`. Throws InvalidArgument outside the region.
    BasicRegion extractSliceFromAxis(size_t axis, value_type index) const
    {
        if (axis >= dimensionCount()) {
            throw InvalidArgument("Axis " + std::to_string(axis) + " out of range for a region of dimension "
                                  + std::to_string(dimensionCount()));
        }
        if (!(index < m_size[axis])) {
            throw InvalidArgument("Slice index " + std::to_string(index) + " out of range along axis "
                                  + std::to_string(axis) + " of size " + std::to_string(m_size[axis]));
        }
        BasicRegion slice = *this;
        slice.m_origin[axis] = m_origin[axis] + index;
        slice.m_size[axis] = value_type(1);
        return slice;
    }

    /// The region moved by `offset`.
    BasicRegion translated(const V& offset) const { return BasicRegion(m_origin + offset, m_size); }

    /// "origin (1, 2) size (3, 4)".
    std::string toString() const { return "origin (" + m_origin.toString() + ") size (" + m_size.toString() + ")"; }

    friend bool operator==(const BasicRegion& a, const BasicRegion& b)
    {
        return a.m_origin == b.m_origin && a.m_size == b.m_size;
    }
    friend bool operator!=(const BasicRegion& a, const BasicRegion& b) { return !(a == b); }

private:
    V m_origin;
    V m_size;
};

template <typename T, size_t N>
using Region = BasicRegion<Vector<T, N>>;
template <typename T>
using RegionX = BasicRegion<VectorX<T>>;

using RegionXu64 = RegionX<uint64_t>;
using RegionXi64 = RegionX<int64_t>;
using Region3u64 = Region<uint64_t, 3>;

} // namespace dravik
