#pragma once

#include <dravik/DataStorage.h>
#include <dravik/Export.h>

#include <memory>
#include <string>

namespace dravik {

class DRAVIK_API DataStorageFactory {
public:
    /// The directory `path`; its resource ids are file names inside it (relative
    /// paths without ".." are accepted, absolute paths are not).
    static std::shared_ptr<DataStorage> directory(const std::string& path);
    /// An empty storage of named in-memory resources; streams opened in it share
    /// their bytes with the storage, so a header and the data it names can both live there.
    static std::shared_ptr<DataStorage> createInMemory();
};

} // namespace dravik
