#include "FileStorage.h"

#include "AccessSupport.h"
#include "FileHandle.h"
#include "FileRandomAccess.h"
#include "FileStreamAccess.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace dravik {

namespace {

int openFlags(bool read, bool write, const std::string& resourceId)
{
    if (read && write) {
        return O_RDWR | O_CREAT;
    }
    if (write) {
        return O_WRONLY | O_CREAT | O_TRUNC;
    }
    if (read) {
        return O_RDONLY;
    }
    throw InvalidArgument(fmt::format("Opening resource '{}' needs READ or WRITE", resourceId));
}

bool climbsOut(const std::string& resourceId)
{
    std::string_view rest(resourceId);
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        if (rest.substr(0, slash) == "..") {
            return true;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(slash + 1);
    }
    return false;
}

/// `id` with its NULs spelled out, since what() would stop at the first one.
std::string shown(const std::string& id)
{
    std::string text;
    for (const char c : id) {
        if (c == '\0') {
            text += "\\0";
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace

FileStorage::FileStorage(std::string directory)
    : m_directory(std::move(directory))
{
}

std::string FileStorage::location() const
{
    return m_directory;
}

std::string FileStorage::pathOf(const std::string& resourceId) const
{
    // A NUL would end the path early in the system call and name another file.
    if (resourceId.empty() || resourceId.front() == '/' || resourceId.find('\0') != std::string::npos ||
        climbsOut(resourceId)) {
        throw InvalidArgument(fmt::format("Resource id '{}' must name a file inside the storage", shown(resourceId)));
    }
    if (!m_directory.empty() && m_directory.back() == '/') {
        return m_directory + resourceId;
    }
    return m_directory + "/" + resourceId;
}

bool FileStorage::exists(const std::string& resourceId) const
{
    struct stat info { };
    return ::stat(pathOf(resourceId).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::shared_ptr<StreamAccess> FileStorage::openStreamAccess(const std::string& resourceId,
                                                            StreamAccessCapabilitySet capabilities)
{
    const std::string path = pathOf(resourceId);
    const int flags = openFlags(capabilities.has(StreamAccessCapability::READ),
                                capabilities.has(StreamAccessCapability::WRITE), resourceId);
    if (capabilities.has(StreamAccessCapability::MEMORY_ACCESS)) {
        throw Error(fmt::format("File '{}' cannot be accessed in memory", path));
    }
    auto stream =
        std::make_shared<FileStreamAccess>(FileHandle::open(path, flags, false, shared_from_this(), resourceId));
    if (!stream->capabilities().hasAll(capabilities)) {
        throw Error(fmt::format("File '{}' cannot be streamed with the capabilities asked for", path));
    }
    return stream;
}

std::shared_ptr<RandomAccess> FileStorage::openRandomAccess(const std::string& resourceId,
                                                            RandomAccessCapabilitySet capabilities)
{
    const std::string path = pathOf(resourceId);
    const int flags = openFlags(capabilities.has(RandomAccessCapability::READ),
                                capabilities.has(RandomAccessCapability::WRITE), resourceId);
    if (capabilities.has(RandomAccessCapability::MEMORY_ACCESS)) {
        throw Error(fmt::format("File '{}' cannot be accessed in memory", path));
    }
    return std::make_shared<FileRandomAccess>(FileHandle::open(path, flags, true, shared_from_this(), resourceId));
}

bool FileStorage::remove(const std::string& resourceId)
{
    const std::string path = pathOf(resourceId);
    if (::unlink(path.c_str()) == 0) {
        return true;
    }
    if (errno == ENOENT) {
        return false;
    }
    throw Error(fmt::format("Cannot remove file '{}': {}", path, systemErrorText(errno)));
}

} // namespace dravik
