#pragma once

#include <dravik/DataType.h>
#include <dravik/Export.h>
#include <dravik/Indexer.h>
#include <dravik/Region.h>

#include <cstdint>

namespace dravik {

/// Copies a box of elements between two buffers laid out by two indexers.
///
/// The plan is made once at construction: dimensions of size 1 are dropped and
/// dimensions that are contiguous in both layouts are merged, so that the copy
/// moves whole runs with memcpy; only truly strided elements are copied one by one.
/// `type` gives the bytes moved per element; it may be smaller than the element of
/// either layout (the first 3 bytes of each 4-byte pixel), never larger.
class DRAVIK_API RegionCopier {
public:
    /// Copies `region` of a buffer laid out by `source` into a dense buffer of `region.size()`.
    RegionCopier(const Indexer& source, const RegionXu64& region, const DataType& type);
    /// Copies `size` elements from `sourceOrigin` of the source layout to
    /// `destinationOrigin` of the destination layout. Throws InvalidArgument when a
    /// box leaves its layout, dimensions differ, or `type` is larger than an element.
    RegionCopier(const Indexer& source, const VectorXu64& sourceOrigin, const Indexer& destination,
                 const VectorXu64& destinationOrigin, const VectorXu64& size, const DataType& type);

    /// Runs the copy; `src` and `dst` are the first bytes of the two layouts.
    void copy(const void* src, void* dst) const;

    /// Bytes moved by each memcpy of the plan (the element size when nothing merges).
    uint64_t runByteCount() const { return m_runBytes; }
    /// Total bytes moved by one copy.
    uint64_t byteCount() const;

    /// Convenience: a dense-to-dense copy of `region` of an array of `shape` into a packed buffer.
    static void copyRegion(const VectorXu64& shape, const DataType& type, const RegionXu64& region, const void* src,
                           void* dst);

private:
    void plan(const Indexer& source, const VectorXu64& sourceOrigin, const Indexer& destination,
              const VectorXu64& destinationOrigin, const VectorXu64& size, const DataType& type);

    uint64_t m_srcBase = 0;
    uint64_t m_dstBase = 0;
    uint64_t m_runBytes = 0;
    bool m_empty = true;
    // Outer loops after merging, innermost first.
    VectorXu64 m_counts;
    VectorXu64 m_srcStrides;
    VectorXu64 m_dstStrides;
};

} // namespace dravik
