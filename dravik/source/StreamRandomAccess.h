#pragma once

#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace dravik {

/// A random access over a stream that reads and seeks. Each transfer seeks the stream
/// under a lock and puts its position back afterwards, so that the holder of the
/// stream finds it where it left it.
class StreamRandomAccess : public RandomAccess {
public:
    explicit StreamRandomAccess(std::shared_ptr<StreamAccess> stream);

    std::shared_ptr<DataStorage> storage() const override { return m_stream->storage(); }
    std::string resourceId() const override { return m_stream->resourceId(); }

    RandomAccessCapabilitySet capabilities() const override { return m_capabilities; }
    uint64_t size() const override;
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override;
    uint64_t write(uint64_t offset, uint64_t size, const void* src) override;
    void flush() override;
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

private:
    /// Seeks to `offset`, runs `transfer` and seeks back; returns the count moved.
    template <typename Transfer>
    uint64_t transferAt(uint64_t offset, uint64_t size, const char* action, Transfer transfer);

    std::shared_ptr<StreamAccess> m_stream;
    RandomAccessCapabilitySet m_capabilities{RandomAccessCapability::READ};
    mutable std::mutex m_mutex;
    /// Found once by seeking to the end, then grown by what transfers reach.
    uint64_t m_size = 0;
};

} // namespace dravik
