#include "PngFile.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <png.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quenza::cli {

namespace {

std::vector<uint8_t> encode(const Picture& picture)
{
    // The simplified interface reports failures in the image record instead of jumping
    // out with longjmp, which C++ objects on the stack would not survive.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = picture.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const auto stride = static_cast<png_int_32>(picture.width * picture.channels);
    png_alloc_size_t size = 0;
    std::vector<uint8_t> bytes;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, picture.pixels.data(), stride, nullptr) != 0) {
        bytes.resize(size);
        if (png_image_write_to_memory(&image, bytes.data(), &size, 0, picture.pixels.data(), stride, nullptr) != 0) {
            bytes.resize(size);
            return bytes;
        }
    }
    const std::string reason = image.message;
    png_image_free(&image);
    throw dravik::Error(fmt::format("cannot encode the PNG picture: {}", reason));
}

} // namespace

void writePng(const std::string& path, const Picture& picture)
{
    if (picture.width == 0 || picture.height == 0 || (picture.channels != 1 && picture.channels != 3)
        || picture.pixels.size() != uint64_t(picture.width) * picture.height * picture.channels) {
        throw dravik::InvalidArgument("The picture's pixels do not match its size");
    }
    const std::vector<uint8_t> bytes = encode(picture);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw dravik::Error(fmt::format("{}: cannot create the file: {}", path, std::strerror(errno)));
    }
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        throw dravik::Error(fmt::format("{}: cannot write the PNG file", path));
    }
}

} // namespace quenza::cli
