#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace dravik {

class DataStorage;

/// An open file descriptor with the path it was opened from and the storage and name
/// its accesses report. Streams and random accesses over one file share it, so the
/// descriptor stays open while any of them lives.
///
/// All transfers of a seekable file are positioned (pread/pwrite): the descriptor's own
/// offset is never used, so sharing the descriptor cannot move anyone's position.
class FileHandle {
public:
    /// Opens `path` with the open(2) `flags`; its storage is the file's directory
    /// (made when first asked for) and its resource id the file name.
    static std::shared_ptr<FileHandle> open(const std::string& path, int flags, bool requireRegular);
    /// Opens `path` on behalf of `storage`, where it is named `resourceId`.
    static std::shared_ptr<FileHandle> open(const std::string& path, int flags, bool requireRegular,
                                            std::shared_ptr<DataStorage> storage, std::string resourceId);

    FileHandle(int fd, std::string path, int flags, bool seekable, std::shared_ptr<DataStorage> storage,
               std::string resourceId);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    const std::string& path() const { return m_path; }
    bool readable() const;
    bool writable() const;
    /// A regular file: positioned transfers and seeks are possible.
    bool seekable() const { return m_seekable; }

    /// The current size (fstat); throws Error on failure.
    uint64_t size() const;

    /// One transfer at `offset` (ignored when not seekable), retried on EINTR; returns
    /// the count moved, or -1 with errno set.
    int64_t readSome(uint64_t offset, uint64_t size, void* dst) const;
    int64_t writeSome(uint64_t offset, uint64_t size, const void* src) const;
    /// Transfers until `size` bytes moved or the end of the file; throws Error on failure.
    uint64_t readAll(uint64_t offset, uint64_t size, void* dst) const;
    uint64_t writeAll(uint64_t offset, uint64_t size, const void* src) const;

    /// The message for a failed transfer, naming the file.
    std::string failureMessage(const char* action, int error) const;

    std::shared_ptr<DataStorage> storage() const;
    const std::string& resourceId() const { return m_resourceId; }

private:
    int m_fd;
    std::string m_path;
    int m_flags;
    bool m_seekable;
    std::string m_resourceId;
    mutable std::mutex m_storageMutex;
    mutable std::shared_ptr<DataStorage> m_storage;
};

} // namespace dravik
