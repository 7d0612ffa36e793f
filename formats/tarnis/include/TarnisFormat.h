#pragma once

#include <dravik/StreamAccess.h>

#include <boost/endian/conversion.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// On-disk records of Tarnis files, the in-memory record a reader fills, and the
// functions that read and write them. All records are stored little-endian exactly as
// laid out here, padding included.

namespace quenza::tarnis {

static_assert(boost::endian::order::native == boost::endian::order::little,
              "Tarnis records are read and written as little-endian memory images");

// File types returned by GetFType.
constexpr int32_t IDS_V3COMPATIBLE = 1;
constexpr int32_t IDS_FILESWAPPED = 2;
constexpr int32_t IDS_ASCIIHEADER = 4;
constexpr int32_t IDS_V4COMPATIBLE = 8;
constexpr int32_t IDS_V6COMPATIBLE = 16;
constexpr int32_t IDS_V66COMPATIBLE = 32;
constexpr int32_t IDS_V74COMPATIBLE = 64;

// Magic numbers: the first four bytes read as a little-endian int32.
constexpr int32_t I_MAGICD = 0x6931;
constexpr int32_t I_MAGICE = 0x31690000;
constexpr int32_t I_MAGICV4D = 0x6932;
constexpr int32_t I_MAGICV4E = 0x32690000;
constexpr int32_t I_MAGICV6D = 0x6934;
constexpr int32_t I_MAGICV66D = 0x6935;

// Pixel codes.
constexpr int32_t I_FLOAT = 0;
constexpr int32_t I_LONG = 1;
constexpr int32_t I_SHORT = 2;
constexpr int32_t I_CHR = 4;
constexpr int32_t I_USHORT = 18;
constexpr int32_t I_CHRU = 20;
constexpr int32_t I_BINP = 32;
constexpr int32_t I_BIN = 34;
constexpr int32_t I_LABEL32 = 65;
constexpr int32_t I_LABEL = 66;
constexpr int32_t I_PACKED = 128;

// Grids.
constexpr int32_t I_RECTA = 0;
constexpr int32_t I_HEXAG = 1;

// Image type flags.
constexpr int32_t IM_KORVEL = 0x20;
constexpr int32_t IM_MONO = 0x100;
constexpr int32_t IM_BAYER_RGGB = 0x101;
constexpr int32_t IM_BAYER_GBRG = 0x102;
constexpr int32_t IM_BAYER_GRBG = 0x103;
constexpr int32_t IM_BAYER_BGGR = 0x104;
constexpr int32_t IM_COLOR_ANY = 0x400;
constexpr int32_t IM_COLOR_RGB = 0x401;
constexpr int32_t IM_COLOR_HLS = 0x402;
constexpr int32_t IM_COLOR_YIQ = 0x404;
constexpr int32_t IM_COLOR_NRGB = 0x408;
constexpr int32_t IM_COLOR_USER = 0x40a;
constexpr int32_t IM_COLOR_MSRC = 0x410;
constexpr int32_t IM_3D = 0x800;
constexpr int32_t IM_SEQUENCE = 0x1000;

// Calibration modes.
constexpr int32_t CAL_SQUARE = 0;
constexpr int32_t CAL_RECT1 = 1;
constexpr int32_t CAL_RECT2 = 2;
constexpr int32_t CAL_RECT3 = 3;

// Header-text block.
constexpr char FIELD_SEPARATOR = '\x01';
constexpr char VALUE_SEPARATOR = ':';

constexpr int32_t LUT_SIZE_MAX = 4096;
constexpr int32_t GRAY_SCALE_CLASSES = 256;
/// `version` this system writes; overlays of files from 6500 on carry their own header.
constexpr int32_t TARNIS_WRITER_VERSION = 6500;

// Calibration block sizes.
constexpr size_t CALIBRATION_SIZE_V4 = 2336;
constexpr size_t CALIBRATION_SIZE_V6 = 4424;
constexpr size_t CALIBRATION_SIZE_FULL = 4512;

constexpr size_t V3_DESCRIPTOR_SIZE = 76;
constexpr size_t V4_DESCRIPTOR_SIZE = 108;
constexpr size_t V6_DESCRIPTOR_SIZE = 116;
/// The twelve int32 that open the graphics block of files from version 6500 on.
constexpr size_t OVERLAY_HEADER_SIZE = 48;

/// Version 3 descriptor.
struct desc_im {
    int32_t i_magic;
    int32_t i_dimx;
    int32_t i_dimy;
    int32_t i_dimz;
    int32_t i_res0;
    int32_t i_res00;
    int32_t i_maille;
    int32_t i_res1;
    int32_t i_code;
    int32_t i_bstoc;
    int32_t i_res2;
    int32_t i_orix;
    int32_t i_oriy;
    int32_t i_oriz;
    int32_t i_res3;
    int32_t hdr_sys;
    int32_t hdr_usr;
    int32_t i_res4;
    int32_t hdr_data;
};

/// Version 4 descriptor.
struct V4desc_im {
    int32_t i_magic;
    int32_t gx;
    int32_t gy;
    int32_t gz;
    int32_t gt;
    int32_t ox;
    int32_t oy;
    int32_t oz;
    int32_t ot;
    int32_t gtype;
    int32_t grid;
    int32_t gcode;
    int32_t gbits;
    int32_t order;
    int32_t access_r;
    int32_t headersize;
    int32_t aoilistsize;
    int32_t graphicsize;
    int32_t scalesize;
    int32_t data3dsize;
    int32_t lutsize;
    int32_t version;
    int32_t res2;
    int32_t res3;
    int32_t hdr_sys;
    int32_t hdr_other;
    int32_t hdr_data;
};

/// Version 6 descriptor (also revision 6.6).
struct V6desc_im {
    int32_t i_magic;
    int32_t gx;
    int32_t gy;
    int32_t gz;
    int32_t gc;
    int32_t gt;
    int32_t ox;
    int32_t oy;
    int32_t oz;
    int32_t oc;
    int32_t ot;
    int32_t gtype;
    int32_t grid;
    int32_t gcode;
    int32_t gbits;
    int32_t order;
    int32_t access_r;
    int32_t headersize;
    int32_t aoilistsize;
    int32_t graphicsize;
    int32_t scalesize;
    int32_t data3dsize;
    int32_t lutsize;
    int32_t version;
    int32_t res2;
    int32_t res3;
    int32_t hdr_sys;
    int32_t hdr_other;
    int32_t hdr_data;
};

/// Calibration record; a file holds its first 2336, 4424 or 4512 bytes.
struct mcalib {
    int32_t c_mode;
    char pad0[4];
    double ima_size[6];
    double real_size[6];
    double ima_orig[2];
    double real_orig[2];
    double rxy[4];
    char c_unit[20];
    char c_comments[2048];
    char c_name[50];
    char cal_name[50];
    float ClasseDeb[256];
    float ClasseVal[256];
    int16_t ClasseType;
    char pad1[2];
    int32_t GrayScaleSize;
    char GrayScaleUnit[20];
    float oz;
    float deltaz;
    char pad2[4];
    double originSequence;
    double deltaSequence;
    char unitSequence[50];
    char pad3[6];
    double originSpectral;
    double deltaSpectral;
};

static_assert(sizeof(desc_im) == V3_DESCRIPTOR_SIZE, "desc_im is 76 bytes");
static_assert(sizeof(V4desc_im) == V4_DESCRIPTOR_SIZE, "V4desc_im is 108 bytes");
static_assert(sizeof(V6desc_im) == V6_DESCRIPTOR_SIZE, "V6desc_im is 116 bytes");
static_assert(sizeof(mcalib) == CALIBRATION_SIZE_FULL, "mcalib is 4512 bytes");
static_assert(offsetof(mcalib, ima_size) == 8 && offsetof(mcalib, rxy) == 136 && offsetof(mcalib, c_unit) == 168
                  && offsetof(mcalib, c_name) == 2236 && offsetof(mcalib, ClasseDeb) == CALIBRATION_SIZE_V4
                  && offsetof(mcalib, ClasseType) == 4384 && offsetof(mcalib, GrayScaleSize) == 4388
                  && offsetof(mcalib, oz) == 4412 && offsetof(mcalib, originSequence) == CALIBRATION_SIZE_V6
                  && offsetof(mcalib, unitSequence) == 4440 && offsetof(mcalib, originSpectral) == 4496,
              "mcalib keeps the file layout");

/// A descriptor read with its blocks.
struct image {
    int32_t magic = 0;
    int32_t gx = 0;
    int32_t gy = 0;
    int32_t gz = 0;
    int32_t gc = 0;
    int32_t gt = 0;
    int32_t ox = 0;
    int32_t oy = 0;
    int32_t oz = 0;
    int32_t oc = 0;
    int32_t ot = 0;
    int32_t gtype = 0;
    int32_t grid = 0;
    int32_t gcode = 0;
    int32_t gbits = 0;
    /// Bytes per pixel value.
    int32_t ocode = 0;
    std::string name;
    std::string header;
    /// Bytes of the graphics block, filled only when a file is rewritten in place.
    std::vector<char> graphic;
    mcalib m_calibration{};
    std::vector<uint16_t> m_lutR;
    std::vector<uint16_t> m_lutG;
    std::vector<uint16_t> m_lutB;
    /// The segment block followed by one 0x00; empty without a block.
    std::vector<char> m_segment;
    size_t m_offsetFirstPixel = 0;
    /// Position of the graphics block, 0 without one.
    uint64_t m_offsetOverlay = 0;
    int32_t m_imageVersion = 0;
    float m_imageVersionAsFloat = 0.0F;
    /// Position and size of the region-list block and size of the graphics block, so
    /// that a rewrite in place can carry them over.
    uint64_t m_offsetAoiList = 0;
    uint64_t m_aoiListSize = 0;
    uint64_t m_graphicSize = 0;
    /// Bytes of the region-list block, filled only when a file is rewritten in place.
    std::vector<char> m_aoiList;
};

/// The file type of a magic number, -1 when unknown.
int32_t GetFType(int32_t magicNumber);
/// Bytes of one row: (gx × gbits + 7) / 8, bit 7 of gbits cleared; 64-bit so that no
/// extent of a descriptor can overflow it.
int64_t GetV3Bwidth(const image* img);

/// Read a descriptor and its blocks into `img`. They return -1 when the descriptor or the
/// header text is incomplete, and throw dravik::Error for a descriptor that the file's
/// bytes cannot back (extents below 1, pixel data or blocks beyond the end of the file,
/// negative block sizes) and for faulty blocks.
int32_t ReadV3Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType);
int32_t ReadV4Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType);
int32_t ReadV6Descim(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                     int32_t fileType);

