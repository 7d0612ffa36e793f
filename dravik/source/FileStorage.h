#pragma once

#include <dravik/DataStorage.h>

#include <memory>
#include <string>

namespace dravik {

/// A directory whose files are its resources. Resource ids are paths relative to the
/// directory that cannot climb out of it. The storage holds no open file: the
/// accesses it opens hold it instead.
class FileStorage : public DataStorage, public std::enable_shared_from_this<FileStorage> {
public:
    explicit FileStorage(std::string directory);

    std::string location() const override;
    bool exists(const std::string& resourceId) const override;
    std::shared_ptr<StreamAccess> openStreamAccess(const std::string& resourceId,
                                                   StreamAccessCapabilitySet capabilities) override;
    std::shared_ptr<RandomAccess> openRandomAccess(const std::string& resourceId,
                                                   RandomAccessCapabilitySet capabilities) override;
    bool remove(const std::string& resourceId) override;

private:
    /// The path of `resourceId`; throws InvalidArgument for an id that leaves the directory.
    std::string pathOf(const std::string& resourceId) const;

    std::string m_directory;
};

} // namespace dravik
