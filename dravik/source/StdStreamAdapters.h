#pragma once

#include <dravik/StreamAccess.h>

#include <istream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <vector>

namespace dravik {

/// A standard stream buffer over a StreamAccess, for one direction. Transfers larger
/// than its buffer go straight to the stream.
class StreamAccessBuffer : public std::streambuf {
public:
    enum class Direction { INPUT, OUTPUT };

    StreamAccessBuffer(std::shared_ptr<StreamAccess> stream, Direction direction);
    /// Output: writes what is pending and flushes the stream. Input: gives back the
    /// unread read-ahead when the stream seeks. Errors are swallowed.
    ~StreamAccessBuffer() override;
    StreamAccessBuffer(const StreamAccessBuffer&) = delete;
    StreamAccessBuffer& operator=(const StreamAccessBuffer&) = delete;

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char_type* s, std::streamsize count) override;
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char_type* s, std::streamsize count) override;
    int sync() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    bool writePending();
    /// Moves the stream back over read-ahead not handed out yet.
    void returnReadAhead();
    /// The position of the next character handed out or taken in.
    uint64_t logicalPosition() const;

    std::shared_ptr<StreamAccess> m_stream;
    Direction m_direction;
    std::vector<char> m_buffer;
};

/// A std::istream owning its buffer and, through it, the StreamAccess.
class StdIStream : public std::istream {
public:
    explicit StdIStream(std::shared_ptr<StreamAccess> stream);

private:
    StreamAccessBuffer m_buffer;
};

/// A std::ostream owning its buffer and, through it, the StreamAccess; destroying it
/// flushes the stream.
class StdOStream : public std::ostream {
public:
    explicit StdOStream(std::shared_ptr<StreamAccess> stream);

private:
    StreamAccessBuffer m_buffer;
};

} // namespace dravik
