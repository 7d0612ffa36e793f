#pragma once

#include <dravik/RandomAccess.h>

#include <memory>

namespace dravik {

class FileHandle;

/// Positioned reads and writes on a file. Nothing is buffered and no position is
/// shared, so any number of threads may read at once. When the file is shared with a
/// file stream, the stream's buffered writes show here once the stream is flushed.
class FileRandomAccess : public RandomAccess {
public:
    explicit FileRandomAccess(std::shared_ptr<FileHandle> file);

    std::shared_ptr<DataStorage> storage() const override;
    std::string resourceId() const override;

    RandomAccessCapabilitySet capabilities() const override { return m_capabilities; }
    uint64_t size() const override;
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override;
    uint64_t write(uint64_t offset, uint64_t size, const void* src) override;

private:
    std::shared_ptr<FileHandle> m_file;
    RandomAccessCapabilitySet m_capabilities;
};

} // namespace dravik
