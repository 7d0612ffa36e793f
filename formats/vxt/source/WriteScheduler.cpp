#include <WriteScheduler.h>

#include "TileBytes.h"

#include <quenza/EncodingError.h>

#include <dravik/Error.h>
#include <dravik/Providers.h>

#include <fmt/format.h>

namespace quenza::vxt {

WriteScheduler::WriteScheduler(std::shared_ptr<VxtHandle> handle, std::shared_ptr<VxtGrid> grid,
                               std::shared_ptr<PipelineState> state)
    : Scheduler(1, std::move(handle), nullptr, std::move(state))
    , m_grid(std::move(grid))
    , m_offset(VxtHandle::TABLE_ENTRY_BYTES * m_handle->m_numTileInfos)
{
    taskStart();
}

WriteScheduler::~WriteScheduler()
{
    shutdown();
}

void WriteScheduler::writeAt(uint64_t offset, const void* data, uint64_t size)
{
    m_handle->m_dataStream->seek(static_cast<int64_t>(offset), dravik::SeekOrigin::BEGIN);
    const uint64_t written = m_handle->m_dataStream->write(size, data);
    if (written != size) {
        throw dravik::Error(fmt::format("VXT data file: only {} of the {} bytes of a tile could be written at {}",
                                        written, size, offset));
    }
}

void WriteScheduler::writeTile(const std::shared_ptr<dravik::View>& view, const Vector3u64& position, uint64_t level)
{
    auto image = dravik::ImageViewProvider::toImage(view);
    if (!image) {
        throw EncodingError("Internal error - unexpected tile to write");
    }
    std::vector<uint8_t> scratch;
    const uint8_t* tile = fullTile(*image, m_handle->m_tileIndexer, scratch, m_tileBuffer);
    writeAt(m_grid->offsetTile(position, level), tile, m_grid->tileByteSize());
}

void WriteScheduler::writeCompressedTile(const std::shared_ptr<dravik::View>& view, const Vector3u64& position,
                                         uint64_t level)
{
    auto compressed = std::dynamic_pointer_cast<BufferView>(view);
    if (!compressed) {
        throw EncodingError("Internal error - unexpected tile to write");
    }
    const uint64_t fileId = m_grid->fileID(position, level);
    m_handle->m_tileInfos.at(fileId) = VxtHandle::DataCompressInfo{m_offset, compressed->size, 0};
    writeAt(m_offset, compressed->buffer.data(), compressed->size);
    m_offset += compressed->size;
}

void WriteScheduler::loop(uint64_t /*threadIndex*/)
{
    while (auto node = waitTile()) {
        if (m_handle->m_compressed) {
            writeCompressedTile(node->view, node->position, node->level);
        } else {
            writeTile(node->view, node->position, node->level);
        }
        node.reset();
        state()->release();
    }
}

} // namespace quenza::vxt
