#include "SectionDecoder.h"

#include <common/PluginLogger.h>

#include <dravik/Error.h>

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace quenza::km {

namespace {

constexpr uint64_t SKIP_PIECE = uint64_t(8) << 20;
// zlib counts its buffers in 32-bit integers.
constexpr uint64_t MAX_ZLIB_SPAN = uint64_t(1) << 30;

[[noreturn]] void inflateProblem(const char* operation, int code)
{
    if (std::strcmp(operation, "inflateInit") == 0) {
        QUENZA_LOG_DEBUG("Zlib inflateInit method returned following error code: {0}", code);
    } else {
        QUENZA_LOG_DEBUG("Zlib inflate method returned following error code: {0}", code);
    }
    throw dravik::Error("Problem occured when inflating compressed data");
}

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

} // namespace

bool inflateWholeStream(dravik::RandomAccess& file, uint64_t offset, uint64_t compressedSize, uint8_t* dst,
                        uint64_t size)
{
    const uint64_t fileSize = file.size();
    if (offset >= fileSize) {
        return false;
    }
    uint64_t available = std::min(compressedSize, fileSize - offset);
    const uint8_t* input = nullptr;
    std::unique_ptr<uint8_t[]> copy;
    if (file.support(dravik::RandomAccessCapability::MEMORY_ACCESS) && file.bufferReadOnly() != nullptr
        && file.bufferSize() >= offset + available) {
        input = static_cast<const uint8_t*>(file.bufferReadOnly()) + offset;
    } else {
        // Bounded by the bytes the file holds; left uninitialised, since every byte used is read.
        copy.reset(new uint8_t[static_cast<size_t>(available)]);
        uint64_t done = 0;
        while (done < available) {
            const uint64_t got = file.read(offset + done, available - done, copy.get() + done);
            if (got == 0) {
                break;
            }
            done += got;
        }
        available = done;
        input = copy.get();
    }
    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor) {
        return false;
    }
    return libdeflate_zlib_decompress(decompressor.get(), input, static_cast<size_t>(available), dst,
                                      static_cast<size_t>(size), nullptr)
        == LIBDEFLATE_SUCCESS;
}

SectionDecoder::~SectionDecoder() = default;

uint64_t SectionDecoder::skip(uint64_t size)
{
    std::vector<uint8_t> scratch(static_cast<size_t>(std::min(size, SKIP_PIECE)));
    uint64_t done = 0;
    while (done < size) {
        const uint64_t want = std::min<uint64_t>(size - done, scratch.size());
        const uint64_t got = produce(scratch.data(), want);
        done += got;
        if (got < want) {
            break;
        }
    }
    return done;
}

RleDecoder::RleDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t offset, uint64_t encodedSize,
                       uint64_t expandedSize)
    : m_file(std::move(file))
    , m_position(offset)
    , m_encodedLeft(encodedSize)
    , m_expandedSize(expandedSize)
    , m_input(static_cast<size_t>(std::min(encodedSize, COMPRESSION_CHUNK_SIZE)))
{
}

bool RleDecoder::fill()
{
    if (m_inputPos < m_inputEnd) {
        return true;
    }
    const uint64_t want = std::min<uint64_t>(m_encodedLeft, m_input.size());
    if (want == 0) {
        return false;
    }
    const uint64_t got = m_file->read(m_position, want, m_input.data());
    m_position += got;
    m_encodedLeft = got == 0 ? 0 : m_encodedLeft - got;
    m_inputPos = 0;
    m_inputEnd = static_cast<size_t>(got);
    return got != 0;
}

int RleDecoder::nextByte()
{
    return fill() ? m_input[m_inputPos++] : -1;
}

void RleDecoder::startPacket(uint64_t length)
{
    if (length > m_expandedSize - m_produced) {
        throw dravik::Error("Buffer overflow at RLE uncompression");
    }
}

