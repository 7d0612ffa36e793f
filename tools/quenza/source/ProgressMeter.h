#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

namespace quenza::cli {

/// A progress bar on one line of a terminal: what was done out of a total, throughput
/// and time left. It is redrawn at most ten times a second and erased by finish().
/// advance() may be called from several threads at once.
class ProgressMeter {
public:
    enum class Unit { BYTES, CELLS };
    /// Seconds since any fixed point.
    using Clock = std::function<double()>;

    /// Draws on `err` when `enabled`; otherwise only counts. `clock` defaults to a steady clock.
    ProgressMeter(std::ostream& err, bool enabled, std::string label, uint64_t total, Unit unit = Unit::BYTES,
                  Clock clock = {});
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;
    ~ProgressMeter();

    void advance(uint64_t count);
    /// Erases the line, if one was drawn; later advances are only counted.
    void finish();
    uint64_t done() const { return m_done.load(std::memory_order_relaxed); }
    uint64_t total() const { return m_total; }

    /// The text of the line: label, bar, percentage, amounts, rate and time left.
    static std::string line(const std::string& label, uint64_t done, uint64_t total, double seconds, Unit unit);

private:
    void draw(double now);

    std::ostream& m_err;
    bool m_enabled;
    std::string m_label;
    uint64_t m_total;
    Unit m_unit;
    Clock m_clock;
    double m_start;
    std::atomic<uint64_t> m_done{0};
    std::atomic<double> m_nextDraw;
    std::mutex m_drawing;
    size_t m_drawnWidth = 0;
    bool m_finished = false;
};

} // namespace quenza::cli
