#include <TarnisFormat.h>

#include <TarnisMetadata.h>

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace quenza::tarnis {

namespace {

// The block sizes and placement words that versions 4 and 6 share.
struct TrailingLayout {
    int32_t headersize;
    int32_t aoilistsize;
    int32_t graphicsize;
    int32_t scalesize;
    int32_t data3dsize;
    int32_t lutsize;
    int32_t hdr_sys;
    int32_t hdr_other;
};

uint64_t streamSize(dravik::StreamAccess& stream)
{
    const uint64_t position = stream.tell();
    stream.seek(0, dravik::SeekOrigin::END);
    const uint64_t size = stream.tell();
    stream.seek(static_cast<int64_t>(position), dravik::SeekOrigin::BEGIN);
    return size;
}

uint64_t checkedProduct(std::initializer_list<int64_t> factors)
{
    uint64_t product = 1;
    for (int64_t factor : factors) {
        if (factor < 0 || __builtin_mul_overflow(product, static_cast<uint64_t>(factor), &product)) {
            throw dravik::Error("Invalid image extents: the pixel data cannot be counted");
        }
    }
    return product;
}

void checkExtents(int32_t gx, int32_t gy, int32_t gz, int32_t gc, int32_t gt)
{
    if (gx < 1 || gy < 1 || gz < 1 || gc < 1 || gt < 1) {
        throw dravik::Error(fmt::format("Invalid image extents ({}, {}, {}, {}, {})", gx, gy, gz, gc, gt));
    }
}

void checkBits(int32_t gbits)
{
    const int32_t bits = gbits & ~I_PACKED;
    if (bits < 1 || bits > 64) {
        throw dravik::Error("Data type size error");
    }
}

void checkPixelData(uint64_t firstPixel, uint64_t pixelBytes, uint64_t fileSize)
{
    if (firstPixel > fileSize || pixelBytes > fileSize - firstPixel) {
        throw dravik::Error(fmt::format("Pixel data beyond the end of the file: {} bytes at {} in a file of {} bytes",
                                        pixelBytes, firstPixel, fileSize));
    }
}

// The blocks must be where the descriptor says, after the pixels and inside the file.
uint64_t checkTrailingBlocks(const TrailingLayout& layout, size_t descriptorSize, uint64_t pixelBytes,
                             uint64_t fileSize)
{
    const std::pair<const char*, int32_t> sizes[] = {
        {"headersize", layout.headersize},   {"aoilistsize", layout.aoilistsize}, {"graphicsize", layout.graphicsize},
        {"scalesize", layout.scalesize},     {"data3dsize", layout.data3dsize},   {"lutsize", layout.lutsize},
    };
    uint64_t total = 0;
    for (const auto& [name, size] : sizes) {
        if (size < 0) {
            throw dravik::Error(fmt::format("Invalid block size ({} {})", name, size));
        }
        total += static_cast<uint64_t>(size);
    }
    if (layout.hdr_sys < static_cast<int32_t>(descriptorSize)) {
        throw dravik::Error(
            fmt::format("Invalid descriptor size ({}): the trailing blocks would overlap the pixels", layout.hdr_sys));
    }
    const uint64_t start = static_cast<uint64_t>(layout.hdr_sys) + pixelBytes;
    if (start < pixelBytes || start > fileSize || total > fileSize - start) {
        throw dravik::Error(fmt::format("Trailing blocks beyond the end of the file: {} bytes at {} in a file of {} "
                                        "bytes",
                                        total, start, fileSize));
    }
    return start;
}

// Reads `size` bytes of header text; false when the file holds fewer. Trailing NUL bytes
// (the block's terminator) are not part of the text, so that rewriting a header does not
// grow it by one NUL each time.
bool readHeaderText(dravik::StreamAccess& stream, image* img, uint64_t size)
{
    std::string text(size, '\0');
    if (stream.read(size, text.data()) < size) {
        return false;
    }
    const size_t last = text.find_last_not_of('\0');
    text.resize(last == std::string::npos ? 0 : last + 1);
    img->header = std::move(text);
    return true;
}

void skip(dravik::StreamAccess& seekable, int32_t size)
{
    if (size > 0) {
        seekable.seek(size, dravik::SeekOrigin::CURRENT);
    }
}

// Versions 4 and 6 after the record's extents are set: checks the descriptor against the
// file and reads the trailing blocks. Returns false when the header text is short.
bool readTrailing(dravik::StreamAccess& stream, dravik::StreamAccess& seekable, image* img, int32_t fileType,
                  const TrailingLayout& layout, size_t descriptorSize, uint64_t pixelBytes, bool version6)
{
    const uint64_t fileSize = streamSize(seekable);
    checkPixelData(descriptorSize, pixelBytes, fileSize);
    if (layout.hdr_other <= 0) {
        initCalibration(img->m_calibration);
        return true;
    }
    const uint64_t start = checkTrailingBlocks(layout, descriptorSize, pixelBytes, fileSize);
    seekable.seek(static_cast<int64_t>(start), dravik::SeekOrigin::BEGIN);

    if ((!version6 && (img->gtype & IM_3D) != 0) || layout.headersize == 0) {
        img->header.clear();
        skip(seekable, layout.headersize);
    } else if (!readHeaderText(stream, img, static_cast<uint64_t>(layout.headersize))) {
        return false;
    }
    img->m_offsetAoiList = seekable.tell();
    img->m_aoiListSize = static_cast<uint64_t>(layout.aoilistsize);
    skip(seekable, layout.aoilistsize);
    if (layout.graphicsize > 0) {
        img->m_offsetOverlay = seekable.tell();
        img->m_graphicSize = static_cast<uint64_t>(layout.graphicsize);
        skip(seekable, layout.graphicsize);
    }
    readCalibrationInFile(img, stream, static_cast<size_t>(layout.scalesize), fileType);
    if (version6) {
        readD3dInFile(img, stream, static_cast<size_t>(layout.data3dsize));
    } else {
        skip(seekable, layout.data3dsize);
    }
    readLutinFile(img, stream, seekable, static_cast<size_t>(layout.lutsize), fileType);
    seekable.seek(layout.hdr_sys, dravik::SeekOrigin::BEGIN);
    return true;
}

int32_t ocodeOf(int32_t gcode)
{
    return gcode == I_FLOAT || gcode == I_LONG || gcode == I_LABEL32 ? 4 : 2;
}

} // namespace

int32_t GetFType(int32_t magicNumber)
{
    switch (magicNumber) {
    case I_MAGICD: return IDS_V3COMPATIBLE;
    case I_MAGICE: return IDS_V3COMPATIBLE | IDS_FILESWAPPED;
    case I_MAGICV4D: return IDS_V4COMPATIBLE;
    case I_MAGICV4E: return IDS_V4COMPATIBLE | IDS_FILESWAPPED;
    case I_MAGICV6D: return IDS_V6COMPATIBLE;
    case I_MAGICV66D: return IDS_V66COMPATIBLE;
    default: return -1;
    }
}

int64_t GetV3Bwidth(const image* img)
{
    const int64_t bits = img->gbits & ~I_PACKED;
    return (static_cast<int64_t>(img->gx) * bits + 7) / 8;
}

uint64_t pixelDataSize(const V6desc_im& description)
{
    image geometry;
    geometry.gx = description.gx;
    geometry.gbits = description.gbits;
    return checkedProduct(
        {description.gt, description.gz, description.gc, description.gy, GetV3Bwidth(&geometry)});
}

int32_t ReadV3Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType)
{
    imageSeekableStream.seek(0, dravik::SeekOrigin::BEGIN);
    img->m_offsetFirstPixel = V3_DESCRIPTOR_SIZE;
    int32_t words[V3_DESCRIPTOR_SIZE / 4];
    if (imageStream.read(V3_DESCRIPTOR_SIZE, words) < V3_DESCRIPTOR_SIZE) {
        return -1;
    }
    if ((fileType & IDS_FILESWAPPED) != 0) {
        endianReverse(words, V3_DESCRIPTOR_SIZE / 4);
    }
    desc_im d;
    std::memcpy(&d, words, sizeof d);

    img->gx = d.i_dimx;
    img->gy = d.i_dimy;
    img->gc = d.i_dimz;
    img->gz = 1;
    img->gt = 1;
    img->ox = d.i_orix;
    img->oy = d.i_oriy;
    img->oc = d.i_oriz;
    img->oz = 1;
    img->ot = 1;
    img->gtype = img->gc == 3 ? IM_COLOR_RGB : IM_MONO;
    img->grid = d.i_maille;
    img->gcode = d.i_code;
    img->gbits = d.i_bstoc & ~I_PACKED;
    img->ocode = ocodeOf(img->gcode);
    checkExtents(img->gx, img->gy, 1, img->gc, 1);
    checkBits(img->gbits);

    const uint64_t fileSize = streamSize(imageSeekableStream);
    if (d.hdr_usr < 0 || static_cast<uint64_t>(d.hdr_usr) > fileSize - V3_DESCRIPTOR_SIZE) {
        return -1;
    }
    if (d.hdr_usr == 0) {
        img->header.clear();
    } else {
        if (!readHeaderText(imageStream, img, static_cast<uint64_t>(d.hdr_usr))) {
            return -1;
        }
        img->m_offsetFirstPixel += static_cast<size_t>(d.hdr_usr);
    }
    checkPixelData(img->m_offsetFirstPixel, checkedProduct({img->gc, img->gy, GetV3Bwidth(img)}), fileSize);
    initCalibration(img->m_calibration);
    return static_cast<int32_t>(V3_DESCRIPTOR_SIZE) + d.hdr_usr;
}

