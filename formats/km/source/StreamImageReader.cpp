#include <StreamImageReader.h>

#include <dravik/Error.h>
#include <dravik/Indexer.h>

#include <algorithm>
#include <cstring>

namespace quenza::km {

StreamImageReader::StreamImageReader(std::shared_ptr<dravik::ImageView> image)
    : m_image(std::move(image))
    , m_capabilities(dravik::StreamAccessCapability::READ)
{
    const dravik::VectorXu64& shape = m_image->shape();
    if (shape.size() != 2 && shape.size() != 3) {
        throw dravik::Error("Unsupported image shape in StreamImageReader");
    }
    m_fullRegion = dravik::RegionXu64::fullRegion(shape);
    const uint64_t elementBytes = m_image->dataType().byteCount();
    m_totalFrameCount = shape.size() == 2 ? 1 : shape[2];
    m_frameSize = shape[0] * shape[1] * elementBytes;
    m_totalSize = m_frameSize * m_totalFrameCount;
    // The buffer is read as the stream's bytes only when it holds them densely.
    if (m_image->support(dravik::ImageCapability::MEMORY_ACCESS) && m_image->indexer().isDense()
        && m_image->bufferSize() >= m_totalSize) {
        m_capabilities.add(dravik::StreamAccessCapability::MEMORY_ACCESS);
    } else {
        m_currentBufferFrame.resize(static_cast<size_t>(m_frameSize));
    }
}

StreamImageReader::~StreamImageReader() = default;

std::shared_ptr<dravik::DataStorage> StreamImageReader::storage() const
{
    throw dravik::NotImplemented("no storage");
}

std::string StreamImageReader::resourceId() const
{
    throw dravik::NotImplemented("no resource id");
}

void StreamImageReader::readCurrentFrame()
{
    if (m_currentFrame != m_currentFrameReadIndex && m_currentFrame < m_totalFrameCount) {
        const auto frame = m_fullRegion.dimensionCount() == 2 ? m_fullRegion
                                                              : m_fullRegion.extractSliceFromAxis(2, m_currentFrame);
        m_image->readRegion(frame, m_currentBufferFrame.data());
        m_currentFrameReadIndex = m_currentFrame;
    }
}

uint64_t StreamImageReader::read(uint64_t size, void* dst)
{
    if (m_posInImage >= m_totalSize) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    if (inMemory()) {
        done = std::min(size, m_totalSize - m_posInImage);
        std::memcpy(out, static_cast<const uint8_t*>(m_image->bufferReadOnly()) + m_posInImage,
                    static_cast<size_t>(done));
        seek(static_cast<int64_t>(m_posInImage + done), dravik::SeekOrigin::BEGIN);
        return done;
    }
    // A frame that fails to load leaves the position where the read started, so that
    // a retry reads the same bytes.
    const uint64_t start = m_posInImage;
    try {
        readCurrentFrame();
    } catch (...) {
        seek(static_cast<int64_t>(start), dravik::SeekOrigin::BEGIN);
        throw;
    }
    while (done < size && m_currentFrame < m_totalFrameCount) {
        const uint64_t n = std::min(size - done, m_frameSize - m_posInFrame);
        std::memcpy(out + done, m_currentBufferFrame.data() + m_posInFrame, static_cast<size_t>(n));
        done += n;
        m_posInFrame += n;
        m_posInImage += n;
        if (m_posInFrame == m_frameSize) {
            ++m_currentFrame;
            m_posInFrame = 0;
            if (done < size) {
                try {
                    readCurrentFrame();
                } catch (...) {
                    seek(static_cast<int64_t>(start), dravik::SeekOrigin::BEGIN);
                    throw;
                }
            }
        }
    }
    return done;
}

uint8_t StreamImageReader::peek()
{
    if (m_posInImage >= m_totalSize) {
        throw dravik::Error("StreamImageReader::peek: end of stream");
    }
    if (inMemory()) {
        return static_cast<const uint8_t*>(m_image->bufferReadOnly())[m_posInImage];
    }
    readCurrentFrame();
    return m_currentBufferFrame[static_cast<size_t>(m_posInFrame)];
}

void StreamImageReader::seek(int64_t offset, dravik::SeekOrigin origin)
{
    int64_t p = 0;
    switch (origin) {
    case dravik::SeekOrigin::BEGIN:
        if (offset < 0) {
            throw dravik::Error("StreamImageReader::seek: negative offset");
        }
        p = offset;
        break;
    case dravik::SeekOrigin::CURRENT:
        p = static_cast<int64_t>(m_posInImage) + offset;
        if (p < 0) {
            throw dravik::Error("StreamImageReader::seek: negative offset");
        }
        break;
    case dravik::SeekOrigin::END:
        p = static_cast<int64_t>(m_totalSize) + offset;
        if (p < 0) {
            throw dravik::Error("StreamImageReader::seek: positive offset");
        }
        break;
    default: throw dravik::Error("StreamImageReader::seek: unknown origin");
    }
    m_posInImage = static_cast<uint64_t>(p);
    // An image without elements has frames of no bytes: every position is past its end.
    m_currentFrame = m_frameSize == 0 ? m_totalFrameCount : m_posInImage / m_frameSize;
    m_posInFrame = m_frameSize == 0 ? 0 : m_posInImage % m_frameSize;
}

void* StreamImageReader::buffer()
{
    if (!inMemory()) {
        throw dravik::Error("Unsupported operation");
    }
    return m_image->buffer();
}

const void* StreamImageReader::bufferReadOnly() const
{
    if (!inMemory()) {
        throw dravik::Error("Unsupported operation");
    }
    return m_image->bufferReadOnly();
}

uint64_t StreamImageReader::bufferSize() const
{
    if (!inMemory()) {
        throw dravik::Error("Unsupported operation");
    }
    return m_image->bufferSize();
}

} // namespace quenza::km
