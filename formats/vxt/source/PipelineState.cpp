#include <PipelineState.h>

#include <dravik/Error.h>

#include <algorithm>

namespace quenza::vxt {

PipelineState::PipelineState(uint64_t maxTilesInFlight)
    : m_maxTilesInFlight(std::max<uint64_t>(1, maxTilesInFlight))
{
}

void PipelineState::acquire()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_slotFreed.wait(lock, [this] { return m_stopped || m_inFlight < m_maxTilesInFlight; });
    if (m_error) {
        std::rethrow_exception(m_error);
    }
    if (m_stopped) {
        throw dravik::Error("VXT tile pipeline was stopped");
    }
    ++m_inFlight;
    m_peak = std::max(m_peak, m_inFlight);
}

void PipelineState::release()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inFlight > 0) {
            --m_inFlight;
        }
    }
    m_slotFreed.notify_all();
}

void PipelineState::fail(std::exception_ptr error)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_error) {
            m_error = std::move(error);
        }
        m_stopped = true;
    }
    wakeAll();
}

void PipelineState::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    wakeAll();
}

void PipelineState::wakeAll()
{
    m_slotFreed.notify_all();
    // Called under the lock, so that a stage that removed its waker is never reached.
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& entry : m_wakers) {
        entry.second();
    }
}

bool PipelineState::stopped() const
{
    return m_stopped;
}

void PipelineState::rethrowIfFailed() const
{
    std::exception_ptr error;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        error = m_error;
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

uint64_t PipelineState::onStop(std::function<void()> wake)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_wakers.emplace_back(m_nextKey, std::move(wake));
    return m_nextKey++;
}

void PipelineState::removeOnStop(uint64_t key)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_wakers.erase(std::remove_if(m_wakers.begin(), m_wakers.end(),
                                  [key](const auto& entry) { return entry.first == key; }),
                   m_wakers.end());
}

uint64_t PipelineState::tilesInFlight() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlight;
}

uint64_t PipelineState::peakTilesInFlight() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

} // namespace quenza::vxt
