#include "PreviewRenderer.h"

#include "ScalarType.h"
#include "TextFormat.h"

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quenza::cli {

namespace {

// Bytes read from the image at a time.
constexpr uint64_t SLAB_BYTES = uint64_t(16) << 20;
const char* const AXIS_NAMES[] = {"x", "y", "z"};

bool isColour(dravik::ImageInterpretation interpretation)
{
    return interpretation != dravik::ImageInterpretation::UNKNOWN
        && interpretation != dravik::ImageInterpretation::GRAYSCALE
        && interpretation != dravik::ImageInterpretation::LABEL
        && interpretation != dravik::ImageInterpretation::BINARY;
}

struct Projection {
    size_t axis;
    uint64_t width;
    /// Components kept per pixel (1 or 3) and components stored per element.
    uint32_t channels;
    uint32_t components;
    std::vector<double>& plane;
};

/// Folds the elements of a slab read at `origin` with `size` into the plane, keeping the
/// largest value of each pixel (the only one for a slice).
template <typename T>
void foldSlab(const uint8_t* bytes, const uint64_t origin[3], const uint64_t size[3], const Projection& p)
{
    uint64_t element = 0;
    for (uint64_t z = origin[2]; z < origin[2] + size[2]; ++z) {
        for (uint64_t y = origin[1]; y < origin[1] + size[1]; ++y) {
            for (uint64_t x = origin[0]; x < origin[0] + size[0]; ++x, ++element) {
                const uint64_t u = p.axis == 0 ? y : x;
                const uint64_t v = p.axis == 2 ? y : z;
                double* pixel = p.plane.data() + (v * p.width + u) * p.channels;
                for (uint32_t c = 0; c < p.channels; ++c) {
                    T value;
                    std::memcpy(&value, bytes + (element * p.components + c) * sizeof(T), sizeof(T));
                    const auto d = static_cast<double>(value);
                    if (d > pixel[c]) {
                        pixel[c] = d;
                    }
                }
            }
        }
    }
}

std::pair<double, double> percentiles(const std::vector<double>& plane)
{
    std::vector<double> values;
    values.reserve(plane.size());
    for (double v : plane) {
        if (std::isfinite(v)) {
            values.push_back(v);
        }
    }
    if (values.empty()) {
        return {0, 1};
    }
    const auto at = [&](double fraction) {
        const auto k = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
        return values[k];
    };
    return {at(0.005), at(0.995)};
}

std::pair<double, double> finiteExtremes(const std::vector<double>& plane)
{
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (double v : plane) {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    return lo <= hi ? std::make_pair(lo, hi) : std::make_pair(0.0, 1.0);
}

std::pair<double, double> levels(const dravik::ImageView& image, const std::vector<double>& plane, bool autoContrast)
{
    std::pair<double, double> range;
    const dravik::DataType scalar = image.dataType().extractScalarType();
    const auto props = image.properties();
    const auto declared = props ? props->imageInfo().valueRange() : dravik::Vector2d{0.0, 0.0};
    // The value range of a real type is all its numbers, of no use to pick grey levels.
    const bool declaredUseful = std::isfinite(declared[0]) && std::isfinite(declared[1]) && declared[0] < declared[1]
        && declared[1] - declared[0] < 1e30;
    if (autoContrast) {
        range = percentiles(plane);
    } else if (declaredUseful) {
        range = {declared[0], declared[1]};
    } else if (scalar.isInteger()) {
        range = dravik::DataType::standardRange(scalar);
    } else {
        range = finiteExtremes(plane);
    }
    if (!(range.first < range.second)) {
        range.second = range.first + 1;
    }
    return range;
}

uint8_t greyLevel(double v, double lo, double hi)
{
    if (std::isnan(v) || v <= lo) {
        return 0;
    }
    if (v >= hi) {
        return 255;
    }
    return static_cast<uint8_t>(std::lround((v - lo) / (hi - lo) * 255.0));
}

} // namespace

std::vector<uint8_t> labelColour(int64_t label)
{
    if (label == 0) {
        return {0, 0, 0};
    }
    // Hues a golden angle apart stay distinct for neighbouring labels.
    const double hue = std::fmod(static_cast<double>(label) * 0.6180339887498949 + 0.1, 1.0);
    const double h = (hue < 0 ? hue + 1 : hue) * 6;
    const double saturation = 0.75;
    const double value = label % 2 == 0 ? 0.85 : 1.0;
    const double c = value * saturation;
    const double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
    const double m = value - c;
    double r = 0;
    double g = 0;
    double b = 0;
    switch (static_cast<int>(h) % 6) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
    }
    const auto byte = [&](double v) { return static_cast<uint8_t>(std::lround((v + m) * 255)); };
    return {byte(r), byte(g), byte(b)};
}

Picture renderPreview(const std::shared_ptr<dravik::ImageView>& input, const PreviewOptions& options)
{
    std::shared_ptr<dravik::ImageView> image = input;
    const auto props = image->properties();
    const auto interpretation = props ? props->imageInfo().interpretation() : dravik::ImageInterpretation::UNKNOWN;
    if (props && image->dataType().isScalar() && isColour(interpretation)) {
        const auto& axes = props->imageInfo().axesInterpretation();
        const int channel = axes.position(dravik::ImageTypeDimension::CHANNEL);
        if (channel >= 0 && static_cast<size_t>(channel) < image->shape().size()
            && (image->shape()[channel] == 3 || image->shape()[channel] == 4)) {
            image = dravik::ImageViewFactory::assembleChannels(image);
        }
    }
    const dravik::DataType type = image->dataType();
    if (type.isComplex() || type.isString() || type.isUnknown()) {
        throw dravik::Error(fmt::format("Elements of type {} cannot be shown", type.toString()));
    }
    const bool colour = type.elementCount() == 3 || type.elementCount() == 4;
    if (!colour && type.elementCount() != 1) {
        throw dravik::Error(fmt::format("Elements of {} components ({}) cannot be shown; only scalars and colours "
                                        "of 3 or 4 components can",
                                        type.elementCount(), type.toString()));
    }
    const bool labels = !colour && interpretation == dravik::ImageInterpretation::LABEL;
    const auto& shape = image->shape();
    if (shape.size() < 2 || shape.size() > 3) {
        throw dravik::Error(fmt::format("A preview shows 2-D and 3-D images, not one of {} dimensions ({})",
                                        shape.size(), shapeText(shape)));
    }
    const uint64_t sizes[3] = {shape[0], shape[1], shape.size() == 3 ? shape[2] : 1};
    if (sizes[0] == 0 || sizes[1] == 0 || sizes[2] == 0) {
        throw dravik::Error(fmt::format("The image is empty ({})", shapeText(shape)));
    }
    const size_t axis = options.axis;
    if (axis > 2) {
        throw dravik::InvalidArgument(fmt::format("Axis {} does not exist: 0, 1 or 2", axis));
    }
    uint64_t origin[3] = {0, 0, 0};
    uint64_t extent[3] = {sizes[0], sizes[1], sizes[2]};
    std::string what;
    if (options.mip) {
        what = fmt::format("maximum-intensity projection along {}, ", AXIS_NAMES[axis]);
    } else {
        const uint64_t slice = options.slice.value_or(sizes[axis] / 2);
        if (slice >= sizes[axis]) {
            throw dravik::InvalidArgument(fmt::format("Slice {} is outside the image: it has {} along {} (0 to {})",
                                                      slice, sizes[axis], AXIS_NAMES[axis], sizes[axis] - 1));
        }
        origin[axis] = slice;
        extent[axis] = 1;
        if (shape.size() == 3 || axis != 2) {
            what = fmt::format("slice {} of {} along {}, ", slice, sizes[axis], AXIS_NAMES[axis]);
        }
    }

    const uint64_t width = axis == 0 ? sizes[1] : sizes[0];
    const uint64_t height = axis == 2 ? sizes[1] : sizes[2];
    if (width > MAX_PREVIEW_PIXELS / height) {
        throw dravik::Error(fmt::format("A preview of {} x {} pixels is too large (at most {} pixels)", width, height,
                                        MAX_PREVIEW_PIXELS));
    }
    const uint32_t channels = colour ? 3 : 1;
    std::vector<double> plane(width * height * channels, -std::numeric_limits<double>::infinity());
    const Projection projection{axis, width, channels, type.elementCount(), plane};

    const uint64_t elementBytes = type.byteCount();
    uint64_t chunk[3];
    chunk[0] = std::min(extent[0], std::max<uint64_t>(1, SLAB_BYTES / elementBytes));
    chunk[1] = chunk[0] < extent[0] ? 1 : std::min(extent[1], std::max<uint64_t>(1, SLAB_BYTES / (extent[0] * elementBytes)));
    chunk[2] = chunk[1] < extent[1]
        ? 1
        : std::min(extent[2], std::max<uint64_t>(1, SLAB_BYTES / (extent[0] * extent[1] * elementBytes)));
    std::vector<uint8_t> buffer(chunk[0] * chunk[1] * chunk[2] * elementBytes);
    const dravik::DataType scalar = type.extractScalarType();
    for (uint64_t z = origin[2]; z < origin[2] + extent[2]; z += chunk[2]) {
        for (uint64_t y = origin[1]; y < origin[1] + extent[1]; y += chunk[1]) {
            for (uint64_t x = origin[0]; x < origin[0] + extent[0]; x += chunk[0]) {
                const uint64_t at[3] = {x, y, z};
                const uint64_t size[3] = {std::min(chunk[0], origin[0] + extent[0] - x),
                                          std::min(chunk[1], origin[1] + extent[1] - y),
                                          std::min(chunk[2], origin[2] + extent[2] - z)};
                dravik::VectorXu64 regionOrigin{x, y};
                dravik::VectorXu64 regionSize{size[0], size[1]};
                if (shape.size() == 3) {
                    regionOrigin.push_back(z);
                    regionSize.push_back(size[2]);
                }
                image->readRegion(dravik::RegionXu64(regionOrigin, regionSize), buffer.data());
                withScalarType(scalar, [&](auto tag) { foldSlab<decltype(tag)>(buffer.data(), at, size, projection); });
            }
        }
    }

    Picture picture;
    picture.width = static_cast<uint32_t>(width);
    picture.height = static_cast<uint32_t>(height);
    picture.channels = labels ? 3 : channels;
    picture.pixels.resize(width * height * picture.channels);
    std::string how;
    if (labels) {
        for (uint64_t i = 0; i < width * height; ++i) {
            const double v = plane[i];
            const auto rgb = std::isfinite(v) ? labelColour(static_cast<int64_t>(std::llround(v))) : labelColour(0);
            std::copy(rgb.begin(), rgb.end(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(i * 3));
        }
        how = "one colour per label";
    } else {
        const auto [lo, hi] = levels(*image, plane, options.autoContrast);
        for (size_t i = 0; i < plane.size(); ++i) {
            picture.pixels[i] = greyLevel(plane[i], lo, hi);
        }
        how = fmt::format("{} levels {} to {}{}", colour ? "colour" : "grey", lo, hi,
                          options.autoContrast ? " (0.5th to 99.5th percentile)" : "");
    }
    picture.description = fmt::format("{}{} x {} pixels, {}", what, width, height, how);
    return picture;
}

} // namespace quenza::cli
