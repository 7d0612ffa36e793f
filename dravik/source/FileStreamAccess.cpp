#include "FileStreamAccess.h"

#include "AccessSupport.h"
#include "FileHandle.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dravik {

FileStreamAccess::FileStreamAccess(std::shared_ptr<FileHandle> file)
    : m_file(std::move(file))
    , m_buffer(new uint8_t[STREAM_BUFFER_SIZE])
{
    if (m_file->readable()) {
        m_capabilities.add(StreamAccessCapability::READ);
    }
    if (m_file->writable()) {
        m_capabilities.add(StreamAccessCapability::WRITE);
    }
    if (m_file->seekable()) {
        m_capabilities.add(StreamAccessCapability::SEEK);
    }
}

FileStreamAccess::~FileStreamAccess()
{
    if (m_mode == Mode::WRITING) {
        writePending();
    }
}

std::shared_ptr<DataStorage> FileStreamAccess::storage() const
{
    return m_file->storage();
}

std::string FileStreamAccess::resourceId() const
{
    return m_file->resourceId();
}

void FileStreamAccess::requireRead() const
{
    if (!m_capabilities.has(StreamAccessCapability::READ)) {
        throw NotImplemented(fmt::format("File '{}' was not opened for reading", m_file->path()));
    }
}

void FileStreamAccess::requireWrite() const
{
    if (!m_capabilities.has(StreamAccessCapability::WRITE)) {
        throw NotImplemented(fmt::format("File '{}' was not opened for writing", m_file->path()));
    }
}

void FileStreamAccess::dropBuffer()
{
    m_mode = Mode::EMPTY;
    m_bufferStart = m_position;
    m_bufferLength = 0;
}

FileStreamAccess::Fill FileStreamAccess::fillBuffer()
{
    dropBuffer();
    const int64_t got = m_file->readSome(m_position, STREAM_BUFFER_SIZE, m_buffer.get());
    if (got < 0) {
        m_lastError = errno;
        m_fail = true;
        return Fill::FAILED;
    }
    if (got == 0) {
        return Fill::END;
    }
    m_mode = Mode::READING;
    m_bufferLength = static_cast<uint64_t>(got);
    return Fill::FILLED;
}

bool FileStreamAccess::writePending()
{
    uint64_t done = 0;
    while (done < m_bufferLength) {
        const int64_t written = m_file->writeSome(m_bufferStart + done, m_bufferLength - done, m_buffer.get() + done);
        if (written <= 0) {
            m_lastError = written < 0 ? errno : EIO;
            m_fail = true;
            break;
        }
        done += static_cast<uint64_t>(written);
    }
    const bool complete = done == m_bufferLength;
    dropBuffer();
    return complete;
}

uint64_t FileStreamAccess::read(uint64_t size, void* dst)
{
    requireRead();
    if (m_mode == Mode::WRITING) {
        writePending();
    }
    auto* out = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    while (done < size) {
        if (m_mode == Mode::READING) {
            const uint64_t inBuffer = m_position - m_bufferStart;
            const uint64_t available = m_bufferLength - inBuffer;
            if (available > 0) {
                const uint64_t count = std::min(available, size - done);
                std::memcpy(out + done, m_buffer.get() + inBuffer, count);
                done += count;
                m_position += count;
                continue;
            }
        }
        const uint64_t remaining = size - done;
        if (remaining >= STREAM_BUFFER_SIZE) {
            dropBuffer();
            const int64_t got = m_file->readSome(m_position, remaining, out + done);
            if (got < 0) {
                m_lastError = errno;
                m_fail = true;
                break;
            }
            if (got == 0) {
                m_eof = true;
                break;
            }
            done += static_cast<uint64_t>(got);
            m_position += static_cast<uint64_t>(got);
        } else {
            const Fill fill = fillBuffer();
            if (fill == Fill::END) {
                m_eof = true;
            }
            if (fill != Fill::FILLED) {
                break;
            }
        }
    }
    return done;
}

uint8_t FileStreamAccess::peek()
{
    requireRead();
    if (m_mode == Mode::WRITING) {
        writePending();
    }
    if (m_mode == Mode::READING && m_position < m_bufferStart + m_bufferLength) {
        return m_buffer[m_position - m_bufferStart];
    }
    switch (fillBuffer()) {
    case Fill::FILLED:
        return m_buffer[0];
    case Fill::FAILED:
        throw Error(m_file->failureMessage("read", m_lastError));
    case Fill::END:
        break;
    }
    throw Error("Cannot peek past the end of the stream");
}

uint64_t FileStreamAccess::write(uint64_t size, const void* src)
{
    requireWrite();
    if (size == 0) {
        return 0;
    }
    if (m_mode == Mode::READING) {
        dropBuffer();
    }
    if (m_mode == Mode::WRITING && m_position - m_bufferStart + size > STREAM_BUFFER_SIZE && !writePending()) {
        return 0;
    }
    if (size >= STREAM_BUFFER_SIZE) {
        const auto* in = static_cast<const uint8_t*>(src);
        uint64_t done = 0;
        while (done < size) {
            const int64_t written = m_file->writeSome(m_position, size - done, in + done);
            if (written <= 0) {
                m_lastError = written < 0 ? errno : EIO;
                m_fail = true;
                break;
            }
            done += static_cast<uint64_t>(written);
            m_position += static_cast<uint64_t>(written);
        }
        dropBuffer();
        return done;
    }
    if (m_mode != Mode::WRITING) {
        m_mode = Mode::WRITING;
        m_bufferStart = m_position;
        m_bufferLength = 0;
    }
    std::memcpy(m_buffer.get() + (m_position - m_bufferStart), src, size);
    m_position += size;
    m_bufferLength = std::max(m_bufferLength, m_position - m_bufferStart);
    return size;
}

void FileStreamAccess::flush()
{
    if (m_mode == Mode::WRITING && !writePending()) {
        throw Error(m_file->failureMessage("write", m_lastError));
    }
}

uint64_t FileStreamAccess::endPosition() const
{
    const uint64_t size = m_file->size();
    if (m_mode == Mode::WRITING) {
        return std::max(size, m_bufferStart + m_bufferLength);
    }
    return size;
}

void FileStreamAccess::seek(int64_t offset, SeekOrigin origin)
{
    if (!m_capabilities.has(StreamAccessCapability::SEEK)) {
        throw NotImplemented(fmt::format("Cannot seek in '{}': it is not a regular file", m_file->path()));
    }
    const uint64_t target = seekTarget(seekBase(origin, m_position, [this] { return endPosition(); }), offset);
    const bool insideBuffer =
        m_mode != Mode::EMPTY && target >= m_bufferStart && target <= m_bufferStart + m_bufferLength;
    if (!insideBuffer && m_mode == Mode::WRITING) {
        writePending();
    }
    m_position = target;
    if (!insideBuffer) {
        dropBuffer();
    }
    m_eof = false;
}

} // namespace dravik
