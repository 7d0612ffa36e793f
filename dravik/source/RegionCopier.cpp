#include <dravik/Error.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <cstring>

namespace dravik {

namespace {

void checkBox(const char* which, const Indexer& layout, const VectorXu64& origin, const VectorXu64& size)
{
    if (origin.size() != layout.dimensionCount() || size.size() != layout.dimensionCount()) {
        throw InvalidArgument(fmt::format("Region copy: the {} box has {} dimensions, its layout {}", which,
                                          size.size(), layout.dimensionCount()));
    }
    if (!RegionXu64(origin, size).isInside(layout.shape())) {
        throw InvalidArgument(fmt::format("Region copy: the {} box origin ({}) size ({}) leaves its shape ({})",
                                          which, origin.toString(), size.toString(), layout.shape().toString()));
    }
}

// Strided element copies of a fixed size, so that the compiler emits a load and a
// store instead of a call per element.
template <size_t N>
void copyElements(const uint8_t* src, uint64_t srcStride, uint8_t* dst, uint64_t dstStride, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i) {
        std::memcpy(dst, src, N);
        src += srcStride;
        dst += dstStride;
    }
}

// Elements of N bytes packed into the destination, read from source slots of at least
// W bytes (a power of two): moving W bytes at a time is one load and one store, and the
// W - N extra bytes written are overwritten by the next element. The last element of
// the row moves exactly N bytes, so nothing past the row is touched.
template <size_t N, size_t W>
void copyPackedElements(const uint8_t* src, uint64_t srcStride, uint8_t* dst, uint64_t count)
{
    for (uint64_t i = 1; i < count; ++i) {
        std::memcpy(dst, src, W);
        src += srcStride;
        dst += N;
    }
    std::memcpy(dst, src, N);
}

void copyElements(const uint8_t* src, uint64_t srcStride, uint8_t* dst, uint64_t dstStride, uint64_t count,
                  uint64_t bytes)
{
    if (count > 0 && dstStride == bytes) {
        switch (bytes) {
        case 3:
            if (srcStride >= 4) {
                return copyPackedElements<3, 4>(src, srcStride, dst, count);
            }
            break;
        case 6:
            if (srcStride >= 8) {
                return copyPackedElements<6, 8>(src, srcStride, dst, count);
            }
            break;
        case 12:
            if (srcStride >= 16) {
                return copyPackedElements<12, 16>(src, srcStride, dst, count);
            }
            break;
        default: break;
        }
    }
    switch (bytes) {
    case 1: copyElements<1>(src, srcStride, dst, dstStride, count); return;
    case 2: copyElements<2>(src, srcStride, dst, dstStride, count); return;
    case 3: copyElements<3>(src, srcStride, dst, dstStride, count); return;
    case 4: copyElements<4>(src, srcStride, dst, dstStride, count); return;
    case 6: copyElements<6>(src, srcStride, dst, dstStride, count); return;
    case 8: copyElements<8>(src, srcStride, dst, dstStride, count); return;
    case 12: copyElements<12>(src, srcStride, dst, dstStride, count); return;
    case 16: copyElements<16>(src, srcStride, dst, dstStride, count); return;
    default:
        for (uint64_t i = 0; i < count; ++i) {
            std::memcpy(dst, src, bytes);
            src += srcStride;
            dst += dstStride;
        }
    }
}

} // namespace

RegionCopier::RegionCopier(const Indexer& source, const RegionXu64& region, const DataType& type)
{
    Indexer dense(region.size(), type);
    plan(source, region.origin(), dense, VectorXu64(region.dimensionCount(), 0), region.size(), type);
}

RegionCopier::RegionCopier(const Indexer& source, const VectorXu64& sourceOrigin, const Indexer& destination,
                           const VectorXu64& destinationOrigin, const VectorXu64& size, const DataType& type)
{
    plan(source, sourceOrigin, destination, destinationOrigin, size, type);
}

