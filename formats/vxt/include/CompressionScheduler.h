#pragma once

#include <Scheduler.h>

#include <dravik/ImageView.h>

#include <cstdint>
#include <memory>
#include <vector>

struct libdeflate_compressor;

namespace quenza::vxt {

/// The compression stage: each worker deflates whole tiles and hands them, holding
/// only their compressed bytes, to the next stage.
class CompressionScheduler final : public Scheduler {
public:
    CompressionScheduler(uint64_t threadCount, std::shared_ptr<VxtHandle> handle, std::shared_ptr<Scheduler> next,
                         std::shared_ptr<PipelineState> state);
    ~CompressionScheduler() override;

    /// The zlib stream of the full tile holding `view` (its clipped region), made with
    /// worker `threadIndex`'s compressor and buffers. Throws quenza::EncodingError when
    /// the tile cannot be compressed.
    std::shared_ptr<BufferView> compressTile(uint64_t threadIndex, dravik::ImageView& view);

protected:
    void loop(uint64_t threadIndex) override;

private:
    struct FreeCompressor {
        void operator()(libdeflate_compressor* compressor) const;
    };

    uint64_t m_tileByteSize;
    // Per worker, each touched by its own worker only.
    std::vector<std::unique_ptr<libdeflate_compressor, FreeCompressor>> m_compressors;
    std::vector<std::vector<uint8_t>> m_buffers;
    std::vector<std::vector<uint8_t>> m_outputs;
};

} // namespace quenza::vxt
