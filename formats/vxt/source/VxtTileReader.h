#pragma once

#include <VxtGrid.h>
#include <VxtHandle.h>

#include <cstdint>
#include <vector>

namespace quenza::vxt {

/// Loads tiles of a volume from its data file into memory, compressed or not.
/// Thread-safe: it reads the data file by offset only.
class VxtTileReader {
public:
    static constexpr const char* CORRUPTED = "tile data corrupted, impossible to read";
    static constexpr const char* ZLIB_FAILED = "Error when uncompressing VXT tile using zlib";

    VxtTileReader(const VxtHandle& handle, const VxtGrid& grid)
        : m_handle(handle)
        , m_grid(grid)
    {
    }

    /// The full tile (tile byte size) into `tile`.
    void loadTile(const Vector3u64& position, uint64_t level, uint8_t* tile) const;
    /// At least the bytes [begin, end) of the full tile, at their place in `tile`:
    /// an uncompressed file gives only those, a compressed one the whole tile.
    void loadTileBytes(const Vector3u64& position, uint64_t level, uint64_t begin, uint64_t end, uint8_t* tile) const;

private:
    std::vector<uint8_t> readCompressed(uint64_t fileId) const;
    void inflate(const std::vector<uint8_t>& compressed, uint8_t* tile) const;
    void readExactly(uint64_t offset, uint64_t size, uint8_t* dst) const;

    const VxtHandle& m_handle;
    const VxtGrid& m_grid;
};

} // namespace quenza::vxt
