#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace quenza::vxt {

/// What the producer and the stages of one pipeline share: how many tiles are on the
/// way, and whether it was stopped and by which error.
///
/// The producer takes a slot before handing a tile over and the write stage gives it
/// back once the tile is in the file, so the producer never runs more than
/// `maxTilesInFlight` tiles ahead. The first error of any thread stops everyone.
class PipelineState {
public:
    explicit PipelineState(uint64_t maxTilesInFlight);

    /// Waits for a free slot. Rethrows the first failure, or throws dravik::Error
    /// when the pipeline was stopped without one.
    void acquire();
    void release();
    /// Records `error` unless one is recorded already, and stops the pipeline.
    void fail(std::exception_ptr error);
    /// Stops the pipeline: waiting threads wake up and the stages drop their tiles.
    void stop();
    bool stopped() const;
    /// Rethrows the recorded failure, if any.
    void rethrowIfFailed() const;
    /// Registers `wake`, called whenever the pipeline stops, to wake a stage's workers;
    /// it must not call back into this object. Returns the key that removes it.
    uint64_t onStop(std::function<void()> wake);
    /// After this returns, the waker of `key` is never called again.
    void removeOnStop(uint64_t key);

    uint64_t maxTilesInFlight() const { return m_maxTilesInFlight; }
    uint64_t tilesInFlight() const;
    /// The largest number of tiles that were on the way at once.
    uint64_t peakTilesInFlight() const;

private:
    void wakeAll();

    const uint64_t m_maxTilesInFlight;
    mutable std::mutex m_mutex;
    std::condition_variable m_slotFreed;
    uint64_t m_inFlight = 0;
    uint64_t m_peak = 0;
    std::atomic<bool> m_stopped{false};
    std::exception_ptr m_error;
    uint64_t m_nextKey = 0;
    std::vector<std::pair<uint64_t, std::function<void()>>> m_wakers;
};

} // namespace quenza::vxt
