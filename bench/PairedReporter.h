#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

/// A console reporter that also remembers the real time of every run, so that each
/// of our benchmarks can be set against its reference measured in the same run.
class PairedReporter : public benchmark::ConsoleReporter {
public:
    /// Pairs of (ours, reference) benchmark names.
    explicit PairedReporter(std::vector<std::pair<std::string, std::string>> pairs);

    void ReportRuns(const std::vector<Run>& runs) override;
    /// Prints "reference / ours" for every pair whose two sides ran; above 1 means
    /// faster than the reference.
    void printRatios() const;

private:
    std::vector<std::pair<std::string, std::string>> m_pairs;
    std::map<std::string, double> m_seconds;
};
