#include <dravik/DataStorageFactory.h>

#include "FileStorage.h"
#include "MemoryStorage.h"

#include <dravik/Error.h>

namespace dravik {

std::shared_ptr<DataStorage> DataStorageFactory::directory(const std::string& path)
{
    if (path.empty()) {
        throw InvalidArgument("A directory storage needs a path");
    }
    return std::make_shared<FileStorage>(path);
}

std::shared_ptr<DataStorage> DataStorageFactory::createInMemory()
{
    return std::make_shared<MemoryStorage>();
}

} // namespace dravik
