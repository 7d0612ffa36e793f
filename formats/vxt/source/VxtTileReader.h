#pragma once

#include <VxtGrid.h>
#include <VxtHandle.h>

#include <cstdint>
#include <memory>

struct libdeflate_decompressor;

namespace quenza::vxt {

/// Loads tiles of a volume from its data file into memory, compressed or not.
/// One reader per thread: it keeps its own inflater and input buffer. The data file is
/// read by offset only, so readers on several threads may run at once.
class VxtTileReader {
public:
    static constexpr const char* CORRUPTED = "tile data corrupted, impossible to read";
    static constexpr const char* ZLIB_FAILED = "Error when uncompressing VXT tile using zlib";

    VxtTileReader(const VxtHandle& handle, const VxtGrid& grid);
    ~VxtTileReader();
    VxtTileReader(const VxtTileReader&) = delete;
    VxtTileReader& operator=(const VxtTileReader&) = delete;

    /// The full tile (tile byte size) into `tile`.
    void loadTile(const Vector3u64& position, uint64_t level, uint8_t* tile);
    /// The bytes [begin, end) of a tile of an uncompressed file, at `dst`.
    void readUncompressed(const Vector3u64& position, uint64_t level, uint64_t begin, uint64_t end,
                          uint8_t* dst) const;

private:
    struct FreeDecompressor {
        void operator()(libdeflate_decompressor* decompressor) const;
    };

    uint64_t readCompressed(uint64_t fileId);
    void inflate(uint64_t compressedSize, uint8_t* tile);
    void readExactly(uint64_t offset, uint64_t size, uint8_t* dst) const;

    const VxtHandle& m_handle;
    const VxtGrid& m_grid;
    std::unique_ptr<libdeflate_decompressor, FreeDecompressor> m_decompressor;
    std::unique_ptr<uint8_t[]> m_input;
    uint64_t m_inputCapacity = 0;
};

} // namespace quenza::vxt
