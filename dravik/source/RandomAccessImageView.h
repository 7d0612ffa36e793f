#pragma once

#include "ImageViewBase.h"

#include <dravik/RandomAccess.h>

#include <memory>

namespace dravik {

/// An image stored densely from offset 0 of a random access, read and written on demand.
class RandomAccessImageView : public ImageViewBase {
public:
    RandomAccessImageView(std::shared_ptr<RandomAccess> random, const VectorXu64& shape, const DataType& type);

    void readRegion(const RegionXu64& region, void* dst) override;
    void writeRegion(const RegionXu64& region, const void* src) override;

private:
    /// Reads `region` a block of its first `blockAxes` axes at a time: `blockSpan` bytes
    /// of the access for `blockUseful` bytes of the destination.
    void readInBlocks(const RegionXu64& region, size_t blockAxes, uint64_t blockSpan, uint64_t blockUseful,
                      uint8_t* out);

    std::shared_ptr<RandomAccess> m_random;
    VectorXu64 m_strides;
};

} // namespace dravik
