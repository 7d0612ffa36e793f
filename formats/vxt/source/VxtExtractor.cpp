#include <VxtExtractor.h>

#include <VxtResolutionExtractor.h>

#include "VxtHeaderFields.h"

#include <common/PluginLogger.h>
#include <common/StreamConverter.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/ImageType.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/SpatialDirections.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <boost/property_tree/ptree.hpp>

#include <fmt/format.h>

#include <cmath>
#include <optional>

namespace quenza::vxt {

namespace {

using header::ptree;

const std::string ROOT = "VolumeInformation";

std::string key(const std::string& path)
{
    return ROOT + "." + path;
}

/// a × b, or nothing when it overflows.
std::optional<uint64_t> multiplied(uint64_t a, uint64_t b)
{
    if (a != 0 && b > UINT64_MAX / a) {
        return std::nullopt;
    }
    return a * b;
}

Vector3u64 readTriple(const ptree& tree, const std::string& path)
{
    return Vector3u64{header::requiredNumber<uint64_t>(tree, key(path + ".U")),
                      header::requiredNumber<uint64_t>(tree, key(path + ".V")),
                      header::requiredNumber<uint64_t>(tree, key(path + ".W"))};
}

double length(const dravik::Vector3d& v)
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

std::shared_ptr<dravik::MetadataNode> tripleNode(const std::string& name, const Vector3u64& v)
{
    auto node = dravik::MetadataNodeFactory::create(name);
    const char* axes[] = {"U", "V", "W"};
    for (size_t i = 0; i < 3; ++i) {
        node->addChild(dravik::MetadataNodeFactory::create(axes[i], dravik::VariantDataValueFactory::create(v[i])));
    }
    return node;
}

template <typename T>
T histogramNumber(const ptree& value, const char* name)
{
    const std::string text = value.get_value<std::string>();
    const auto number = header::parseNumber<T>(text);
    if (!number) {
        throw dravik::Error(
            fmt::format("VXT header value of {}.Histogram.{} is not a number of its type: '{}'", ROOT, name, text));
    }
    return *number;
}

} // namespace

VxtExtractor::VxtExtractor(const std::string& path)
{
    auto stream = dravik::StreamAccessFactory::openFileRead(path);
    open(*stream, stream->storage(), dravik::ViewDataOrigin::DRIVE);
}

VxtExtractor::VxtExtractor(std::shared_ptr<dravik::DataAccess> dataAccess, const std::string& format)
{
    if (format != FORMAT) {
        throw dravik::Error("Unsupported format");
    }
    auto stream = common::StreamConverter::convertInputAccessor(dataAccess, dravik::StreamAccessCapability::READ);
    open(*stream, dataAccess->storage(), dravik::ViewDataOrigin::UNKNOWN);
}

VxtExtractor::~VxtExtractor() = default;

void VxtExtractor::open(dravik::StreamAccess& header, std::shared_ptr<dravik::DataStorage> storage,
                        dravik::ViewDataOrigin origin)
{
    const ptree tree = header::readDocument(header);
    init(tree, std::move(storage));
    m_extensions.add<common::ViewOriginExtensionImpl>(
        std::make_shared<common::ViewOriginExtensionImpl>(fmt::format("{0} Extractor", common::PLUGIN_NAME), origin));
}

void VxtExtractor::init(const ptree& tree, std::shared_ptr<dravik::DataStorage> storage)
{
    auto handle = std::make_shared<VxtHandle>();
    handle->m_compressionLevel = 0;

    const std::string dataFilename = header::requiredText(tree, key("DataFilename"));
    if (dataFilename.empty()) {
        throw dravik::Error("No data file associated with VXT file");
    }
    if (!storage) {
        throw dravik::Error("Impossible to retrieve data file from given DataAccess");
    }
    try {
        handle->m_dataAccess = storage->openRandomAccess(dataFilename, dravik::RandomAccessCapability::READ);
    } catch (const dravik::Error&) {
        handle->m_dataAccess = dravik::RandomAccessFactory::fromStream(
            storage->openStreamAccess(dataFilename, dravik::StreamAccessCapability::READ));
    }

    const Vector3u64 size = readTriple(tree, "Size");
    handle->m_volumeSize = dravik::VectorXu64(size);
    const std::string typeWord = header::requiredText(tree, key("DataType"));
    const auto type = header::dataTypeOfWord(typeWord);
    if (!type) {
        throw dravik::Error("Unsupported data type");
    }
    handle->m_dataType = *type;
    handle->m_tileSize = readTriple(tree, "TileSize");

    // The geometry decides every allocation below: it is checked against the data file first.
    VxtGrid::checkGeometry(size, handle->m_tileSize);
    std::optional<uint64_t> tileBytes = handle->m_dataType.byteCount();
    for (size_t i = 0; i < 3 && tileBytes; ++i) {
        tileBytes = multiplied(*tileBytes, handle->m_tileSize[i]);
    }
    if (!tileBytes || *tileBytes > MAX_TILE_BYTES) {
        throw dravik::Error(fmt::format("VXT tiles of ({}) voxels are larger than the {} bytes supported",
                                        handle->m_tileSize.toString(), MAX_TILE_BYTES));
    }
    const uint64_t tileCount = VxtGrid::tileCountOf(VxtGrid::level0TilingGrid(size, handle->m_tileSize));
    if (tileCount > MAX_TILE_COUNT) {
        throw dravik::Error(fmt::format("VXT volume of size ({}) in tiles of ({}) has {} tiles, more than the {} "
                                        "supported",
                                        size.toString(), handle->m_tileSize.toString(), tileCount, MAX_TILE_COUNT));
    }
    handle->m_tileIndexer = dravik::Indexer(dravik::VectorXu64(handle->m_tileSize), handle->m_dataType);

    if (const auto border = tree.get_optional<std::string>(key("Border"))) {
        const auto value = header::parseNumber<uint64_t>(*border);
        if (value && *value != 0) {
            throw dravik::Error("Borders are not supported yet");
        }
    }

    const uint64_t fileSize = handle->m_dataAccess->size();
    const std::string compressor = tree.get<std::string>(key("TileCompression.Compressor"), "");
    if (compressor == VxtHandle::GZIP_COMPRESSOR) {
        handle->m_compressed = true;
        handle->m_compressor = compressor;
        handle->m_compressionLevel = header::lenientNumber<uint64_t>(tree, key("TileCompression.Level"), 0);
        handle->m_numTileInfos = header::lenientNumber<uint64_t>(tree, key("TileCompression.NumTileInfos"), 0);
        if (handle->m_numTileInfos != tileCount) {
            throw dravik::Error(fmt::format("VXT header lists {} tile entries (NumTileInfos) for a volume of {} tiles",
                                            handle->m_numTileInfos, tileCount));
        }
        const uint64_t tableBytes = tileCount * VxtHandle::TABLE_ENTRY_BYTES;
        if (tableBytes > fileSize) {
            throw dravik::Error(fmt::format("VXT data file of {} bytes is too short for its tile table of {} bytes",
                                            fileSize, tableBytes));
        }
        if (*tileBytes / MAX_INFLATE_RATIO > fileSize) {
            throw dravik::Error(fmt::format("VXT data file of {} bytes cannot hold compressed tiles of {} bytes",
                                            fileSize, *tileBytes));
        }
        std::vector<uint8_t> table(tableBytes);
        uint64_t done = 0;
        while (done < tableBytes) {
            const uint64_t got = handle->m_dataAccess->read(done, tableBytes - done, table.data() + done);
            if (got == 0) {
                throw dravik::Error("VXT tile table could not be read");
            }
            done += got;
        }
        handle->m_tileInfos = VxtHandle::decodeTable(table.data(), tileCount);
    } else if (!compressor.empty()) {
        throw dravik::Error("VXT compression other than GzipDataCompressor is not yet supported");
    } else {
        const auto needed = multiplied(tileCount, *tileBytes);
        if (!needed || *needed > fileSize) {
            throw dravik::Error(fmt::format("VXT data file holds {} bytes, fewer than the {} its {} tiles need",
                                            fileSize, needed ? fmt::format("{}", *needed) : std::string("2^64"),
                                            tileCount));
        }
    }

    const uint8_t significantBits = header::requiredNumber<uint8_t>(tree, key("NumSignificantBits"));
    const double minimum = header::requiredNumber<double>(tree, key("Min"));
    const double maximum = header::requiredNumber<double>(tree, key("Max"));

    handle->m_properties = dravik::ImageProperties::fromDataType(handle->m_dataType);
    dravik::ImageInfoProperty& info = handle->m_properties->imageInfo();
    info.setBitDepth(significantBits);
    info.setValueRange(minimum, maximum);
    info.setInterpretation(dravik::ImageInterpretation::GRAYSCALE);
    info.setAxesInterpretation(dravik::ImageTypeId::VOLUME);
    m_handle = handle;
    readCoordinateSystem(tree);
    buildMetadata(tree, dataFilename, typeWord, significantBits, minimum, maximum);

    m_grid = std::make_shared<VxtGrid>(size, handle->m_dataType, handle->m_tileSize);
    m_levelRange = dravik::Vector<int64_t, 2>{0, static_cast<int64_t>(m_grid->levelCount()) - 1};
    m_resolutions.assign(m_grid->levelCount(), nullptr);
}

void VxtExtractor::readCoordinateSystem(const ptree& tree)
{
    const auto system = tree.get_child_optional(key("CoordinateSystem"));
    if (!system) {
        return;
    }
    dravik::SpatialCalibrationProperty& calibration = m_handle->m_properties->calibration();
    calibration.setOrigin(header::parseTriple(header::requiredText(tree, key("CoordinateSystem.Origin"))));
    const char* axes[] = {"U", "V", "W"};
    dravik::Vector3d extents[3];
    dravik::Vector3d spacing;
    for (size_t i = 0; i < 3; ++i) {
        extents[i] =
            header::parseTriple(header::requiredText(tree, key(std::string("CoordinateSystem.TotalExtent.") + axes[i])));
        spacing[i] = length(extents[i]) / static_cast<double>(m_handle->m_volumeSize[i]);
    }
    try {
        calibration.setDirections(
            dravik::SpatialDirections(extents[0] / length(extents[0]), extents[1] / length(extents[1])));
    } catch (const dravik::Error& e) {
        throw dravik::Error(fmt::format("VXT header TotalExtent U ({}) and V ({}) give no directions: {}",
                                        header::formatTriple(extents[0]), header::formatTriple(extents[1]), e.what()));
    }
    calibration.setSpacing(spacing);
}

std::shared_ptr<dravik::MetadataNode> VxtExtractor::buildHistogram(const ptree& tree) const
{
    auto histogram = dravik::MetadataNodeFactory::create("Histogram");
    const auto source = tree.get_child_optional(key("Histogram"));
    if (!source) {
        return histogram;
    }
    const dravik::DataType type = m_handle ? m_handle->m_dataType : dravik::DataType();
    std::shared_ptr<dravik::MetadataNode> item;
    uint64_t counter = 0;
    auto startItem = [&] { item = dravik::MetadataNodeFactory::create(fmt::format("item{:0>5}", counter)); };
    for (const auto& [name, value] : *source) {
        if (name == "E") {
            startItem();
            item->addChild(dravik::MetadataNodeFactory::create(
                "E", dravik::VariantDataValueFactory::create(histogramNumber<uint16_t>(value, "E"))));
        } else if (name == "V") {
            if (!item) {
                startItem();
            }
            std::shared_ptr<dravik::VariantDataValue> number;
            if (type.isFloatingPoint()) {
                number = dravik::VariantDataValueFactory::create(histogramNumber<float>(value, "V"));
            } else if (type.primitiveType() == dravik::PrimitiveType::SIGNED_INTEGER) {
                number = dravik::VariantDataValueFactory::create(histogramNumber<int32_t>(value, "V"));
            } else {
                number = dravik::VariantDataValueFactory::create(histogramNumber<uint32_t>(value, "V"));
            }
            item->addChild(dravik::MetadataNodeFactory::create("V", number));
            ++counter;
        } else if (name == "N") {
            if (!item) {
                throw dravik::Error("Histogram not correctly formatted");
            }
            item->addChild(dravik::MetadataNodeFactory::create(
                "N", dravik::VariantDataValueFactory::create(histogramNumber<uint32_t>(value, "N"))));
            histogram->addChild(item);
            item.reset();
        }
    }
    return histogram;
}

void VxtExtractor::buildMetadata(const ptree& tree, const std::string& dataFilename, const std::string& typeWord,
                                 uint8_t significantBits, double minimum, double maximum)
{
    auto root = dravik::MetadataNodeFactory::create("root");
    auto vxt = dravik::MetadataNodeFactory::create("VXT");
    auto volume = dravik::MetadataNodeFactory::create(ROOT);
    root->addChild(vxt);
    vxt->addChild(volume);
    if (tree.get_child_optional(key("Histogram"))) {
        volume->addChild(buildHistogram(tree));
    }
    using dravik::MetadataNodeFactory;
    using dravik::VariantDataValueFactory;
    volume->addChild(MetadataNodeFactory::create("DataFilename", VariantDataValueFactory::create(dataFilename)));
    volume->addChild(tripleNode("Size", Vector3u64(m_handle->m_volumeSize)));
    volume->addChild(MetadataNodeFactory::create("DataType", VariantDataValueFactory::create(typeWord)));
    volume->addChild(tripleNode("TileSize", m_handle->m_tileSize));
    volume->addChild(MetadataNodeFactory::create("Border", VariantDataValueFactory::create(uint64_t(0))));
    volume->addChild(
        MetadataNodeFactory::create("NumSignificantBits", VariantDataValueFactory::create(significantBits)));
    volume->addChild(MetadataNodeFactory::create("Min", VariantDataValueFactory::create(minimum)));
    volume->addChild(MetadataNodeFactory::create("Max", VariantDataValueFactory::create(maximum)));
    m_handle->m_metadata = root;
}

std::shared_ptr<dravik::ImageView> VxtExtractor::resolution(int64_t level)
{
    if (level < m_levelRange[0] || level > m_levelRange[1]) {
        throw dravik::InvalidArgument("lod required is out of range");
    }
    const std::lock_guard<std::mutex> lock(m_resolutionsMutex);
    auto& slot = m_resolutions[static_cast<size_t>(level)];
    if (!slot) {
        slot = std::make_shared<VxtResolutionExtractor>(m_handle, m_grid, static_cast<uint64_t>(level), this);
    }
    return slot;
}

} // namespace quenza::vxt
