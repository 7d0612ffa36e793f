#pragma once

#include <GatanHandle.h>

#include <common/AbstractExtractor.h>

#include <dravik/Indexer.h>
#include <dravik/MetadataNode.h>
#include <dravik/Region.h>
#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace quenza::gatan {

/// One image of a DM file, built from its "ImageData" directory: shape, element type and
/// calibration. Construction checks that the pixels lie within the file and within their
/// "Data" array; region reads then read them on demand, with a few large positioned
/// reads, so that several threads may read one frame at once.
class GatanFrameExtractor : public common::AbstractExtractor {
public:
    /// Builds the frame described by `imgNode` from the stream of `handle`;
    /// `viewParent` (the extractor owning the frame) must have an origin extension.
    /// Throws dravik::Error when a key is missing, the data type is not supported, or
    /// the pixels do not lie within the file and the "Data" array.
    GatanFrameExtractor(std::shared_ptr<GatanHandle> handle, const std::shared_ptr<const dravik::MetadataNode>& imgNode,
                        dravik::View* viewParent);
    ~GatanFrameExtractor() override;

    /// Colour frames are read as three bytes a pixel, leaving out the fourth stored byte.
    /// Throws dravik::InvalidArgument for a region outside the shape, and dravik::Error
    /// when the file no longer holds the pixels.
    void readRegion(const dravik::RegionXu64& region, void* dst) override;

    /// Largest span of stored bytes read into a scratch buffer at once by readRegion.
    static constexpr uint64_t SCRATCH_BYTES = uint64_t(8) << 20;

    /// The DM image data type code, as stored in "DataType".
    int32_t imageDataType() const { return m_imageDataType; }
    /// Where the frame's stored bytes begin in the stream.
    uint64_t dataOffset() const { return m_dataOffset; }
    /// Layout of the stored bytes.
    const dravik::Indexer& storedLayout() const { return m_indexer; }

private:
    void readShape(const dravik::MetadataNode& imgNode);
    void readType(const dravik::MetadataNode& imgNode);
    void readCalibration(const std::shared_ptr<const dravik::MetadataNode>& imgNode);
    void checkPixels();
    void readStored(uint64_t offset, uint64_t size, void* dst) const;

    std::shared_ptr<GatanHandle> m_handle;
    dravik::Indexer m_indexer;
    uint64_t m_dataOffset = 0;
    /// Bytes of one stored element: 4 for a colour pixel of 3 channels.
    uint64_t m_storedElementBytes = 0;
    int32_t m_imageDataType = 0;
};

} // namespace quenza::gatan
