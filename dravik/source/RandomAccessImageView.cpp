#include "RandomAccessImageView.h"

#include "OriginExtension.h"

#include <dravik/Error.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <memory>
#include <vector>

namespace dravik {

namespace {

// Contiguous runs of a box of a dense layout, in the order a packed buffer holds them.
struct Runs {
    uint64_t firstOffset = 0; // layout offset of the box origin
    uint64_t runBytes = 0;
    VectorXu64 counts;  // outer loops, innermost first
    VectorXu64 strides; // their layout strides

    Runs(const VectorXu64& strides_, uint64_t elementBytes, const VectorXu64& shape, const RegionXu64& region)
    {
        const size_t n = shape.size();
        for (size_t i = 0; i < n; ++i) {
            firstOffset += region.origin()[i] * strides_[i];
        }
        runBytes = elementBytes;
        size_t axis = 0;
        for (; axis < n; ++axis) {
            runBytes *= region.size()[axis];
            if (region.size()[axis] != shape[axis]) {
                ++axis;
                break;
            }
        }
        for (; axis < n; ++axis) {
            if (region.size()[axis] != 1) {
                counts.push_back(region.size()[axis]);
                strides.push_back(strides_[axis]);
            }
        }
    }

    /// Calls f(layoutOffset, packedOffset) for every run.
    template <typename F>
    void forEach(F f) const
    {
        VectorXu64 position(counts.size(), 0);
        uint64_t offset = firstOffset;
        uint64_t packed = 0;
        for (;;) {
            f(offset, packed);
            packed += runBytes;
            size_t axis = 0;
            for (; axis < counts.size(); ++axis) {
                offset += strides[axis];
                if (++position[axis] < counts[axis]) {
                    break;
                }
                offset -= strides[axis] * counts[axis];
                position[axis] = 0;
            }
            if (axis == counts.size()) {
                return;
            }
        }
    }
};

// Below this run size, reading the whole span of a box (or of its slabs) at once and
// copying out of it beats one read call per run, as long as the span is not mostly gaps.
constexpr uint64_t SMALL_RUN_BYTES = 4096;
constexpr uint64_t MAX_SPAN_BYTES = 64ull << 20;

} // namespace

RandomAccessImageView::RandomAccessImageView(std::shared_ptr<RandomAccess> random, const VectorXu64& shape,
                                             const DataType& type)
    : ImageViewBase(shape, type,
                    random->support(RandomAccessCapability::WRITE)
                        ? ImageCapabilitySet{ImageCapability::READ, ImageCapability::WRITE}
                        : ImageCapabilitySet{ImageCapability::READ})
    , m_random(std::move(random))
    , m_strides(Indexer::denseStrides(shape, type.byteCount()))
{
    m_properties = ImageProperties::fromDataType(type);
    // Bytes a random access exposes in memory live there; others that belong to a
    // storage are files. Anything else says nothing about where it comes from.
    ViewDataOrigin origin = ViewDataOrigin::UNKNOWN;
    if (m_random->support(RandomAccessCapability::MEMORY_ACCESS)) {
        origin = ViewDataOrigin::CPU_MEMORY;
    } else if (m_random->storage()) {
        origin = ViewDataOrigin::DRIVE;
    }
    setOrigin(std::make_shared<OriginExtension>("Random access image", origin));
}

void RandomAccessImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const uint64_t elementBytes = m_type.byteCount();
    const Runs runs(m_strides, elementBytes, m_shape, region);
    auto* out = static_cast<uint8_t*>(dst);

    if (runs.runBytes < SMALL_RUN_BYTES) {
        // The most leading axes whose box spans few enough bytes, gaps included, to be read
        // in one call: a box of short rows is then read slab by slab rather than row by row.
        uint64_t span = elementBytes;
        uint64_t useful = elementBytes;
        size_t blockAxes = 0;
        uint64_t blockSpan = 0;
        uint64_t blockUseful = 0;
        for (size_t i = 0; i < region.dimensionCount(); ++i) {
            span += (region.size()[i] - 1) * m_strides[i];
            useful *= region.size()[i];
            if (span <= 4 * useful && span <= MAX_SPAN_BYTES) {
                blockAxes = i + 1;
                blockSpan = span;
                blockUseful = useful;
            }
        }
        if (blockUseful > runs.runBytes) {
            readInBlocks(region, blockAxes, blockSpan, blockUseful, out);
            return;
        }
    }
    runs.forEach([&](uint64_t offset, uint64_t packed) {
        const uint64_t got = m_random->read(offset, runs.runBytes, out + packed);
        if (got != runs.runBytes) {
            throw Error(fmt::format("Image data is truncated: {} of {} bytes read at offset {}", got, runs.runBytes,
                                    offset));
        }
    });
}

void RandomAccessImageView::readInBlocks(const RegionXu64& region, size_t blockAxes, uint64_t blockSpan,
                                         uint64_t blockUseful, uint8_t* out)
{
    const size_t n = region.dimensionCount();
    VectorXu64 blockSize = region.size();
    for (size_t i = blockAxes; i < n; ++i) {
        blockSize[i] = 1;
    }
    const VectorXu64 zero(n, 0);
    const RegionCopier copier(Indexer(blockSize, m_type, m_strides), zero, Indexer(blockSize, m_type), zero,
                              blockSize, m_type);
    // Not initialised: every byte used is read first.
    const std::unique_ptr<uint8_t[]> block(new uint8_t[blockSpan]);
    VectorXu64 position(n, 0);
    for (uint64_t packed = 0;; packed += blockUseful) {
        uint64_t offset = 0;
        for (size_t i = 0; i < n; ++i) {
            offset += (region.origin()[i] + position[i]) * m_strides[i];
        }
        const uint64_t got = m_random->read(offset, blockSpan, block.get());
        if (got != blockSpan) {
            throw Error(
                fmt::format("Image data is truncated: {} of {} bytes read at offset {}", got, blockSpan, offset));
        }
        copier.copy(block.get(), out + packed);
        size_t axis = blockAxes;
        for (; axis < n; ++axis) {
            if (++position[axis] < region.size()[axis]) {
                break;
            }
            position[axis] = 0;
        }
        if (axis == n) {
            return;
        }
    }
}

void RandomAccessImageView::writeRegion(const RegionXu64& region, const void* src)
{
    if (!support(ImageCapability::WRITE)) {
        throw NotImplemented("This image cannot be written: its random access is read-only");
    }
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const Runs runs(m_strides, m_type.byteCount(), m_shape, region);
    const auto* in = static_cast<const uint8_t*>(src);
    runs.forEach([&](uint64_t offset, uint64_t packed) {
        const uint64_t put = m_random->write(offset, runs.runBytes, in + packed);
        if (put != runs.runBytes) {
            throw Error(fmt::format("Cannot write image data: {} of {} bytes written at offset {}", put,
                                    runs.runBytes, offset));
        }
    });
}

} // namespace dravik
