#pragma once

#include <dravik/RandomAccess.h>

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quenza::km {

/// The decoded bytes of a compressed data section, produced in order, piece by piece,
/// from positioned reads of the file: a read needs memory for its pieces only.
class SectionDecoder {
public:
    /// Input is read in pieces of this size.
    static constexpr uint64_t COMPRESSION_CHUNK_SIZE = uint64_t(1) << 20;

    virtual ~SectionDecoder();
    /// Decodes the next `size` bytes into `dst`; fewer only where the section's data ends.
    virtual uint64_t produce(uint8_t* dst, uint64_t size) = 0;
    /// Decodes and drops the next `size` bytes; returns how many there were.
    uint64_t skip(uint64_t size);

protected:
    SectionDecoder() = default;
};

/// HxByteRLE packets: a control byte above 128 is followed by (control - 128) literal
/// bytes, any other by one value byte repeated control times.
class RleDecoder final : public SectionDecoder {
public:
    /// `encodedSize` bytes from `offset` of `file`, expanding to `expandedSize` bytes.
    RleDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t offset, uint64_t encodedSize,
               uint64_t expandedSize);
    /// Throws dravik::Error "Buffer overflow at RLE uncompression" for a packet that
    /// would run past the expanded size.
    uint64_t produce(uint8_t* dst, uint64_t size) override;

private:
    bool fill();
    int nextByte();
    void startPacket(uint64_t length);

    std::shared_ptr<dravik::RandomAccess> m_file;
    uint64_t m_position;
    uint64_t m_encodedLeft;
    uint64_t m_expandedSize;
    uint64_t m_produced = 0;
    std::vector<uint8_t> m_input;
    size_t m_inputPos = 0;
    size_t m_inputEnd = 0;
    uint64_t m_repeatLeft = 0;
    uint8_t m_repeatValue = 0;
    uint64_t m_literalLeft = 0;
};

/// One zlib stream (RFC 1950) of `compressedSize` bytes.
class ZipStreamDecoder final : public SectionDecoder {
public:
    ZipStreamDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t offset, uint64_t compressedSize);
    ~ZipStreamDecoder() override;
    ZipStreamDecoder(const ZipStreamDecoder&) = delete;
    ZipStreamDecoder& operator=(const ZipStreamDecoder&) = delete;
    /// Throws dravik::Error "Problem occured when inflating compressed data" for a corrupt
    /// stream and "Zlib inflate was not able to finalize" when the file ends inside it.
    uint64_t produce(uint8_t* dst, uint64_t size) override;

private:
    std::shared_ptr<dravik::RandomAccess> m_file;
    uint64_t m_position;
    uint64_t m_compressedLeft;
    std::vector<uint8_t> m_input;
    z_stream m_stream{};
    bool m_fileEnded = false;
    bool m_finished = false;
};

/// Inflates the zlib stream found in the `compressedSize` bytes at `offset` of `file`
/// (fewer where the file ends) into exactly `size` bytes at `dst`, with one positioned read
/// and one call. Returns false, `dst` then undefined, for any stream that does not inflate
/// to exactly that: a ZipStreamDecoder over the same bytes says what it is.
bool inflateWholeStream(dravik::RandomAccess& file, uint64_t offset, uint64_t compressedSize, uint8_t* dst,
                        uint64_t size);

/// Independent zlib streams one after the other, of the given compressed sizes.
class ZipBlockDecoder final : public SectionDecoder {
public:
    ZipBlockDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t firstBlockOffset,
                    std::vector<uint64_t> blockSizes);
    uint64_t produce(uint8_t* dst, uint64_t size) override;

private:
    std::shared_ptr<dravik::RandomAccess> m_file;
    uint64_t m_nextOffset;
    std::vector<uint64_t> m_blockSizes;
    size_t m_nextBlock = 0;
    std::unique_ptr<ZipStreamDecoder> m_current;
};

} // namespace quenza::km