/// Read one trailing block at the stream's position.
void readCalibrationInFile(image* img, dravik::StreamAccess& stream, size_t size, int32_t type);
void readLutinFile(image* img, dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream,
                   size_t size, int32_t fileType);
void readD3dInFile(image* img, dravik::StreamAccess& stream, size_t size);

/// Writes the descriptor at 0: 116, or -1 when it could not be written whole.
int32_t writeV6Heading(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream,
                       const V6desc_im& description);
/// Writes the trailing blocks that `description` announces after the pixel planes.
void writeV6Ending(dravik::StreamAccess& imageStream, dravik::StreamAccess& imageSeekableStream, image* img,
                   const V6desc_im& description);

/// Bytes of the pixel planes that a version 6 descriptor announces; throws dravik::Error
/// when they cannot be counted in 64 bits.
uint64_t pixelDataSize(const V6desc_im& description);

void initImage(image& img);
void initCalibration(mcalib& calibration);

/// Reverses the bytes of each of `count` values in place.
template <typename T>
void endianReverse(T* data, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        boost::endian::endian_reverse_inplace(data[i]);
    }
}

/// The text of a fixed-width character field: up to its first NUL, or all of it.
std::string fieldText(const char* field, size_t width);
/// Copies `text` into a fixed-width field, NUL-padded; a text of `width` characters or
/// more fills the field without a terminating NUL.
void setField(char* field, size_t width, const std::string& text);

} // namespace quenza::tarnis
