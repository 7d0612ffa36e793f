#pragma once

#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>

namespace dravik {

class FileHandle;

/// A buffered stream over a file.
///
/// One buffer serves both directions. While reading it holds read-ahead, and seeks that
/// land inside it cost no system call; while writing it holds pending bytes, pushed out
/// when it fills, when the stream turns to reading, seeks out of it, or is flushed.
/// Reads and writes at least as large as the buffer go straight to the file.
class FileStreamAccess : public StreamAccess {
public:
    explicit FileStreamAccess(std::shared_ptr<FileHandle> file);
    ~FileStreamAccess() override;
    FileStreamAccess(const FileStreamAccess&) = delete;
    FileStreamAccess& operator=(const FileStreamAccess&) = delete;

    std::shared_ptr<DataStorage> storage() const override;
    std::string resourceId() const override;

    StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool eof() const override { return m_eof; }
    bool fail() const override { return m_fail; }
    uint64_t read(uint64_t size, void* dst) override;
    uint8_t peek() override;
    uint64_t write(uint64_t size, const void* src) override;
    /// Writes the pending bytes; throws Error naming the file when that fails.
    void flush() override;
    uint64_t tell() const override { return m_position; }
    void seek(int64_t offset, SeekOrigin origin) override;

    const std::shared_ptr<FileHandle>& file() const { return m_file; }

private:
    enum class Mode { EMPTY, READING, WRITING };
    enum class Fill { FILLED, END, FAILED };

    void requireRead() const;
    void requireWrite() const;
    /// Refills the buffer from the current position.
    Fill fillBuffer();
    /// Writes the pending bytes and empties the buffer; on failure, sets fail(), keeps
    /// the error number in m_lastError and drops the bytes.
    bool writePending();
    void dropBuffer();
    uint64_t endPosition() const;

    std::shared_ptr<FileHandle> m_file;
    StreamAccessCapabilitySet m_capabilities;
    std::unique_ptr<uint8_t[]> m_buffer;
    Mode m_mode = Mode::EMPTY;
    /// File offset of the first byte of the buffer.
    uint64_t m_bufferStart = 0;
    /// Bytes of read-ahead, or of pending writes, from the start of the buffer.
    uint64_t m_bufferLength = 0;
    uint64_t m_position = 0;
    bool m_eof = false;
    bool m_fail = false;
    int m_lastError = 0;
};

} // namespace dravik
