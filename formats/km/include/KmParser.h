#pragma once

#include <dravik/DataType.h>
#include <dravik/MetadataNode.h>
#include <dravik/VectorX.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quenza::km {

/// Decodes the text header of a KorvelMesh file. Stateless; every operation either
/// returns its value or throws dravik::Error with the documented message.
class KmParser {
public:
    enum class DataEncoding { ASCII = 0, BINARY_BIG_ENDIAN = 1, BINARY_LITTLE_ENDIAN = 2 };

    struct DataCompression {
        enum CompressionMode { NO_COMPRESSION = 0, COMPRESSION_HX_BYTE_RLE = 1, COMPRESSION_HX_ZIP = 2 };
        CompressionMode mode = NO_COMPRESSION;
        /// Compressed bytes announced by the declaration; 0 without compression.
        uint64_t size = 0;
    };

    enum class DataDescription { DATA = 0, LABELS = 1, UNKNOWN = 2 };

    struct DataSection {
        DataSection(uint64_t id_, dravik::DataType type_, DataCompression compression_,
                    DataDescription description_)
            : id(id_)
            , type(type_)
            , compression(compression_)
            , description(description_)
        {
        }
        uint64_t id;
        dravik::DataType type;
        DataCompression compression;
        DataDescription description;
    };

    /// The encoding word of the identification line. Throws "Unrecognized header file"
    /// or "Invalid encoding type read from file ({0})".
    static DataEncoding decodeHead(const std::string& strBlock);
    /// The three sizes of the "define Lattice" line. Throws "Only 3D files are handled".
    static dravik::VectorXu64 decodeShape(const std::string& strBlock);
    /// Appends every declaration of a known type and role, in header order.
    static void decodeLattices(const std::string& strBlock, std::vector<DataSection>& listDataSections);
    /// The element type of the brace content of a declaration; the unknown type for
    /// an unknown name or a component count of 0.
    static dravik::DataType decodeDataType(const std::string& strBlock);
    static DataDescription decodeDataDescription(const std::string& strBlock);
    /// The one digit after "@". Throws "Data location not found".
    static uint8_t decodeAddrData(const std::string& strBlock);
    /// Throws "Unrecognized compression mode ({0})" for a name other than HxByteRLE or HxZip.
    static DataCompression decodeCompressionMode(const std::string& strBlock);
    /// The "KM" node holding the entries of the Parameters block, or empty when there
    /// is none or it does not parse.
    static std::shared_ptr<dravik::MetadataNode> extractMetadata(const std::string& strBlock);
    /// The same; when a node is returned and `span` is given, it receives the offset
    /// and length of the block text in `strBlock`.
    static std::shared_ptr<dravik::MetadataNode> extractMetadata(const std::string& strBlock,
                                                                 std::pair<size_t, size_t>* span);
};

} // namespace quenza::km
