#pragma once

#include <dravik/DataAccess.h>
#include <dravik/DataType.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/StreamAccess.h>
#include <dravik/VectorX.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quenza::km {

/// Writes one 3-D image (or the stack of a multi-image view) as a KorvelMesh file with
/// one data section, raw, HxByteRLE or HxZip: writeInit writes the header up to the
/// section declaration, writeData the declaration and the section, writeFinish flushes.
class KmWriter : public dravik::Writer {
public:
    enum WrittenState { HEADER = 0, DATA = 1, FOOTER = 2, DONE = 3 };
    enum CompressionMethod { NO_COMPRESSION = 0, RLE_COMPRESSION = 1, ZLIB_COMPRESSION = 2, AUTO_COMPRESSION = 3 };

    static constexpr const char* FORMAT = "KM";
    static constexpr const char* HEADER_FILE = "# KorvelMesh BINARY-LITTLE-ENDIAN 0.0\n";
    /// The largest number of bytes compressed into one zlib stream.
    static constexpr uint64_t MAX_BLOCK_ZIP_COMPRESSED_DATA = 3865470565ull;
    /// Pieces read from the image while compressing.
    static constexpr uint64_t MAX_COMPRESSED_CHUNK_SIZE = uint64_t(10) << 20;
    /// The size written in a declaration before the real one is known.
    static constexpr uint64_t RESERVED_SIZE = 4294967295ull;

    /// Throws dravik::InvalidArgument for a format other than "KM", dravik::Error "output
    /// storage does not have writing capabilities" when `accessor` is not a writable
    /// stream, dravik::InvalidArgument for an image that is not 3-D or a view that is no
    /// image, and dravik::Error "Unsupported data type".
    KmWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> accessor,
             const std::string& format);
    /// Writes to the file at `path`, created or emptied only once the view is accepted.
    KmWriter(std::shared_ptr<dravik::View> view, const std::string& path);
    ~KmWriter() override;

    void writeAll() override;
    void writeInit() override;
    void writeData() override;
    void writeFinish() override;
    std::string name() const override;
    std::string version() const override;
    /// "compressor" (text RAW, RLE, ZIP or AUTO) and "zipLevel" (1 to 9), in any state.
    void setOption(const std::string& parameter, std::shared_ptr<dravik::VariantDataValue> data) override;

    WrittenState state() const { return m_currentState; }
    CompressionMethod compression() const { return m_compression; }

    /// The declaration's name of an element type: "float", "byte[3]", "complex".
    /// Throws dravik::Error "Unsupported data type", also for more than 9 components.
    static std::string DataTypeToKorvel(const dravik::DataType& type);
    /// HxByteRLE packets of `size` bytes at `buffer` into `bufferCompressed` of
    /// `capacity` bytes; returns the encoded count. Throws dravik::Error "Buffer too
    /// small to store compressed data".
    static uint64_t compressRLE(const uint8_t* buffer, uint64_t size, uint8_t* bufferCompressed, uint64_t capacity);
    /// A real number as %g with 6 digits when that reads back to the same double,
    /// otherwise the shortest text that does.
    static std::string formatReal(double value);
    /// The text between the quotes of a string entry.
    static std::string escapeText(const std::string& text);
    /// The size written in a compressed section's declaration before the real one is
    /// known: RESERVED_SIZE, or the bound of the encoded size when that is larger, so
    /// that the final declaration always fits the room reserved.
    static uint64_t reservedSizeFor(const dravik::VectorXu64& shape, const dravik::DataType& type,
                                    CompressionMethod compression);

private:
    static std::shared_ptr<dravik::ImageView> acceptedImage(std::shared_ptr<dravik::View> view);
    void init();
    void writeBytes(const void* data, uint64_t size);
    void writeCalibration();
    void cleanOriginalMetadata();
    void writeMetadata(const dravik::MetadataNode& node, std::string& metadataStream, size_t level) const;
    CompressionMethod resolvedCompression() const;
    uint64_t writeLattice(CompressionMethod compression, uint64_t sizeCompressedData);
    void rewriteLattice(uint64_t position, uint64_t reservedLength, CompressionMethod compression,
                        uint64_t sizeCompressedData);
    void dataWrite();
    void dataRLEWrite();
    void dataZipWrite();
    uint64_t compressZipOneShot(const void* dataToCompress, uint64_t dataToCompressSize);
    uint64_t compressZipSmallData(dravik::StreamAccess& dataToCompress, uint64_t dataToCompressSize);
    uint64_t compressZipBlockByBlock(dravik::StreamAccess& dataToCompress);

    WrittenState m_currentState = HEADER;
    std::shared_ptr<dravik::ImageView> m_inputImage;
    std::shared_ptr<dravik::MetadataNode> m_metadata;
    std::shared_ptr<dravik::StreamAccess> m_output;
    CompressionMethod m_compression = AUTO_COMPRESSION;
    int64_t m_compressionlevel = 1;
};

} // namespace quenza::km
