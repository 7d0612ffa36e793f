#include "AccessSupport.h"

#include <dravik/Error.h>

#include <fmt/format.h>

#include <unistd.h>

#include <limits>
#include <system_error>

namespace dravik {

uint64_t seekTarget(uint64_t base, int64_t offset)
{
    // Positions must stay representable as off_t for pread/pwrite.
    constexpr auto maxPosition = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (offset < 0) {
        const uint64_t back = 0 - static_cast<uint64_t>(offset);
        if (back > base) {
            throw Error("Cannot seek before the start of the stream");
        }
        return base - back;
    }
    const auto forward = static_cast<uint64_t>(offset);
    if (base > maxPosition || forward > maxPosition - base) {
        throw Error(fmt::format("Cannot seek beyond position {}", maxPosition));
    }
    return base + forward;
}

void throwUnknownOrigin(SeekOrigin origin)
{
    throw InvalidArgument(fmt::format("Unknown seek origin {}", static_cast<int>(origin)));
}

std::string systemErrorText(int error)
{
    return std::generic_category().message(error);
}

namespace {

uint64_t memoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    uint64_t limit = std::numeric_limits<size_t>::max() / 2;
    if (pages > 0 && pageSize > 0) {
        const uint64_t physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
        if (physical < limit) {
            limit = physical;
        }
    }
    return limit;
}

} // namespace

void checkMemorySize(uint64_t size, const std::string& what)
{
    // Asking the system costs a call; the answer does not change while we run.
    static const uint64_t limit = memoryLimit();
    if (size > limit) {
        throw Error(
            fmt::format("Cannot hold {} bytes in memory for {}: more than the {} bytes available", size, what, limit));
    }
}

} // namespace dravik
