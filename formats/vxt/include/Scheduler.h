#pragma once

#include <PipelineState.h>
#include <TileNode.h>
#include <VxtHandle.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quenza::vxt {

/// A stage of the tile pipeline: worker threads around a first-in-first-out queue of
/// tiles. An error in a worker is recorded in the pipeline state, which stops every
/// stage; it never leaves the thread.
class Scheduler {
public:
    Scheduler(uint64_t threadCount, std::shared_ptr<VxtHandle> handle, std::shared_ptr<Scheduler> next,
              std::shared_ptr<PipelineState> state);
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;
    /// Stops and joins the workers that are still running.
    virtual ~Scheduler();

    /// Starts the workers; worker i runs loop(i).
    void taskStart();
    void pushTile(std::shared_ptr<TileNode> node);
    /// The front tile, or empty when the queue is empty.
    std::shared_ptr<TileNode> popTile();
    bool tileToProcess() const;
    /// Lets the workers finish the queue, then joins them in start order.
    void join();
    /// Stops the pipeline and joins the workers; queued tiles are dropped.
    void shutdown();

    uint64_t threadCount() const { return m_threadCount; }
    const std::shared_ptr<PipelineState>& state() const { return m_state; }

protected:
    /// The work of one worker; the base has none and throws dravik::Error "No defined task".
    virtual void loop(uint64_t threadIndex);
    /// Waits for the next tile; empty once the stage is joined and drained, or stopped.
    std::shared_ptr<TileNode> waitTile();

    std::atomic<bool> m_finished{false};
    std::shared_ptr<Scheduler> m_next;
    std::shared_ptr<VxtHandle> m_handle;
    std::vector<std::thread> m_threads;
    std::deque<std::shared_ptr<TileNode>> m_queue;
    mutable std::mutex m_mutex;
    uint64_t m_threadCount;

private:
    void joinThreads();

    std::condition_variable m_tileArrived;
    std::shared_ptr<PipelineState> m_state;
    uint64_t m_wakerKey;
};

} // namespace quenza::vxt
