#include <TarnisImageView.h>

#include <TarnisMetadata.h>

#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>

#include <vector>

namespace quenza::tarnis {

namespace {

using dravik::ImageInterpretation;
using dravik::ImageTypeDimension;

bool hasAllBits(int32_t value, int32_t mask)
{
    return (value & mask) == mask;
}

int32_t bitsOfOverlayCode(int32_t gcode)
{
    switch (gcode) {
    case I_FLOAT:
    case I_LONG:
    case I_LABEL32: return 32;
    case I_SHORT:
    case I_USHORT:
    case I_BIN:
    case I_LABEL: return 16;
    case I_CHR:
    case I_CHRU: return 8;
    default: throw dravik::Error(fmt::format("Invalid gcode: {0}", gcode));
    }
}

} // namespace

dravik::DataType getDatatypeFromTarnisType(int32_t gcode, int32_t gbits)
{
    switch (gcode) {
    case I_FLOAT: return dravik::DataTypeId::FLOAT;
    case I_LONG: return dravik::DataTypeId::INT32;
    case I_SHORT: return dravik::DataTypeId::INT16;
    case I_CHR: return dravik::DataTypeId::INT8;
    case I_USHORT: return dravik::DataTypeId::UINT16;
    case I_CHRU: return dravik::DataTypeId::UINT8;
    case I_BIN: return gbits == 8 ? dravik::DataTypeId::UINT8 : dravik::DataTypeId::UINT16;
    case I_LABEL32: return dravik::DataTypeId::UINT32;
    case I_LABEL: return dravik::DataTypeId::UINT16;
    default: throw dravik::Error(fmt::format("Unsupported datatype ({0} - {1})", gcode, gbits));
    }
}

TarnisImageView::TarnisImageView(std::shared_ptr<dravik::StreamAccess> imageStream, const std::string& imageName,
                                 dravik::View* rootView)
    : m_imageStream(std::move(imageStream))
    , m_fullRegion(dravik::VectorXu64(2, 0), dravik::VectorXu64(2, 0))
{
    image& info = m_tarnisImageInfo;
    initImage(info);
    dravik::StreamAccess& stream = *m_imageStream;
    stream.seek(0, dravik::SeekOrigin::BEGIN);
    info.name = imageName;
    if (stream.read(sizeof info.magic, &info.magic) < sizeof info.magic) {
        throw dravik::Error("Impossible to read the magic number");
    }
    const int32_t fileType = GetFType(info.magic);
    if (fileType == -1) {
        throw dravik::Error(fmt::format("Invalid magic number {}", info.magic));
    }
    int32_t result = -1;
    if ((fileType & IDS_V3COMPATIBLE) != 0) {
        result = ReadV3Descim(stream, stream, &info, fileType);
        info.m_imageVersionAsFloat = 3.0F;
    } else if ((fileType & IDS_V4COMPATIBLE) != 0) {
        result = ReadV4Descim(stream, stream, &info, fileType);
        info.m_imageVersionAsFloat = 4.0F;
    } else if ((fileType & (IDS_V6COMPATIBLE | IDS_V66COMPATIBLE | IDS_V74COMPATIBLE)) != 0) {
        result = ReadV6Descim(stream, stream, &info, fileType);
        info.m_imageVersionAsFloat = (fileType & IDS_V6COMPATIBLE) != 0 ? 6.0F : 6.6F;
    }
    if (result == -1) {
        throw dravik::Error("Invalid file format");
    }
    m_type = getDatatypeFromTarnisType(info.gcode, info.gbits);
    const uint32_t expectedBits = m_type.bitDepth();
    if (m_type.byteCount() == 0 || info.gbits != static_cast<int32_t>(expectedBits)) {
        throw dravik::Error("Data type size error");
    }
    m_capabilities = dravik::ImageCapability::READ;
    updateDravikInformation();
    resetDravikMetadata();
    registerOrigin(rootView);
}

TarnisImageView::TarnisImageView(std::shared_ptr<dravik::StreamAccess> imageStream,
                                 const image& mainImageInformation, dravik::View* rootView)
    : m_imageStream(std::move(imageStream))
    , m_fullRegion(dravik::VectorXu64(2, 0), dravik::VectorXu64(2, 0))
{
    image& info = m_tarnisImageInfo;
    initImage(info);
    const uint64_t blockStart = mainImageInformation.m_offsetOverlay;
    m_imageStream->seek(static_cast<int64_t>(blockStart), dravik::SeekOrigin::BEGIN);
    if (mainImageInformation.m_imageVersion >= TARNIS_WRITER_VERSION) {
        if (mainImageInformation.m_graphicSize < OVERLAY_HEADER_SIZE) {
            throw dravik::Error("Invalid overlay");
        }
        for (int32_t* field : {&info.ox, &info.oy, &info.oz, &info.oc, &info.ot, &info.gx, &info.gy, &info.gz,
                               &info.gc, &info.gt, &info.gcode, &info.gtype}) {
            _readOne(*field);
        }
        info.m_offsetFirstPixel = m_imageStream->tell();
    } else {
        info.ox = mainImageInformation.ox;
        info.oy = mainImageInformation.oy;
        info.oz = mainImageInformation.oz;
        info.oc = mainImageInformation.oc;
        info.ot = mainImageInformation.ot;
        info.gx = mainImageInformation.gx;
        info.gy = mainImageInformation.gy;
        info.gz = info.gc = info.gt = 1;
        info.gcode = I_LABEL;
        info.gtype = (mainImageInformation.gtype & ~IM_COLOR_ANY) | IM_MONO;
        info.m_offsetFirstPixel = blockStart;
    }
    info.gbits = bitsOfOverlayCode(info.gcode);
    // The overlay's own header is as untrusted as the file's: its planes must lie in its block.
    if (info.gx < 1 || info.gy < 1 || info.gz < 1 || info.gc < 1 || info.gt < 1) {
        throw dravik::Error("Invalid overlay");
    }
    V6desc_im geometry{};
    geometry.gx = info.gx;
    geometry.gy = info.gy;
    geometry.gz = info.gz;
    geometry.gc = info.gc;
    geometry.gt = info.gt;
    geometry.gbits = info.gbits;
    const uint64_t used = info.m_offsetFirstPixel - blockStart;
    const uint64_t pixels = pixelDataSize(geometry);
    if (used > mainImageInformation.m_graphicSize || pixels > mainImageInformation.m_graphicSize - used) {
        throw dravik::Error("Invalid overlay");
    }
    m_type = getDatatypeFromTarnisType(info.gcode, info.gbits);
    m_capabilities = dravik::ImageCapability::READ;
    updateDravikInformation();
    m_metadata = dravik::MetadataNodeFactory::create("root");
    dravik::MetadataNodeHelper::createPath(m_metadata, "TARNIS/Overlay");
    registerOrigin(rootView);
}

TarnisImageView::~TarnisImageView() = default;

void TarnisImageView::registerOrigin(dravik::View* rootView)
{
    auto origin =
        std::make_shared<common::ViewOriginExtensionImpl>(fmt::format("{} frame Extractor", TARNIS_PLUGIN_NAME), rootView);
    m_viewOrigin = origin;
    m_extensions.add<common::ViewOriginExtensionImpl>(origin);
}

template <typename T>
void TarnisImageView::_readOne(T& value)
{
    static_assert(sizeof(T) == SIZE_INT32, "overlay header words are 4 bytes");
    if (m_imageStream->read(SIZE_INT32, &value) < SIZE_INT32) {
        throw dravik::Error("Invalid overlay");
    }
}

void TarnisImageView::addMetadata(const std::string& path, std::shared_ptr<dravik::VariantDataValue> value)
{
    dravik::MetadataNodeHelper::createPath(m_metadata, path, std::move(value));
}

void TarnisImageView::updateDravikInformation()
{
    image& info = m_tarnisImageInfo;
    m_rowWidth = static_cast<uint64_t>(GetV3Bwidth(&info));
    m_planeWidth = m_rowWidth * static_cast<uint64_t>(info.gy);
    info.ocode = info.gbits / 8;

    const bool hasSlice = (info.gtype & IM_3D) != 0;
    const bool hasChannel = (info.gtype & IM_COLOR_ANY) != 0;
    const bool hasTime = (info.gtype & IM_SEQUENCE) != 0;
    int8_t next = 0;
    m_indexShape[0] = next++;
    m_indexShape[1] = next++;
    m_indexShape[2] = hasSlice ? next++ : int8_t(-1);
    m_indexShape[3] = hasChannel ? next++ : int8_t(-1);
    m_indexShape[4] = hasTime ? next++ : int8_t(-1);

    dravik::VectorXu64 shape{static_cast<uint64_t>(info.gx), static_cast<uint64_t>(info.gy)};
    dravik::ImageType axes(dravik::ImageTypeId::IMAGE);
    if (hasSlice) {
        shape.push_back(static_cast<uint64_t>(info.gz));
        axes.add(ImageTypeDimension::SLICE);
    }
    if (hasChannel) {
        shape.push_back(static_cast<uint64_t>(info.gc));
        axes.add(ImageTypeDimension::CHANNEL);
    }
    if (hasTime) {
        shape.push_back(static_cast<uint64_t>(info.gt));
        axes.add(ImageTypeDimension::SEQUENCE);
    }

    const mcalib& calibration = info.m_calibration;
    dravik::Vector3d origin(0.0);
    dravik::Vector3d spacing(1.0);
    origin[0] = (info.ox - calibration.ima_orig[0]) * calibration.rxy[0] + calibration.real_orig[0];
    origin[1] = (info.oy - calibration.ima_orig[1]) * calibration.rxy[1] + calibration.real_orig[1];
    spacing[0] = calibration.rxy[0];
    spacing[1] = calibration.rxy[1];
    if (hasSlice) {
        origin[2] = calibration.oz;
        spacing[2] = calibration.deltaz;
    }

    ImageInterpretation interpretation = ImageInterpretation::GRAYSCALE;
    if (hasChannel) {
        interpretation = ImageInterpretation::MULTISPECTRAL;
        const std::pair<int32_t, ImageInterpretation> colours[] = {
            {IM_COLOR_RGB, ImageInterpretation::RGB},
            {IM_COLOR_HLS, ImageInterpretation::HSL},
            {IM_COLOR_YIQ, ImageInterpretation::YIQ},
            {IM_COLOR_NRGB, ImageInterpretation::RGB_CHROMATICITY},
        };
        for (const auto& [mask, meaning] : colours) {
            if (hasAllBits(info.gtype, mask)) {
                interpretation = meaning;
                break;
            }
        }
    } else if (info.gcode == I_BIN) {
        interpretation = ImageInterpretation::BINARY;
    } else if (info.gcode == I_LABEL || info.gcode == I_LABEL32) {
        interpretation = ImageInterpretation::LABEL;
    }

    m_shape = shape;
    m_fullRegion = dravik::RegionXu64::fullRegion(m_shape);
    m_properties = dravik::ImageProperties::fromDataType(m_type);
    m_properties->calibration().setOrigin(origin);
    m_properties->calibration().setSpacing(spacing);
    m_properties->calibration().setUnit(fieldText(calibration.c_unit, sizeof calibration.c_unit));
    m_properties->imageInfo().setInterpretation(interpretation);
    m_properties->imageInfo().setAxesInterpretation(axes);
}

void TarnisImageView::resetDravikMetadata()
{
    const image& info = m_tarnisImageInfo;
    auto root = dravik::MetadataNodeFactory::create("root");
    dravik::MetadataNodeHelper::createPath(root, "TARNIS/Version",
                                           dravik::VariantDataValueFactory::create(info.m_imageVersionAsFloat));
    auto tarnis = root->child("TARNIS");
    if (!info.header.empty()) {
        updateMetadataWithTarnisHeader(tarnis, info.header);
    }
    updateMetadataWithCalibration(tarnis, info.m_calibration);
    updateMetadataWithLut(tarnis, info.m_lutR, info.m_lutG, info.m_lutB);
    updateMetadataWithSegment(tarnis, info.m_segment, info.gtype);
    dravik::MetadataNodeHelper::createPath(tarnis, "grid", dravik::VariantDataValueFactory::create(info.grid));
    if (info.grid == I_HEXAG || info.grid == I_RECTA) {
        dravik::MetadataNodeHelper::createPath(
            tarnis, "GridName", dravik::VariantDataValueFactory::create(info.grid == I_HEXAG ? "Hexagonal" : "Rectangular"));
    }
    if ((info.gtype & IM_COLOR_ANY) != 0) {
        const std::pair<int32_t, const char*> names[] = {{IM_COLOR_RGB, "RGB"},  {IM_COLOR_USER, "USER"},
                                                         {IM_COLOR_HLS, "HLS"},  {IM_COLOR_YIQ, "YIQ"},
                                                         {IM_COLOR_NRGB, "NRGB"}, {IM_COLOR_MSRC, "MSRC"}};
        for (const auto& [mask, name] : names) {
            if (hasAllBits(info.gtype, mask)) {
                dravik::MetadataNodeHelper::createPath(tarnis, "ColorType", dravik::VariantDataValueFactory::create(name));
                break;
            }
        }
    }
    m_metadata = root;
}

uint64_t TarnisImageView::offsetFromIndex(const dravik::VectorXu64& index) const
{
    if (index.size() != m_shape.size() || !m_fullRegion.contains(index)) {
        throw dravik::InvalidArgument("Invalid index: " + index.toString());
    }
    const image& info = m_tarnisImageInfo;
    auto at = [&index](int8_t position) -> uint64_t {
        return position >= 0 ? index[static_cast<size_t>(position)] : 0;
    };
    const uint64_t plane =
        static_cast<uint64_t>(info.gc) * (static_cast<uint64_t>(info.gz) * at(m_indexShape[4]) + at(m_indexShape[2]))
        + at(m_indexShape[3]);
    return info.m_offsetFirstPixel + m_planeWidth * plane + at(m_indexShape[0]) * static_cast<uint64_t>(info.ocode)
        + at(m_indexShape[1]) * m_rowWidth;
}

void TarnisImageView::read(const dravik::VectorXu64& index, void* dst)
{
    if (dst == nullptr) {
        throw dravik::InvalidArgument("Invalid buffer");
    }
    m_imageStream->seek(static_cast<int64_t>(offsetFromIndex(index)), dravik::SeekOrigin::BEGIN);
    const auto size = static_cast<uint64_t>(m_tarnisImageInfo.ocode);
    if (m_imageStream->read(size, dst) < size) {
        throw dravik::Error(fmt::format("Cannot read one value ({})", index.toString()));
    }
}

void TarnisImageView::readRegion(const dravik::RegionXu64& region, void* buffer)
{
    if (buffer == nullptr) {
        throw dravik::InvalidArgument("Invalid buffer");
    }
    if (region.dimensionCount() != m_shape.size() || !m_fullRegion.contains(region)) {
        throw dravik::InvalidArgument("Invalid region");
    }
    transferRegion(region, static_cast<uint8_t*>(buffer), true, *m_imageStream);
}

void TarnisImageView::transferRegion(const dravik::RegionXu64& region, uint8_t* buffer, bool reading,
                                     dravik::StreamAccess& stream)
{
    if (region.isEmpty()) {
        return;
    }
    const image& info = m_tarnisImageInfo;
    const size_t dims = m_shape.size();
    const auto ocode = static_cast<uint64_t>(info.ocode);
    const auto gz = static_cast<uint64_t>(info.gz);
    const auto gc = static_cast<uint64_t>(info.gc);

    // File stride of each shape position.
    std::vector<uint64_t> strides(dims, 0);
    const uint64_t roleStrides[5] = {ocode, m_rowWidth, gc * m_planeWidth, m_planeWidth, gz * gc * m_planeWidth};
    for (size_t role = 0; role < 5; ++role) {
        if (m_indexShape[role] >= 0) {
            strides[static_cast<size_t>(m_indexShape[role])] = roleStrides[role];
        }
    }

    uint64_t first = info.m_offsetFirstPixel;
    for (size_t p = 0; p < dims; ++p) {
        first += region.origin()[p] * strides[p];
    }
    // The packed buffer is dense in shape order: an axis joins the run while the file
    // holds the run so far contiguously before the axis's next step.
    uint64_t runBytes = ocode;
    size_t p = 0;
    for (; p < dims; ++p) {
        const uint64_t size = region.size()[p];
        if (size == 1) {
            continue;
        }
        if (strides[p] != runBytes) {
            break;
        }
        runBytes *= size;
    }
    std::vector<uint64_t> outerSizes;
    std::vector<uint64_t> outerStrides;
    for (; p < dims; ++p) {
        if (region.size()[p] > 1) {
            outerSizes.push_back(region.size()[p]);
            outerStrides.push_back(strides[p]);
        }
    }

    std::vector<uint64_t> counter(outerSizes.size(), 0);
    uint8_t* cursor = buffer;
    while (true) {
        uint64_t offset = first;
        for (size_t k = 0; k < counter.size(); ++k) {
            offset += counter[k] * outerStrides[k];
        }
        stream.seek(static_cast<int64_t>(offset), dravik::SeekOrigin::BEGIN);
        if (reading) {
            if (stream.read(runBytes, cursor) < runBytes) {
                throw dravik::Error(fmt::format("Cannot read one row in the region ({}) - ({})",
                                                region.origin().toString(), region.size().toString()));
            }
        } else if (stream.write(runBytes, cursor) < runBytes) {
            throw dravik::Error(fmt::format("Cannot write one row in the region ({0}) - ({1})",
                                            region.origin().toString(), region.size().toString()));
        }
        cursor += runBytes;
        size_t k = 0;
        while (k < counter.size() && ++counter[k] == outerSizes[k]) {
            counter[k] = 0;
            ++k;
        }
        if (k == counter.size()) {
            break;
        }
    }
}

} // namespace quenza::tarnis
