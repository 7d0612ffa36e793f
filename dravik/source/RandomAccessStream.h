#pragma once

#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>

namespace dravik {

/// A stream with a position of its own over a random access. Failures of the random
/// access propagate as its exceptions, after setting fail().
class RandomAccessStream : public StreamAccess {
public:
    explicit RandomAccessStream(std::shared_ptr<RandomAccess> random);

    std::shared_ptr<DataStorage> storage() const override { return m_random->storage(); }
    std::string resourceId() const override { return m_random->resourceId(); }

    StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool eof() const override { return m_eof; }
    bool fail() const override { return m_fail; }
    uint64_t read(uint64_t size, void* dst) override;
    uint8_t peek() override;
    uint64_t write(uint64_t size, const void* src) override;
    void flush() override;
    uint64_t tell() const override { return m_position; }
    void seek(int64_t offset, SeekOrigin origin) override;
    void* buffer() override;
    const void* bufferReadOnly() const override;
    uint64_t bufferSize() const override;

    const std::shared_ptr<RandomAccess>& random() const { return m_random; }

private:
    template <typename Operation>
    auto guarded(Operation operation);

    std::shared_ptr<RandomAccess> m_random;
    StreamAccessCapabilitySet m_capabilities{StreamAccessCapability::SEEK};
    uint64_t m_position = 0;
    bool m_eof = false;
    bool m_fail = false;
};

} // namespace dravik
