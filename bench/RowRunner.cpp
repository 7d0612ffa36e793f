#include "RowRunner.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace quenza::bench {

namespace {

constexpr double NOT_MEASURED = std::numeric_limits<double>::quiet_NaN();

/// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKiB(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, key.size() + 1, key + ":") == 0) {
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

/// Brings the high-water mark of the resident set down to its current size.
bool resetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

double median(std::vector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
                 values.end());
    if (values.empty()) {
        return NOT_MEASURED;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// Keeps the per-iteration time of every run of the call, and prints as the console does.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) {
                continue;
            }
            if (run.error_occurred) {
                error = run.error_message;
            } else if (run.iterations > 0) {
                // Manual time, when the benchmark sets it, is what real_accumulated_time holds.
                seconds.push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::vector<double> seconds;
    std::string error;
};

std::string escapeRegex(const std::string& name)
{
    std::string out;
    for (char c : name) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

nlohmann::json number(double v)
{
    return std::isnan(v) ? nlohmann::json() : nlohmann::json(v);
}

} // namespace

int runCount()
{
    const char* runs = std::getenv("QUENZA_BENCH_RUNS");
    return std::max(1, runs ? std::atoi(runs) : 5);
}

RowRunner::RowRunner(std::vector<Row> rows)
    : m_rows(std::move(rows))
{
}

void RowRunner::addMeasured(MeasuredRow row)
{
    m_measured.push_back(std::move(row));
}

void RowRunner::runSide(const std::string& name, bool measurePeak)
{
    Collector collector;
    const long before = statusKiB("VmRSS");
    const bool peakReset = measurePeak && resetPeak();
    // The name matches with or without the "/real_time" or "/manual_time" Google Benchmark appends.
    const size_t found = benchmark::RunSpecifiedBenchmarks(
        &collector, "^" + escapeRegex(name) + "(/real_time|/manual_time)?$");
    Sample& sample = m_samples[name];
    if (found == 0) {
        sample.error = "no benchmark named " + name;
        return;
    }
    if (!collector.error.empty()) {
        sample.error = collector.error;
    }
    for (double s : collector.seconds) {
        sample.seconds.push_back(s);
    }
    if (measurePeak) {
        const long peak = statusKiB("VmHWM");
        sample.peakMiB.push_back(peakReset && before >= 0 && peak >= 0 ? static_cast<double>(peak - before) / 1024.0
                                                                        : NOT_MEASURED);
    }
}

int RowRunner::run()
{
    if (benchmark::GetBenchmarkFilter() != "." && !benchmark::GetBenchmarkFilter().empty()) {
        benchmark::RunSpecifiedBenchmarks();
        return 0;
    }
    // One run of each side first, not recorded: neither side's first sample then pays
    // for what the other did not, such as the pages its output takes for the first time.
    for (const Row& row : m_rows) {
        runSide(row.ours, false);
        runSide(row.reference, false);
    }
    m_samples.clear();
    const int runs = runCount();
    for (int i = 0; i < runs; ++i) {
        for (const Row& row : m_rows) {
            runSide(row.ours, true);
            runSide(row.reference, false);
        }
    }
    report();
    return 0;
}

void RowRunner::report() const
{
    nlohmann::json rows = nlohmann::json::array();
    std::printf("\n%-58s %12s %12s %8s %10s %s\n", "workload", "ours (ms)", "ref (ms)", "ratio", "peak MiB", "target");
    for (const Row& row : m_rows) {
        const Sample& ours = m_samples.at(row.ours);
        const Sample& reference = m_samples.at(row.reference);
        const double a = median(ours.seconds);
        const double b = median(reference.seconds);
        const double ratio = a > 0 && b > 0 ? b / a : NOT_MEASURED;
        const double peak = median(ours.peakMiB);
        std::string error = ours.error.empty() ? reference.error : ours.error;
        std::printf("%-58s %12.1f %12.1f %8.3f %10.1f %s%s\n", row.workload.c_str(), a * 1e3, b * 1e3, ratio, peak,
                    row.target.c_str(), error.empty() ? "" : ("  (" + error + ")").c_str());
        rows.push_back({{"workload", row.workload},
                        {"kind", "time"},
                        {"ours", row.ours},
                        {"reference", row.reference},
                        {"ours_seconds", ours.seconds},
                        {"reference_seconds", reference.seconds},
                        {"ours_median_seconds", number(a)},
                        {"reference_median_seconds", number(b)},
                        {"ratio", number(ratio)},
                        {"peak_mib", number(peak)},
                        {"target", row.target},
                        {"error", error}});
    }
    for (const MeasuredRow& row : m_measured) {
        const double ratio = row.reference > 0 ? row.ours / row.reference : NOT_MEASURED;
        std::printf("%-58s %10.1f %s %10.1f %s %8.3f %10s %s\n", row.workload.c_str(), row.ours, row.unit.c_str(),
                    row.reference, row.unit.c_str(), ratio, "", row.target.c_str());
        rows.push_back({{"workload", row.workload},
                        {"kind", "quantity"},
                        {"unit", row.unit},
                        {"ours_value", row.ours},
                        {"reference_value", row.reference},
                        {"ratio", number(ratio)},
                        {"target", row.target}});
    }
    if (const char* path = std::getenv("QUENZA_BENCH_JSON")) {
        std::ofstream out(path);
        out << rows.dump(2) << '\n';
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path);
        }
    }
}

} // namespace quenza::bench
