#include "MemoryStorage.h"

#include "MemoryBlock.h"
#include "MemoryRandomAccess.h"
#include "MemoryStreamAccess.h"

#include <dravik/Error.h>

#include <fmt/format.h>

namespace dravik {

std::string MemoryStorage::location() const
{
    return "memory";
}

bool MemoryStorage::exists(const std::string& resourceId) const
{
    std::lock_guard lock(m_mutex);
    return m_resources.count(resourceId) != 0;
}

std::shared_ptr<MemoryBlock> MemoryStorage::obtain(const std::string& resourceId, bool read, bool write)
{
    if (resourceId.empty()) {
        throw InvalidArgument("A resource of the memory storage needs a name");
    }
    if (!read && !write) {
        throw InvalidArgument(fmt::format("Opening resource '{}' needs READ or WRITE", resourceId));
    }
    std::lock_guard lock(m_mutex);
    auto found = m_resources.find(resourceId);
    if (found == m_resources.end()) {
        if (!write) {
            throw Error(fmt::format("Resource '{}' not found in the memory storage", resourceId));
        }
        found = m_resources.emplace(resourceId, std::make_shared<MemoryBlock>()).first;
    } else if (!read) {
        // Emptied in place, as a truncated file is for the accesses still open on it.
        found->second->clear();
    }
    return found->second;
}

std::shared_ptr<StreamAccess> MemoryStorage::openStreamAccess(const std::string& resourceId,
                                                              StreamAccessCapabilitySet capabilities)
{
    const bool read = capabilities.has(StreamAccessCapability::READ);
    const bool write = capabilities.has(StreamAccessCapability::WRITE);
    StreamAccessCapabilitySet offered{StreamAccessCapability::SEEK, StreamAccessCapability::MEMORY_ACCESS};
    if (read) {
        offered.add(StreamAccessCapability::READ);
    }
    if (write) {
        offered.add(StreamAccessCapability::WRITE);
    }
    return std::make_shared<MemoryStreamAccess>(obtain(resourceId, read, write), offered, shared_from_this(),
                                                resourceId);
}

std::shared_ptr<RandomAccess> MemoryStorage::openRandomAccess(const std::string& resourceId,
                                                              RandomAccessCapabilitySet capabilities)
{
    const bool read = capabilities.has(RandomAccessCapability::READ);
    const bool write = capabilities.has(RandomAccessCapability::WRITE);
    RandomAccessCapabilitySet offered{RandomAccessCapability::MEMORY_ACCESS};
    if (read) {
        offered.add(RandomAccessCapability::READ);
    }
    if (write) {
        offered.add(RandomAccessCapability::WRITE);
    }
    return std::make_shared<MemoryRandomAccess>(obtain(resourceId, read, write), offered, shared_from_this(),
                                                resourceId);
}

bool MemoryStorage::remove(const std::string& resourceId)
{
    std::lock_guard lock(m_mutex);
    return m_resources.erase(resourceId) != 0;
}

} // namespace dravik
