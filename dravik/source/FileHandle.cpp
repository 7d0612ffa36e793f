#include "FileHandle.h"

#include "AccessSupport.h"
#include "FileStorage.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>

namespace dravik {

namespace {

// Linux moves at most about 2 GiB per call; asking for less keeps the counts in range.
constexpr uint64_t MAX_TRANSFER = 1ull << 30;
constexpr auto MAX_OFFSET = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

const char* purposeOf(int flags)
{
    switch (flags & O_ACCMODE) {
    case O_RDONLY:
        return "reading";
    case O_WRONLY:
        return "writing";
    default:
        return "reading and writing";
    }
}

[[noreturn]] void throwOpenFailure(const std::string& path, int flags, const std::string& reason)
{
    throw Error(fmt::format("Cannot open file '{}' for {}: {}", path, purposeOf(flags), reason));
}

std::string fileNameOf(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace

std::shared_ptr<FileHandle> FileHandle::open(const std::string& path, int flags, bool requireRegular)
{
    return open(path, flags, requireRegular, nullptr, fileNameOf(path));
}

std::shared_ptr<FileHandle> FileHandle::open(const std::string& path, int flags, bool requireRegular,
                                             std::shared_ptr<DataStorage> storage, std::string resourceId)
{
    if (path.empty()) {
        throw InvalidArgument("Cannot open a file without a path");
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwOpenFailure(path, flags, systemErrorText(errno));
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throwOpenFailure(path, flags, systemErrorText(error));
    }
    // open(2) accepts a directory for reading; no access can use it.
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throwOpenFailure(path, flags, systemErrorText(EISDIR));
    }
    const bool regular = S_ISREG(info.st_mode);
    if (requireRegular && !regular) {
        ::close(fd);
        throwOpenFailure(path, flags, "not a regular file, which positioned reads need");
    }
    return std::make_shared<FileHandle>(fd, path, flags, regular, std::move(storage), std::move(resourceId));
}

FileHandle::FileHandle(int fd, std::string path, int flags, bool seekable, std::shared_ptr<DataStorage> storage,
                       std::string resourceId)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_flags(flags)
    , m_seekable(seekable)
    , m_resourceId(std::move(resourceId))
    , m_storage(std::move(storage))
{
}

FileHandle::~FileHandle()
{
    ::close(m_fd);
}

bool FileHandle::readable() const
{
    return (m_flags & O_ACCMODE) != O_WRONLY;
}

bool FileHandle::writable() const
{
    return (m_flags & O_ACCMODE) != O_RDONLY;
}

uint64_t FileHandle::size() const
{
    struct stat info { };
    if (::fstat(m_fd, &info) != 0) {
        throw Error(failureMessage("query the size of", errno));
    }
    return static_cast<uint64_t>(info.st_size);
}

int64_t FileHandle::readSome(uint64_t offset, uint64_t size, void* dst) const
{
    uint64_t count = std::min(size, MAX_TRANSFER);
    if (m_seekable) {
        // The kernel refuses a range whose end passes the largest offset; nothing lies there.
        if (offset >= MAX_OFFSET) {
            return 0;
        }
        count = std::min(count, MAX_OFFSET - offset);
    }
    ssize_t got = 0;
    do {
        got = m_seekable ? ::pread(m_fd, dst, count, static_cast<off_t>(offset)) : ::read(m_fd, dst, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

int64_t FileHandle::writeSome(uint64_t offset, uint64_t size, const void* src) const
{
    const uint64_t count = std::min(size, MAX_TRANSFER);
    if (m_seekable && (offset > MAX_OFFSET || count > MAX_OFFSET - offset)) {
        errno = EFBIG;
        return -1;
    }
    ssize_t written = 0;
    do {
        written = m_seekable ? ::pwrite(m_fd, src, count, static_cast<off_t>(offset)) : ::write(m_fd, src, count);
    } while (written < 0 && errno == EINTR);
    return written;
}

uint64_t FileHandle::readAll(uint64_t offset, uint64_t size, void* dst) const
{
    auto* out = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    while (done < size) {
        const int64_t got = readSome(offset + done, size - done, out + done);
        if (got < 0) {
            throw Error(failureMessage("read", errno));
        }
        if (got == 0) {
            break;
        }
        done += static_cast<uint64_t>(got);
    }
    return done;
}

uint64_t FileHandle::writeAll(uint64_t offset, uint64_t size, const void* src) const
{
    const auto* in = static_cast<const uint8_t*>(src);
    uint64_t done = 0;
    while (done < size) {
        const int64_t written = writeSome(offset + done, size - done, in + done);
        if (written <= 0) {
            throw Error(failureMessage("write", written < 0 ? errno : EIO));
        }
        done += static_cast<uint64_t>(written);
    }
    return done;
}

std::string FileHandle::failureMessage(const char* action, int error) const
{
    return fmt::format("Cannot {} file '{}': {}", action, m_path, systemErrorText(error));
}

std::shared_ptr<DataStorage> FileHandle::storage() const
{
    std::lock_guard lock(m_storageMutex);
    if (!m_storage) {
        const std::filesystem::path parent = std::filesystem::path(m_path).parent_path();
        m_storage = std::make_shared<FileStorage>(parent.empty() ? std::string(".") : parent.string());
    }
    return m_storage;
}

} // namespace dravik
