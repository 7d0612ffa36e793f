#pragma once

#include <TarnisFormat.h>

#include <dravik/DataType.h>
#include <dravik/ImageInfoProperty.h>
#include <dravik/ImageType.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How an image's type, interpretation, axes, calibration and metadata become a version 6
// descriptor; shared by the writer and the editable view.

namespace quenza::tarnis {

/// Entries of an `indexInShape` array.
enum AxisIndex : size_t { AXIS_X = 0, AXIS_Y = 1, AXIS_Z = 2, AXIS_C = 3, AXIS_T = 4, AXIS_COUNT = 5 };

/// True when an image of `dataType` with `interpretation` can be stored.
bool isValidDatatype(const dravik::DataType& dataType, dravik::ImageInterpretation interpretation);
/// The pixel code, -1 when there is none.
int32_t determineGCode(const dravik::DataType& dataType, dravik::ImageInterpretation interpretation);
int32_t determineGType(dravik::ImageInterpretation interpretation, const dravik::ImageType& axes);
/// Shape positions of the x, y, slice, channel and time axes; -1 for an absent one.
void updateIndexInShape(const dravik::ImageType& axes, int8_t* indexInShape);

/// True for the colour interpretations, between BINARY and MULTISPECTRAL.
bool isColorInterpretation(dravik::ImageInterpretation interpretation);
/// The axes of `image`: its axes interpretation when it has one axis per dimension, else
/// the usual axes of that many dimensions, so that an image without interpretation is
/// stored whole.
dravik::ImageType effectiveAxes(const dravik::ImageView& image);

/// Fills `vlgDescription` for `image`. A grey-level or unknown image with several
/// channels is stored as a multi-spectral image, so that its channels are read back.
void updateDescription(V6desc_im& vlgDescription, dravik::ImageView* image, const mcalib& calibration,
                       std::string& header, std::vector<uint16_t>& lutR, std::vector<uint16_t>& lutG,
                       std::vector<uint16_t>& lutB, const std::shared_ptr<const dravik::MetadataNode>& tarnisNode,
                       const int8_t* indexInShape);

/// Refuses look-up tables that a file cannot hold: dravik::Error naming the count.
void checkLutSize(size_t entries);
/// The refusals beyond the type and interpretation checks: shapes a descriptor cannot
/// hold, channels that would be dropped, look-up tables too long. Empty when accepted.
std::string checkStorable(dravik::ImageView& image);

} // namespace quenza::tarnis
