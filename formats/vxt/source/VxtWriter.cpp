#include <VxtWriter.h>

#include <CacheImageView.h>
#include <VxtExtractor.h>
#include <VxtWriterPlugin.h>

#include "VxtHeaderFields.h"

#include <common/PluginLogger.h>

#include <quenza/EncodingError.h>
#include <quenza/UnsupportedFormat.h>

#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/Providers.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/RegionCopier.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/TilingInfoExtension.h>
#include <dravik/VariantDataValueConverter.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <ostream>
#include <thread>

namespace quenza::vxt {

namespace {

using boost::property_tree::ptree;

Vector3u64 ceilHalf(const Vector3u64& v)
{
    return Vector3u64{(v[0] + 1) / 2, (v[1] + 1) / 2, (v[2] + 1) / 2};
}

} // namespace

VxtWriter::VxtWriter(std::shared_ptr<dravik::View> view, const std::string& path)
{
    // The input is accepted before the file is opened, so that a refused view leaves
    // an existing file as it was.
    prepareInput(std::move(view));
    takeOutput(dravik::StreamAccessFactory::openFileWrite(path));
    openDataFile();
}

VxtWriter::VxtWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> access,
                     const std::string& format)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument(
            fmt::format("Format {0} not supported by the plugin {1}", format, common::PLUGIN_NAME));
    }
    takeOutput(std::move(access));
    prepareInput(std::move(view));
    openDataFile();
}

VxtWriter::~VxtWriter()
{
    stopPipeline();
}

void VxtWriter::takeOutput(std::shared_ptr<dravik::DataAccess> access)
{
    auto stream = dravik::StreamAccessProvider::toStream(access);
    if (!stream || !stream->support(dravik::StreamAccessCapability::WRITE)) {
        throw dravik::Error("VXT writer needs a writable stream access as output");
    }
    m_output = std::move(stream);
    m_headerStream = dravik::StreamAccessFactory::toStdOStream(m_output);
}

void VxtWriter::prepareInput(std::shared_ptr<dravik::View> view)
{
    m_handle = std::make_shared<VxtHandle>();
    std::shared_ptr<dravik::ImageView> image;
    if (auto asImage = dravik::ImageViewProvider::toImage(view)) {
        image = asImage;
    } else if (auto lod = dravik::LodImageViewProvider::toLod(view)) {
        const auto range = lod->levelRange();
        if (range[0] > range[1]) {
            throw dravik::Error("Provided LodImage does not contain any level");
        }
        image = lod->resolution(range[0]);
        if (!image || !image->support(dravik::ImageCapability::READ)) {
            throw dravik::Error("Provided LodImage is not readable");
        }
    } else if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        if (!multi->support(dravik::MultiImageCapability::READ)) {
            throw dravik::Error("Input MultiImageView is not readable");
        }
        QUENZA_LOG_INFO("Try to stack MultiImageView content into a volume");
        image = dravik::ImageViewFactory::stack(multi);
        if (image->shape().size() != 3) {
            throw dravik::Error("Input multiImageView does not represent a volume");
        }
    } else {
        throw dravik::Error("VXT writer needs an image, a multi-image or a multi-resolution view");
    }

    if (image->shape().size() == 2) {
        QUENZA_LOG_WARN("2D image as input - transform into volume");
        image = dravik::ImageViewFactory::stack(dravik::MultiImageViewFactory::create({image}),
                                                dravik::ImageTypeDimension::SLICE);
    }
    if (image->shape().size() != 3) {
        throw dravik::Error("VXT writer plugin only handles 3D images");
    }
    if (!image->support(dravik::ImageCapability::READ)) {
        throw dravik::Error("Input ImageView does not have read capability");
    }
    const dravik::DataType type = image->dataType();
    // Types the header has no word for are refused here rather than halfway through writeData.
    if (type.elementCount() != 1 || type.bitDepth() == 64 || dataTypeToStringVxt(type).empty()) {
        throw UnsupportedFormat(fmt::format("Given DataType ({0}) is not supported", type.toString()));
    }
    const dravik::VectorXu64& shape = image->shape();
    if (std::any_of(shape.begin(), shape.end(), [](uint64_t s) { return s == 0; })) {
        throw dravik::Error(fmt::format("VXT writer cannot write an empty volume of shape ({})", shape.toString()));
    }

    try {
        auto tiling = std::dynamic_pointer_cast<dravik::TilingInfoExtension>(
            image->extension(dravik::TilingInfoExtension::EXTENSION_ID));
        const dravik::VectorXu64 tileSize = tiling ? tiling->maxTileSize() : dravik::VectorXu64();
        if (tileSize.size() == 3 && std::none_of(tileSize.begin(), tileSize.end(), [](uint64_t s) { return s == 0; })) {
            m_handle->m_tileSize = Vector3u64(tileSize);
        }
    } catch (const dravik::Error&) {
        QUENZA_LOG_INFO("TilingInfo not available in input image - use default tile size");
    }

    m_inputInMemory = image->support(dravik::ImageCapability::MEMORY_ACCESS);
    m_handle->m_volumeSize = shape;
    m_handle->m_dataType = type;
    auto properties = image->properties();
    m_handle->m_properties = properties ? properties->clone() : dravik::ImageProperties::fromDataType(type);
    m_input = std::move(image);
}