int32_t ReadV4Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType)
{
    imageSeekableStream.seek(0, dravik::SeekOrigin::BEGIN);
    img->m_offsetFirstPixel = V4_DESCRIPTOR_SIZE;
    constexpr size_t wordCount = V4_DESCRIPTOR_SIZE / 4;
    int32_t words[wordCount];
    if (imageStream.read(V4_DESCRIPTOR_SIZE, words) < V4_DESCRIPTOR_SIZE) {
        return -1;
    }
    if ((fileType & IDS_FILESWAPPED) != 0) {
        // The count comes from hdr_sys while it is still in the other byte order.
        int32_t count = words[offsetof(V4desc_im, hdr_sys) / 4] / 4;
        boost::endian::endian_reverse_inplace(count);
        endianReverse(words, static_cast<size_t>(std::clamp<int32_t>(count, 0, static_cast<int32_t>(wordCount))));
    }
    V4desc_im d;
    std::memcpy(&d, words, sizeof d);

    img->gx = d.gx;
    img->gy = d.gy;
    img->gc = d.gz;
    img->gz = 1;
    img->gt = d.gt;
    img->ox = d.ox;
    img->oy = d.oy;
    img->oc = d.oz;
    img->oz = 1;
    img->ot = d.ot;
    img->gtype = d.gtype & ~IM_KORVEL;
    img->grid = d.grid;
    if (img->gc > 1 && (img->gtype & IM_COLOR_ANY) == 0) {
        img->gtype |= IM_MONO | IM_3D;
        img->gz = img->gc;
        img->gc = 1;
    }
    img->gcode = d.gcode;
    img->gbits = d.gbits;
    img->ocode = ocodeOf(img->gcode);
    img->m_imageVersion = d.version;
    checkExtents(d.gx, d.gy, d.gz, 1, d.gt);
    checkBits(d.gbits);

    const uint64_t pixelBytes = checkedProduct({d.gt, d.gz, d.gy, GetV3Bwidth(img)});
    const TrailingLayout layout{d.headersize, d.aoilistsize, d.graphicsize, d.scalesize,
                                d.data3dsize, d.lutsize,     d.hdr_sys,     d.hdr_other};
    if (!readTrailing(imageStream, imageSeekableStream, img, fileType, layout, V4_DESCRIPTOR_SIZE, pixelBytes,
                      false)) {
        return -1;
    }
    return d.hdr_sys;
}

