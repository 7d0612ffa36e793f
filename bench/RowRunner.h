#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quenza::bench {

/// One line of the results table: one of our hot paths and the plain operation that does
/// the same work, measured in the same process.
struct Row {
    std::string workload;  ///< what the line measures, as a reader of the table says it
    std::string ours;      ///< benchmark name, e.g. "BM_KmRaw_FullRead" or "BM_ReadVxt/1"
    std::string reference; ///< benchmark name of the plain operation
    std::string target;    ///< "≥ 0.8", or "report" when there is no target
};

/// A quantity measured outside Google Benchmark, set against a reference quantity; the
/// ratio is ours / reference (lower is better), e.g. peak memory over volume size.
struct MeasuredRow {
    std::string workload;
    std::string unit;
    double ours = 0;
    double reference = 0;
    std::string target;
};

/// Runs each row's two sides one after the other, `runs` times over (so that a drift of the
/// machine touches both alike), then prints the medians and their ratio (reference time /
/// our time: above 1 is faster than the reference). Our side's peak memory is measured as
/// the growth of the process's resident set during its runs, above what the inputs
/// already hold. When $QUENZA_BENCH_JSON names a file, the rows are written there as JSON.
///
/// With --benchmark_filter on the command line, runs the matching benchmarks once each, the
/// plain Google Benchmark way, and no table.
class RowRunner {
public:
    explicit RowRunner(std::vector<Row> rows);

    void addMeasured(MeasuredRow row);
    /// Returns the exit status of the program.
    int run();

private:
    struct Sample {
        std::vector<double> seconds;
        std::vector<double> peakMiB;
        std::string error;
    };

    void runSide(const std::string& name, bool measurePeak);
    void report() const;

    std::vector<Row> m_rows;
    std::vector<MeasuredRow> m_measured;
    std::map<std::string, Sample> m_samples;
};

/// Runs count from $QUENZA_BENCH_RUNS (default 5).
int runCount();

} // namespace quenza::bench
