#include <dravik/UidGenerator.h>

#include <atomic>

namespace dravik {

uint64_t UidGenerator::generate()
{
    // A 64-bit counter cannot wrap within the life of a process.
    static std::atomic<uint64_t> s_next{1};
    return s_next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace dravik