int32_t ReadV6Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType)
{
    imageSeekableStream.seek(0, dravik::SeekOrigin::BEGIN);
    img->m_offsetFirstPixel = V6_DESCRIPTOR_SIZE;
    V6desc_im d;
    if (imageStream.read(V6_DESCRIPTOR_SIZE, &d) < V6_DESCRIPTOR_SIZE) {
        return -1;
    }
    img->gx = d.gx;
    img->gy = d.gy;
    img->gz = d.gz;
    img->gc = d.gc;
    img->gt = d.gt;
    img->ox = d.ox;
    img->oy = d.oy;
    img->oz = d.oz;
    img->oc = d.oc;
    img->ot = d.ot;
    img->gtype = d.gtype & ~IM_KORVEL;
    img->grid = d.grid;
    img->gcode = d.gcode;
    img->gbits = d.gbits;
    img->ocode = ocodeOf(img->gcode);
    img->m_imageVersion = d.version;
    checkExtents(d.gx, d.gy, d.gz, d.gc, d.gt);
    checkBits(d.gbits);

    const uint64_t pixelBytes = pixelDataSize(d);
    const TrailingLayout layout{d.headersize, d.aoilistsize, d.graphicsize, d.scalesize,
                                d.data3dsize, d.lutsize,     d.hdr_sys,     d.hdr_other};
    if (!readTrailing(imageStream, imageSeekableStream, img, fileType, layout, V6_DESCRIPTOR_SIZE, pixelBytes,
                      true)) {
        return -1;
    }
    return d.hdr_sys;
}

