// Hot paths of the data-model library against the plain operation doing the same
// work in the same run: RegionCopier against memcpy, and a full read of a file-backed
// image view against read(2) of the same file.

#include "RowRunner.h"

#include <dravik/dravik.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace dravik;

// Volume of 1024 x 1024 x 128 16-bit voxels: 256 MiB, unless QUENZA_BENCH_MB asks for another size.
uint64_t volumeSlices()
{
    const char* mb = std::getenv("QUENZA_BENCH_MB");
    const uint64_t megabytes = mb ? std::strtoull(mb, nullptr, 10) : 256;
    return std::max<uint64_t>(1, megabytes / 2);
}

const VectorXu64& volumeShape()
{
    static const VectorXu64 shape{1024, 1024, volumeSlices()};
    return shape;
}

std::vector<uint8_t>& volumeBytes()
{
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> v(volumeShape().prod() * 2);
        uint32_t x = 12345;
        for (auto& b : v) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        return v;
    }();
    return bytes;
}

const std::string& volumeFile()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir ? dir : "/tmp") + "/dravik_bench_volume.raw";
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f == nullptr || std::fwrite(volumeBytes().data(), 1, volumeBytes().size(), f) != volumeBytes().size()) {
            std::fprintf(stderr, "cannot write %s\n", p.c_str());
            std::exit(1);
        }
        std::fclose(f);
        return p;
    }();
    return path;
}

