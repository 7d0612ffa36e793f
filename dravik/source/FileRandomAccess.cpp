#include "FileRandomAccess.h"

#include "FileHandle.h"

#include <dravik/Error.h>

#include <fmt/format.h>

namespace dravik {

FileRandomAccess::FileRandomAccess(std::shared_ptr<FileHandle> file)
    : m_file(std::move(file))
{
    if (!m_file->seekable()) {
        throw InvalidArgument(
            fmt::format("File '{}' is not a regular file and cannot be read at arbitrary offsets", m_file->path()));
    }
    if (m_file->readable()) {
        m_capabilities.add(RandomAccessCapability::READ);
    }
    if (m_file->writable()) {
        m_capabilities.add(RandomAccessCapability::WRITE);
    }
}

std::shared_ptr<DataStorage> FileRandomAccess::storage() const
{
    return m_file->storage();
}

std::string FileRandomAccess::resourceId() const
{
    return m_file->resourceId();
}

uint64_t FileRandomAccess::size() const
{
    return m_file->size();
}

uint64_t FileRandomAccess::read(uint64_t offset, uint64_t size, void* dst)
{
    if (!m_capabilities.has(RandomAccessCapability::READ)) {
        throw NotImplemented(fmt::format("File '{}' was not opened for reading", m_file->path()));
    }
    return m_file->readAll(offset, size, dst);
}

uint64_t FileRandomAccess::write(uint64_t offset, uint64_t size, const void* src)
{
    if (!m_capabilities.has(RandomAccessCapability::WRITE)) {
        throw NotImplemented(fmt::format("File '{}' was not opened for writing", m_file->path()));
    }
    return m_file->writeAll(offset, size, src);
}

} // namespace dravik
