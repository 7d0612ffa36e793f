// The data sections of KmWriter: raw, HxByteRLE and HxZip, and the declaration that
// precedes each, rewritten with the encoded size once it is known.

#include <KmWriter.h>

#include <StreamImageReader.h>

#include <common/PluginLogger.h>

#include <dravik/Error.h>
#include <dravik/Region.h>

#include <fmt/format.h>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace quenza::km {

namespace {

constexpr uint64_t U64_MAX = std::numeric_limits<uint64_t>::max();

/// More than a zlib stream of `size` bytes can take, whatever the flushes.
uint64_t zlibBound(uint64_t size)
{
    return size + size / 16 + 4096;
}

struct FreeCompressor {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

/// Ends a deflate stream on every path out of a compression.
class DeflateStream {
public:
    explicit DeflateStream(int level)
    {
        const int code = deflateInit(&m_stream, level);
        if (code != Z_OK) {
            throw dravik::Error(fmt::format("Error during compression: status({})", code));
        }
    }
    ~DeflateStream()
    {
        if (!m_ended) {
            deflateEnd(&m_stream);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    z_stream& get() { return m_stream; }
    void end()
    {
        m_ended = true;
        const int code = deflateEnd(&m_stream);
        if (code != Z_OK) {
            throw dravik::Error(fmt::format("Error during compression: status({})", code));
        }
    }

private:
    z_stream m_stream{};
    bool m_ended = false;
};

} // namespace

uint64_t KmWriter::compressRLE(const uint8_t* buffer, uint64_t size, uint8_t* bufferCompressed, uint64_t capacity)
{
    uint64_t out = 0;
    uint64_t literalStart = 0;
    uint64_t literalCount = 0;
    auto closeLiteral = [&] {
        if (literalCount == 0) {
            return;
        }
        if (capacity - out < literalCount + 1) {
            throw dravik::Error("Buffer too small to store compressed data");
        }
        bufferCompressed[out++] = static_cast<uint8_t>(0x80 + literalCount);
        std::memcpy(bufferCompressed + out, buffer + literalStart, static_cast<size_t>(literalCount));
        out += literalCount;
        literalCount = 0;
    };
    uint64_t i = 0;
    while (i < size) {
        uint64_t run = 1;
        while (i + run < size && run < 127 && buffer[i + run] == buffer[i]) {
            ++run;
        }
        if (run >= 3) {
            closeLiteral();
            if (capacity - out < 2) {
                throw dravik::Error("Buffer too small to store compressed data");
            }
            bufferCompressed[out++] = static_cast<uint8_t>(run);
            bufferCompressed[out++] = buffer[i];
            i += run;
            continue;
        }
        // A pair that would overfill the literal packet leaves its second byte for the next run.
        const uint64_t take = literalCount + run > 127 ? 1 : run;
        if (literalCount == 0) {
            literalStart = i;
        }
        literalCount += take;
        i += take;
        if (literalCount == 127) {
            closeLiteral();
        }
    }
    closeLiteral();
    return out;
}

namespace {

std::string latticeText(const std::string& type, const std::string& role, KmWriter::CompressionMethod compression,
                        uint64_t sizeCompressedData)
{
    switch (compression) {
    case KmWriter::NO_COMPRESSION: return fmt::format("Lattice {{ {0} {1} }} @1\n\n", type, role);
    case KmWriter::RLE_COMPRESSION:
        return fmt::format("Lattice {{ {0} {1} }} @1({2},{3})\n\n", type, role, "HxByteRLE", sizeCompressedData);
    case KmWriter::ZLIB_COMPRESSION:
        return fmt::format("Lattice {{ {0} {1} }} @1({2},{3})\n\n", type, role, "HxZip", sizeCompressedData);
    case KmWriter::AUTO_COMPRESSION: break;
    }
    throw dravik::Error("Compression method should be defined before writing lattice section");
}

} // namespace

uint64_t KmWriter::writeLattice(CompressionMethod compression, uint64_t sizeCompressedData)
{
    const char* role = m_inputImage->imageInterpretation() == dravik::ImageInterpretation::LABEL ? "Labels" : "Data";
    const std::string text = latticeText(DataTypeToKorvel(m_inputImage->dataType()), role, compression,
                                         sizeCompressedData);
    writeBytes(text.data(), text.size());
    return text.size();
}

void KmWriter::rewriteLattice(uint64_t position, uint64_t reservedLength, CompressionMethod compression,
                              uint64_t sizeCompressedData)
{
    const char* role = m_inputImage->imageInterpretation() == dravik::ImageInterpretation::LABEL ? "Labels" : "Data";
    std::string text = latticeText(DataTypeToKorvel(m_inputImage->dataType()), role, compression, sizeCompressedData);
    if (text.size() > reservedLength) {
        throw dravik::Error(fmt::format("The encoded size {0} does not fit the room reserved for it", sizeCompressedData));
    }
    // Line feeds keep the marker and the data where they are.
    text.append(static_cast<size_t>(reservedLength - text.size()), '\n');
    const uint64_t end = m_output->tell();
    m_output->seek(static_cast<int64_t>(position), dravik::SeekOrigin::BEGIN);
    writeBytes(text.data(), text.size());
    m_output->seek(static_cast<int64_t>(end), dravik::SeekOrigin::BEGIN);
}

uint64_t KmWriter::reservedSizeFor(const dravik::VectorXu64& shape, const dravik::DataType& type,
                                   CompressionMethod compression)
{
    const uint64_t sliceBytes = shape[0] * shape[1] * type.byteCount();
    uint64_t bound = 0;
    if (compression == RLE_COMPRESSION) {
        const uint64_t perSlice = sliceBytes + sliceBytes / 127 + 2;
        bound = perSlice != 0 && shape[2] > U64_MAX / perSlice ? U64_MAX : perSlice * shape[2];
    } else {
        const uint64_t volume = sliceBytes * shape[2];
        if (volume <= MAX_BLOCK_ZIP_COMPRESSED_DATA) {
            bound = zlibBound(volume);
        } else {
            const uint64_t blocks = volume / MAX_BLOCK_ZIP_COMPRESSED_DATA + 1;
            bound = 8 + 8 * blocks + blocks * zlibBound(MAX_BLOCK_ZIP_COMPRESSED_DATA);
        }
    }
    return std::max(RESERVED_SIZE, bound);
}

void KmWriter::dataWrite()
{
    writeLattice(NO_COMPRESSION, 0);
    writeBytes("@1\n", 3);
    StreamImageReader source(m_inputImage);
    if (source.support(dravik::StreamAccessCapability::MEMORY_ACCESS)) {
        const auto* bytes = static_cast<const uint8_t*>(source.bufferReadOnly());
        const uint64_t total = m_inputImage->byteCount();
        for (uint64_t done = 0; done < total;) {
            const uint64_t n = std::min(MAX_COMPRESSED_CHUNK_SIZE, total - done);
            writeBytes(bytes + done, n);
            done += n;
        }
        return;
    }
    std::vector<uint8_t> piece(static_cast<size_t>(std::min(MAX_COMPRESSED_CHUNK_SIZE, m_inputImage->byteCount())));
    for (;;) {
        const uint64_t n = source.read(piece.size(), piece.data());
        if (n == 0) {
            break;
        }
        writeBytes(piece.data(), n);
    }
}

void KmWriter::dataRLEWrite()
{
    const uint64_t position = m_output->tell();
    const uint64_t reserved =
        writeLattice(RLE_COMPRESSION, reservedSizeFor(m_inputImage->shape(), m_inputImage->dataType(), RLE_COMPRESSION));
    writeBytes("@1\n", 3);
    const auto full = dravik::RegionXu64::fullRegion(m_inputImage->shape());
    const auto& shape = m_inputImage->shape();
    const uint64_t sliceBytes = shape[0] * shape[1] * m_inputImage->dataType().byteCount();
    std::vector<uint8_t> slice(static_cast<size_t>(sliceBytes));
    std::vector<uint8_t> encoded(static_cast<size_t>(sliceBytes + sliceBytes / 127 + 2));
    uint64_t total = 0;
    for (uint64_t z = 0; z < shape[2] && sliceBytes > 0; ++z) {
        m_inputImage->readRegion(full.extractSliceFromAxis(2, z), slice.data());
        const uint64_t n = compressRLE(slice.data(), sliceBytes, encoded.data(), encoded.size());
        writeBytes(encoded.data(), n);
        total += n;
    }
    rewriteLattice(position, reserved, RLE_COMPRESSION, total);
}

void KmWriter::dataZipWrite()
{
    const uint64_t position = m_output->tell();
    const uint64_t reserved =
        writeLattice(ZLIB_COMPRESSION, reservedSizeFor(m_inputImage->shape(), m_inputImage->dataType(), ZLIB_COMPRESSION));
    const char marker[] = "\n# Data section follows\n@1\n";
    writeBytes(marker, sizeof marker - 1);
    const uint64_t volume = m_inputImage->byteCount();
    StreamImageReader source(m_inputImage);
    uint64_t total = 0;
    if (volume > MAX_BLOCK_ZIP_COMPRESSED_DATA) {
        total = compressZipBlockByBlock(source);
    } else if (source.support(dravik::StreamAccessCapability::MEMORY_ACCESS)) {
        total = compressZipOneShot(source.bufferReadOnly(), volume);
    } else {
        total = compressZipSmallData(source, volume);
    }
    rewriteLattice(position, reserved, ZLIB_COMPRESSION, total);
}

uint64_t KmWriter::compressZipOneShot(const void* dataToCompress, uint64_t dataToCompressSize)
{
    const std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(
        libdeflate_alloc_compressor(static_cast<int>(m_compressionlevel)));
    if (!compressor) {
        throw dravik::Error(fmt::format("No zlib compressor of level {} could be made", m_compressionlevel));
    }
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), static_cast<size_t>(dataToCompressSize));
    // Left uninitialised: only the bytes the compressor writes are used.
    const std::unique_ptr<uint8_t[]> compressed(new uint8_t[bound]);
    const size_t size = libdeflate_zlib_compress(compressor.get(), dataToCompress,
                                                 static_cast<size_t>(dataToCompressSize), compressed.get(), bound);
    if (size == 0) {
        throw dravik::Error(fmt::format("{} bytes could not be compressed into the {} bytes bound to hold them",
                                        dataToCompressSize, bound));
    }
    writeBytes(compressed.get(), size);
    return size;
}

uint64_t KmWriter::compressZipSmallData(dravik::StreamAccess& dataToCompress, uint64_t dataToCompressSize)
{
    const uint64_t pieceSize = std::min(dataToCompressSize, MAX_COMPRESSED_CHUNK_SIZE);
    std::vector<uint8_t> input(static_cast<size_t>(pieceSize));
    std::vector<uint8_t> output(static_cast<size_t>(std::max<uint64_t>(pieceSize * 7 / 5, 4096)));
    DeflateStream deflater(static_cast<int>(m_compressionlevel));
    z_stream& stream = deflater.get();
    uint64_t remaining = dataToCompressSize;
    uint64_t total = 0;
    bool finished = false;
    while (!finished) {
        uint64_t n = 0;
        if (remaining > 0) {
            n = dataToCompress.read(std::min(remaining, pieceSize), input.data());
            // A source that runs dry ends the input.
            remaining = n == 0 ? 0 : remaining - n;
        }
        const int flush = remaining == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = input.data();
        stream.avail_in = static_cast<uInt>(n);
        int code = Z_OK;
        do {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            code = deflate(&stream, flush);
            // Z_BUF_ERROR only says that this call had nothing more to do.
            if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) {
                throw dravik::Error(fmt::format("Error during compression: status({})", code));
            }
            const uint64_t produced = output.size() - stream.avail_out;
            writeBytes(output.data(), produced);
            total += produced;
        } while (stream.avail_out == 0);
        finished = flush == Z_FINISH && code == Z_STREAM_END;
    }
    deflater.end();
    return total;
}

