#pragma once

#include <dravik/Export.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>

#include <memory>
#include <string>

namespace dravik {

/// A place holding named resources: a directory of files, or a set of in-memory
/// byte arrays. A header that names a sibling resource opens it through the storage
/// of its own access, so that the pair can move together.
///
/// Capabilities choose how a resource is opened: READ alone opens an existing
/// resource; WRITE alone creates it or empties it; READ and WRITE open it for
/// update, creating it when missing.
class DRAVIK_API DataStorage {
public:
    virtual ~DataStorage();

    /// A text that names the storage for messages (a directory path).
    virtual std::string location() const = 0;
    virtual bool exists(const std::string& resourceId) const = 0;
    /// Opens `resourceId` as a stream; throws Error when it cannot.
    virtual std::shared_ptr<StreamAccess> openStreamAccess(const std::string& resourceId,
                                                           StreamAccessCapabilitySet capabilities) = 0;
    /// Opens `resourceId` as a random access; throws Error when it cannot.
    virtual std::shared_ptr<RandomAccess> openRandomAccess(const std::string& resourceId,
                                                           RandomAccessCapabilitySet capabilities) = 0;
    /// Removes `resourceId`; returns false when it did not exist.
    virtual bool remove(const std::string& resourceId) = 0;
};

} // namespace dravik
