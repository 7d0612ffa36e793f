#include <KmParser.h>

#include <KmMetadata.h>

#include <common/PluginLogger.h>

#include <dravik/Error.h>
#include <dravik/MetadataNodeFactory.h>

#include <boost/regex.hpp>

#include <fmt/format.h>

#include <limits>
#include <stdexcept>

namespace quenza::km {

namespace {

// Perl syntax with Boost's defaults: "^" and "$" at every line start and end, "."
// crossing line breaks.
boost::regex makePattern(const char* pattern)
{
    return boost::regex(pattern, boost::regex_constants::perl);
}

/// Searches `re` in [begin, end); the matching engine's own failures (a pattern too
/// complex for a hostile text) become dravik errors.
bool search(std::string::const_iterator begin, std::string::const_iterator end, boost::smatch& match,
            const boost::regex& re)
{
    try {
        return boost::regex_search(begin, end, match, re, boost::match_default);
    } catch (const std::runtime_error& e) {
        throw dravik::Error(fmt::format("Header text cannot be searched: {0}", e.what()));
    }
}

bool search(const std::string& text, boost::smatch& match, const boost::regex& re)
{
    return search(text.begin(), text.end(), match, re);
}

int32_t toInt32(const std::string& digits)
{
    try {
        return std::stoi(digits);
    } catch (const std::out_of_range&) {
        throw dravik::Error(fmt::format("Number out of range in the header ({0})", digits));
    }
}

int64_t toInt64(const std::string& digits)
{
    try {
        return std::stoll(digits);
    } catch (const std::out_of_range&) {
        throw dravik::Error(fmt::format("Number out of range in the header ({0})", digits));
    }
}

const boost::regex& declarationContentPattern()
{
    static const boost::regex re = makePattern(R"(([\w\[\]]+)\s(\w+))");
    return re;
}

} // namespace

KmParser::DataEncoding KmParser::decodeHead(const std::string& strBlock)
{
    static const boost::regex re = makePattern(R"(^#\s(KorvelMesh|Belmor|KorvelMesh)+(\s3D)*\s([\w-]+))");
    boost::smatch match;
    if (!search(strBlock, match, re)) {
        throw dravik::Error("Unrecognized header file");
    }
    const std::string word = match[3].str();
    if (word == "ASCII") {
        return DataEncoding::ASCII;
    }
    if (word == "BINARY-LITTLE-ENDIAN") {
        return DataEncoding::BINARY_LITTLE_ENDIAN;
    }
    if (word == "BINARY") {
        return DataEncoding::BINARY_BIG_ENDIAN;
    }
    throw dravik::Error(fmt::format("Invalid encoding type read from file ({0})", word));
}

dravik::VectorXu64 KmParser::decodeShape(const std::string& strBlock)
{
    static const boost::regex re = makePattern(R"(^define\sLattice\s(\d+)\s(\d+)\s(\d+))");
    boost::smatch match;
    if (!search(strBlock, match, re)) {
        throw dravik::Error("Only 3D files are handled");
    }
    dravik::VectorXu64 shape(3);
    for (size_t i = 0; i < 3; ++i) {
        shape[i] = static_cast<uint64_t>(toInt32(match[i + 1].str()));
    }
    return shape;
}

void KmParser::decodeLattices(const std::string& strBlock, std::vector<DataSection>& listDataSections)
{
    static const boost::regex re = makePattern(R"(Lattice\s{([\w \[\]]+)}\s(@\d)(\([\w\d,]+\)){0,1})");
    auto from = strBlock.begin();
    boost::smatch match;
    while (search(from, strBlock.end(), match, re)) {
        const std::string content = match[1].str();
        const dravik::DataType type = decodeDataType(content);
        const DataDescription description = decodeDataDescription(content);
        const uint8_t id = decodeAddrData(match[2].str());
        const DataCompression compression = decodeCompressionMode(match[3].matched ? match[3].str() : std::string());
        if (!type.isUnknown() && description != DataDescription::UNKNOWN) {
            listDataSections.emplace_back(id, type, compression, description);
        } else {
            QUENZA_LOG_INFO("Data section ignored");
        }
        from = match[0].second;
    }
}

dravik::DataType KmParser::decodeDataType(const std::string& strBlock)
{
    boost::smatch match;
    if (!search(strBlock, match, declarationContentPattern())) {
        throw dravik::Error(fmt::format("Invalid Lattice definition ({0})", strBlock));
    }
    const std::string token = match[1].str();
    static const boost::regex typeRe = makePattern(R"((\w+)(\[\d\])*)");
    boost::smatch typeMatch;
    if (!search(token, typeMatch, typeRe)) {
        throw dravik::Error(fmt::format("Type unrecognized ({0})", token));
    }
    const std::string name = typeMatch[1].str();
    uint32_t count = 1;
    if (typeMatch[2].matched) {
        // "[d]": the last bracketed digit captured.
        count = static_cast<uint32_t>(typeMatch[2].str()[1] - '0');
    }
    if (name == "complex") {
        return dravik::DataTypeId::COMPLEX_FLOAT;
    }
    if (count == 0) {
        return {};
    }
    struct Named {
        const char* name;
        dravik::PrimitiveType primitive;
        uint32_t bits;
    };
    static const Named names[] = {
        {"byte", dravik::PrimitiveType::UNSIGNED_INTEGER, 8},   {"sbyte", dravik::PrimitiveType::SIGNED_INTEGER, 8},
        {"ushort", dravik::PrimitiveType::UNSIGNED_INTEGER, 16}, {"short", dravik::PrimitiveType::SIGNED_INTEGER, 16},
        {"int", dravik::PrimitiveType::SIGNED_INTEGER, 32},     {"uint", dravik::PrimitiveType::UNSIGNED_INTEGER, 32},
        {"int64", dravik::PrimitiveType::SIGNED_INTEGER, 64},   {"uint64", dravik::PrimitiveType::UNSIGNED_INTEGER, 64},
        {"float", dravik::PrimitiveType::FLOATING_POINT, 32},   {"double", dravik::PrimitiveType::FLOATING_POINT, 64},
    };
    for (const Named& n : names) {
        if (name == n.name) {
            return dravik::DataType(n.primitive, count, n.bits);
        }
    }
    return {};
}

KmParser::DataDescription KmParser::decodeDataDescription(const std::string& strBlock)
{
    boost::smatch match;
    if (!search(strBlock, match, declarationContentPattern())) {
        throw dravik::Error(fmt::format("Invalid Lattice definition ({0})", strBlock));
    }
    const std::string role = match[2].str();
    if (role == "Labels") {
        return DataDescription::LABELS;
    }
    if (role == "Data" || role == "data") {
        return DataDescription::DATA;
    }
    return DataDescription::UNKNOWN;
}

uint8_t KmParser::decodeAddrData(const std::string& strBlock)
{
    static const boost::regex re = makePattern(R"(@(\d))");
    boost::smatch match;
    if (!search(strBlock, match, re)) {
        throw dravik::Error("Data location not found");
    }
    return static_cast<uint8_t>(match[1].str()[0] - '0');
}

KmParser::DataCompression KmParser::decodeCompressionMode(const std::string& strBlock)
{
    static const boost::regex re = makePattern(R"(\((\w+),(\d+)\))");
    boost::smatch match;
    DataCompression compression;
    if (!search(strBlock, match, re)) {
        return compression;
    }
    const std::string name = match[1].str();
    if (name == "HxByteRLE") {
        compression.mode = DataCompression::COMPRESSION_HX_BYTE_RLE;
    } else if (name == "HxZip") {
        compression.mode = DataCompression::COMPRESSION_HX_ZIP;
    } else {
        throw dravik::Error(fmt::format("Unrecognized compression mode ({0})", match[0].str()));
    }
    compression.size = static_cast<uint64_t>(toInt64(match[2].str()));
    return compression;
}

std::shared_ptr<dravik::MetadataNode> KmParser::extractMetadata(const std::string& strBlock)
{
    return extractMetadata(strBlock, nullptr);
}

std::shared_ptr<dravik::MetadataNode> KmParser::extractMetadata(const std::string& strBlock,
                                                                std::pair<size_t, size_t>* span)
{
    static const boost::regex re = makePattern(R"(^Parameters\s{(.*)}$)");
    boost::smatch match;
    if (!search(strBlock, match, re)) {
        return nullptr;
    }
    const auto parameters = KmMetadata::extract(match[0].str());
    if (!parameters) {
        return nullptr;
    }
    auto km = dravik::MetadataNodeFactory::create("KM", nullptr);
    for (const auto& child : parameters->children()) {
        km->addChild(child);
    }
    if (span != nullptr) {
        *span = {static_cast<size_t>(match.position(size_t(0))), static_cast<size_t>(match.length(0))};
    }
    return km;
}

} // namespace quenza::km
