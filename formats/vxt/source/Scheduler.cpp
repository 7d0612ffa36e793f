#include <Scheduler.h>

#include <dravik/Error.h>

namespace quenza::vxt {

Scheduler::Scheduler(uint64_t threadCount, std::shared_ptr<VxtHandle> handle, std::shared_ptr<Scheduler> next,
                     std::shared_ptr<PipelineState> state)
    : m_next(std::move(next))
    , m_handle(std::move(handle))
    , m_threadCount(threadCount)
    , m_state(std::move(state))
{
    m_wakerKey = m_state->onStop([this] {
        { const std::lock_guard<std::mutex> lock(m_mutex); }
        m_tileArrived.notify_all();
    });
}

Scheduler::~Scheduler()
{
    shutdown();
    m_state->removeOnStop(m_wakerKey);
}

void Scheduler::taskStart()
{
    for (uint64_t i = 0; i < m_threadCount; ++i) {
        m_threads.emplace_back([this, i] {
            try {
                loop(i);
            } catch (...) {
                m_state->fail(std::current_exception());
            }
        });
    }
}

void Scheduler::pushTile(std::shared_ptr<TileNode> node)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(node));
    }
    m_tileArrived.notify_one();
}

std::shared_ptr<TileNode> Scheduler::popTile()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty()) {
        return nullptr;
    }
    auto node = std::move(m_queue.front());
    m_queue.pop_front();
    return node;
}

bool Scheduler::tileToProcess() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return !m_queue.empty();
}

std::shared_ptr<TileNode> Scheduler::waitTile()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_tileArrived.wait(lock, [this] { return m_state->stopped() || !m_queue.empty() || m_finished; });
    if (m_state->stopped() || m_queue.empty()) {
        return nullptr;
    }
    auto node = std::move(m_queue.front());
    m_queue.pop_front();
    return node;
}

void Scheduler::join()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_tileArrived.notify_all();
    joinThreads();
}

void Scheduler::shutdown()
{
    if (m_threads.empty()) {
        return;
    }
    m_state->stop();
    join();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
}

void Scheduler::joinThreads()
{
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
}

void Scheduler::loop(uint64_t /*threadIndex*/)
{
    throw dravik::Error("No defined task");
}

} // namespace quenza::vxt
