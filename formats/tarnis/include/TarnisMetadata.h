#pragma once

#include <TarnisFormat.h>

#include <dravik/MetadataNode.h>
#include <dravik/SpatialCalibrationProperty.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The blocks of a Tarnis file as a metadata tree below "TARNIS", and back.

namespace quenza::tarnis {

constexpr double FACTOR_TOLERANCE_DOUBLE = 0.001;
constexpr size_t MAX_LENGTH_CALIBRATION_NAME = 49;
constexpr uint32_t BIT_DEPTH_UINT16 = 16;
constexpr uint32_t BIT_DEPTH_FLOAT = 32;
constexpr uint32_t BIT_DEPTH_DOUBLE = 64;

/// Children of "TARNIS" that never become header text.
extern const std::array<const char*, 9> s_listIgnoredMetadata;

/// Pixel sizes `rxy` from the measurements of `c_mode`. Throws dravik::Error "Unknown
/// calibration mode ({0})".
void computeCalib(int32_t c_mode, double* ima_size, const double* real_size, double* rxy);

// File to metadata, each on the "TARNIS" node.
void updateMetadataWithTarnisHeader(const std::shared_ptr<dravik::MetadataNode>& node, const std::string& header);
void updateMetadataWithCalibration(const std::shared_ptr<dravik::MetadataNode>& node, const mcalib& calibration);
void updateMetadataWithLut(const std::shared_ptr<dravik::MetadataNode>& node, const std::vector<uint16_t>& lutR,
                           const std::vector<uint16_t>& lutG, const std::vector<uint16_t>& lutB);
/// `segmentBuffer` is the segment block followed by the one 0x00 the reader appends; the
/// walk stays within the block and fails with dravik::Error "Invalid segment" when a count
/// would take it past the block's end.
void updateMetadataWithSegment(const std::shared_ptr<dravik::MetadataNode>& node,
                               const std::vector<char>& segmentBuffer, int32_t imageGType);
/// One segment set at `pBuf`, which it advances; never reads at or past `end`.
void updateMetadataWithOneSegment(const std::shared_ptr<dravik::MetadataNode>& segmentNode, const char*& pBuf,
                                  const char* end);

// Metadata to file.
/// `indexInShape` holds the shape positions of the x, y and slice axes (-1 when absent).
void updateCalibration(mcalib& calibration, const dravik::SpatialCalibrationProperty& spatialCalibration,
                       const std::shared_ptr<const dravik::MetadataNode>& imageMetadataNode,
                       const int8_t* indexInShape);
void updateCalibrationFromMetadata(mcalib& calibration, const std::shared_ptr<const dravik::MetadataNode>& rootNode);
void updateCalibrationName(mcalib& calibration, const char* newName);
void updateLut(std::string& lutName, std::vector<uint16_t>& lutR, std::vector<uint16_t>& lutG,
               std::vector<uint16_t>& lutB, const std::shared_ptr<const dravik::MetadataNode>& tarnisNode);
void updateHeaderField(std::string& allHeader, const std::shared_ptr<const dravik::MetadataNode>& rootNode);
void updateHeaderFieldFromTarnisMetadata(std::string& allHeader,
                                         const std::shared_ptr<const dravik::MetadataNode>& tarnisNode);
void addHeaderField(std::string& allHeader, const std::string& fieldName, const std::string& fieldValue);

// Each stores the value at `path` below `rootNode` and returns true, or returns false and
// leaves the destination as it was when there is no such value of a fitting type.
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          int16_t& value);
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          int32_t& value);
/// A text of `size` characters or more is cut to `size` - 1 characters; always NUL-terminated.
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          char* value, size_t size);
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          std::string& value);
/// Exactly `count` 32-bit floats.
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          float* value, size_t count);
/// Exactly `count` 64-bit floats.
bool extractMetadataValue(const std::shared_ptr<const dravik::MetadataNode>& rootNode, const std::string& path,
                          double* value, size_t count);

} // namespace quenza::tarnis