void VxtWriter::openDataFile()
{
    auto storage = m_output->storage();
    if (!storage) {
        throw dravik::Error("Storage of given output stream cannot be retrieved");
    }
    std::string name = dataFileNameFor(m_output->resourceId());
    if (name.empty()) {
        boost::uuids::random_generator generate;
        do {
            name = boost::uuids::to_string(generate()) + ".dat";
        } while (storage->exists(name));
    }
    // Opened for writing alone first, which empties a data file left by an earlier,
    // larger volume; reading and writing in place do not.
    storage->openStreamAccess(name, dravik::StreamAccessCapability::WRITE);
    m_handle->m_dataStream =
        storage->openStreamAccess(name, {dravik::StreamAccessCapability::READ, dravik::StreamAccessCapability::WRITE});
    m_handle->m_dataAccess = dravik::RandomAccessFactory::fromStream(m_handle->m_dataStream);
    m_handle->m_histogram = false;
}

std::string VxtWriter::dataFileNameFor(const std::string& resourceId)
{
    if (resourceId.empty()) {
        return {};
    }
    if (boost::algorithm::iends_with(resourceId, ".vxt") || boost::algorithm::iends_with(resourceId, ".vxa")) {
        return resourceId.substr(0, resourceId.size() - 4) + ".dat";
    }
    return resourceId + "_data";
}

std::string VxtWriter::dataTypeToStringVxt(const dravik::DataType& dataType)
{
    return header::wordOfDataType(dataType);
}

std::string VxtWriter::name() const
{
    return VxtWriterPlugin::s_name;
}

std::string VxtWriter::version() const
{
    return VxtWriterPlugin::s_version;
}

void VxtWriter::setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value)
{
    if (m_state != CREATED) {
        throw EncodingError("Calling setOption whereas header has already been written.");
    }
    if (name == "tileSize") {
        const char* message = "tileSize needs a numerical VariantDataValue with 3 values";
        if (!value || !value->isNumeric() || value->size() != 3) {
            throw dravik::Error(message);
        }
        std::vector<int64_t> sizes;
        try {
            sizes = dravik::VariantDataValueConverter::toInt64Array(*value);
        } catch (const dravik::Error&) {
            throw dravik::Error(message);
        }
        if (std::any_of(sizes.begin(), sizes.end(), [](int64_t s) { return s <= 0; })) {
            throw dravik::Error(message);
        }
        m_handle->m_tileSize = Vector3u64{static_cast<uint64_t>(sizes[0]), static_cast<uint64_t>(sizes[1]),
                                          static_cast<uint64_t>(sizes[2])};
        QUENZA_LOG_INFO("Tile size set to {}", m_handle->m_tileSize.toString());
    } else if (name == "compressor") {
        if (!value || !value->isString()) {
            throw dravik::Error("compressor option shall be a string");
        }
        const std::string compressor = dravik::VariantDataValueConverter::toString(*value);
        if (compressor == VxtHandle::GZIP_COMPRESSOR) {
            m_handle->m_compressor = compressor;
            m_handle->m_compressed = true;
        } else if (compressor.empty()) {
            m_handle->m_compressor.clear();
            m_handle->m_compressed = false;
        } else {
            throw dravik::Error("Compressor not supported");
        }
    } else if (name == "compressionLevel") {
        const char* message = "Invalid level of compression: should be between 1 and 9";
        int64_t level = 0;
        try {
            level = dravik::VariantDataValueConverter::toInt64(value);
        } catch (const dravik::Error&) {
            throw dravik::Error(message);
        }
        if (level < 1 || level > 9) {
            throw dravik::Error(message);
        }
        m_handle->m_compressionLevel = static_cast<uint64_t>(level);
    } else if (name == "histogram") {
        if (m_handle->m_dataType.isFloatingPoint()) {
            throw dravik::Error("Histogram is not available for floating data");
        }
        m_handle->m_histogram = dravik::VariantDataValueConverter::toInt64(value) != 0;
    } else {
        throw dravik::Error("impossible to set options");
    }
}

