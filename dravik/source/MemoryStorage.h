#pragma once

#include <dravik/DataStorage.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace dravik {

class MemoryBlock;

/// Named in-memory resources. Accesses opened here share the resource's bytes and hold
/// the storage; the storage holds only the bytes, so no ownership cycle forms.
class MemoryStorage : public DataStorage, public std::enable_shared_from_this<MemoryStorage> {
public:
    std::string location() const override;
    bool exists(const std::string& resourceId) const override;
    std::shared_ptr<StreamAccess> openStreamAccess(const std::string& resourceId,
                                                   StreamAccessCapabilitySet capabilities) override;
    std::shared_ptr<RandomAccess> openRandomAccess(const std::string& resourceId,
                                                   RandomAccessCapabilitySet capabilities) override;
    bool remove(const std::string& resourceId) override;

private:
    /// The bytes of `resourceId`, found, created or emptied as `read` and `write` ask.
    std::shared_ptr<MemoryBlock> obtain(const std::string& resourceId, bool read, bool write);

    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<MemoryBlock>> m_resources;
};

} // namespace dravik
