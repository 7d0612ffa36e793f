#pragma once

#include <Scheduler.h>
#include <VxtGrid.h>

#include <dravik/View.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quenza::vxt {

/// The write stage: one worker puts tiles into the data file, at their slot when
/// uncompressed, appended after the tile table when compressed. Each tile written
/// frees its pipeline slot.
class WriteScheduler final : public Scheduler {
public:
    WriteScheduler(std::shared_ptr<VxtHandle> handle, std::shared_ptr<VxtGrid> grid,
                   std::shared_ptr<PipelineState> state);
    ~WriteScheduler() override;

    /// Writes an uncompressed tile from the image view of its clipped region.
    void writeTile(const std::shared_ptr<dravik::View>& view, const Vector3u64& position, uint64_t level);
    /// Appends a compressed tile (a BufferView) and records it in the tile table.
    void writeCompressedTile(const std::shared_ptr<dravik::View>& view, const Vector3u64& position, uint64_t level);

    /// Where the next compressed tile goes.
    uint64_t offset() const { return m_offset; }

protected:
    void loop(uint64_t threadIndex) override;

private:
    void writeAt(uint64_t offset, const void* data, uint64_t size);

    std::shared_ptr<VxtGrid> m_grid;
    uint64_t m_offset;
    std::vector<uint8_t> m_tileBuffer;
};

} // namespace quenza::vxt
