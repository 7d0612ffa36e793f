#include <GatanFrameExtractor.h>

#include <common/PluginLogger.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/DataConverter.h>
#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/RegionCopier.h>
#include <dravik/VariantDataValueConverter.h>

#include <boost/endian/conversion.hpp>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace quenza::gatan {

namespace {

constexpr int32_t BINARY_IMAGE = 14;
// Colour pixels are stored as 4 bytes: three channels and one byte never used.
constexpr uint64_t COLOUR_PIXEL_BYTES = 4;
// Origin and spacing have three components.
constexpr size_t CALIBRATED_AXES = 3;

dravik::DataType imageElementType(int32_t code)
{
    switch (code) {
    case 1:
        return dravik::DataTypeId::INT16;
    case 2:
        return dravik::DataTypeId::FLOAT;
    case 3:
        return dravik::DataTypeId::COMPLEX_FLOAT;
    case 5:
        throw dravik::Error("Unsupported packed complex format");
    case 6:
        return dravik::DataTypeId::UINT8;
    case 7:
        return dravik::DataTypeId::INT32;
    case 8:
        return dravik::DataTypeId::VEC3_UINT8;
    case 9:
        return dravik::DataTypeId::INT8;
    case 10:
        return dravik::DataTypeId::UINT16;
    case 11:
        return dravik::DataTypeId::UINT32;
    case 12:
        return dravik::DataTypeId::DOUBLE;
    case 13:
        return dravik::DataTypeId::COMPLEX_DOUBLE;
    case BINARY_IMAGE:
        return dravik::DataTypeId::UINT8;
    case 23:
        return dravik::DataTypeId::VEC3_UINT8;
    default:
        throw dravik::Error(fmt::format("Unsupported data type: {0}", code));
    }
}

bool isColour(const dravik::DataType& type)
{
    return type == dravik::DataType(dravik::DataTypeId::VEC3_UINT8);
}

std::shared_ptr<dravik::VariantDataValue> requiredValue(const dravik::MetadataNode& imgNode, const char* key,
                                                        const char* missing)
{
    const auto node = imgNode.child(key);
    if (!node || !node->hasValue()) {
        throw dravik::Error(missing);
    }
    return node->value();
}

/// The value of the child `key` of `entry` as a double, or `fallback` when there is none.
double calibrationNumber(const dravik::MetadataNode& entry, const char* key, double fallback)
{
    const auto node = entry.child(key);
    return node && node->hasValue() ? dravik::VariantDataValueConverter::toDouble(node->value()) : fallback;
}

} // namespace

GatanFrameExtractor::GatanFrameExtractor(std::shared_ptr<GatanHandle> handle,
                                         const std::shared_ptr<const dravik::MetadataNode>& imgNode,
                                         dravik::View* viewParent)
    : m_handle(std::move(handle))
{
    if (!m_handle || !m_handle->m_reader || !imgNode) {
        throw dravik::InvalidArgument("A DM frame needs an open file and its ImageData node");
    }
    m_metadata = m_handle->m_metadata;
    QUENZA_LOG_DEBUG("Parsing ImageData tag to extract frame info");
    m_capabilities = dravik::ImageCapability::READ;
    readShape(*imgNode);
    readType(*imgNode);
    m_dataOffset = dravik::VariantDataValueConverter::toUint64(
        requiredValue(*imgNode, "DataOffset", "ImageData has no \"DataOffset\" (its \"Data\" array is missing)"));

    m_properties = dravik::ImageProperties::fromDataType(m_type);
    dravik::ImageInfoProperty& info = m_properties->imageInfo();
    if (m_shape.size() == 2) {
        info.setAxesInterpretation(dravik::ImageTypeId::IMAGE);
    }
    if (isColour(m_type)) {
        info.setInterpretation(dravik::ImageInterpretation::RGB);
    } else if (m_imageDataType == BINARY_IMAGE) {
        info.setBitDepth(1);
        info.setValueRange(0.0, 1.0);
        info.setInterpretation(dravik::ImageInterpretation::BINARY);
    }
    readCalibration(imgNode);
    checkPixels();
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{0} frame Extractor", common::PLUGIN_NAME), viewParent));
}

GatanFrameExtractor::~GatanFrameExtractor() = default;

