#include "PairedReporter.h"

#include <cstdio>

PairedReporter::PairedReporter(std::vector<std::pair<std::string, std::string>> pairs)
    : m_pairs(std::move(pairs))
{
}

void PairedReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        // With repetitions, the median stands for the benchmark; otherwise its only run.
        const std::string name = run.run_name.str();
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") {
            continue;
        }
        if (run.run_type == Run::RT_Iteration && m_seconds.count(name) != 0) {
            continue;
        }
        m_seconds[name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
}

void PairedReporter::printRatios() const
{
    std::printf("\n%-40s %-36s %s\n", "ours", "reference", "ratio (reference time / our time)");
    for (const auto& [ours, reference] : m_pairs) {
        const auto a = m_seconds.find(ours);
        const auto b = m_seconds.find(reference);
        if (a == m_seconds.end() || b == m_seconds.end() || a->second <= 0) {
            continue;
        }
        std::printf("%-40s %-36s %.3f\n", ours.c_str(), reference.c_str(), b->second / a->second);
    }
}
