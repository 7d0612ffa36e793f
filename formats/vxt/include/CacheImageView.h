#pragma once

#include <dravik/DataType.h>
#include <dravik/ImageView.h>
#include <dravik/Region.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quenza::vxt {

/// A read-only view of an image that keeps one aligned block of it in memory, so that
/// the source is read in large blocks rather than tile by tile. Reads are serialised.
class CacheImageView : public dravik::ImageView {
public:
    CacheImageView(std::shared_ptr<dravik::ImageView> source, const dravik::VectorXu64& blockSize);
    ~CacheImageView() override;

    dravik::ImageCapabilitySet capabilities() const override;
    const dravik::VectorXu64& shape() const override { return m_source->shape(); }
    dravik::DataType dataType() const override { return m_source->dataType(); }
    std::shared_ptr<const dravik::ImageProperties> properties() const override { return m_source->properties(); }
    std::shared_ptr<const dravik::MetadataNode> metadata() const override { return m_source->metadata(); }
    /// From the block holding `region`, loaded first when needed; a region that no
    /// block holds whole is read from the source directly.
    void readRegion(const dravik::RegionXu64& region, void* dst) override;

    /// Origin of the block in memory (meaningless before the first load).
    const dravik::VectorXu64& blockOrigin() const { return m_blockOrigin; }
    /// Number of blocks loaded so far.
    uint64_t loadCount() const { return m_loads; }

private:
    std::shared_ptr<dravik::ImageView> m_source;
    dravik::VectorXu64 m_blockSize;
    std::shared_ptr<dravik::ImageView> m_blockView;
    std::vector<uint8_t> m_buffer;
    dravik::VectorXu64 m_blockOrigin;
    bool m_blockInvalid = true;
    std::recursive_mutex m_mutex;
    uint64_t m_loads = 0;
};

} // namespace quenza::vxt