void readCalibrationInFile(image* img, dravik::StreamAccess& stream, size_t size, int32_t type)
{
    mcalib& calibration = img->m_calibration;
    initCalibration(calibration);
    if (size == 0) {
        return;
    }
    // Revision 6.6 files carry the full record when their sequence or spectral values
    // are not the defaults: this system's writer makes such files.
    const bool rejected = size > CALIBRATION_SIZE_FULL
        || ((type & IDS_V74COMPATIBLE) != 0 && size != CALIBRATION_SIZE_FULL)
        || ((type & IDS_V66COMPATIBLE) != 0 && size != CALIBRATION_SIZE_V6 && size != CALIBRATION_SIZE_FULL)
        || ((type & IDS_V6COMPATIBLE) != 0 && size != CALIBRATION_SIZE_V6)
        || ((type & IDS_V4COMPATIBLE) != 0 && size != CALIBRATION_SIZE_V4);
    if (rejected) {
        throw dravik::Error("Invalid calibration size.");
    }
    unsigned char bytes[CALIBRATION_SIZE_FULL];
    if (stream.read(size, bytes) < size) {
        throw dravik::Error("Invalid calibration.");
    }
    std::memcpy(&calibration, bytes, size);
    if ((type & IDS_V6COMPATIBLE) != 0) {
        for (float& value : calibration.ClasseDeb) {
            int32_t stored;
            std::memcpy(&stored, &value, sizeof stored);
            value = static_cast<float>(stored);
        }
    } else if ((type & IDS_V4COMPATIBLE) != 0) {
        calibration.GrayScaleSize = 0;
        setField(calibration.GrayScaleUnit, sizeof calibration.GrayScaleUnit, "");
    }
    // The record holds 256 classes: a larger count is taken as 256, a negative one as none.
    calibration.GrayScaleSize = std::clamp(calibration.GrayScaleSize, 0, GRAY_SCALE_CLASSES);
    computeCalib(calibration.c_mode, calibration.ima_size, calibration.real_size, calibration.rxy);
}

void readLutinFile(image* img, dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream,
                   size_t size, int32_t fileType)
{
    img->m_lutR.clear();
    img->m_lutG.clear();
    img->m_lutB.clear();
    if (size == 0) {
        return;
    }
    const uint64_t start = imageSeekableStream.tell();
    uint16_t count = 0;
    if (imageStream.read(sizeof count, &count) < sizeof count) {
        throw dravik::Error("Invalid LUT");
    }
    const bool swapped = (fileType & IDS_FILESWAPPED) != 0;
    if (swapped) {
        endianReverse(&count, 1);
    }
    // The three tables must also fit in the block.
    if (count > LUT_SIZE_MAX || sizeof count + 6 * static_cast<uint64_t>(count) > size) {
        throw dravik::Error("Invalid LUT size");
    }
    const std::pair<std::vector<uint16_t>*, const char*> tables[] = {
        {&img->m_lutR, "Invalid red LUT"}, {&img->m_lutG, "Invalid green LUT"}, {&img->m_lutB, "Invalid blue LUT"}};
    for (const auto& [table, message] : tables) {
        table->resize(count);
        if (imageStream.read(2 * static_cast<uint64_t>(count), table->data()) < 2 * static_cast<uint64_t>(count)) {
            throw dravik::Error(message);
        }
        if (swapped) {
            endianReverse(table->data(), table->size());
        }
    }
    imageSeekableStream.seek(static_cast<int64_t>(start + size), dravik::SeekOrigin::BEGIN);
}

void readD3dInFile(image* img, dravik::StreamAccess& stream, size_t size)
{
    if (size == 0) {
        img->m_segment.clear();
        return;
    }
    img->m_segment.assign(size + 1, '\0');
    if (stream.read(size, img->m_segment.data()) < size) {
        throw dravik::Error("Invalid segment");
    }
}

int32_t writeV6Heading(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream,
                       const V6desc_im& description)
{
    imageSeekableStream.seek(0, dravik::SeekOrigin::BEGIN);
    if (imageStream.write(V6_DESCRIPTOR_SIZE, &description) < V6_DESCRIPTOR_SIZE) {
        return -1;
    }
    imageStream.flush();
    return static_cast<int32_t>(V6_DESCRIPTOR_SIZE);
}

namespace {

// Writes exactly `size` bytes: those of `data` and zeros after them should it be shorter.
void writeBlock(dravik::StreamAccess& stream, const void* data, size_t available, int32_t size, const char* message)
{
    if (size <= 0) {
        return;
    }
    const auto count = static_cast<size_t>(size);
    std::vector<char> block(count, '\0');
    std::memcpy(block.data(), data, std::min(available, count));
    if (stream.write(count, block.data()) != count) {
        throw dravik::Error(message);
    }
}

} // namespace

