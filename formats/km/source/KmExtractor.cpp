#include <KmExtractor.h>

#include "SectionDecoder.h"

#include <common/PluginLogger.h>
#include <common/StreamConverter.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/DataConverter.h>
#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>

#include <boost/regex.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace quenza::km {

namespace {

constexpr uint64_t U64_MAX = std::numeric_limits<uint64_t>::max();
// Decoded bytes held at a time by a read whose region is not one contiguous range.
constexpr uint64_t DECODE_PIECE = uint64_t(8) << 20;
// A control byte and a value byte yield at most 128 bytes.
constexpr uint64_t RLE_MAX_EXPANSION = 64;
// Deflate codes a 258-byte match in no less than 2 bits.
constexpr uint64_t ZLIB_MAX_EXPANSION = 1032;

uint64_t saturatingMultiply(uint64_t a, uint64_t b)
{
    return (b != 0 && a > U64_MAX / b) ? U64_MAX : a * b;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > U64_MAX - b ? U64_MAX : a + b;
}

/// The most bytes a zlib stream of `compressed` bytes can inflate to.
uint64_t maxInflated(uint64_t compressed)
{
    return saturatingAdd(saturatingMultiply(compressed, ZLIB_MAX_EXPANSION), 258);
}

uint64_t readU64LE(dravik::RandomAccess& file, uint64_t offset, bool& ok)
{
    uint8_t bytes[8] = {};
    ok = file.read(offset, 8, bytes) == 8;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | bytes[i];
    }
    return v;
}

/// `header` with the text of the parsed Parameters block blanked out, line breaks
/// kept, so that a quoted value that looks like a header line is not read as one.
std::string withoutBlock(std::string header, const std::pair<size_t, size_t>& span)
{
    for (size_t i = span.first; i < span.first + span.second && i < header.size(); ++i) {
        char& ch = header[i];
        if (ch != '\n' && ch != '\r' && ch != '\f') {
            ch = ' ';
        }
    }
    return header;
}

} // namespace

KmExtractor::KmExtractor(const std::string& path)
{
    common(dravik::StreamAccessFactory::openFileRead(path), FORMAT);
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{0} Extractor", common::PLUGIN_NAME), dravik::ViewDataOrigin::DRIVE));
}

KmExtractor::KmExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
{
    common(std::move(accessor), format);
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{0} Extractor", common::PLUGIN_NAME), dravik::ViewDataOrigin::UNKNOWN));
}

KmExtractor::~KmExtractor() = default;

void KmExtractor::common(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument("Format " + format + " not supported by the plugin " + common::PLUGIN_NAME);
    }
    m_streamAccess = common::StreamConverter::convertInputAccessor(std::move(accessor),
                                                                   dravik::StreamAccessCapability::READ_SEEK);

    const uint64_t headerSize = findSectionFromStream(*m_streamAccess, 0, "@") - 1;
    m_streamAccess->seek(0, dravik::SeekOrigin::BEGIN);
    std::string header(static_cast<size_t>(headerSize), '\0');
    header.resize(static_cast<size_t>(m_streamAccess->read(headerSize, header.data())));
    header.resize(std::min(header.size(), header.find('\0')));

    std::pair<size_t, size_t> blockSpan{0, 0};
    auto km = KmParser::extractMetadata(header, &blockSpan);
    const std::string lines = km ? withoutBlock(header, blockSpan) : header;

    m_dataEncoding = KmParser::decodeHead(lines);
    m_shape = KmParser::decodeShape(lines);
    m_capabilities = dravik::ImageCapabilitySet{dravik::ImageCapability::READ};
    std::vector<KmParser::DataSection> sections;
    KmParser::decodeLattices(lines, sections);
    if (sections.empty()) {
        throw dravik::Error("No data section can be decoded");
    }
    const KmParser::DataSection& section = sections.front();
    m_type = section.type;
    m_dataDescription = section.description;
    m_modeCompression = section.compression;
    m_metadata = dravik::MetadataNodeFactory::create("root", nullptr);

    m_streamAccess->seek(static_cast<int64_t>(headerSize), dravik::SeekOrigin::BEGIN);
    m_offsetData = findSectionFromStream(*m_streamAccess, headerSize, fmt::format("@{0}$", section.id));

    m_properties = dravik::ImageProperties::fromDataType(m_type);
    if (km) {
        m_metadata->addChild(km);
    }
    buildProperties();

    if (m_dataEncoding == KmParser::DataEncoding::ASCII) {
        throw dravik::Error("ASCII mode not supported yet");
    }
    m_convertEndian = m_dataEncoding == KmParser::DataEncoding::BINARY_BIG_ENDIAN
                   && m_type.extractScalarType().byteCount() > 1;
    m_fileAccess = dravik::RandomAccessFactory::fromStream(m_streamAccess);

    if (m_modeCompression.mode == KmParser::DataCompression::NO_COMPRESSION) {
        try {
            m_randomAccess = dravik::RandomAccessFactory::extractRegion(m_fileAccess, m_offsetData);
            m_viewData = dravik::ImageViewFactory::fromRandomAccess(m_randomAccess, m_shape, m_type);
            if (!m_viewData) {
                throw dravik::Error("Data is truncated");
            }
        } catch (const dravik::Error& e) {
            throw dravik::Error(fmt::format("Unable to create an access to image data({0})", e.what()));
        }
        return;
    }
    uint64_t latticeBytes = m_type.byteCount();
    for (uint64_t size : m_shape) {
        if (size != 0 && latticeBytes > U64_MAX / size) {
            throw dravik::Error("Lattice size is too large");
        }
        latticeBytes *= size;
    }
    m_latticeBytes = latticeBytes;
    prepareCompressed(latticeBytes);
}

