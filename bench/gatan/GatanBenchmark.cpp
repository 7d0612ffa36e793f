// Opening DM files and reading all their frames, against reading the same file's bytes
// once, in the same run: the largest real file, and a generated file of one large image.

#include "RowRunner.h"

#include <GatanExtractor.h>

#include <dravik/dravik.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

/// The largest DM file of the shared test data (QUENZA_SHARED_TESTDATA or the build's default).
const std::string& largestRealFile()
{
    static const std::string path = [] {
        const char* shared = std::getenv("QUENZA_SHARED_TESTDATA");
        const fs::path folder = fs::path(shared ? shared : QUENZA_DEFAULT_SHARED_TESTDATA) / "dm";
        std::string best;
        uintmax_t bestSize = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            const std::string ext = entry.path().extension().string();
            if ((ext == ".dm3" || ext == ".dm4") && entry.file_size() > bestSize) {
                bestSize = entry.file_size();
                best = entry.path().string();
            }
        }
        if (best.empty()) {
            std::fprintf(stderr, "no DM file in %s\n", folder.c_str());
            std::exit(1);
        }
        return best;
    }();
    return path;
}

void append(std::vector<uint8_t>& out, const void* bytes, size_t size)
{
    const size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, bytes, size);
}

void bigEndian(std::vector<uint8_t>& out, uint64_t value, size_t bytes)
{
    uint8_t be[8];
    for (size_t i = 0; i < bytes; ++i) {
        be[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
    append(out, be, bytes);
}

std::vector<uint8_t> dm4Entry(uint8_t kind, const std::string& name, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out;
    append(out, &kind, 1);
    bigEndian(out, name.size(), 2);
    append(out, name.data(), name.size());
    bigEndian(out, body.size(), 8);
    append(out, body.data(), body.size());
    return out;
}

std::vector<uint8_t> dm4Directory(const std::vector<std::vector<uint8_t>>& entries)
{
    std::vector<uint8_t> body;
    const uint8_t flags[2] = {1, 0};
    append(body, flags, 2);
    bigEndian(body, entries.size(), 8);
    for (const auto& e : entries) {
        append(body, e.data(), e.size());
    }
    return body;
}

std::vector<uint8_t> dm4Tag(const std::vector<int64_t>& info, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> body;
    append(body, "%%%%", 4);
    bigEndian(body, info.size(), 8);
    for (int64_t v : info) {
        bigEndian(body, static_cast<uint64_t>(v), 8);
    }
    append(body, data.data(), data.size());
    return body;
}

// 4096 x 4096 16-bit pixels (32 MiB) unless QUENZA_BENCH_MB asks for another size.
uint64_t generatedRows()
{
    const char* mb = std::getenv("QUENZA_BENCH_MB");
    const uint64_t megabytes = mb ? std::strtoull(mb, nullptr, 10) : 32;
    return std::max<uint64_t>(1, megabytes * 128);
}

const std::string& generatedFile()
{
    static const std::string path = [] {
        const uint64_t columns = 4096;
        const uint64_t rows = generatedRows();
        std::vector<uint8_t> pixels(columns * rows * 2);
        uint32_t x = 12345;
        for (auto& b : pixels) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        const auto entry = dm4Entry;
        auto scalar32 = [&](const std::string& name, int64_t code, uint32_t v) {
            std::vector<uint8_t> le(4);
            std::memcpy(le.data(), &v, 4);
            return entry(21, name, dm4Tag({code}, le));
        };
        const auto dims = dm4Directory({scalar32("", 5, static_cast<uint32_t>(columns)),
                                        scalar32("", 5, static_cast<uint32_t>(rows))});
        const auto imageData = dm4Directory({entry(21, "Data", dm4Tag({20, 4, static_cast<int64_t>(columns * rows)}, pixels)),
                                             scalar32("DataType", 3, 10), entry(20, "Dimensions", dims)});
        const auto imageList = dm4Directory({entry(20, "", dm4Directory({entry(20, "ImageData", imageData)}))});
        const auto root = dm4Directory({entry(20, "ImageList", imageList)});
        std::vector<uint8_t> file;
        bigEndian(file, 4, 4);
        bigEndian(file, root.size(), 8);
        bigEndian(file, 1, 4);
        append(file, root.data(), root.size());

        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir ? dir : "/tmp") + "/gatan_bench_image.dm4";
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
            std::fprintf(stderr, "cannot write %s\n", p.c_str());
            std::exit(1);
        }
        std::fclose(f);
        return p;
    }();
    return path;
}

uint64_t fileSize(const std::string& path)
{
    return static_cast<uint64_t>(fs::file_size(path));
}

void openAndReadAllFrames(benchmark::State& state, const std::string& path)
{
    // The destination exists before timing, as the reference's does: the first run
    // would otherwise time the kernel handing out and zeroing its pages.
    std::vector<uint8_t> dst;
    {
        quenza::gatan::GatanExtractor dm(path);
        for (uint64_t i = 0; i < dm.frameCount(); ++i) {
            dst.resize(std::max<uint64_t>(dst.size(), dm.frame(i)->byteCount()));
        }
    }
    for (auto _ : state) {
        quenza::gatan::GatanExtractor dm(path);
        for (uint64_t i = 0; i < dm.frameCount(); ++i) {
            auto frame = dm.frame(i);
            dst.resize(frame->byteCount());
            frame->readRegion(dravik::RegionXu64::fullRegion(frame->shape()), dst.data());
            benchmark::DoNotOptimize(dst.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(path)));
}

void readBytesOnce(benchmark::State& state, const std::string& path)
{
    std::vector<uint8_t> dst(fileSize(path));
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        size_t done = 0;
        while (done < dst.size()) {
            const ssize_t n = ::read(fd, dst.data() + done, dst.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dst.size()));
}

void BM_Gatan_LargestRealFile(benchmark::State& state)
{
    openAndReadAllFrames(state, largestRealFile());
}

void BM_PosixRead_LargestRealFile(benchmark::State& state)
{
    readBytesOnce(state, largestRealFile());
}

void BM_Gatan_GeneratedImage(benchmark::State& state)
{
    openAndReadAllFrames(state, generatedFile());
}

void BM_PosixRead_GeneratedImage(benchmark::State& state)
{
    readBytesOnce(state, generatedFile());
}

} // namespace

BENCHMARK(BM_Gatan_LargestRealFile)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PosixRead_LargestRealFile)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Gatan_GeneratedImage)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead_GeneratedImage)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Read both files once, so that both sides of each pair read from a warm cache.
    for (const std::string& path : {largestRealFile(), generatedFile()}) {
        std::vector<uint8_t> warm(fileSize(path));
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            benchmark::DoNotOptimize(std::fread(warm.data(), 1, warm.size(), f));
            std::fclose(f);
        }
    }
    std::printf("largest real file: %s\n", largestRealFile().c_str());
    const int status = quenza::bench::RowRunner({
        {"DM, open and read every frame of a large file", "BM_Gatan_GeneratedImage", "BM_PosixRead_GeneratedImage",
         "≥ 0.8"},
        {"DM, open and read every frame of the largest real file", "BM_Gatan_LargestRealFile",
         "BM_PosixRead_LargestRealFile", "report"},
    }).run();
    std::remove(generatedFile().c_str());
    benchmark::Shutdown();
    return status;
}
