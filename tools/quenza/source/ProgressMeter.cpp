#include "ProgressMeter.h"

#include "TextFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <ostream>

namespace quenza::cli {

namespace {

constexpr double REDRAW_SECONDS = 0.1;
constexpr size_t BAR_WIDTH = 14;
constexpr size_t LABEL_WIDTH = 16;
// A line as wide as the terminal would wrap, and the carriage return would then redraw
// only its last part.
constexpr size_t LINE_WIDTH = 79;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string count(double amount)
{
    if (amount >= 1e6) {
        return fmt::format("{:.1f}M", amount / 1e6);
    }
    if (amount >= 1e4) {
        return fmt::format("{:.0f}k", amount / 1e3);
    }
    return fmt::format("{:.0f}", amount);
}

std::string amountText(double amount, ProgressMeter::Unit unit)
{
    return unit == ProgressMeter::Unit::BYTES ? byteText(amount) : count(amount) + " cells";
}

/// "8.00 MiB/16.0 MiB", "25k/100k cells".
std::string progressText(double done, double total, ProgressMeter::Unit unit)
{
    return unit == ProgressMeter::Unit::BYTES ? byteText(done) + "/" + byteText(total)
                                              : count(done) + "/" + count(total) + " cells";
}

} // namespace

ProgressMeter::ProgressMeter(std::ostream& err, bool enabled, std::string label, uint64_t total, Unit unit,
                             Clock clock)
    : m_err(err)
    , m_enabled(enabled)
    , m_label(printableText(label))
    , m_total(total)
    , m_unit(unit)
    , m_clock(clock ? std::move(clock) : Clock(&steadySeconds))
    , m_start(m_clock())
    , m_nextDraw(m_start)
{
}

ProgressMeter::~ProgressMeter()
{
    finish();
}

void ProgressMeter::advance(uint64_t count)
{
    m_done.fetch_add(count, std::memory_order_relaxed);
    if (!m_enabled) {
        return;
    }
    const double now = m_clock();
    if (now < m_nextDraw.load(std::memory_order_relaxed)) {
        return;
    }
    // Whoever holds the line draws; the others go back to work.
    std::unique_lock<std::mutex> lock(m_drawing, std::try_to_lock);
    if (lock.owns_lock() && !m_finished) {
        m_nextDraw.store(now + REDRAW_SECONDS, std::memory_order_relaxed);
        draw(now);
    }
}

void ProgressMeter::draw(double now)
{
    const std::string text = line(m_label, done(), m_total, now - m_start, m_unit);
    // Spaces cover what is left of a longer line drawn before.
    const size_t padding = m_drawnWidth > text.size() ? m_drawnWidth - text.size() : 0;
    m_err << '\r' << text << std::string(padding, ' ') << std::flush;
    m_drawnWidth = std::max(m_drawnWidth, text.size());
}

void ProgressMeter::finish()
{
    const std::lock_guard<std::mutex> lock(m_drawing);
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (m_drawnWidth > 0) {
        m_err << '\r' << std::string(m_drawnWidth, ' ') << '\r' << std::flush;
    }
}

std::string ProgressMeter::line(const std::string& label, uint64_t done, uint64_t total, double seconds, Unit unit)
{
    // A writer may read some elements twice: the line never goes past the total.
    const uint64_t shown = total == 0 ? 0 : std::min(done, total);
    const double fraction = total == 0 ? 1.0 : static_cast<double>(shown) / static_cast<double>(total);
    const auto filled = static_cast<size_t>(fraction * BAR_WIDTH);
    std::string bar(filled, '#');
    bar.resize(BAR_WIDTH, '.');

    std::string name = label;
    if (name.size() > LABEL_WIDTH) {
        size_t from = name.size() - (LABEL_WIDTH - 3);
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) {
            ++from;
        }
        name = "..." + name.substr(from);
    }
    std::string text = fmt::format("{:<{}} [{}] {:3.0f}% {}", name, LABEL_WIDTH, bar, fraction * 100,
                                   progressText(static_cast<double>(shown), static_cast<double>(total), unit));
    if (seconds > 0 && shown > 0) {
        const double rate = static_cast<double>(shown) / seconds;
        text += fmt::format(" {}/s {} left", amountText(rate, unit),
                            durationText(static_cast<double>(total - shown) / rate));
    }
    if (text.size() > LINE_WIDTH) {
        text.resize(LINE_WIDTH);
    }
    return text;
}

} // namespace quenza::cli
