#include <CompressionScheduler.h>

#include "TileBytes.h"

#include <quenza/EncodingError.h>

#include <dravik/Providers.h>

#include <fmt/format.h>

#include <zlib.h>

namespace quenza::vxt {

CompressionScheduler::CompressionScheduler(uint64_t threadCount, std::shared_ptr<VxtHandle> handle,
                                           std::shared_ptr<Scheduler> next, std::shared_ptr<PipelineState> state)
    : Scheduler(threadCount, std::move(handle), std::move(next), std::move(state))
    , m_tileByteSize(m_handle->m_tileIndexer.byteCount())
    , m_compressBound(::compressBound(m_tileByteSize))
    , m_buffers(threadCount)
    , m_outputs(threadCount)
{
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
    std::vector<uint8_t>& output = m_outputs[threadIndex];
    output.resize(m_compressBound);
    uLongf length = m_compressBound;
    const int result = ::compress2(output.data(), &length, tile, m_tileByteSize,
                                   static_cast<int>(m_handle->m_compressionLevel));
    if (result != Z_OK) {
        throw EncodingError(fmt::format("Error when compressing VXT tiles using zlib (error {})", result).c_str());
    }
    // Only the compressed bytes wait for the write stage.
    auto compressed = std::make_shared<BufferView>(length);
    std::copy(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(length), compressed->buffer.begin());
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
