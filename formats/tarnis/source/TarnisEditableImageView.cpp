#include <TarnisEditableImageView.h>

#include <TarnisDescription.h>
#include <TarnisMetadata.h>

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace quenza::tarnis {

namespace {

constexpr uint64_t MOVE_CHUNK_BYTES = uint64_t(8) << 20;

// File stride of each shape position for a layout of `gc` channels and `gz` slices.
std::vector<uint64_t> positionStrides(const int8_t* indexShape, size_t dims, uint64_t ocode, uint64_t rowWidth,
                                      uint64_t planeWidth, uint64_t gc, uint64_t gz)
{
    const uint64_t roleStrides[AXIS_COUNT] = {ocode, rowWidth, gc * planeWidth, planeWidth, gz * gc * planeWidth};
    std::vector<uint64_t> strides(dims, 0);
    for (size_t role = 0; role < AXIS_COUNT; ++role) {
        if (indexShape[role] >= 0 && static_cast<size_t>(indexShape[role]) < dims) {
            strides[static_cast<size_t>(indexShape[role])] = roleStrides[role];
        }
    }
    return strides;
}

} // namespace

struct TarnisEditableImageView::SavedState {
    image record;
    dravik::VectorXu64 shape;
    dravik::DataType type;
    std::shared_ptr<dravik::ImageProperties> properties;
    std::shared_ptr<dravik::MetadataNode> metadata;
    dravik::RegionXu64 fullRegion;
    int8_t indexShape[AXIS_COUNT];
    int8_t indexInShape[AXIS_COUNT];
    uint64_t rowWidth;
    uint64_t planeWidth;
    std::vector<int32_t> overlayHeader;
};

TarnisEditableImageView::TarnisEditableImageView(std::shared_ptr<dravik::StreamAccess> imageStream,
                                                 const std::string& imageName, dravik::View* rootView)
    : TarnisImageView(imageStream, imageName, rootView)
    , m_imageWriteStream(std::move(imageStream))
{
    m_capabilities = dravik::ImageCapabilitySet{dravik::ImageCapability::READ, dravik::ImageCapability::WRITE,
                                                dravik::ImageCapability::RESHAPE};
    updateIndexInShape(m_properties->imageInfo().axesInterpretation(), m_indexInShape);
    std::memset(&m_tarnis6Description, 0, sizeof m_tarnis6Description);
    const image& info = m_tarnisImageInfo;
    if (info.m_offsetOverlay != 0 && info.m_imageVersion < TARNIS_WRITER_VERSION) {
        // What the overlay view makes of such a block, stored with it once the file
        // becomes a version 6500 file.
        m_overlayHeader = {info.ox, info.oy, info.oz, info.oc, info.ot, info.gx, info.gy, 1, 1, 1, I_LABEL,
                           (info.gtype & ~IM_COLOR_ANY) | IM_MONO};
    }
}

TarnisEditableImageView::~TarnisEditableImageView() = default;

dravik::ImageCapabilitySet TarnisEditableImageView::capabilities() const
{
    return m_capabilities;
}

TarnisEditableImageView::SavedState TarnisEditableImageView::save() const
{
    SavedState state{m_tarnisImageInfo, m_shape,       m_type,        m_properties, m_metadata, m_fullRegion, {},
                     {},                m_rowWidth,    m_planeWidth,  m_overlayHeader};
    std::copy(std::begin(m_indexShape), std::end(m_indexShape), state.indexShape);
    std::copy(std::begin(m_indexInShape), std::end(m_indexInShape), state.indexInShape);
    return state;
}

void TarnisEditableImageView::restore(SavedState& state)
{
    m_tarnisImageInfo = std::move(state.record);
    m_shape = state.shape;
    m_type = state.type;
    m_properties = state.properties;
    m_metadata = state.metadata;
    m_fullRegion = state.fullRegion;
    std::copy(std::begin(state.indexShape), std::end(state.indexShape), m_indexShape);
    std::copy(std::begin(state.indexInShape), std::end(state.indexInShape), m_indexInShape);
    m_rowWidth = state.rowWidth;
    m_planeWidth = state.planeWidth;
    m_overlayHeader = std::move(state.overlayHeader);
}

std::vector<char> TarnisEditableImageView::readBlock(uint64_t offset, uint64_t size)
{
    std::vector<char> bytes(size);
    m_imageStream->seek(static_cast<int64_t>(offset), dravik::SeekOrigin::BEGIN);
    if (m_imageStream->read(size, bytes.data()) < size) {
        throw dravik::Error("Cannot read a block of the image");
    }
    return bytes;
}

void TarnisEditableImageView::movePixels(uint64_t from, uint64_t to, uint64_t size)
{
    std::vector<char> chunk(std::min(size, MOVE_CHUNK_BYTES));
    auto moveOne = [&](uint64_t at, uint64_t count) {
        m_imageStream->seek(static_cast<int64_t>(from + at), dravik::SeekOrigin::BEGIN);
        if (m_imageStream->read(count, chunk.data()) < count) {
            throw dravik::Error("Cannot move the pixels of the image");
        }
        m_imageStream->seek(static_cast<int64_t>(to + at), dravik::SeekOrigin::BEGIN);
        if (m_imageWriteStream->write(count, chunk.data()) < count) {
            throw dravik::Error("Cannot move the pixels of the image");
        }
    };
    // Front to back when moving down, back to front when moving up, so that no byte is
    // overwritten before it is moved.
    if (to < from) {
        for (uint64_t at = 0; at < size; at += chunk.size()) {
            moveOne(at, std::min<uint64_t>(chunk.size(), size - at));
        }
    } else {
        for (uint64_t remaining = size; remaining > 0;) {
            const uint64_t count = std::min<uint64_t>(chunk.size(), remaining);
            remaining -= count;
            moveOne(remaining, count);
        }
    }
}

void TarnisEditableImageView::rewriteFile(bool keepRegionList)
{
    image& info = m_tarnisImageInfo;
    std::memset(&m_tarnis6Description, 0, sizeof m_tarnis6Description);
    V6desc_im& d = m_tarnis6Description;
    updateDescription(d, this, info.m_calibration, info.header, info.m_lutR, info.m_lutG, info.m_lutB, nullptr,
                      m_indexInShape);

    // The pixels stay where the view reads them: a rewrite that would change the place of
    // any plane of the view (planes hidden by the file's image type, say) is refused.
    const size_t dims = m_shape.size();
    const auto ocode = static_cast<uint64_t>(info.ocode);
    const std::vector<uint64_t> before =
        positionStrides(m_indexShape, dims, ocode, m_rowWidth, m_planeWidth, static_cast<uint64_t>(info.gc),
                        static_cast<uint64_t>(info.gz));
    const std::vector<uint64_t> after =
        positionStrides(m_indexInShape, dims, ocode, m_rowWidth, m_planeWidth, static_cast<uint64_t>(d.gc),
                        static_cast<uint64_t>(d.gz));
    for (size_t p = 0; p < dims; ++p) {
        if (m_shape[p] > 1 && before[p] != after[p]) {
            throw dravik::Error("Cannot rewrite the image: its planes would move in the file");
        }
    }

    // Blocks that are carried over are read before anything is written over them.
    info.m_aoiList = keepRegionList && info.m_aoiListSize > 0 ? readBlock(info.m_offsetAoiList, info.m_aoiListSize)
                                                              : std::vector<char>();
    info.graphic = info.m_offsetOverlay != 0 ? readBlock(info.m_offsetOverlay, info.m_graphicSize) : std::vector<char>();
    if (!info.graphic.empty() && !m_overlayHeader.empty()) {
        std::vector<char> withHeader(OVERLAY_HEADER_SIZE);
        std::memcpy(withHeader.data(), m_overlayHeader.data(), OVERLAY_HEADER_SIZE);
        withHeader.insert(withHeader.end(), info.graphic.begin(), info.graphic.end());
        info.graphic = std::move(withHeader);
    }
    const uint64_t blockLimit = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    if (info.m_aoiList.size() > blockLimit || info.graphic.size() > blockLimit || info.m_segment.size() > blockLimit) {
        throw dravik::Error("Cannot rewrite the image: a block is too large");
    }
    d.aoilistsize = static_cast<int32_t>(info.m_aoiList.size());
    d.graphicsize = static_cast<int32_t>(info.graphic.size());
    d.data3dsize = info.m_segment.empty() ? 0 : static_cast<int32_t>(info.m_segment.size() - 1);
    const int64_t other = int64_t(d.headersize) + d.aoilistsize + d.graphicsize + d.scalesize + d.data3dsize
        + d.lutsize;
    if (other > std::numeric_limits<int32_t>::max() - d.hdr_sys) {
        throw dravik::Error("Cannot rewrite the image: its blocks are too large");
    }
    d.hdr_other = static_cast<int32_t>(other);
    d.hdr_data = d.hdr_sys + d.hdr_other;

    const uint64_t pixelBytes = pixelDataSize(d);
    if (info.m_offsetFirstPixel != V6_DESCRIPTOR_SIZE) {
        // Versions 3 and 4 keep their pixels elsewhere than after a version 6 descriptor.
        m_imageStream->seek(0, dravik::SeekOrigin::END);
        const uint64_t fileSize = m_imageStream->tell();
        const uint64_t available = fileSize > info.m_offsetFirstPixel ? fileSize - info.m_offsetFirstPixel : 0;
        movePixels(info.m_offsetFirstPixel, V6_DESCRIPTOR_SIZE, std::min(pixelBytes, available));
    }
    if (writeV6Heading(*m_imageWriteStream, *m_imageStream, d) < 0) {
        throw dravik::Error("Cannot write the heading of the image");
    }
    info.m_offsetFirstPixel = V6_DESCRIPTOR_SIZE;
    writeV6Ending(*m_imageWriteStream, *m_imageStream, &info, d);

    // The record describes the file's descriptor from now on.
    info.magic = d.i_magic;
    info.gx = d.gx;
    info.gy = d.gy;
    info.gz = d.gz;
    info.gc = d.gc;
    info.gt = d.gt;
    info.ox = d.ox;
    info.oy = d.oy;
    info.oz = d.oz;
    info.oc = d.oc;
    info.ot = d.ot;
    info.gtype = d.gtype;
    info.grid = d.grid;
    info.gcode = d.gcode;
    info.gbits = d.gbits;
    info.m_imageVersion = d.version;
    info.m_imageVersionAsFloat = d.i_magic == I_MAGICV66D ? 6.6F : 6.0F;
    const uint64_t trailing = V6_DESCRIPTOR_SIZE + pixelBytes;
    info.m_offsetAoiList = trailing + static_cast<uint64_t>(d.headersize);
    info.m_aoiListSize = static_cast<uint64_t>(d.aoilistsize);
    info.m_offsetOverlay = d.graphicsize > 0 ? info.m_offsetAoiList + info.m_aoiListSize : 0;
    info.m_graphicSize = static_cast<uint64_t>(d.graphicsize);
    info.m_aoiList = std::vector<char>();
    info.graphic = std::vector<char>();
    m_overlayHeader.clear();
    std::copy(std::begin(m_indexInShape), std::end(m_indexInShape), m_indexShape);
    if (auto overlay = m_overlay.lock(); overlay && info.m_offsetOverlay != 0) {
        overlay->relocate(info.m_offsetOverlay + OVERLAY_HEADER_SIZE);
    }
}

void TarnisEditableImageView::takeTablesAndHeader(const std::shared_ptr<const dravik::MetadataNode>& metadata)
{
    std::shared_ptr<const dravik::MetadataNode> tarnis = metadata ? metadata->child("TARNIS") : nullptr;
    if (!tarnis) {
        return;
    }
    image& info = m_tarnisImageInfo;
    std::string lutName;
    std::vector<uint16_t> lutR, lutG, lutB;
    updateLut(lutName, lutR, lutG, lutB, tarnis);
    checkLutSize(lutR.size());
    info.m_lutR = std::move(lutR);
    info.m_lutG = std::move(lutG);
    info.m_lutB = std::move(lutB);
    if (!lutName.empty()) {
        addHeaderField(info.header, "Lut", lutName);
    }
    updateHeaderField(info.header, metadata);
}

void TarnisEditableImageView::setProperties(std::shared_ptr<const dravik::ImageProperties> properties)
{
    if (!properties || !properties->isCompatibleWith(m_shape, m_type)) {
        throw dravik::InvalidArgument("Invalid properties");
    }
    const dravik::ImageInterpretation interpretation = properties->imageInfo().interpretation();
    if (!isValidDatatype(m_type, interpretation)) {
        throw dravik::InvalidArgument("Invalid image interpretation");
    }
    dravik::ImageType axes = properties->imageInfo().axesInterpretation();
    if (axes.isUnknown()) {
        axes = dravik::ImageType::defaultFor(m_shape.size());
    }
    const int channelPosition = axes.position(dravik::ImageTypeDimension::CHANNEL);
    const uint64_t channels = channelPosition >= 0 ? m_shape[static_cast<size_t>(channelPosition)] : 1;
    if (isColorInterpretation(interpretation)) {
        const uint32_t components = m_type.isVector() ? m_type.elementCount() : 0;
        const bool hasChannels = channelPosition >= 0 && channels >= 3;
        if (!hasChannels && components != 3 && components != 4) {
            throw dravik::InvalidArgument("Unsupported image interpretation");
        }
    }
    if ((interpretation == dravik::ImageInterpretation::LABEL || interpretation == dravik::ImageInterpretation::BINARY)
        && channels > 1) {
        throw dravik::InvalidArgument("Invalid image interpretation");
    }

    SavedState saved = save();
    try {
        image& info = m_tarnisImageInfo;
        const int32_t layoutFlags = info.gtype & (IM_3D | IM_SEQUENCE);
        info.gcode = determineGCode(m_type, interpretation);
        info.gtype = determineGType(interpretation, axes);
        // The segment block is laid out by these two flags: it no longer fits once they change.
        if ((info.gtype & (IM_3D | IM_SEQUENCE)) != layoutFlags) {
            info.m_segment.clear();
        }
        updateIndexInShape(axes, m_indexInShape);
        updateCalibration(info.m_calibration, properties->calibration(), m_metadata, m_indexInShape);
        updateCalibrationName(info.m_calibration, info.name.c_str());
        takeTablesAndHeader(m_metadata);
        auto copy = properties->clone();
        copy->imageInfo().setAxesInterpretation(axes);
        m_properties = copy;
        rewriteFile(true);
    } catch (...) {
        restore(saved);
        throw;
    }
}

void TarnisEditableImageView::setMetadata(std::shared_ptr<dravik::MetadataNode> metadata)
{
    if (!m_metadata && !metadata) {
        return;
    }
    if (!metadata) {
        throw dravik::InvalidArgument("Invalid metadata");
    }
    SavedState saved = save();
    try {
        image& info = m_tarnisImageInfo;
        m_metadata = metadata;
        updateCalibration(info.m_calibration, m_properties->calibration(), metadata, m_indexInShape);
        updateCalibrationName(info.m_calibration, info.name.c_str());
        takeTablesAndHeader(metadata);
        rewriteFile(true);
    } catch (...) {
        restore(saved);
        throw;
    }
}

void TarnisEditableImageView::write(const dravik::VectorXu64& index, const void* src)
{
    if (src == nullptr) {
        throw dravik::InvalidArgument("Invalid buffer");
    }
    m_imageStream->seek(static_cast<int64_t>(offsetFromIndex(index)), dravik::SeekOrigin::BEGIN);
    const auto size = static_cast<uint64_t>(m_tarnisImageInfo.ocode);
    if (m_imageWriteStream->write(size, src) < size) {
        throw dravik::Error(fmt::format("Cannot write one value ({})", index.toString()));
    }
    m_imageWriteStream->flush();
}

void TarnisEditableImageView::writeRegion(const dravik::RegionXu64& region, const void* buffer)
{
    if (buffer == nullptr) {
        throw dravik::InvalidArgument("Invalid buffer");
    }
    if (region.dimensionCount() != m_shape.size() || !m_fullRegion.contains(region)) {
        throw dravik::InvalidArgument("Invalid region");
    }
    // transferRegion only reads the buffer when writing.
    transferRegion(region, const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)), false, *m_imageWriteStream);
    m_imageWriteStream->flush();
}