void setBytes(benchmark::State& state, uint64_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// --- RegionCopier ------------------------------------------------------------------

// An inner box of the volume into a packed buffer: rows of 1 KiB.
void BM_RegionCopier_InnerBox(benchmark::State& state)
{
    const auto& src = volumeBytes();
    const Indexer layout(volumeShape(), DataTypeId::UINT16);
    const RegionXu64 box({256, 256, 0}, {512, 512, volumeShape()[2]});
    std::vector<uint8_t> dst(box.elementCount() * 2);
    const RegionCopier copier(layout, box, DataTypeId::UINT16);
    for (auto _ : state) {
        copier.copy(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_Memcpy_InnerBoxBytes(benchmark::State& state)
{
    const auto& src = volumeBytes();
    std::vector<uint8_t> dst(512ull * 512 * volumeShape()[2] * 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

// The same rows moved by a hand-written loop: the limit for this layout, since half of
// every source row is skipped and memory is read in whole lines.
void BM_MemcpyRows_InnerBox(benchmark::State& state)
{
    const auto& src = volumeBytes();
    const uint64_t nx = volumeShape()[0];
    const uint64_t ny = volumeShape()[1];
    std::vector<uint8_t> dst(512ull * 512 * volumeShape()[2] * 2);
    for (auto _ : state) {
        uint8_t* out = dst.data();
        for (uint64_t z = 0; z < volumeShape()[2]; ++z) {
            for (uint64_t y = 256; y < 768; ++y) {
                std::memcpy(out, src.data() + ((z * ny + y) * nx + 256) * 2, 1024);
                out += 1024;
            }
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

// The whole volume: one contiguous run.
void BM_RegionCopier_Whole(benchmark::State& state)
{
    const auto& src = volumeBytes();
    std::vector<uint8_t> dst(src.size());
    const RegionCopier copier(Indexer(volumeShape(), DataTypeId::UINT16), RegionXu64::fullRegion(volumeShape()),
                              DataTypeId::UINT16);
    for (auto _ : state) {
        copier.copy(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_Memcpy_WholeBytes(benchmark::State& state)
{
    const auto& src = volumeBytes();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

// Colour pixels stored in 4 bytes, copied out as 3: every element is strided.
void BM_RegionCopier_PaddedColour(benchmark::State& state)
{
    const auto& src = volumeBytes();
    const uint64_t pixels = src.size() / 4;
    const VectorXu64 shape{4096, pixels / 4096};
    const Indexer padded(shape, DataTypeId::VEC3_UINT8, {4, 4 * 4096});
    std::vector<uint8_t> dst(shape.prod() * 3);
    const RegionCopier copier(padded, RegionXu64::fullRegion(shape), DataTypeId::VEC3_UINT8);
    for (auto _ : state) {
        copier.copy(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_Memcpy_PaddedColourBytes(benchmark::State& state)
{
    const auto& src = volumeBytes();
    std::vector<uint8_t> dst(src.size() / 4 * 3);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

// --- File-backed image view ----------------------------------------------------------

void BM_FileImageView_FullRead(benchmark::State& state)
{
    const std::string& path = volumeFile();
    std::vector<uint8_t> dst(volumeBytes().size());
    for (auto _ : state) {
        auto view = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(path), volumeShape(),
                                                       DataTypeId::UINT16);
        view->readRegion(RegionXu64::fullRegion(volumeShape()), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_FileStreamImageView_FullRead(benchmark::State& state)
{
    const std::string& path = volumeFile();
    std::vector<uint8_t> dst(volumeBytes().size());
    for (auto _ : state) {
        auto random = RandomAccessFactory::fromStream(StreamAccessFactory::openFileRead(path));
        auto view = ImageViewFactory::fromRandomAccess(random, volumeShape(), DataTypeId::UINT16);
        view->readRegion(RegionXu64::fullRegion(volumeShape()), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

// Slices of the volume one at a time, as a viewer would.
void BM_FileImageView_SliceBySlice(benchmark::State& state)
{
    const std::string& path = volumeFile();
    std::vector<uint8_t> dst(volumeBytes().size());
    const uint64_t sliceBytes = volumeShape()[0] * volumeShape()[1] * 2;
    for (auto _ : state) {
        auto view = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(path), volumeShape(),
                                                       DataTypeId::UINT16);
        const auto full = RegionXu64::fullRegion(volumeShape());
        for (uint64_t z = 0; z < volumeShape()[2]; ++z) {
            view->readRegion(full.extractSliceFromAxis(2, z), dst.data() + z * sliceBytes);
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_PosixRead_WholeFile(benchmark::State& state)
{
    const std::string& path = volumeFile();
    std::vector<uint8_t> dst(volumeBytes().size());
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
    setBytes(state, dst.size());
}

} // namespace

BENCHMARK(BM_RegionCopier_InnerBox)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_InnerBoxBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyRows_InnerBox)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionCopier_Whole)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_WholeBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionCopier_PaddedColour)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_PaddedColourBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileImageView_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileStreamImageView_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileImageView_SliceBySlice)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead_WholeFile)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Write the file and read it once, so that both sides read from a warm cache.
    {
        std::vector<uint8_t> warm(volumeBytes().size());
        if (FILE* f = std::fopen(volumeFile().c_str(), "rb")) {
            benchmark::DoNotOptimize(std::fread(warm.data(), 1, warm.size(), f));
            std::fclose(f);
        }
    }
    const int status = quenza::bench::RowRunner({
        {"Region copy, inner box", "BM_RegionCopier_InnerBox", "BM_MemcpyRows_InnerBox", "report"},
        {"Region copy, inner box (against one memcpy of as many bytes)", "BM_RegionCopier_InnerBox",
         "BM_Memcpy_InnerBoxBytes", "report"},
        {"Region copy, whole image", "BM_RegionCopier_Whole", "BM_Memcpy_WholeBytes", "report"},
        {"Region copy, padded colour", "BM_RegionCopier_PaddedColour", "BM_Memcpy_PaddedColourBytes", "report"},
        {"File-backed image, full read", "BM_FileImageView_FullRead", "BM_PosixRead_WholeFile", "report"},
        {"File-backed stream image, full read", "BM_FileStreamImageView_FullRead", "BM_PosixRead_WholeFile",
         "report"},
        {"File-backed image, slice-by-slice read", "BM_FileImageView_SliceBySlice", "BM_PosixRead_WholeFile",
         "report"},
    }).run();
    std::remove(volumeFile().c_str());
    benchmark::Shutdown();
    return status;
}