void KmExtractor::buildProperties()
{
    auto& info = m_properties->imageInfo();
    info.setAxesInterpretation(dravik::ImageTypeId::VOLUME);
    if (m_dataDescription == KmParser::DataDescription::LABELS) {
        info.setInterpretation(dravik::ImageInterpretation::LABEL);
    }
    if (!m_metadata->hasChild("KM")) {
        return;
    }
    std::string unit;
    if (auto coordinates = dravik::MetadataNodeHelper::getNode(m_metadata, "/KM/Units/Coordinates");
        coordinates && coordinates->hasValue()) {
        unit = dravik::VariantDataValueConverter::toString(*coordinates->value());
    }
    dravik::Vector3d origin{0.0, 0.0, 0.0};
    dravik::Vector3d spacing{1.0, 1.0, 1.0};
    std::shared_ptr<dravik::MetadataNode> box;
    try {
        box = dravik::MetadataNodeHelper::getNode(m_metadata, "/KM/BoundingBox");
    } catch (const dravik::Error&) {
        box.reset();
    }
    if (box) {
        std::vector<double> values;
        try {
            if (box->hasValue()) {
                values = dravik::VariantDataValueConverter::toDoubleArray(*box->value());
            }
        } catch (const dravik::Error&) {
            values.clear();
        }
        if (values.size() != 6) {
            throw dravik::Error("Bounding box does not have expected content");
        }
        for (size_t i = 0; i < 3; ++i) {
            origin[i] = values[2 * i];
            // An empty axis has no spacing to derive.
            if (m_shape[i] != 0) {
                spacing[i] = (values[2 * i + 1] - values[2 * i]) / static_cast<double>(m_shape[i]);
            }
        }
    }
    auto& calibration = m_properties->calibration();
    calibration.setOrigin(origin);
    calibration.setSpacing(spacing);
    calibration.setUnit(unit);
}