void RegionCopier::plan(const Indexer& source, const VectorXu64& sourceOrigin, const Indexer& destination,
                        const VectorXu64& destinationOrigin, const VectorXu64& size, const DataType& type)
{
    checkBox("source", source, sourceOrigin, size);
    checkBox("destination", destination, destinationOrigin, size);
    const uint64_t elementBytes = type.byteCount();
    if (elementBytes == 0) {
        throw InvalidArgument("Region copy of elements of an unknown type");
    }
    if (elementBytes > source.dataType().byteCount() || elementBytes > destination.dataType().byteCount()) {
        throw InvalidArgument(fmt::format("Region copy of {} elements between layouts of {} and {}",
                                          type.toString(), source.dataType().toString(),
                                          destination.dataType().toString()));
    }

    m_empty = RegionXu64(sourceOrigin, size).isEmpty();
    m_srcBase = 0;
    m_dstBase = 0;
    for (size_t i = 0; i < size.size(); ++i) {
        m_srcBase += sourceOrigin[i] * source.strides()[i];
        m_dstBase += destinationOrigin[i] * destination.strides()[i];
    }
    m_counts.clear();
    m_srcStrides.clear();
    m_dstStrides.clear();
    m_runBytes = elementBytes;
    if (m_empty) {
        return;
    }

    // Axes of size 1 only move the base offsets.
    VectorXu64 counts;
    VectorXu64 srcStrides;
    VectorXu64 dstStrides;
    for (size_t i = 0; i < size.size(); ++i) {
        if (size[i] != 1) {
            counts.push_back(size[i]);
            srcStrides.push_back(source.strides()[i]);
            dstStrides.push_back(destination.strides()[i]);
        }
    }

    // Leading axes that are contiguous in both layouts become one memcpy run.
    size_t first = 0;
    while (first < counts.size() && srcStrides[first] == m_runBytes && dstStrides[first] == m_runBytes) {
        m_runBytes *= counts[first];
        ++first;
    }
    // Remaining axes that follow each other in both layouts merge into one loop.
    for (size_t i = first; i < counts.size(); ++i) {
        size_t last = m_counts.size();
        if (last > 0 && srcStrides[i] == m_srcStrides[last - 1] * m_counts[last - 1]
            && dstStrides[i] == m_dstStrides[last - 1] * m_counts[last - 1]) {
            m_counts[last - 1] *= counts[i];
            continue;
        }
        m_counts.push_back(counts[i]);
        m_srcStrides.push_back(srcStrides[i]);
        m_dstStrides.push_back(dstStrides[i]);
    }
}

uint64_t RegionCopier::byteCount() const
{
    if (m_empty) {
        return 0;
    }
    uint64_t bytes = m_runBytes;
    for (uint64_t c : m_counts) {
        bytes *= c;
    }
    return bytes;
}

void RegionCopier::copy(const void* src, void* dst) const
{
    if (m_empty) {
        return;
    }
    const auto* s = static_cast<const uint8_t*>(src) + m_srcBase;
    auto* d = static_cast<uint8_t*>(dst) + m_dstBase;
    const size_t loops = m_counts.size();
    if (loops == 0) {
        std::memcpy(d, s, m_runBytes);
        return;
    }

    // The innermost loop runs in one go; an odometer walks the outer ones.
    const uint64_t innerCount = m_counts[0];
    const uint64_t innerSrc = m_srcStrides[0];
    const uint64_t innerDst = m_dstStrides[0];
    const bool elementWise = m_runBytes <= 16;
    VectorXu64 position(loops, 0);
    for (;;) {
        if (elementWise) {
            copyElements(s, innerSrc, d, innerDst, innerCount, m_runBytes);
        } else {
            const uint8_t* rs = s;
            uint8_t* rd = d;
            for (uint64_t i = 0; i < innerCount; ++i) {
                std::memcpy(rd, rs, m_runBytes);
                rs += innerSrc;
                rd += innerDst;
            }
        }
        size_t axis = 1;
        for (; axis < loops; ++axis) {
            s += m_srcStrides[axis];
            d += m_dstStrides[axis];
            if (++position[axis] < m_counts[axis]) {
                break;
            }
            s -= m_srcStrides[axis] * m_counts[axis];
            d -= m_dstStrides[axis] * m_counts[axis];
            position[axis] = 0;
        }
        if (axis == loops) {
            return;
        }
    }
}

void RegionCopier::copyRegion(const VectorXu64& shape, const DataType& type, const RegionXu64& region,
                              const void* src, void* dst)
{
    RegionCopier(Indexer(shape, type), region, type).copy(src, dst);
}

} // namespace dravik
