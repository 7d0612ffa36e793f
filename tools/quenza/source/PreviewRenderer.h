#pragma once

#include <dravik/ImageView.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenza::cli {

/// An 8-bit picture: one grey or three colour values per pixel, rows from the top.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    /// 1 (grey) or 3 (red, green, blue).
    uint32_t channels = 1;
    std::vector<uint8_t> pixels;
    /// What was rendered, for the user: "slice 64 of 128 along z, grey levels 0 to 65535".
    std::string description;
};

struct PreviewOptions {
    /// The axis the slice is taken across (or the projection runs along): 0 x, 1 y, 2 z.
    size_t axis = 2;
    /// The slice along the axis; the middle one when absent.
    std::optional<uint64_t> slice;
    /// A maximum-intensity projection along the axis instead of one slice.
    bool mip = false;
    /// Grey levels from the 0.5th to the 99.5th percentile instead of the value range.
    bool autoContrast = false;
};

/// The largest picture a preview makes, in pixels.
constexpr uint64_t MAX_PREVIEW_PIXELS = uint64_t(1) << 25;

/// Renders one slice or projection of a 2-D or 3-D image. Scalar images become grey
/// levels, scaled from the value range of their properties (else of their type, or of
/// the values for real numbers); LABEL images get one colour per label, 0 black; images of
/// 3- or 4-component elements, or with a CHANNEL axis of 3 or 4 and a colour
/// interpretation, are shown in colour. Throws dravik::Error for what cannot be shown.
Picture renderPreview(const std::shared_ptr<dravik::ImageView>& image, const PreviewOptions& options);

/// The colour of `label` in previews: black for 0, distinct hues for the others.
std::vector<uint8_t> labelColour(int64_t label);

} // namespace quenza::cli
