#include "VxtTileReader.h"

#include <dravik/Error.h>

#include <libdeflate.h>

#include <new>

namespace quenza::vxt {

void VxtTileReader::FreeDecompressor::operator()(libdeflate_decompressor* decompressor) const
{
    libdeflate_free_decompressor(decompressor);
}

VxtTileReader::VxtTileReader(const VxtHandle& handle, const VxtGrid& grid)
    : m_handle(handle)
    , m_grid(grid)
{
}

VxtTileReader::~VxtTileReader() = default;

void VxtTileReader::readExactly(uint64_t offset, uint64_t size, uint8_t* dst) const
{
    uint64_t done = 0;
    while (done < size) {
        const uint64_t got = m_handle.m_dataAccess->read(offset + done, size - done, dst + done);
        if (got == 0) {
            throw dravik::Error(CORRUPTED);
        }
        done += got;
    }
}

uint64_t VxtTileReader::readCompressed(uint64_t fileId)
{
    if (fileId >= m_handle.m_tileInfos.size()) {
        throw dravik::Error(CORRUPTED);
    }
    const VxtHandle::DataCompressInfo& entry = m_handle.m_tileInfos[fileId];
    const uint64_t fileSize = m_handle.m_dataAccess->size();
    // The entry is checked against the file before anything is allocated for it.
    if (entry.offset > fileSize || entry.size > fileSize - entry.offset) {
        throw dravik::Error(CORRUPTED);
    }
    if (entry.size > m_inputCapacity) {
        // Not initialised: every byte used is read from the file first.
        m_input.reset(new uint8_t[entry.size]);
        m_inputCapacity = entry.size;
    }
    readExactly(entry.offset, entry.size, m_input.get());
    return entry.size;
}

void VxtTileReader::inflate(uint64_t compressedSize, uint8_t* tile)
{
    if (!m_decompressor) {
        m_decompressor.reset(libdeflate_alloc_decompressor());
        if (!m_decompressor) {
            throw std::bad_alloc();
        }
    }
    const uint64_t tileBytes = m_grid.tileByteSize();
    size_t length = 0;
    // What one-call zlib uncompress reports: a stream that is corrupt, cut short or longer
    // than a tile fails, a complete one shorter than a tile is a corrupted tile.
    if (libdeflate_zlib_decompress(m_decompressor.get(), m_input.get(), compressedSize, tile, tileBytes, &length)
        != LIBDEFLATE_SUCCESS) {
        throw dravik::Error(ZLIB_FAILED);
    }
    if (length != tileBytes) {
        throw dravik::Error(CORRUPTED);
    }
}

void VxtTileReader::loadTile(const Vector3u64& position, uint64_t level, uint8_t* tile)
{
    if (m_handle.m_compressed) {
        inflate(readCompressed(m_grid.fileID(position, level)), tile);
        return;
    }
    readUncompressed(position, level, 0, m_grid.tileByteSize(), tile);
}

void VxtTileReader::readUncompressed(const Vector3u64& position, uint64_t level, uint64_t begin, uint64_t end,
                                     uint8_t* dst) const
{
    readExactly(m_grid.offsetTile(position, level) + begin, end - begin, dst);
}

} // namespace quenza::vxt