void VxtWriter::writeAll()
{
    writeInit();
    writeData();
    writeFinish();
}

void VxtWriter::writeInit()
{
    if (m_state != CREATED) {
        throw EncodingError("Calling writeInit again is not accepted");
    }
    const Vector3u64 size(m_handle->m_volumeSize);
    const Vector3u64& tileSize = m_handle->m_tileSize;
    // Checked before the grid exists: a grid of too many levels may not fit in memory.
    if (VxtGrid::levelCountOf(VxtGrid::level0TilingGrid(size, tileSize)) > MAX_LEVELS) {
        throw EncodingError("Max level count is reached");
    }
    const uint64_t elementBytes = m_handle->m_dataType.byteCount();
    if (tileSize[0] > VxtExtractor::MAX_TILE_BYTES / tileSize[1] / tileSize[2] / elementBytes) {
        throw EncodingError(fmt::format("VXT tiles of ({}) voxels are larger than the {} bytes supported",
                                        tileSize.toString(), VxtExtractor::MAX_TILE_BYTES)
                                .c_str());
    }
    const uint64_t tileCount = VxtGrid::tileCountOf(VxtGrid::level0TilingGrid(size, tileSize));
    if (tileCount > VxtExtractor::MAX_TILE_COUNT) {
        throw EncodingError(fmt::format("VXT volume of size ({}) in tiles of ({}) has {} tiles, more than the {} "
                                        "supported",
                                        size.toString(), tileSize.toString(), tileCount, VxtExtractor::MAX_TILE_COUNT)
                                .c_str());
    }
    m_grid = std::make_shared<VxtGrid>(size, m_handle->m_dataType, tileSize);
    m_handle->m_tileIndexer = dravik::Indexer(dravik::VectorXu64(tileSize), m_handle->m_dataType);
    m_handle->m_numTileInfos = m_grid->tilesCount();
    m_handle->m_tileInfos.assign(m_handle->m_numTileInfos, VxtHandle::DataCompressInfo{});
    m_statistics = std::make_shared<ImageProcessing>(m_handle->m_dataType, m_handle->m_histogram);
    m_state = INITIALISED;
}

void VxtWriter::writeData()
{
    if (m_state != INITIALISED) {
        throw EncodingError("Calling writeData at wrong step");
    }
    if (!m_inputInMemory) {
        const Vector3u64& t = m_handle->m_tileSize;
        m_input = std::make_shared<CacheImageView>(m_input, dravik::VectorXu64{4 * t[0], 2 * t[1], 2 * t[2]});
        m_inputInMemory = true;
    }
    try {
        write();
    } catch (...) {
        // The statistics and the data file are half done: no second attempt.
        m_state = FAILED;
        throw;
    }
    m_state = DATA_WRITTEN;
}

void VxtWriter::stopPipeline()
{
    if (m_pipeline) {
        m_pipeline->stop();
    }
    // The compression stage hands tiles to the write stage: it goes first.
    m_compressionScheduler.reset();
    m_writeScheduler.reset();
    m_root.reset();
}

