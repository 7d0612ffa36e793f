#pragma once

#include "ImageViewBase.h"

#include <cstdlib>
#include <memory>

namespace dravik {

/// An image whose elements lie densely in memory, either owned (allocate) or the
/// caller's (fromBuffer).
class MemoryImageView : public ImageViewBase {
public:
    /// Owned, zero-filled.
    MemoryImageView(const VectorXu64& shape, const DataType& type);
    /// Over the caller's `size` bytes at `buffer`.
    MemoryImageView(const VectorXu64& shape, const DataType& type, void* buffer, uint64_t size);

    void readRegion(const RegionXu64& region, void* dst) override;
    void setProperties(std::shared_ptr<const ImageProperties> properties) override;
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override;
    void writeRegion(const RegionXu64& region, const void* src) override;
    void reshape(const VectorXu64& shape, DataType dataType) override;
    Indexer indexer() const override { return Indexer(m_shape, m_type); }
    void* buffer() override { return m_data; }
    const void* bufferReadOnly() const override { return m_data; }
    uint64_t bufferSize() const override { return m_size; }

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    void allocateOwned(uint64_t bytes);

    std::unique_ptr<void, FreeDeleter> m_owned;
    void* m_data = nullptr;
    uint64_t m_size = 0;
};

} // namespace dravik