void writeV6Ending(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                   const V6desc_im& description)
{
    if (description.hdr_other == 0) {
        return;
    }
    imageSeekableStream.seek(static_cast<int64_t>(static_cast<uint64_t>(description.hdr_sys) + pixelDataSize(description)),
                             dravik::SeekOrigin::BEGIN);
    writeBlock(imageStream, img->header.c_str(), img->header.size() + 1, description.headersize,
               "Cannot write the header fields");
    writeBlock(imageStream, img->m_aoiList.data(), img->m_aoiList.size(), description.aoilistsize,
               "Cannot write the region list");
    writeBlock(imageStream, img->graphic.data(), img->graphic.size(), description.graphicsize,
               "Cannot write the graphics");
    writeBlock(imageStream, &img->m_calibration, sizeof img->m_calibration,
               std::min<int32_t>(description.scalesize, static_cast<int32_t>(CALIBRATION_SIZE_FULL)),
               "Cannot write the calibration");
    writeBlock(imageStream, img->m_segment.data(), img->m_segment.size(), description.data3dsize,
               "Cannot write the segments");
    if (description.lutsize > 0) {
        const auto count = static_cast<uint16_t>(img->m_lutR.size());
        const uint16_t closing = 0;
        if (imageStream.write(sizeof count, &count) != sizeof count) {
            throw dravik::Error("Cannot write the DC lut size");
        }
        const std::pair<const std::vector<uint16_t>*, const char*> tables[] = {
            {&img->m_lutR, "Cannot write the red lut"},
            {&img->m_lutG, "Cannot write the green lut"},
            {&img->m_lutB, "Cannot write the blue lut"}};
        for (const auto& [table, message] : tables) {
            std::vector<uint16_t> entries(count, 0);
            std::copy_n(table->begin(), std::min<size_t>(count, table->size()), entries.begin());
            if (imageStream.write(2 * static_cast<uint64_t>(count), entries.data()) != 2 * static_cast<uint64_t>(count)) {
                throw dravik::Error(message);
            }
        }
        if (imageStream.write(sizeof closing, &closing) != sizeof closing) {
            throw dravik::Error("Cannot write the DC lut size");
        }
    }
    imageStream.flush();
}

void initCalibration(mcalib& calibration)
{
    calibration.c_mode = CAL_SQUARE;
    std::fill(std::begin(calibration.ima_size), std::end(calibration.ima_size), 1.0);
    std::fill(std::begin(calibration.real_size), std::end(calibration.real_size), 1.0);
    calibration.ima_orig[0] = calibration.ima_orig[1] = 1.0;
    calibration.real_orig[0] = calibration.real_orig[1] = 0.0;
    calibration.rxy[0] = calibration.rxy[1] = calibration.rxy[2] = 1.0;
    calibration.rxy[3] = 0.0;
    setField(calibration.c_unit, sizeof calibration.c_unit, "pixel");
    std::memset(calibration.c_comments, 0, sizeof calibration.c_comments);
    setField(calibration.c_name, sizeof calibration.c_name, "no_calib");
    setField(calibration.cal_name, sizeof calibration.cal_name, "no_calib");
    calibration.ClasseType = 0;
    calibration.GrayScaleSize = 0;
    setField(calibration.GrayScaleUnit, sizeof calibration.GrayScaleUnit, "");
    calibration.oz = 0.0F;
    calibration.deltaz = 1.0F;
    calibration.originSequence = 0.0;
    calibration.deltaSequence = 1.0;
    setField(calibration.unitSequence, sizeof calibration.unitSequence, "");
    calibration.originSpectral = 0.0;
    calibration.deltaSpectral = 1.0;
}

void initImage(image& img)
{
    img.magic = img.gx = img.gy = img.gz = img.gc = img.gt = 0;
    img.ox = img.oy = img.oz = img.oc = img.ot = 0;
    img.gtype = img.grid = img.gcode = img.gbits = img.ocode = 0;
    initCalibration(img.m_calibration);
    img.m_offsetFirstPixel = 0;
    img.m_offsetOverlay = 0;
    img.m_imageVersion = 0;
    img.m_imageVersionAsFloat = 0.0F;
    img.m_offsetAoiList = img.m_aoiListSize = img.m_graphicSize = 0;
}

std::string fieldText(const char* field, size_t width)
{
    return std::string(field, ::strnlen(field, width));
}

void setField(char* field, size_t width, const std::string& text)
{
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

} // namespace quenza::tarnis