void GatanFrameExtractor::readShape(const dravik::MetadataNode& imgNode)
{
    const auto dimensions = imgNode.child("Dimensions");
    if (!dimensions) {
        throw dravik::Error("ImageData has no \"Dimensions\"");
    }
    if (dimensions->childCount() == 0) {
        throw dravik::Error("ImageData \"Dimensions\" has no entries");
    }
    m_shape = dravik::VectorXu64(dimensions->childCount());
    for (size_t i = 0; i < dimensions->childCount(); ++i) {
        const auto& entry = dimensions->children()[i];
        if (!entry->hasValue()) {
            throw dravik::Error(fmt::format("ImageData dimension {0} has no value", i));
        }
        const int64_t size = dravik::VariantDataValueConverter::toInt64(entry->value());
        if (size < 0) {
            throw dravik::Error(fmt::format("ImageData dimension {0} has the negative size {1}", i, size));
        }
        m_shape[i] = static_cast<uint64_t>(size);
    }
}

void GatanFrameExtractor::readType(const dravik::MetadataNode& imgNode)
{
    m_imageDataType =
        dravik::VariantDataValueConverter::toInt32(requiredValue(imgNode, "DataType", "ImageData has no \"DataType\""));
    m_type = imageElementType(m_imageDataType);

    m_storedElementBytes = isColour(m_type) ? COLOUR_PIXEL_BYTES : m_type.byteCount();
    // Strides are products of the sizes before them: none of these products may wrap.
    uint64_t product = m_storedElementBytes;
    for (uint64_t size : m_shape) {
        if (size != 0) {
            if (product > std::numeric_limits<uint64_t>::max() / size) {
                throw dravik::Error(fmt::format("ImageData dimensions ({0}) describe more bytes than a file can hold",
                                                fmt::join(m_shape, ", ")));
            }
            product *= size;
        }
    }
    if (isColour(m_type)) {
        dravik::VectorXu64 strides(m_shape.size());
        uint64_t stride = COLOUR_PIXEL_BYTES;
        for (size_t i = 0; i < m_shape.size(); ++i) {
            strides[i] = stride;
            stride *= m_shape[i];
        }
        m_indexer = dravik::Indexer(m_shape, m_type, strides);
    } else {
        m_indexer = dravik::Indexer(m_shape, m_type);
    }
}

void GatanFrameExtractor::readCalibration(const std::shared_ptr<const dravik::MetadataNode>& imgNode)
{
    const auto calibrations = dravik::MetadataNodeHelper::getNode(imgNode, "Calibrations/Dimension");
    if (!calibrations) {
        return;
    }
    dravik::Vector3d origin{0.0, 0.0, 0.0};
    dravik::Vector3d spacing{1.0, 1.0, 1.0};
    std::vector<std::string> units(m_shape.size());
    // Entries past the frame's dimensions, or past the three axes of a calibration, have nowhere to go.
    const size_t used = std::min({calibrations->childCount(), m_shape.size(), CALIBRATED_AXES});
    for (size_t i = 0; i < used; ++i) {
        const dravik::MetadataNode& entry = *calibrations->children()[i];
        origin[i] = calibrationNumber(entry, "Origin", origin[i]);
        spacing[i] = calibrationNumber(entry, "Scale", spacing[i]);
        const auto unit = entry.child("Units");
        if (unit && unit->hasValue()) {
            units[i] = dravik::VariantDataValueConverter::toString(unit->value());
        }
    }
    dravik::SpatialCalibrationProperty& calibration = m_properties->calibration();
    calibration.setOrigin(origin);
    calibration.setSpacing(spacing);
    calibration.setUnit(units.front());
}

void GatanFrameExtractor::checkPixels()
{
    if (!m_handle->m_random) {
        m_handle->m_random = dravik::RandomAccessFactory::fromStream(m_handle->m_reader);
    }
    const uint64_t end = m_handle->m_random->size();
    const uint64_t bytes = m_indexer.byteCount();
    if (m_dataOffset > end || bytes > end - m_dataOffset) {
        throw dravik::Error(fmt::format("The image needs {0} bytes from offset {1}, past the end of the file at {2}",
                                        bytes, m_dataOffset, end));
    }
    const auto array = m_handle->m_dataArrayBytes.find(m_dataOffset);
    if (array != m_handle->m_dataArrayBytes.end() && bytes > array->second) {
        throw dravik::Error(fmt::format("The image needs {0} bytes but its \"Data\" array holds {1}", bytes,
                                        array->second));
    }
}