void KmExtractor::prepareCompressed(uint64_t latticeBytes)
{
    const uint64_t fileSize = m_fileAccess->size();
    const uint64_t available = fileSize > m_offsetData ? fileSize - m_offsetData : 0;
    const uint64_t usable = std::min(available, m_modeCompression.size);
    uint64_t bound = 0;
    uint64_t compressedBytes = usable;
    if (m_modeCompression.mode == KmParser::DataCompression::COMPRESSION_HX_BYTE_RLE) {
        bound = saturatingMultiply(usable, RLE_MAX_EXPANSION);
    } else if (latticeBytes <= MAX_BLOCK_ZIP_COMPRESSED_DATA) {
        bound = maxInflated(usable);
    } else {
        bool ok = false;
        const uint64_t count = readU64LE(*m_fileAccess, m_offsetData, ok);
        if (!ok || count > (available - 8) / 8) {
            throw dravik::Error("Invalid HxZip block table");
        }
        std::vector<uint8_t> table(static_cast<size_t>(count * 8));
        if (m_fileAccess->read(m_offsetData + 8, table.size(), table.data()) != table.size()) {
            throw dravik::Error("Invalid HxZip block table");
        }
        m_zipBlockSizes.resize(static_cast<size_t>(count));
        uint64_t total = 0;
        const uint64_t room = available - 8 - 8 * count;
        for (size_t i = 0; i < m_zipBlockSizes.size(); ++i) {
            uint64_t size = 0;
            for (int b = 7; b >= 0; --b) {
                size = (size << 8) | table[i * 8 + static_cast<size_t>(b)];
            }
            if (size > room - total) {
                throw dravik::Error("Invalid HxZip block table");
            }
            total += size;
            m_zipBlockSizes[i] = size;
            bound = saturatingAdd(bound, maxInflated(size));
        }
        compressedBytes = total;
    }
    if (latticeBytes > bound) {
        throw dravik::Error(fmt::format("A lattice of {0} bytes cannot be decoded from {1} bytes of compressed data",
                                        latticeBytes, compressedBytes));
    }
}

std::unique_ptr<SectionDecoder> KmExtractor::makeDecoder() const
{
    if (m_modeCompression.mode == KmParser::DataCompression::COMPRESSION_HX_BYTE_RLE) {
        return std::make_unique<RleDecoder>(m_fileAccess, m_offsetData, m_modeCompression.size, m_latticeBytes);
    }
    if (m_latticeBytes <= MAX_BLOCK_ZIP_COMPRESSED_DATA) {
        return std::make_unique<ZipStreamDecoder>(m_fileAccess, m_offsetData, m_modeCompression.size);
    }
    return std::make_unique<ZipBlockDecoder>(m_fileAccess, m_offsetData + 8 + 8 * m_zipBlockSizes.size(),
                                             m_zipBlockSizes);
}

void KmExtractor::read(const dravik::VectorXu64& index, void* dst)
{
    readRegion(dravik::RegionXu64(index, dravik::VectorXu64(index.size(), 1)), dst);
}

void KmExtractor::readRegion(const dravik::RegionXu64& region, void* dst)
{
    if (!region.isInside(m_shape)) {
        throw dravik::InvalidArgument("Required region out of image bounds");
    }
    if (region.isEmpty()) {
        return;
    }
    if (m_viewData) {
        m_viewData->readRegion(region, dst);
    } else {
        readCompressed(region, static_cast<uint8_t*>(dst));
    }
    if (m_convertEndian) {
        dravik::DataConverter::endianReverse(m_type, dst, dst, region.elementCount());
    }
}

