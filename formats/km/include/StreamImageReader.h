#pragma once

#include <dravik/DataStorage.h>
#include <dravik/ImageView.h>
#include <dravik/Region.h>
#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::km {

/// The bytes of a 2-D or 3-D image as a read-only stream: slice after slice along
/// axis 2, each packed as readRegion packs it. Holds one slice in memory, or reads the
/// image's own buffer when the image exposes its elements densely in memory.
class StreamImageReader : public dravik::StreamAccess {
public:
    /// Throws dravik::Error "Unsupported image shape in StreamImageReader" for an image
    /// of other than 2 or 3 dimensions.
    explicit StreamImageReader(std::shared_ptr<dravik::ImageView> image);
    ~StreamImageReader() override;

    /// Throws dravik::NotImplemented "no storage".
    std::shared_ptr<dravik::DataStorage> storage() const override;
    /// Throws dravik::NotImplemented "no resource id".
    std::string resourceId() const override;
    dravik::StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool good() const override { return !eof() && !fail(); }
    bool eof() const override { return m_posInImage == m_totalSize; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t size, void* dst) override;
    /// Throws dravik::Error "StreamImageReader::peek: end of stream" at or past the end.
    uint8_t peek() override;
    uint64_t tell() const override { return m_posInImage; }
    void seek(int64_t offset, dravik::SeekOrigin origin) override;
    /// The image's buffer with MEMORY_ACCESS; otherwise throws dravik::Error "Unsupported operation".
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

private:
    void readCurrentFrame();
    bool inMemory() const { return m_capabilities.has(dravik::StreamAccessCapability::MEMORY_ACCESS); }

    std::shared_ptr<dravik::ImageView> m_image;
    dravik::StreamAccessCapabilitySet m_capabilities;
    dravik::RegionXu64 m_fullRegion;
    uint64_t m_posInFrame = 0;
    uint64_t m_currentFrame = 0;
    uint64_t m_posInImage = 0;
    uint64_t m_totalFrameCount = 0;
    uint64_t m_totalSize = 0;
    uint64_t m_frameSize = 0;
    std::vector<uint8_t> m_currentBufferFrame;
    uint64_t m_currentFrameReadIndex = UINT64_MAX;
};

} // namespace quenza::km
