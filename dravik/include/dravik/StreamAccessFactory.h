#pragma once

#include <dravik/Export.h>
#include <dravik/StreamAccess.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

class RandomAccess;

/// Makes streams: buffered files, memory, and adapters.
///
/// A file stream's storage is the file's directory and its resource id is the file
/// name. Failures to open throw Error with the path and the system's reason.
class DRAVIK_API StreamAccessFactory {
public:
    /// An existing file, for reading (READ, and SEEK for regular files).
    static std::shared_ptr<StreamAccess> openFileRead(const std::string& path);
    /// A file created or emptied, for writing (WRITE, and SEEK for regular files).
    static std::shared_ptr<StreamAccess> openFileWrite(const std::string& path);
    /// An existing file, for reading and writing in place; nothing is truncated.
    static std::shared_ptr<StreamAccess> openFile(const std::string& path);

    /// An empty in-memory stream (READ, WRITE, SEEK, MEMORY_ACCESS).
    static std::shared_ptr<StreamAccess> createInMemory();
    /// An in-memory stream holding `bytes`, positioned at 0.
    static std::shared_ptr<StreamAccess> fromBytes(std::vector<uint8_t> bytes);

    /// A stream over a random access, from offset 0: READ and SEEK, WRITE when the
    /// random access writes. Throws InvalidArgument for an empty pointer.
    static std::shared_ptr<StreamAccess> fromRandomAccess(std::shared_ptr<RandomAccess> random);
    /// An in-memory stream holding what `stream` yields from its position to its end.
    /// Throws InvalidArgument when the stream cannot read.
    static std::shared_ptr<StreamAccess> copyInMemory(const std::shared_ptr<StreamAccess>& stream);

    /// A standard input stream reading through `stream` from its position.
    static std::shared_ptr<std::istream> toStdIStream(std::shared_ptr<StreamAccess> stream);
    /// A standard output stream writing through `stream`; flushing it flushes `stream`.
    static std::shared_ptr<std::ostream> toStdOStream(std::shared_ptr<StreamAccess> stream);
};

} // namespace dravik
