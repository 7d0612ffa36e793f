// The CSV reader and writer against pandas (read_csv, to_csv) and Python's csv module,
// on the same generated files in the same run: one numeric table and one with text
// columns, QUENZA_BENCH_MB megabytes each (100 unless set). Read and write times are
// paired; the peak memory of each reading process is reported as counters and in a
// closing table.
//
// The Python side runs Debian's /usr/bin/python3 (python3-pandas), timing only the
// call itself; the interpreter's start and imports are left out.

#include "RowRunner.h"

#include <CSVExtractor.h>
#include <CSVWriter.h>

#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <charconv>

#include <unistd.h>

namespace {

const char* const PYTHON = "/usr/bin/python3";

uint64_t targetBytes()
{
    const char* mb = std::getenv("QUENZA_BENCH_MB");
    return (mb ? std::strtoull(mb, nullptr, 10) : 100) * 1000 * 1000;
}

std::string tempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

class Random {
public:
    uint64_t next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return m_state >> 11;
    }
    double unit() { return static_cast<double>(next()) / 9007199254740992.0; }

private:
    uint64_t m_state = 42;
};

void appendShortest(std::string& out, double value)
{
    char text[64];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}


void writeFile(const std::string& path, const std::string& header,
               const std::function<void(std::string&, uint64_t, Random&)>& row)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    Random random;
    std::string chunk = header;
    uint64_t written = 0;
    for (uint64_t i = 0; written + chunk.size() < targetBytes(); ++i) {
        row(chunk, i, random);
        if (chunk.size() > (1u << 20)) {
            written += std::fwrite(chunk.data(), 1, chunk.size(), file);
            chunk.clear();
        }
    }
    written += std::fwrite(chunk.data(), 1, chunk.size(), file);
    std::fclose(file);
}

// Integers, fixed, scientific and shortest-form reals.
const std::string& numericFile()
{
    static const std::string path = [] {
        const std::string p = tempPath("quenza_csv_bench_numeric.csv");
        writeFile(p, "id,a,b,c,d,e,f,g,h,i\n", [](std::string& out, uint64_t i, Random& r) {
            out += std::to_string(i);
            fmt::format_to(std::back_inserter(out), ",{:.6f}", r.unit() * 1000);
            out += ',';
            appendShortest(out, r.unit());
            out += ',' + std::to_string(static_cast<int64_t>(r.next() % 200001) - 100000);
            fmt::format_to(std::back_inserter(out), ",{:.3e}", r.unit() * 1e5);
            fmt::format_to(std::back_inserter(out), ",{:.4f}", r.unit() * 2 - 1);
            out += ',';
            appendShortest(out, r.unit() * 1e6);
            out += ',' + std::to_string(r.next() % 10);
            fmt::format_to(std::back_inserter(out), ",{:.2f}", r.unit() * 100);
            out += ',';
            appendShortest(out, (r.unit() - 0.5) * 2e-3);
            out += '\n';
        });
        return p;
    }();
    return path;
}

// Quoted names and comments with commas, unquoted words, reals with empty cells.
const std::string& textFile()
{
    static const std::string path = [] {
        const std::string p = tempPath("quenza_csv_bench_text.csv");
        static const char* const cities[] = {"Oslo", "Lyon", "Graz", "Porto", "Turku", "Gent", "Bergen", "Cork"};
        writeFile(p, "id,name,city,score,comment,flag\n", [](std::string& out, uint64_t i, Random& r) {
            out += std::to_string(i);
            out += ",\"Name " + std::to_string(r.next() % 100000) + "\",";
            out += cities[r.next() % 8];
            out += ',';
            if (r.next() % 20 != 0) {
                fmt::format_to(std::back_inserter(out), "{:.3f}", r.unit() * 100);
            }
            out += ",\"comment, with a comma " + std::to_string(r.next() % 1000) + "\",";
            out += (r.next() % 2) ? "yes\n" : "no\n";
        });
        return p;
    }();
    return path;
}

const std::string& pythonScript()
{
    static const std::string path = [] {
        const std::string p = tempPath("quenza_csv_bench.py");
        std::ofstream(p) << R"(import sys, time
def status(key):
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
mode, path = sys.argv[1], sys.argv[2]
if mode != 'csv_read':
    import pandas as pd
if mode == 'pandas_write':
    frame = pd.read_csv(path)
before = status('VmRSS:')
start = time.perf_counter()
if mode == 'pandas_read':
    frame = pd.read_csv(path)
elif mode == 'csv_read':
    import csv
    with open(path, newline='') as f:
        rows = list(csv.reader(f))
elif mode == 'pandas_write':
    frame.to_csv(sys.argv[3], index=False)
seconds = time.perf_counter() - start
print(seconds, status('VmHWM:'), before)
)";
        return p;
    }();
    return path;
}

struct ChildRun {
    double seconds = 0;
    double peakMiB = 0;
    double growthMiB = 0;
};

ChildRun runChild(const std::string& command)
{
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    ChildRun run;
    long peakKb = 0;
    long beforeKb = 0;
    const int got = std::fscanf(pipe, "%lf %ld %ld", &run.seconds, &peakKb, &beforeKb);
    if (::pclose(pipe) != 0 || got != 3) {
        throw std::runtime_error("failed: " + command);
    }
    run.peakMiB = static_cast<double>(peakKb) / 1024;
    run.growthMiB = static_cast<double>(peakKb - beforeKb) / 1024;
    return run;
}

ChildRun runPython(const std::string& mode, const std::string& path, const std::string& output = "")
{
    return runChild(std::string(PYTHON) + " " + pythonScript() + " " + mode + " " + path + " " + output);
}

long statusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
        }
    }
    return 0;
}

// Our reader in a process of its own, for its peak memory.
int childRead(const std::string& path)
{
    const long before = statusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    {
        quenza::csv::CSVExtractor frame(path);
        benchmark::DoNotOptimize(frame.shape());
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("%f %ld %ld\n", seconds.count(), statusKb("VmHWM:"), before);
    return 0;
}

std::string selfPath()
{
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) {
        throw std::runtime_error("cannot find the benchmark's own path");
    }
    return std::string(path.data(), static_cast<size_t>(length));
}

std::map<std::string, ChildRun>& memoryRuns()
{
    static std::map<std::string, ChildRun> runs;
    return runs;
}

// Peak memory of one reading process, measured once per side and file.
void reportMemory(benchmark::State& state, const std::string& key, const std::function<ChildRun()>& measure)
{
    auto it = memoryRuns().find(key);
    if (it == memoryRuns().end()) {
        it = memoryRuns().emplace(key, measure()).first;
    }
    state.counters["peak_MiB"] = it->second.peakMiB;
    state.counters["growth_MiB"] = it->second.growthMiB;
}

uint64_t fileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<uint64_t>(in.tellg());
}

void oursRead(benchmark::State& state, const std::string& path, const std::string& key)
{
    for (auto _ : state) {
        quenza::csv::CSVExtractor frame(path);
        benchmark::DoNotOptimize(frame.shape());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(path)));
    reportMemory(state, "ours " + key, [&] { return runChild(selfPath() + " --child-read " + path); });
}

void pythonRead(benchmark::State& state, const std::string& mode, const std::string& path, const std::string& key)
{
    for (auto _ : state) {
        state.SetIterationTime(runPython(mode, path).seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(path)));
    reportMemory(state, mode + " " + key, [&] { return runPython(mode, path); });
}

void oursWrite(benchmark::State& state, const std::string& path)
{
    auto frame = std::make_shared<quenza::csv::CSVExtractor>(path);
    const std::string output = tempPath("quenza_csv_bench_out.csv");
    for (auto _ : state) {
        quenza::csv::CSVWriter(frame, output).writeAll();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(output)));
    std::remove(output.c_str());
}

void pandasWrite(benchmark::State& state, const std::string& path)
{
    const std::string output = tempPath("quenza_csv_bench_pandas_out.csv");
    for (auto _ : state) {
        state.SetIterationTime(runPython("pandas_write", path, output).seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(output)));
    std::remove(output.c_str());
}

void BM_Ours_ReadNumeric(benchmark::State& state) { oursRead(state, numericFile(), "numeric"); }
void BM_Pandas_ReadNumeric(benchmark::State& state) { pythonRead(state, "pandas_read", numericFile(), "numeric"); }
void BM_PythonCsv_ReadNumeric(benchmark::State& state) { pythonRead(state, "csv_read", numericFile(), "numeric"); }
void BM_Ours_ReadText(benchmark::State& state) { oursRead(state, textFile(), "text"); }
void BM_Pandas_ReadText(benchmark::State& state) { pythonRead(state, "pandas_read", textFile(), "text"); }
void BM_PythonCsv_ReadText(benchmark::State& state) { pythonRead(state, "csv_read", textFile(), "text"); }
void BM_Ours_WriteNumeric(benchmark::State& state) { oursWrite(state, numericFile()); }
void BM_Pandas_WriteNumeric(benchmark::State& state) { pandasWrite(state, numericFile()); }
void BM_Ours_WriteText(benchmark::State& state) { oursWrite(state, textFile()); }
void BM_Pandas_WriteText(benchmark::State& state) { pandasWrite(state, textFile()); }

} // namespace

BENCHMARK(BM_Ours_ReadNumeric)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pandas_ReadNumeric)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonCsv_ReadNumeric)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_ReadText)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pandas_ReadText)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonCsv_ReadText)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_WriteNumeric)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pandas_WriteNumeric)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_WriteText)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pandas_WriteText)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--child-read") {
        return childRead(argv[2]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Generate both files and read them once, so that every side reads from a warm cache.
    for (const std::string* path : {&numericFile(), &textFile()}) {
        std::ifstream in(*path, std::ios::binary);
        std::vector<char> chunk(1 << 20);
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
        }
    }
    const int status = quenza::bench::RowRunner({
        {"CSV read, numeric", "BM_Ours_ReadNumeric", "BM_Pandas_ReadNumeric", "≥ 1.0"},
        {"CSV read, mixed with text", "BM_Ours_ReadText", "BM_Pandas_ReadText", "≥ 1.0"},
        {"CSV read, numeric (against Python's csv module)", "BM_Ours_ReadNumeric", "BM_PythonCsv_ReadNumeric",
         "report"},
        {"CSV write, numeric", "BM_Ours_WriteNumeric", "BM_Pandas_WriteNumeric", "≥ 1.0"},
        {"CSV write, mixed with text", "BM_Ours_WriteText", "BM_Pandas_WriteText", "≥ 1.0"},
    }).run();
    std::printf("\n%-28s %12s %14s\n", "reading process", "peak (MiB)", "growth (MiB)");
    for (const auto& [key, run] : memoryRuns()) {
        std::printf("%-28s %12.1f %14.1f\n", key.c_str(), run.peakMiB, run.growthMiB);
    }
    std::remove(numericFile().c_str());
    std::remove(textFile().c_str());
    std::remove(pythonScript().c_str());
    benchmark::Shutdown();
    return status;
}
