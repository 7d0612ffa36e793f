#pragma once

#include <dravik/Export.h>

#include <memory>
#include <string>

namespace dravik {

class DataStorage;

/// A handle on stored bytes: a sequential stream (StreamAccess) or a random access
/// (RandomAccess). It knows the storage it belongs to and its name there.
class DRAVIK_API DataAccess {
public:
    virtual ~DataAccess();

    /// The storage holding this resource (the directory of a file), or empty when
    /// the bytes belong to no storage.
    virtual std::shared_ptr<DataStorage> storage() const = 0;
    /// The name of the resource in its storage (a file name, not a path); empty when none.
    virtual std::string resourceId() const = 0;
};

} // namespace dravik
