#include "VxtTileReader.h"

#include <dravik/Error.h>

#include <zlib.h>

namespace quenza::vxt {

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

std::vector<uint8_t> VxtTileReader::readCompressed(uint64_t fileId) const
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
    std::vector<uint8_t> compressed(entry.size);
    readExactly(entry.offset, entry.size, compressed.data());
    return compressed;
}

void VxtTileReader::inflate(const std::vector<uint8_t>& compressed, uint8_t* tile) const
{
    const uint64_t tileBytes = m_grid.tileByteSize();
    uLongf length = tileBytes;
    const int result = ::uncompress(tile, &length, compressed.data(), compressed.size());
    if (result != Z_OK) {
        throw dravik::Error(ZLIB_FAILED);
    }
    if (length != tileBytes) {
        throw dravik::Error(CORRUPTED);
    }
}

void VxtTileReader::loadTile(const Vector3u64& position, uint64_t level, uint8_t* tile) const
{
    loadTileBytes(position, level, 0, m_grid.tileByteSize(), tile);
}

void VxtTileReader::loadTileBytes(const Vector3u64& position, uint64_t level, uint64_t begin, uint64_t end,
                                  uint8_t* tile) const
{
    if (m_handle.m_compressed) {
        inflate(readCompressed(m_grid.fileID(position, level)), tile);
        return;
    }
    readExactly(m_grid.offsetTile(position, level) + begin, end - begin, tile + begin);
}

} // namespace quenza::vxt