void TarnisEditableImageView::reshape(const dravik::VectorXu64& shape, dravik::DataType dataType)
{
    if (shape == m_shape && dataType == m_type) {
        return;
    }
    SavedState saved = save();
    try {
        m_type = dataType;
        const bool extentsStorable = std::all_of(shape.begin(), shape.end(), [](uint64_t extent) {
            return extent >= 1 && extent <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
        });
        // A Tarnis image has at least a width and a height, and at most five axes.
        if (shape.size() < 2 || shape.size() > AXIS_COUNT || !extentsStorable) {
            throw dravik::InvalidArgument("Unsupported shape");
        }
        if (dataType.isVector()) {
            throw dravik::InvalidArgument("Unsupported data type (vector)");
        }
        if (!isValidDatatype(dataType, dravik::ImageInterpretation::UNKNOWN)) {
            throw dravik::InvalidArgument("Unsupported data type");
        }
        uint64_t newSize = dataType.byteCount();
        for (uint64_t extent : shape) {
            if (__builtin_mul_overflow(newSize, extent, &newSize)) {
                throw dravik::InvalidArgument("Unsupported shape");
            }
        }
        // The file must be long enough for the new pixels after a version 6 descriptor.
        m_imageStream->seek(0, dravik::SeekOrigin::END);
        const uint64_t needed = V6_DESCRIPTOR_SIZE + newSize;
        if (m_imageStream->tell() < needed) {
            const char zeroData = 0;
            m_imageStream->seek(static_cast<int64_t>(needed - 1), dravik::SeekOrigin::BEGIN);
            if (m_imageWriteStream->write(1, &zeroData) != 1) {
                throw dravik::Error("Cannot write the heading of the image");
            }
        }

        image& info = m_tarnisImageInfo;
        auto extent = [&shape](size_t position) {
            return position < shape.size() ? static_cast<int32_t>(shape[position]) : 1;
        };
        // Positions follow the axis order of the data model: slice, channel, then time.
        info.gx = extent(AXIS_X);
        info.gy = extent(AXIS_Y);
        info.gz = extent(AXIS_Z);
        info.gc = extent(AXIS_C);
        info.gt = extent(AXIS_T);
        info.ox = info.oy = info.oz = info.ot = info.oc = 1;
        for (size_t k = 0; k < AXIS_COUNT; ++k) {
            m_indexInShape[k] = k < shape.size() ? static_cast<int8_t>(k) : int8_t(-1);
        }
        info.gtype = shape.size() > AXIS_C ? IM_COLOR_MSRC : IM_MONO;
        if (shape.size() > AXIS_Z) {
            info.gtype |= IM_3D;
        }
        if (shape.size() > AXIS_T) {
            info.gtype |= IM_SEQUENCE;
        }
        info.gcode = determineGCode(dataType, dravik::ImageInterpretation::UNKNOWN);
        info.gbits = static_cast<int32_t>(dataType.bitDepth());
        info.header.clear();
        info.graphic.clear();
        info.m_lutR.clear();
        info.m_lutG.clear();
        info.m_lutB.clear();
        info.m_segment.clear();
        initCalibration(info.m_calibration);
        updateDravikInformation();
        std::copy(std::begin(m_indexShape), std::end(m_indexShape), m_indexInShape);
        rewriteFile(false);
        resetDravikMetadata();
    } catch (...) {
        restore(saved);
        throw;
    }
}

} // namespace quenza::tarnis