void VxtWriter::write()
{
    m_root = buildOctreeTiles(m_grid->levelCount() - 1, Vector3u64{0, 0, 0});
    const uint64_t workers = compressionWorkers(std::thread::hardware_concurrency());
    m_pipeline = std::make_shared<PipelineState>(maxTilesInFlight(m_handle->m_compressed ? workers : 1));
    try {
        m_writeScheduler = std::make_shared<WriteScheduler>(m_handle, m_grid, m_pipeline);
        if (m_handle->m_compressed) {
            m_compressionScheduler =
                std::make_shared<CompressionScheduler>(workers, m_handle, m_writeScheduler, m_pipeline);
        }
        createAndWriteTilesFromTree(m_root);
        if (m_compressionScheduler) {
            m_compressionScheduler->join();
        }
        m_writeScheduler->join();
        m_pipeline->rethrowIfFailed();
    } catch (...) {
        m_peakTilesInFlight = m_pipeline->peakTilesInFlight();
        stopPipeline();
        throw;
    }
    m_peakTilesInFlight = m_pipeline->peakTilesInFlight();
    m_compressionScheduler.reset();
    m_writeScheduler.reset();
    m_root.reset();
    m_pipeline.reset();

    dravik::StreamAccess& data = *m_handle->m_dataStream;
    if (m_handle->m_compressed) {
        const std::vector<uint8_t> table = VxtHandle::encodeTable(m_handle->m_tileInfos);
        data.seek(0, dravik::SeekOrigin::BEGIN);
        if (data.write(table.size(), table.data()) != table.size()) {
            throw dravik::Error("VXT data file: the tile table could not be written");
        }
    }
    data.flush();
}

std::shared_ptr<TileNode> VxtWriter::buildOctreeTiles(uint64_t level, const Vector3u64& position)
{
    auto node = std::make_shared<TileNode>();
    node->position = position;
    node->level = level;
    node->region = m_grid->regionTile(position, level);
    if (level == 0) {
        node->view = dravik::ImageViewFactory::extractRegion(
            dravik::ImageViewFactory::fromImageView(m_input, nullptr, nullptr), dravik::RegionXu64(node->region));
        return node;
    }
    std::vector<Vector3u64> children;
    m_grid->getOctreeTiles(position, children);
    for (const Vector3u64& child : children) {
        if (m_grid->tileExists(level - 1, child)) {
            node->children.push_back(buildOctreeTiles(level - 1, child));
        }
    }
    return node;
}

void VxtWriter::subsampleInto(dravik::ImageView& parentImage, const TileNode& parent, const TileNode& child) const
{
    // Level k voxel i is level k-1 voxel 2i: a child starting on an odd voxel skips it,
    // and its every-second voxels go where they fall in the parent, at their own size.
    const Vector3u64& childOrigin = child.region.origin();
    const Vector3u64& childSize = child.region.size();
    const Vector3u64 skip{childOrigin[0] % 2, childOrigin[1] % 2, childOrigin[2] % 2};
    Vector3u64 kept;
    for (size_t i = 0; i < 3; ++i) {
        if (childSize[i] <= skip[i]) {
            return;
        }
        kept[i] = childSize[i] - skip[i];
    }
    const Vector3u64 target = (childOrigin + skip) / uint64_t(2) - parent.region.origin();
    Vector3u64 count = ceilHalf(kept);
    const dravik::VectorXu64& parentShape = parentImage.shape();
    for (size_t i = 0; i < 3; ++i) {
        if (target[i] >= parentShape[i]) {
            return;
        }
        count[i] = std::min(count[i], parentShape[i] - target[i]);
    }
    auto childImage = dravik::ImageViewProvider::toImage(child.view);
    const dravik::DataType type = m_handle->m_dataType;
    const uint64_t elementBytes = type.byteCount();
    const auto* source = static_cast<const uint8_t*>(childImage->bufferReadOnly())
        + (skip[0] + childSize[0] * (skip[1] + childSize[1] * skip[2])) * elementBytes;
    const dravik::VectorXu64 everySecond =
        dravik::Indexer::denseStrides(dravik::VectorXu64(childSize), elementBytes) * uint64_t(2);
    const dravik::VectorXu64 size(count);
    dravik::RegionCopier(dravik::Indexer(size, type, everySecond), dravik::VectorXu64(3, 0),
                         dravik::Indexer(parentShape, type), dravik::VectorXu64(target), size, type)
        .copy(source, parentImage.buffer());
}

