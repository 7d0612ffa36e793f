#pragma once

#include <dravik/DataType.h>
#include <dravik/ImageProperties.h>
#include <dravik/Indexer.h>
#include <dravik/MetadataNode.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>
#include <dravik/Vector.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::vxt {

/// The record of one opened or written volume, shared by the extractor or writer,
/// the resolution views, the tiling infos and the pipeline stages.
class VxtHandle {
public:
    static constexpr const char* GZIP_COMPRESSOR = "GzipDataCompressor";
    /// Bytes of one tile-table entry in the data file.
    static constexpr uint64_t TABLE_ENTRY_BYTES = 24;

    /// One tile-table entry: where a compressed tile lies in the data file.
    struct DataCompressInfo {
        uint64_t offset = 0;
        uint64_t size = 0;
        uint64_t reserved = 0;
    };

    /// Encodes the table in its little-endian file form.
    static std::vector<uint8_t> encodeTable(const std::vector<DataCompressInfo>& table);
    /// Decodes `count` entries from `bytes` (24 × count of them).
    static std::vector<DataCompressInfo> decodeTable(const uint8_t* bytes, uint64_t count);

    bool m_compressed = false;
    std::string m_compressor;
    uint64_t m_compressionLevel = 1;
    uint64_t m_numTileInfos = 0;
    std::vector<DataCompressInfo> m_tileInfos;
    dravik::VectorXu64 m_volumeSize;
    dravik::DataType m_dataType;
    dravik::Vector<uint64_t, 3> m_tileSize{128, 128, 128};
    std::shared_ptr<dravik::ImageProperties> m_properties;
    std::shared_ptr<dravik::MetadataNode> m_metadata;
    std::shared_ptr<dravik::RandomAccess> m_dataAccess;
    std::shared_ptr<dravik::StreamAccess> m_dataStream;
    dravik::Indexer m_tileIndexer;
    bool m_histogram = false;
};

} // namespace quenza::vxt
