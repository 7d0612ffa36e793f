#pragma once

#include <dravik/StreamAccess.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Small pieces shared by the stream and random-access implementations.

namespace dravik {

/// Size of the buffers of file streams and standard-stream adapters.
constexpr size_t STREAM_BUFFER_SIZE = 64 * 1024;

/// The position `offset` bytes from `base`; throws Error when it falls before 0 or
/// beyond what a file offset can hold.
uint64_t seekTarget(uint64_t base, int64_t offset);

[[noreturn]] void throwUnknownOrigin(SeekOrigin origin);

/// The base position of `origin`; `end` is only asked for SeekOrigin::END, since
/// finding the end of a file costs a system call.
template <typename EndFunction>
uint64_t seekBase(SeekOrigin origin, uint64_t current, EndFunction end)
{
    switch (origin) {
    case SeekOrigin::BEGIN:
        return 0;
    case SeekOrigin::CURRENT:
        return current;
    case SeekOrigin::END:
        return end();
    }
    throwUnknownOrigin(origin);
}

/// The system's text for the error number `error`.
std::string systemErrorText(int error);

/// Throws Error when `size` bytes, asked for by `what`, could not be held in memory.
/// Sizes beyond the physical memory are refused up front: with overcommit the
/// allocation would succeed and the process would die filling it.
void checkMemorySize(uint64_t size, const std::string& what);

} // namespace dravik
