#include <CompressionScheduler.h>

#include "TileBytes.h"

#include <quenza/EncodingError.h>

#include <dravik/Providers.h>

#include <fmt/format.h>

#include <libdeflate.h>

namespace quenza::vxt {

void CompressionScheduler::FreeCompressor::operator()(libdeflate_compressor* compressor) const
{
    libdeflate_free_compressor(compressor);
}

CompressionScheduler::CompressionScheduler(uint64_t threadCount, std::shared_ptr<VxtHandle> handle,
                                           std::shared_ptr<Scheduler> next, std::shared_ptr<PipelineState> state)
    : Scheduler(threadCount, std::move(handle), std::move(next), std::move(state))
    , m_tileByteSize(m_handle->m_tileIndexer.byteCount())
    , m_compressors(threadCount)
    , m_buffers(threadCount)
    , m_outputs(threadCount)
{
    for (auto& compressor : m_compressors) {
        compressor.reset(libdeflate_alloc_compressor(static_cast<int>(m_handle->m_compressionLevel)));
        if (!compressor) {
            throw EncodingError(
                fmt::format("No zlib compressor of level {} could be made", m_handle->m_compressionLevel).c_str());
        }
    }
    taskStart();
}

CompressionScheduler::~CompressionScheduler()
{
    shutdown();
}

std::shared_ptr<BufferView> CompressionScheduler::compressTile(uint64_t threadIndex, dravik::ImageView& view)
{
    std::vector<uint8_t> scratch;
    const uint8_t* tile = fullTile(view, m_handle->m_tileIndexer, scratch, m_buffers[threadIndex]);
    libdeflate_compressor* compressor = m_compressors[threadIndex].get();
    std::vector<uint8_t>& output = m_outputs[threadIndex];
    output.resize(libdeflate_zlib_compress_bound(compressor, m_tileByteSize));
    const size_t length = libdeflate_zlib_compress(compressor, tile, m_tileByteSize, output.data(), output.size());
    if (length == 0) {
        throw EncodingError(fmt::format("Error when compressing VXT tiles using zlib: {} bytes did not fit the {} "
                                        "bytes bound to hold them",
                                        m_tileByteSize, output.size())
                                .c_str());
    }
    // Only the compressed bytes wait for the write stage.
    auto compressed = std::make_shared<BufferView>(0);
    compressed->buffer.assign(output.data(), output.data() + length);
    compressed->size = length;
    return compressed;
}

void CompressionScheduler::loop(uint64_t threadIndex)
{
    while (auto node = waitTile()) {
        auto image = dravik::ImageViewProvider::toImage(node->view);
        if (!image || !m_next) {
            throw EncodingError("Internal error - unexpected tile to write");
        }
        node->view = compressTile(threadIndex, *image);
        image.reset();
        m_next->pushTile(std::move(node));
    }
}

} // namespace quenza::vxt