void GatanFrameExtractor::readStored(uint64_t offset, uint64_t size, void* dst) const
{
    auto* out = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    while (done < size) {
        const uint64_t got = m_handle->m_random->read(m_dataOffset + offset + done, size - done, out + done);
        if (got == 0) {
            throw dravik::Error(fmt::format("Unexpected end of file at offset {0}: {1} bytes needed, {2} read",
                                            m_dataOffset + offset, size, done));
        }
        done += got;
    }
}

void GatanFrameExtractor::readRegion(const dravik::RegionXu64& region, void* dst)
{
    const size_t dims = m_shape.size();
    if (region.dimensionCount() != dims || !region.isInside(m_shape)) {
        throw dravik::InvalidArgument(fmt::format("Region origin ({0}) size ({1}) leaves the image of shape ({2})",
                                                  fmt::join(region.origin(), ", "), fmt::join(region.size(), ", "),
                                                  fmt::join(m_shape, ", ")));
    }
    if (region.isEmpty()) {
        return;
    }
    const dravik::VectorXu64& strides = m_indexer.strides();
    const bool dense = !isColour(m_type);
    // Dimensions 0 .. whole - 1 are read whole: below `whole`, runs are contiguous in the file.
    size_t whole = 0;
    while (whole < dims && region.origin()[whole] == 0 && region.size()[whole] == m_shape[whole]) {
        ++whole;
    }

    // Pieces are boxes: the region's extent below `axis`, a run along `axis`, one index
    // above. `axis` is the highest for which a piece is contiguous, or fits the scratch
    // buffer without reading much more than it needs.
    constexpr uint64_t slack = uint64_t(64) << 10;
    size_t axis = 0;
    uint64_t run = 1;
    for (size_t s = dims; s-- > 0;) {
        if (dense && s <= whole) {
            axis = s;
            run = region.size()[s];
            break;
        }
        uint64_t span = m_storedElementBytes;
        uint64_t needed = m_storedElementBytes;
        for (size_t i = 0; i < s; ++i) {
            span += (region.size()[i] - 1) * strides[i];
            needed *= region.size()[i];
        }
        const uint64_t step = strides[s];
        if (span > SCRATCH_BYTES || span > 4 * needed + slack) {
            continue;
        }
        uint64_t fit = (SCRATCH_BYTES - span) / step + 1;
        if (step > 4 * needed) {
            fit = std::min(fit, (slack + step - span) / (step - 4 * needed));
        }
        axis = s;
        run = std::clamp<uint64_t>(fit, 1, region.size()[s]);
        break;
    }

    const dravik::Indexer packed(region.size(), m_type);
    dravik::VectorXu64 origin = region.origin();
    dravik::VectorXu64 size(dims, 1);
    for (size_t i = 0; i < axis; ++i) {
        size[i] = region.size()[i];
    }
    std::unique_ptr<uint8_t[]> scratch;
    auto* out = static_cast<uint8_t*>(dst);
    while (true) {
        size[axis] = std::min(run, region.origin()[axis] + region.size()[axis] - origin[axis]);
        uint64_t span = m_storedElementBytes;
        for (size_t i = 0; i < dims; ++i) {
            span += (size[i] - 1) * strides[i];
        }
        const dravik::VectorXu64 within = origin - region.origin();
        if (dense && axis <= whole) {
            readStored(m_indexer.offset(origin), span, out + packed.offset(within));
        } else {
            if (!scratch) {
                scratch.reset(new uint8_t[span]);
            }
            readStored(m_indexer.offset(origin), span, scratch.get());
            dravik::RegionCopier(dravik::Indexer(size, m_type, strides), dravik::VectorXu64(dims, 0), packed, within,
                                 size, m_type)
                .copy(scratch.get(), out);
        }
        // The next piece in file order: along `axis` first, then the dimensions above it.
        origin[axis] += size[axis];
        size_t carry = axis;
        while (carry < dims && origin[carry] == region.origin()[carry] + region.size()[carry]) {
            origin[carry] = region.origin()[carry];
            ++carry;
            if (carry < dims) {
                ++origin[carry];
            }
        }
        if (carry == dims) {
            break;
        }
    }
    if constexpr (boost::endian::order::native == boost::endian::order::big) {
        if (dense) {
            dravik::DataConverter::endianReverse(m_type, dst, dst, region.elementCount());
        }
    }
}

} // namespace quenza::gatan