uint64_t RleDecoder::produce(uint8_t* dst, uint64_t size)
{
    uint64_t done = 0;
    while (done < size) {
        if (m_repeatLeft > 0) {
            const uint64_t n = std::min(m_repeatLeft, size - done);
            std::memset(dst + done, m_repeatValue, static_cast<size_t>(n));
            done += n;
            m_produced += n;
            m_repeatLeft -= n;
            continue;
        }
        if (m_literalLeft > 0) {
            if (!fill()) {
                break;
            }
            const uint64_t n = std::min({m_literalLeft, size - done, uint64_t(m_inputEnd - m_inputPos)});
            std::memcpy(dst + done, m_input.data() + m_inputPos, static_cast<size_t>(n));
            m_inputPos += static_cast<size_t>(n);
            done += n;
            m_produced += n;
            m_literalLeft -= n;
            continue;
        }
        const int control = nextByte();
        if (control < 0) {
            break;
        }
        if (control > 128) {
            startPacket(uint64_t(control) - 128);
            m_literalLeft = uint64_t(control) - 128;
        } else {
            const int value = nextByte();
            if (value < 0) {
                break;
            }
            startPacket(uint64_t(control));
            m_repeatLeft = uint64_t(control);
            m_repeatValue = static_cast<uint8_t>(value);
        }
    }
    return done;
}

ZipStreamDecoder::ZipStreamDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t offset,
                                   uint64_t compressedSize)
    : m_file(std::move(file))
    , m_position(offset)
    , m_compressedLeft(compressedSize)
    , m_input(static_cast<size_t>(std::min(compressedSize, COMPRESSION_CHUNK_SIZE)))
{
    const int code = inflateInit(&m_stream);
    if (code != Z_OK) {
        inflateProblem("inflateInit", code);
    }
}

ZipStreamDecoder::~ZipStreamDecoder()
{
    inflateEnd(&m_stream);
}

uint64_t ZipStreamDecoder::produce(uint8_t* dst, uint64_t size)
{
    uint64_t done = 0;
    while (done < size && !m_finished) {
        if (m_stream.avail_in == 0 && !m_fileEnded && m_compressedLeft > 0) {
            const uint64_t want = std::min<uint64_t>(m_compressedLeft, m_input.size());
            const uint64_t got = m_file->read(m_position, want, m_input.data());
            m_position += got;
            m_compressedLeft -= got;
            m_fileEnded = got == 0;
            m_stream.next_in = m_input.data();
            m_stream.avail_in = static_cast<uInt>(got);
        }
        const uint64_t offered = std::min(size - done, MAX_ZLIB_SPAN);
        m_stream.next_out = dst + done;
        m_stream.avail_out = static_cast<uInt>(offered);
        const int code = inflate(&m_stream, Z_NO_FLUSH);
        done += offered - m_stream.avail_out;
        switch (code) {
        case Z_OK: break;
        case Z_STREAM_END: m_finished = true; break;
        case Z_BUF_ERROR:
            // No progress: the input offered is used up.
            if (m_stream.avail_in != 0) {
                inflateProblem("inflate", code);
            }
            if (m_fileEnded) {
                throw dravik::Error("Zlib inflate was not able to finalize");
            }
            if (m_compressedLeft == 0) {
                // The announced bytes end before the stream does.
                m_finished = true;
            }
            break;
        default: inflateProblem("inflate", code);
        }
    }
    return done;
}

ZipBlockDecoder::ZipBlockDecoder(std::shared_ptr<dravik::RandomAccess> file, uint64_t firstBlockOffset,
                                 std::vector<uint64_t> blockSizes)
    : m_file(std::move(file))
    , m_nextOffset(firstBlockOffset)
    , m_blockSizes(std::move(blockSizes))
{
}

uint64_t ZipBlockDecoder::produce(uint8_t* dst, uint64_t size)
{
    uint64_t done = 0;
    while (done < size) {
        if (!m_current) {
            if (m_nextBlock == m_blockSizes.size()) {
                break;
            }
            m_current = std::make_unique<ZipStreamDecoder>(m_file, m_nextOffset, m_blockSizes[m_nextBlock]);
            m_nextOffset += m_blockSizes[m_nextBlock];
            ++m_nextBlock;
        }
        const uint64_t want = size - done;
        const uint64_t got = m_current->produce(dst + done, want);
        done += got;
        if (got < want) {
            m_current.reset();
        }
    }
    return done;
}

} // namespace quenza::km
