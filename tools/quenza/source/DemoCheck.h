#pragma once

#include <dravik/DataFrameView.h>
#include <dravik/ImageView.h>

#include <string>

namespace quenza::cli {

/// What a format keeps of an image besides its shape, type and elements.
struct ImageTraits {
    bool origin = false;
    bool spacing = false;
    bool directions = false;
    bool unit = false;
    bool interpretation = false;
    /// The metadata node below the root whose subtree the format writes back ("KM"); empty: none.
    std::string metadataSection;
    /// Only the text values of the section's direct children come back.
    bool textChildrenOnly = false;
};

/// The first way in which `read`, read back from a file, differs from `written`: shape,
/// type, elements (`readBytes` holds all of `read` packed), then what `traits` says the
/// format keeps. Empty when there is none.
std::string firstImageDifference(dravik::ImageView& written, dravik::ImageView& read, const void* readBytes,
                                 const ImageTraits& traits);

/// The first way in which a table read back differs from the one written: shape, column
/// names (with " (unit)" after them when `unitsInNames`), then the cells, numbers to the
/// six decimals the text keeps. Empty when there is none.
std::string firstTableDifference(dravik::DataFrameView& written, dravik::DataFrameView& read, bool unitsInNames);

} // namespace quenza::cli
