#include "StdStreamAdapters.h"

#include "AccessSupport.h"

#include <dravik/Error.h>

#include <algorithm>
#include <cstring>

namespace dravik {

namespace {

SeekOrigin originOf(std::ios_base::seekdir dir)
{
    if (dir == std::ios_base::beg) {
        return SeekOrigin::BEGIN;
    }
    return dir == std::ios_base::cur ? SeekOrigin::CURRENT : SeekOrigin::END;
}

} // namespace

StreamAccessBuffer::StreamAccessBuffer(std::shared_ptr<StreamAccess> stream, Direction direction)
    : m_stream(std::move(stream))
    , m_direction(direction)
    , m_buffer(STREAM_BUFFER_SIZE)
{
    char* begin = m_buffer.data();
    if (m_direction == Direction::INPUT) {
        setg(begin, begin, begin);
    } else {
        setp(begin, begin + m_buffer.size());
    }
}

StreamAccessBuffer::~StreamAccessBuffer()
{
    try {
        if (m_direction == Direction::OUTPUT) {
            writePending();
            m_stream->flush();
        } else if (m_stream->support(StreamAccessCapability::SEEK)) {
            returnReadAhead();
        }
    } catch (...) {
        // Destruction cannot report; whoever needs the outcome flushes first.
    }
}

StreamAccessBuffer::int_type StreamAccessBuffer::underflow()
{
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    char* begin = m_buffer.data();
    const uint64_t count = m_stream->read(m_buffer.size(), begin);
    setg(begin, begin, begin + count);
    return count == 0 ? traits_type::eof() : traits_type::to_int_type(*begin);
}

std::streamsize StreamAccessBuffer::xsgetn(char_type* s, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count) {
        const std::streamsize available = egptr() - gptr();
        if (available > 0) {
            const std::streamsize part = std::min(available, count - done);
            std::memcpy(s + done, gptr(), static_cast<size_t>(part));
            gbump(static_cast<int>(part));
            done += part;
            continue;
        }
        const auto remaining = static_cast<uint64_t>(count - done);
        if (remaining >= m_buffer.size()) {
            const uint64_t got = m_stream->read(remaining, s + done);
            if (got == 0) {
                break;
            }
            done += static_cast<std::streamsize>(got);
        } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
            break;
        }
    }
    return done;
}

bool StreamAccessBuffer::writePending()
{
    const auto pending = static_cast<uint64_t>(pptr() - pbase());
    char* begin = m_buffer.data();
    // The buffer is emptied whatever happens, so that a failed write is not retried forever.
    setp(begin, begin + m_buffer.size());
    return pending == 0 || m_stream->write(pending, begin) == pending;
}

StreamAccessBuffer::int_type StreamAccessBuffer::overflow(int_type ch)
{
    if (!writePending()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

std::streamsize StreamAccessBuffer::xsputn(const char_type* s, std::streamsize count)
{
    if (count <= epptr() - pptr()) {
        std::memcpy(pptr(), s, static_cast<size_t>(count));
        pbump(static_cast<int>(count));
        return count;
    }
    if (!writePending()) {
        return 0;
    }
    if (static_cast<uint64_t>(count) >= m_buffer.size()) {
        return static_cast<std::streamsize>(m_stream->write(static_cast<uint64_t>(count), s));
    }
    std::memcpy(pptr(), s, static_cast<size_t>(count));
    pbump(static_cast<int>(count));
    return count;
}

int StreamAccessBuffer::sync()
{
    if (m_direction == Direction::OUTPUT) {
        if (!writePending()) {
            return -1;
        }
        m_stream->flush();
        return 0;
    }
    if (m_stream->support(StreamAccessCapability::SEEK)) {
        returnReadAhead();
    }
    return 0;
}

void StreamAccessBuffer::returnReadAhead()
{
    const std::streamsize unread = egptr() - gptr();
    char* begin = m_buffer.data();
    setg(begin, begin, begin);
    if (unread > 0) {
        m_stream->seek(-static_cast<int64_t>(unread), SeekOrigin::CURRENT);
    }
}

uint64_t StreamAccessBuffer::logicalPosition() const
{
    if (m_direction == Direction::INPUT) {
        return m_stream->tell() - static_cast<uint64_t>(egptr() - gptr());
    }
    return m_stream->tell() + static_cast<uint64_t>(pptr() - pbase());
}

StreamAccessBuffer::pos_type StreamAccessBuffer::seekoff(off_type offset, std::ios_base::seekdir dir,
                                                         std::ios_base::openmode /*which*/)
{
    const auto failure = pos_type(off_type(-1));
    if (offset == 0 && dir == std::ios_base::cur) {
        return pos_type(static_cast<off_type>(logicalPosition()));
    }
    if (!m_stream->support(StreamAccessCapability::SEEK)) {
        return failure;
    }
    try {
        // Bring the stream to the logical position first, so that a refused seek
        // leaves everything consistent.
        if (m_direction == Direction::INPUT) {
            returnReadAhead();
        } else if (!writePending()) {
            return failure;
        }
        m_stream->seek(static_cast<int64_t>(offset), originOf(dir));
        return pos_type(static_cast<off_type>(m_stream->tell()));
    } catch (const Error&) {
        return failure;
    }
}

StreamAccessBuffer::pos_type StreamAccessBuffer::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

StdIStream::StdIStream(std::shared_ptr<StreamAccess> stream)
    : std::istream(nullptr)
    , m_buffer(std::move(stream), StreamAccessBuffer::Direction::INPUT)
{
    rdbuf(&m_buffer);
}

StdOStream::StdOStream(std::shared_ptr<StreamAccess> stream)
    : std::ostream(nullptr)
    , m_buffer(std::move(stream), StreamAccessBuffer::Direction::OUTPUT)
{
    rdbuf(&m_buffer);
}

} // namespace dravik