uint64_t KmWriter::compressZipBlockByBlock(dravik::StreamAccess& dataToCompress)
{
    const uint64_t start = dataToCompress.tell();
    dataToCompress.seek(0, dravik::SeekOrigin::END);
    const uint64_t size = dataToCompress.tell() - start;
    dataToCompress.seek(static_cast<int64_t>(start), dravik::SeekOrigin::BEGIN);
    const uint64_t blocks = size / MAX_BLOCK_ZIP_COMPRESSED_DATA + (size % MAX_BLOCK_ZIP_COMPRESSED_DATA ? 1 : 0);

    auto littleEndian = [](uint64_t v, uint8_t* out) {
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    uint8_t count[8];
    littleEndian(blocks, count);
    writeBytes(count, 8);
    const uint64_t tablePosition = m_output->tell();
    std::vector<uint8_t> table(static_cast<size_t>(8 * blocks), 0);
    writeBytes(table.data(), table.size());

    uint64_t total = 8 + 8 * blocks;
    for (uint64_t i = 0; i < blocks; ++i) {
        const uint64_t blockSize = std::min(MAX_BLOCK_ZIP_COMPRESSED_DATA, size - i * MAX_BLOCK_ZIP_COMPRESSED_DATA);
        const uint64_t compressed = compressZipSmallData(dataToCompress, blockSize);
        littleEndian(compressed, table.data() + 8 * i);
        QUENZA_LOG_INFO("Compression zip block {} / {} => size = {}", i, blocks, compressed);
        total += compressed;
    }
    const uint64_t end = m_output->tell();
    m_output->seek(static_cast<int64_t>(tablePosition), dravik::SeekOrigin::BEGIN);
    writeBytes(table.data(), table.size());
    m_output->seek(static_cast<int64_t>(end), dravik::SeekOrigin::BEGIN);
    return total;
}

} // namespace quenza::km
