#pragma once

#include <KmParser.h>

#include <common/AbstractExtractor.h>

#include <dravik/DataAccess.h>
#include <dravik/ImageView.h>
#include <dravik/RandomAccess.h>
#include <dravik/Region.h>
#include <dravik/StreamAccess.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::km {

class SectionDecoder;

/// The first usable data section of a KorvelMesh file as a read-only 3-D image. The
/// constructor reads the header only; raw sections are read region by region from the
/// file, compressed ones are decoded on each read up to the last byte the region needs.
/// Reads use positioned reads of the file and do not move the stream.
class KmExtractor : public common::AbstractExtractor {
public:
    static constexpr const char* FORMAT = "KM";
    /// Input pieces read while decoding.
    static constexpr uint64_t COMPRESSION_CHUNK_SIZE = uint64_t(1) << 20;
    /// The largest uncompressed section stored as one zlib stream.
    static constexpr uint64_t MAX_BLOCK_ZIP_COMPRESSED_DATA = 3865470565ull;
    /// Bytes read at a time by the section search.
    static constexpr uint64_t CHUNK_SIZE = 1024;

    explicit KmExtractor(const std::string& path);
    /// Throws dravik::InvalidArgument "Format {format} not supported by the plugin
    /// KorvelMeshPlugin" for a format other than "KM", before reading anything.
    KmExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format);
    ~KmExtractor() override;

    void read(const dravik::VectorXu64& index, void* dst) override;
    /// Throws dravik::InvalidArgument "Required region out of image bounds".
    void readRegion(const dravik::RegionXu64& region, void* dst) override;

    KmParser::DataEncoding dataEncoding() const { return m_dataEncoding; }
    const KmParser::DataCompression& compression() const { return m_modeCompression; }
    KmParser::DataDescription dataDescription() const { return m_dataDescription; }
    /// Offset in the file of the section's first data byte.
    uint64_t dataOffset() const { return m_offsetData; }

    /// The offset just past `section` in the first line at or after `offsetSearch` that
    /// starts with the pattern `section` ("@", or "@1$"), searched with the header's
    /// regular-expression conventions. Throws dravik::Error "Expected section is not found".
    static uint64_t findSectionFromStream(dravik::StreamAccess& stream, uint64_t offsetSearch,
                                          const std::string& section);

private:
    void common(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format);
    void buildProperties();
    void prepareCompressed(uint64_t latticeBytes);
    std::unique_ptr<SectionDecoder> makeDecoder() const;
    void readCompressed(const dravik::RegionXu64& region, uint8_t* dst);

    KmParser::DataEncoding m_dataEncoding = KmParser::DataEncoding::BINARY_LITTLE_ENDIAN;
    KmParser::DataCompression m_modeCompression;
    KmParser::DataDescription m_dataDescription = KmParser::DataDescription::DATA;
    std::shared_ptr<dravik::StreamAccess> m_streamAccess;
    /// The file from its start, read with positioned reads.
    std::shared_ptr<dravik::RandomAccess> m_fileAccess;
    /// Raw sections only: the file from the first data byte on, and the section's view over it.
    std::shared_ptr<dravik::RandomAccess> m_randomAccess;
    std::shared_ptr<dravik::ImageView> m_viewData;
    uint64_t m_offsetData = 0;
    /// Compressed sections only: the bytes the whole lattice decodes to.
    uint64_t m_latticeBytes = 0;
    bool m_convertEndian = false;
    /// HxZip sections stored as several zlib streams: the compressed size of each.
    std::vector<uint64_t> m_zipBlockSizes;
};

} // namespace quenza::km
