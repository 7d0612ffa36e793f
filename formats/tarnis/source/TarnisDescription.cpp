#include <TarnisDescription.h>

#include <TarnisMetadata.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/VariantDataValueConverter.h>

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace quenza::tarnis {

namespace {

using dravik::DataTypeId;
using dravik::ImageInterpretation;
using dravik::ImageTypeDimension;

bool isOneOf(const dravik::DataType& type, std::initializer_list<DataTypeId> ids)
{
    for (DataTypeId id : ids) {
        if (type == dravik::DataType(id)) {
            return true;
        }
    }
    return false;
}

bool isStorableScalar(const dravik::DataType& type)
{
    return isOneOf(type, {DataTypeId::INT8, DataTypeId::UINT8, DataTypeId::INT16, DataTypeId::UINT16,
                          DataTypeId::INT32, DataTypeId::FLOAT});
}

int32_t codeOfScalar(const dravik::DataType& scalar)
{
    const std::pair<DataTypeId, int32_t> codes[] = {
        {DataTypeId::INT8, I_CHR},    {DataTypeId::UINT8, I_CHRU}, {DataTypeId::INT16, I_SHORT},
        {DataTypeId::UINT16, I_USHORT}, {DataTypeId::INT32, I_LONG}, {DataTypeId::FLOAT, I_FLOAT},
    };
    for (const auto& [id, code] : codes) {
        if (scalar == dravik::DataType(id)) {
            return code;
        }
    }
    return -1;
}

// A pixel index from a real origin; an origin that no int32 holds (a zero pixel size,
// say) gives the first pixel.
int32_t pixelOrigin(double origin, double realOrigin, double pixelSize, double imageOrigin)
{
    const double index = std::floor((origin - realOrigin) / pixelSize + imageOrigin + 0.5);
    if (!std::isfinite(index) || index < std::numeric_limits<int32_t>::min()
        || index > std::numeric_limits<int32_t>::max()) {
        return 1;
    }
    return static_cast<int32_t>(index);
}

int32_t extentAt(const dravik::VectorXu64& shape, int8_t position)
{
    if (position < 0 || static_cast<size_t>(position) >= shape.size()) {
        return 1;
    }
    return static_cast<int32_t>(shape[static_cast<size_t>(position)]);
}

} // namespace

bool isColorInterpretation(ImageInterpretation interpretation)
{
    return interpretation > ImageInterpretation::BINARY && interpretation < ImageInterpretation::MULTISPECTRAL;
}

bool isValidDatatype(const dravik::DataType& dataType, ImageInterpretation interpretation)
{
    switch (interpretation) {
    case ImageInterpretation::BINARY:
        return isOneOf(dataType, {DataTypeId::INT8, DataTypeId::UINT8, DataTypeId::INT16, DataTypeId::UINT16});
    case ImageInterpretation::LABEL: return isOneOf(dataType, {DataTypeId::UINT16, DataTypeId::UINT32});
    case ImageInterpretation::UNKNOWN:
    case ImageInterpretation::GRAYSCALE:
    case ImageInterpretation::MULTISPECTRAL: return isStorableScalar(dataType);
    default: return !dataType.isComplex() && isStorableScalar(dataType.extractScalarType());
    }
}

int32_t determineGCode(const dravik::DataType& dataType, ImageInterpretation interpretation)
{
    if (interpretation == ImageInterpretation::BINARY) {
        return I_BIN;
    }
    if (interpretation == ImageInterpretation::LABEL) {
        if (isOneOf(dataType, {DataTypeId::INT32, DataTypeId::UINT32})) {
            return I_LABEL32;
        }
        return dataType == dravik::DataType(DataTypeId::UINT16) ? I_LABEL : -1;
    }
    return codeOfScalar(dataType.extractScalarType());
}

int32_t determineGType(ImageInterpretation interpretation, const dravik::ImageType& axes)
{
    int32_t gtype = IM_COLOR_MSRC;
    switch (interpretation) {
    case ImageInterpretation::UNKNOWN:
    case ImageInterpretation::GRAYSCALE:
    case ImageInterpretation::BINARY:
    case ImageInterpretation::LABEL: gtype = IM_MONO; break;
    case ImageInterpretation::RGB: gtype = IM_COLOR_RGB; break;
    case ImageInterpretation::RGB_CHROMATICITY: gtype = IM_COLOR_NRGB; break;
    case ImageInterpretation::HSL: gtype = IM_COLOR_HLS; break;
    case ImageInterpretation::YIQ: gtype = IM_COLOR_YIQ; break;
    default: break;
    }
    if (axes.has(ImageTypeDimension::SLICE)) {
        gtype |= IM_3D;
    }
    if (axes.has(ImageTypeDimension::SEQUENCE)) {
        gtype |= IM_SEQUENCE;
    }
    return gtype;
}

void updateIndexInShape(const dravik::ImageType& axes, int8_t* indexInShape)
{
    int8_t counter = 0;
    const ImageTypeDimension order[] = {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW, ImageTypeDimension::SLICE,
                                        ImageTypeDimension::CHANNEL, ImageTypeDimension::SEQUENCE};
    for (size_t i = 0; i < AXIS_COUNT; ++i) {
        indexInShape[i] = axes.has(order[i]) ? counter++ : int8_t(-1);
    }
}

dravik::ImageType effectiveAxes(const dravik::ImageView& image)
{
    const size_t dims = image.shape().size();
    auto properties = image.properties();
    if (properties) {
        const dravik::ImageType& axes = properties->imageInfo().axesInterpretation();
        if (!axes.isUnknown() && axes.dimensionCount() == dims) {
            return axes;
        }
    }
    return dravik::ImageType::defaultFor(dims);
}

void updateDescription(V6desc_im& vlgDescription, dravik::ImageView* image, const mcalib& calibration,
                       std::string& header, std::vector<uint16_t>& lutR, std::vector<uint16_t>& lutG,
                       std::vector<uint16_t>& lutB, const std::shared_ptr<const dravik::MetadataNode>& tarnisNode,
                       const int8_t* indexInShape)
{
    V6desc_im& d = vlgDescription;
    const dravik::VectorXu64& shape = image->shape();
    const dravik::DataType type = image->dataType();
    const ImageInterpretation interpretation = image->imageInterpretation();
    const dravik::ImageType axes = effectiveAxes(*image);
    auto properties = image->properties();
    const dravik::SpatialCalibrationProperty spatial =
        properties ? properties->calibration() : dravik::SpatialCalibrationProperty();

    d.i_magic = I_MAGICV6D;
    d.gx = extentAt(shape, indexInShape[AXIS_X]);
    d.gy = extentAt(shape, indexInShape[AXIS_Y]);
    d.gz = extentAt(shape, indexInShape[AXIS_Z]);
    d.gc = extentAt(shape, indexInShape[AXIS_C]);
    d.gt = extentAt(shape, indexInShape[AXIS_T]);

    const double originX = indexInShape[AXIS_X] >= 0 ? spatial.origin()[0] : 0.0;
    const double originY = indexInShape[AXIS_Y] >= 0 ? spatial.origin()[1] : 0.0;
    d.ox = pixelOrigin(originX, calibration.real_orig[0], calibration.rxy[0], calibration.ima_orig[0]);
    d.oy = pixelOrigin(originY, calibration.real_orig[1], calibration.rxy[1], calibration.ima_orig[1]);
    d.oz = d.oc = d.ot = 1;

    d.grid = I_RECTA;
    if (tarnisNode) {
        if (auto grid = tarnisNode->child("grid"); grid && grid->value()) {
            try {
                const int32_t value = dravik::VariantDataValueConverter::toInt32(*grid->value());
                if (value == I_RECTA || value == I_HEXAG) {
                    d.grid = value;
                }
            } catch (const dravik::Error&) {
            }
        }
    }

    const dravik::DataType scalar = type.extractScalarType();
    if (interpretation == ImageInterpretation::LABEL) {
        const bool wide = type.byteCount() == 4;
        d.gcode = wide ? I_LABEL32 : I_LABEL;
        d.gbits = wide ? 32 : 16;
    } else if (interpretation == ImageInterpretation::BINARY) {
        d.gcode = I_BIN;
        d.gbits = type.byteCount() == 1 ? 8 : 16;
    } else {
        if (const int32_t code = codeOfScalar(scalar); code >= 0) {
            d.gcode = code;
        }
        d.gbits = static_cast<int32_t>(scalar.bitDepth());
    }

    const bool multiChannel = d.gc > 1;
    switch (interpretation) {
    case ImageInterpretation::UNKNOWN:
    case ImageInterpretation::GRAYSCALE:
        // With IM_MONO a reader would show channel 0 alone.
        d.gtype = multiChannel ? IM_COLOR_MSRC : IM_MONO;
        break;
    case ImageInterpretation::BINARY:
    case ImageInterpretation::LABEL: d.gtype = IM_MONO; break;
    case ImageInterpretation::RGB: d.gtype = IM_COLOR_RGB; break;
    case ImageInterpretation::RGB_CHROMATICITY: d.gtype = IM_COLOR_NRGB; break;
    case ImageInterpretation::HSL: d.gtype = IM_COLOR_HLS; break;
    case ImageInterpretation::YIQ: d.gtype = IM_COLOR_YIQ; break;
    default: {
        d.gtype = IM_COLOR_MSRC;
        std::shared_ptr<const dravik::MetadataNode> colorType = tarnisNode ? tarnisNode->child("ColorType") : nullptr;
        if (colorType && colorType->value() && colorType->value()->isString() && !colorType->value()->strings().empty()) {
            const std::string& name = colorType->value()->strings().front();
            const std::pair<const char*, int32_t> types[] = {{"RGB", IM_COLOR_RGB},
                                                             {"NRGB", IM_COLOR_NRGB},
                                                             {"HLS", IM_COLOR_HLS},
                                                             {"YIQ", IM_COLOR_YIQ},
                                                             {"USER", IM_COLOR_USER}};
            for (const auto& [text, value] : types) {
                if (name == text) {
                    d.gtype = value;
                }
            }
        }
        break;
    }
    }
    if (isColorInterpretation(interpretation)) {
        d.gc = 3;
    }
    d.access_r = 0;
    d.order = 0;
    if (d.gz > 1 || axes.has(ImageTypeDimension::SLICE)) {
        d.gtype |= IM_3D;
    }
    if (d.gt > 1 || axes.has(ImageTypeDimension::SEQUENCE)) {
        d.gtype |= IM_SEQUENCE;
    }

    d.headersize = header.empty() ? 0 : static_cast<int32_t>(header.size() + 1);
    d.aoilistsize = 0;
    d.graphicsize = 0;
    const bool fullRecord = calibration.originSequence != 0.0 || calibration.deltaSequence != 1.0
        || calibration.unitSequence[0] != '\0' || calibration.originSpectral != 0.0
        || calibration.deltaSpectral != 1.0;
    if (fullRecord) {
        d.i_magic = I_MAGICV66D;
        d.scalesize = static_cast<int32_t>(CALIBRATION_SIZE_FULL);
    } else {
        d.scalesize = static_cast<int32_t>(CALIBRATION_SIZE_V6);
        if (calibration.GrayScaleSize > 0) {
            d.i_magic = I_MAGICV66D;
        }
    }
    d.data3dsize = 0;
    const size_t entries = lutR.size();
    d.lutsize = entries > 0 && lutG.size() == entries && lutB.size() == entries ? static_cast<int32_t>(6 * entries + 4)
                                                                                 : 0;
    d.hdr_sys = static_cast<int32_t>(V6_DESCRIPTOR_SIZE);
    d.hdr_other = d.headersize + d.aoilistsize + d.graphicsize + d.scalesize + d.data3dsize + d.lutsize;
    d.hdr_data = d.hdr_sys + d.hdr_other;
    d.version = TARNIS_WRITER_VERSION;
    d.res2 = d.res3 = 0;
}

void checkLutSize(size_t entries)
{
    if (entries > static_cast<size_t>(LUT_SIZE_MAX)) {
        throw dravik::Error(fmt::format("Unsupported look-up table of {} entries: a Tarnis file holds at most {}",
                                        entries, LUT_SIZE_MAX));
    }
}

std::string checkStorable(dravik::ImageView& image)
{
    const dravik::VectorXu64& shape = image.shape();
    if (shape.empty() || shape.size() > AXIS_COUNT) {
        return fmt::format("Unsupported image dimension ({})", shape.size());
    }
    for (uint64_t extent : shape) {
        if (extent == 0 || extent > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            return fmt::format("Unsupported image size ({})", shape.toString());
        }
    }
    const dravik::ImageType axes = effectiveAxes(image);
    const int channelPosition = axes.position(ImageTypeDimension::CHANNEL);
    const uint64_t channels = channelPosition >= 0 ? shape[static_cast<size_t>(channelPosition)] : 1;
    const ImageInterpretation interpretation = image.imageInterpretation();
    const dravik::DataType type = image.dataType();
    if (type.isVector() && channelPosition >= 0) {
        return "Unsupported vector image with a CHANNEL axis";
    }
    if (isColorInterpretation(interpretation) && !type.isVector() && channels < 3) {
        return "Unsupported image interpretation";
    }
    if ((interpretation == ImageInterpretation::LABEL || interpretation == ImageInterpretation::BINARY)
        && channels > 1) {
        return fmt::format("Unsupported multi-channel {} image", dravik::toString(interpretation));
    }
    auto metadata = image.metadata();
    std::string lutName;
    std::vector<uint16_t> lutR, lutG, lutB;
    updateLut(lutName, lutR, lutG, lutB, metadata ? metadata->child("TARNIS") : nullptr);
    try {
        checkLutSize(lutR.size());
    } catch (const dravik::Error& e) {
        return e.what();
    }
    return {};
}

} // namespace quenza::tarnis
