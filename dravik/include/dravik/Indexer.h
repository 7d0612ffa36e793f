#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/VectorX.h>

#include <cstdint>

namespace dravik {

/// Memory layout of an n-dimensional array: shape, element type and the byte
/// stride of each dimension. The default layout is dense with dimension 0 varying
/// fastest; explicit strides describe padded layouts (4 bytes per 3-byte pixel).
class DRAVIK_API Indexer {
public:
    Indexer() = default;
    /// Dense layout.
    Indexer(const VectorXu64& shape, const DataType& type);
    /// Explicit byte strides, one per dimension; throws InvalidArgument when their
    /// count differs from the shape's.
    Indexer(const VectorXu64& shape, const DataType& type, const VectorXu64& strides);

    const VectorXu64& shape() const { return m_shape; }
    const DataType& dataType() const { return m_type; }
    const VectorXu64& strides() const { return m_strides; }
    size_t dimensionCount() const { return m_shape.size(); }

    uint64_t elementCount() const;
    /// Bytes spanned by the layout: the largest stride × extent product, so that
    /// a padded last element counts whole (3 × 2 pixels at 4 bytes a pixel span 24 bytes).
    uint64_t byteCount() const;
    /// Byte offset of the element at `index`; throws InvalidArgument outside the shape.
    uint64_t offset(const VectorXu64& index) const;
    /// True when the strides are those of the dense layout.
    bool isDense() const;

    /// The dense strides of `shape` for elements of `elementBytes` bytes.
    static VectorXu64 denseStrides(const VectorXu64& shape, uint64_t elementBytes);

    friend bool operator==(const Indexer& a, const Indexer& b)
    {
        return a.m_shape == b.m_shape && a.m_type == b.m_type && a.m_strides == b.m_strides;
    }

private:
    VectorXu64 m_shape;
    DataType m_type;
    VectorXu64 m_strides;
};

} // namespace dravik