void VxtWriter::createAndWriteTilesFromTree(const std::shared_ptr<TileNode>& node)
{
    auto image = dravik::ImageViewFactory::allocate(dravik::VectorXu64(node->region.size()), m_handle->m_dataType);
    if (node->level == 0) {
        // The one read of these voxels: statistics, the parent and the pipeline share it.
        auto source = dravik::ImageViewProvider::toImage(node->view);
        source->readRegion(dravik::RegionXu64::fullRegion(source->shape()), image->buffer());
    } else {
        for (const auto& child : node->children) {
            createAndWriteTilesFromTree(child);
            subsampleInto(*image, *node, *child);
            child->view.reset();
        }
    }
    node->view = image;
    if (node->level == 0) {
        m_statistics->processTile(node);
    }
    auto copy = std::make_shared<TileNode>();
    copy->view = node->view;
    copy->position = node->position;
    copy->level = node->level;
    copy->region = node->region;
    m_pipeline->acquire();
    if (m_compressionScheduler) {
        m_compressionScheduler->pushTile(std::move(copy));
    } else {
        m_writeScheduler->pushTile(std::move(copy));
    }
}

void VxtWriter::writeFinish()
{
    if (m_state != DATA_WRITTEN) {
        throw EncodingError("Calling writeFinish at wrong step");
    }
    writeVxtHeader();
    m_state = FINISHED;
}

void VxtWriter::writeVxtHeader()
{
    ptree tree;
    const std::string root = "VolumeInformation.";
    const char* axes[] = {"U", "V", "W"};
    tree.put(root + "WordFormat", "LittleEndian");
    for (size_t i = 0; i < 3; ++i) {
        tree.put(root + "Size." + axes[i], m_handle->m_volumeSize[i]);
    }
    tree.put(root + "DataType", dataTypeToStringVxt(m_handle->m_dataType));
    for (size_t i = 0; i < 3; ++i) {
        tree.put(root + "TileSize." + axes[i], m_handle->m_tileSize[i]);
    }
    tree.put(root + "DataFilename", m_handle->m_dataAccess->resourceId());
    tree.put(root + "NumSignificantBits", m_handle->m_dataType.bitDepth());
    const dravik::Vector2d& range = m_statistics->range();
    if (m_handle->m_dataType.isFloatingPoint()) {
        tree.put(root + "Min", static_cast<float>(range[0]));
        tree.put(root + "Max", static_cast<float>(range[1]));
    } else {
        tree.put(root + "Min", range[0]);
        tree.put(root + "Max", range[1]);
    }
    const dravik::SpatialCalibrationProperty& calibration = m_handle->m_properties->calibration();
    tree.put(root + "CoordinateSystem.Origin", header::formatTriple(calibration.origin()));
    for (size_t i = 0; i < 3; ++i) {
        const dravik::Vector3d extent = calibration.directions().direction(i)
            * (calibration.spacing()[i] * static_cast<double>(m_handle->m_volumeSize[i]));
        tree.put(root + "CoordinateSystem.TotalExtent." + axes[i], header::formatTriple(extent));
    }
    if (!m_handle->m_compressor.empty()) {
        tree.put(root + "TileCompression.Compressor", m_handle->m_compressor);
        tree.put(root + "TileCompression.Level", m_handle->m_compressionLevel);
        tree.put(root + "TileCompression.NumTileInfos", m_handle->m_numTileInfos);
    }
    if (m_handle->m_histogram) {
        writeHistogram(tree);
    }
    boost::property_tree::write_xml(*m_headerStream, tree,
                                    boost::property_tree::xml_writer_make_settings<std::string>('\t', 1, "utf-8"));
    m_headerStream->flush();
    if (!*m_headerStream) {
        throw dravik::Error("VXT header could not be written");
    }
    m_output->flush();
}

void VxtWriter::writeHistogram(ptree& tree) const
{
    const std::vector<uint64_t>& bins = m_statistics->bins();
    if (std::all_of(bins.begin(), bins.end(), [](uint64_t n) { return n == 0; })) {
        return;
    }
    ptree& histogram = tree.put_child("VolumeInformation.Histogram", ptree());
    for (uint64_t i = 0; i < bins.size(); ++i) {
        if (bins[i] != 0) {
            histogram.add("V", m_statistics->histoValue(i));
            histogram.add("N", bins[i]);
        }
    }
}

} // namespace quenza::vxt