void KmExtractor::readCompressed(const dravik::RegionXu64& region, uint8_t* dst)
{
    const uint64_t elementBytes = m_type.byteCount();
    const auto& origin = region.origin();
    const auto& size = region.size();
    const uint64_t lineBytes = m_shape[0] * elementBytes;
    const uint64_t sliceBytes = lineBytes * m_shape[1];
    auto offsetOf = [&](uint64_t y, uint64_t z) { return z * sliceBytes + y * lineBytes + origin[0] * elementBytes; };

    const uint64_t start = offsetOf(origin[1], origin[2]);
    const uint64_t runBytes = size[0] * elementBytes;
    const uint64_t runCount = size[1] * size[2];
    const bool contiguous = size[0] == m_shape[0] && (size[1] == m_shape[1] || size[2] == 1);
    if (contiguous && start == 0 && runBytes * runCount == m_latticeBytes
        && m_modeCompression.mode == KmParser::DataCompression::COMPRESSION_HX_ZIP
        && m_latticeBytes <= MAX_BLOCK_ZIP_COMPRESSED_DATA
        && inflateWholeStream(*m_fileAccess, m_offsetData, m_modeCompression.size, dst, m_latticeBytes)) {
        return;
    }
    // Streamed, also after a one-call inflate that failed: the stream decides what such a section gives.
    auto decoder = makeDecoder();
    if (decoder->skip(start) != start) {
        throw dravik::Error("Invalid uncompressed size");
    }
    if (contiguous) {
        // The region is one contiguous range of the section.
        const uint64_t total = runBytes * runCount;
        if (decoder->produce(dst, total) != total) {
            throw dravik::Error("Invalid uncompressed size");
        }
        return;
    }
    // Runs of the region, one per (y, z) line, merged with the decoded pieces in order.
    const uint64_t end = offsetOf(origin[1] + size[1] - 1, origin[2] + size[2] - 1) + runBytes;
    std::vector<uint8_t> piece(static_cast<size_t>(std::min(end - start, DECODE_PIECE)));
    uint64_t pieceStart = start;
    uint64_t run = 0;
    uint64_t runDone = 0;
    while (run < runCount) {
        const uint64_t want = std::min<uint64_t>(end - pieceStart, piece.size());
        if (decoder->produce(piece.data(), want) != want) {
            throw dravik::Error("Invalid uncompressed size");
        }
        const uint64_t pieceEnd = pieceStart + want;
        while (run < runCount) {
            const uint64_t runStart = offsetOf(origin[1] + run % size[1], origin[2] + run / size[1]);
            const uint64_t from = std::max(runStart + runDone, pieceStart);
            if (from >= pieceEnd) {
                break;
            }
            const uint64_t to = std::min(runStart + runBytes, pieceEnd);
            std::memcpy(dst + run * runBytes + (from - runStart), piece.data() + (from - pieceStart),
                        static_cast<size_t>(to - from));
            runDone = to - runStart;
            if (runDone == runBytes) {
                ++run;
                runDone = 0;
            } else {
                break;
            }
        }
        pieceStart = pieceEnd;
    }
}

uint64_t KmExtractor::findSectionFromStream(dravik::StreamAccess& stream, uint64_t offsetSearch,
                                            const std::string& section)
{
    stream.seek(0, dravik::SeekOrigin::END);
    const uint64_t streamSize = stream.tell();
    boost::regex pattern;
    try {
        pattern = boost::regex("^" + section, boost::regex_constants::perl);
    } catch (const std::runtime_error& e) {
        throw dravik::Error(fmt::format("Invalid section pattern {0}: {1}", section, e.what()));
    }
    if (offsetSearch >= streamSize) {
        throw dravik::Error("Expected section is not found");
    }
    // The byte before the search start decides whether "^" matches there; the last bytes
    // of a window are searched again with the next one, so that a marker cut by the
    // window's end, or a "$" that needs the following byte, is still found.
    const size_t keep = section.size() + 1;
    uint64_t bufferStart = offsetSearch > 0 ? offsetSearch - 1 : 0;
    size_t searchFrom = offsetSearch > 0 ? 1 : 0;
    std::vector<char> buffer;
    stream.seek(static_cast<int64_t>(bufferStart), dravik::SeekOrigin::BEGIN);
    for (;;) {
        const size_t old = buffer.size();
        buffer.resize(old + CHUNK_SIZE);
        const uint64_t got = stream.read(CHUNK_SIZE, buffer.data() + old);
        buffer.resize(old + static_cast<size_t>(got));
        const bool atEnd = got == 0 || bufferStart + buffer.size() >= streamSize;
        if (searchFrom < buffer.size()) {
            boost::match_flag_type flags = boost::match_default;
            if (searchFrom > 0) {
                flags |= boost::match_prev_avail;
            }
            if (!atEnd) {
                flags |= boost::match_not_eol;
            }
            boost::cmatch match;
            const char* first = buffer.data() + searchFrom;
            bool found = false;
            try {
                found = boost::regex_search(first, static_cast<const char*>(buffer.data() + buffer.size()), match, pattern,
                                           flags);
            } catch (const std::runtime_error& e) {
                throw dravik::Error(fmt::format("Section search failed: {0}", e.what()));
            }
            if (found) {
                return bufferStart + searchFrom + static_cast<uint64_t>(match.position(size_t(0))) + section.size();
            }
        }
        if (atEnd) {
            break;
        }
        if (buffer.size() > keep) {
            const size_t drop = buffer.size() - keep;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(drop));
            bufferStart += drop;
            // The first byte kept was searched already: it is context now.
            searchFrom = 1;
        }
    }
    throw dravik::Error("Expected section is not found");
}

} // namespace quenza::km
