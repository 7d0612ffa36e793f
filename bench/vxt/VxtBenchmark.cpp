// The VXT reader and writer against the plain operations doing the same work in the
// same run: reading the data file, inflating its tiles with zlib, writing the bytes,
// deflating the tiles with zlib on every worker, and pigz on the raw volume.
//
// Sizes: QUENZA_BENCH_MB (default 256) for the read volume, twice that for the write
// volume; both are 16-bit, 1024 x 1024 voxels a slice. The peak memory of a write from a
// file-backed input is measured in a child process on QUENZA_BENCH_PEAK_MB (default 2048);
// QUENZA_BENCH_SKIP_PEAK skips it.

#include "RowRunner.h"

#include <KmExtractor.h>
#include <KmWriter.h>
#include <VxtExtractor.h>
#include <VxtWriter.h>

#include <dravik/dravik.h>

#include <benchmark/benchmark.h>

#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace dravik;
using quenza::vxt::VxtExtractor;
using quenza::vxt::VxtWriter;

uint64_t megabytes()
{
    const char* mb = std::getenv("QUENZA_BENCH_MB");
    return std::max<uint64_t>(2, mb ? std::strtoull(mb, nullptr, 10) : 256);
}

std::string tempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/vxt_bench_" + name;
}

VectorXu64 shapeOf(uint64_t mb)
{
    return {1024, 1024, std::max<uint64_t>(1, mb / 2)};
}

/// A smooth field with noise: compresses like a scan, not like zeros or random bytes.
void fillSlices(std::vector<uint16_t>& out, uint64_t firstSlice, uint64_t slices)
{
    out.resize(1024 * 1024 * slices);
    std::mt19937 noise(static_cast<uint32_t>(firstSlice));
    for (uint64_t z = 0; z < slices; ++z) {
        for (uint64_t y = 0; y < 1024; ++y) {
            for (uint64_t x = 0; x < 1024; ++x) {
                const uint64_t zz = firstSlice + z;
                out[(z * 1024 + y) * 1024 + x] =
                    static_cast<uint16_t>(((x * 3 + y * 5 + zz * 7) & 0x0FFF) + (noise() & 0x3F));
            }
        }
    }
}

std::shared_ptr<ImageView> memoryVolume(uint64_t mb)
{
    auto image = ImageViewFactory::allocate(shapeOf(mb), DataTypeId::UINT16);
    std::vector<uint16_t> slices;
    const uint64_t depth = shapeOf(mb)[2];
    for (uint64_t z = 0; z < depth; z += 16) {
        const uint64_t n = std::min<uint64_t>(16, depth - z);
        fillSlices(slices, z, n);
        std::copy(slices.begin(), slices.end(), static_cast<uint16_t*>(image->buffer()) + z * 1024 * 1024);
    }
    return image;
}

void writeRawFile(const std::string& path, uint64_t mb)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<uint16_t> slices;
    const uint64_t depth = shapeOf(mb)[2];
    for (uint64_t z = 0; z < depth; z += 16) {
        const uint64_t n = std::min<uint64_t>(16, depth - z);
        fillSlices(slices, z, n);
        std::fwrite(slices.data(), 2, slices.size(), f);
    }
    std::fclose(f);
}

void writeVxt(const std::shared_ptr<View>& view, const std::string& path, bool compressed)
{
    VxtWriter writer(view, path);
    if (compressed) {
        writer.setOption("compressor", VariantDataValueFactory::create("GzipDataCompressor"));
        writer.setOption("compressionLevel", VariantDataValueFactory::create(int64_t(1)));
    }
    writer.writeAll();
}

// --- Reading ------------------------------------------------------------------------

struct ReadFixtures {
    uint64_t bytes;
    std::string plain = tempPath("plain.vxt");
    std::string packed = tempPath("packed.vxt");
};

ReadFixtures& readFixtures()
{
    static ReadFixtures f = [] {
        ReadFixtures r;
        auto volume = memoryVolume(megabytes());
        r.bytes = volume->byteCount();
        writeVxt(volume, r.plain, false);
        writeVxt(volume, r.packed, true);
        return r;
    }();
    return f;
}

void BM_ReadVxt(benchmark::State& state)
{
    const bool compressed = state.range(0) != 0;
    const auto& f = readFixtures();
    VxtExtractor lod(compressed ? f.packed : f.plain);
    auto level0 = lod.resolution(0);
    std::vector<uint8_t> dst(f.bytes);
    for (auto _ : state) {
        level0->readRegion(RegionXu64::fullRegion(level0->shape()), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

void BM_ReadPlainFile(benchmark::State& state)
{
    const auto& f = readFixtures();
    const std::string data = f.plain.substr(0, f.plain.size() - 4) + ".dat";
    std::vector<uint8_t> dst(f.bytes);
    for (auto _ : state) {
        const int fd = ::open(data.c_str(), O_RDONLY);
        uint64_t done = 0;
        while (done < dst.size()) {
            const ssize_t got = ::pread(fd, dst.data() + done, std::min<uint64_t>(64u << 20, dst.size() - done),
                                        static_cast<off_t>(done));
            if (got <= 0) {
                break;
            }
            done += static_cast<uint64_t>(got);
        }
        ::close(fd);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

void BM_ReadZlibTiles(benchmark::State& state)
{
    const auto& f = readFixtures();
    VxtExtractor lod(f.packed);
    const auto& handle = *lod.handle();
    const uint64_t tileBytes = lod.grid()->tileByteSize();
    const uint64_t first = lod.grid()->firstFileId(0);
    std::vector<uint8_t> tile(tileBytes);
    std::vector<uint8_t> packed;
    for (auto _ : state) {
        for (uint64_t id = first; id < handle.m_tileInfos.size(); ++id) {
            const auto& entry = handle.m_tileInfos[id];
            packed.resize(entry.size);
            handle.m_dataAccess->read(entry.offset, entry.size, packed.data());
            uLongf length = tileBytes;
            ::uncompress(tile.data(), &length, packed.data(), packed.size());
            benchmark::DoNotOptimize(tile.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}

void BM_RandomRegion64(benchmark::State& state)
{
    const bool compressed = state.range(0) != 0;
    const auto& f = readFixtures();
    VxtExtractor lod(compressed ? f.packed : f.plain);
    auto level0 = lod.resolution(0);
    const VectorXu64 shape = level0->shape();
    std::mt19937_64 random(42);
    std::vector<uint8_t> dst(64 * 64 * 64 * 2);
    for (auto _ : state) {
        VectorXu64 origin(3);
        for (size_t i = 0; i < 3; ++i) {
            origin[i] = random() % (shape[i] - std::min<uint64_t>(64, shape[i]) + 1);
        }
        level0->readRegion(RegionXu64(origin, {64, 64, std::min<uint64_t>(64, shape[2])}), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// --- Writing ------------------------------------------------------------------------

std::shared_ptr<ImageView>& writeVolume()
{
    static std::shared_ptr<ImageView> volume = memoryVolume(2 * megabytes());
    return volume;
}

void BM_WriteVxt(benchmark::State& state)
{
    const bool compressed = state.range(0) != 0;
    // Each row rewrites a file of its own, as the reference does: sharing one would leave
    // the uncompressed row rewriting a smaller compressed file, and taking the rest of
    // its pages from memory no side has touched lately.
    const std::string path = tempPath(compressed ? "out_packed.vxt" : "out_plain.vxt");
    const auto volume = writeVolume();
    for (auto _ : state) {
        writeVxt(volume, path, compressed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * writeVolume()->byteCount()));
}

// The write volume as a KorvelMesh raw file, read lazily: the writer pulls its tiles from disk.
const std::string& kmInputFile()
{
    static const std::string path = [] {
        const std::string p = tempPath("input.km");
        quenza::km::KmWriter writer(writeVolume(), p);
        writer.setOption("compressor", VariantDataValueFactory::create("RAW"));
        writer.writeAll();
        return p;
    }();
    return path;
}

void BM_WriteVxtFromKm(benchmark::State& state)
{
    const std::string path = tempPath("out_from_km.vxt");
    for (auto _ : state) {
        writeVxt(std::make_shared<quenza::km::KmExtractor>(kmInputFile()), path, true);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * writeVolume()->byteCount()));
}

void BM_WritePlainFile(benchmark::State& state)
{
    const std::string path = tempPath("plain.raw");
    const auto* bytes = static_cast<const uint8_t*>(writeVolume()->bufferReadOnly());
    const uint64_t size = writeVolume()->byteCount();
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        uint64_t done = 0;
        while (done < size) {
            const ssize_t put = ::write(fd, bytes + done, std::min<uint64_t>(64u << 20, size - done));
            if (put <= 0) {
                break;
            }
            done += static_cast<uint64_t>(put);
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// The same tiles through one-call compress2, one after the other; the time reported
// is divided by the worker count, as if every worker deflated its share without overhead.
void BM_Compress2PerWorker(benchmark::State& state)
{
    auto volume = writeVolume();
    const VectorXu64& shape = volume->shape();
    const uint64_t workers = std::max<uint64_t>(1, std::thread::hardware_concurrency());
    const Indexer tileLayout({128, 128, 128}, DataTypeId::UINT16);
    std::vector<uint8_t> tile(tileLayout.byteCount());
    std::vector<uint8_t> out(compressBound(tile.size()));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (uint64_t z = 0; z < shape[2]; z += 128) {
            for (uint64_t y = 0; y < shape[1]; y += 128) {
                for (uint64_t x = 0; x < shape[0]; x += 128) {
                    const VectorXu64 size{std::min<uint64_t>(128, shape[0] - x), std::min<uint64_t>(128, shape[1] - y),
                                          std::min<uint64_t>(128, shape[2] - z)};
                    RegionCopier(Indexer(shape, DataTypeId::UINT16), {x, y, z}, tileLayout, {0, 0, 0}, size,
                                 DataTypeId::UINT16)
                        .copy(volume->bufferReadOnly(), tile.data());
                    uLongf length = out.size();
                    ::compress2(out.data(), &length, tile.data(), tile.size(), 1);
                    benchmark::DoNotOptimize(out.data());
                }
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds / static_cast<double>(workers));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * volume->byteCount()));
}

const std::string& pigzInput()
{
    static const std::string raw = [] {
        const std::string p = tempPath("pigz_input.raw");
        const auto* bytes = static_cast<const char*>(writeVolume()->bufferReadOnly());
        FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(bytes, 1, writeVolume()->byteCount(), f);
        std::fclose(f);
        return p;
    }();
    return raw;
}

void BM_Pigz(benchmark::State& state)
{
    const std::string& raw = pigzInput();
    const std::string command = "pigz -1 -c '" + raw + "' > '" + raw + ".gz'";
    if (std::system("command -v pigz > /dev/null") != 0) {
        state.SkipWithError("pigz is not installed");
        return;
    }
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("pigz failed");
            break;
        }
    }
    std::remove((raw + ".gz").c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * writeVolume()->byteCount()));
}

BENCHMARK(BM_ReadVxt)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPlainFile)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadZlibTiles)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomRegion64)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteVxt)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteVxtFromKm)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlainFile)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compress2PerWorker)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pigz)->UseRealTime()->Unit(benchmark::kMillisecond);

/// Peak resident memory, in MiB, of a child process that writes a file-backed volume of `mb` MiB.
double measurePeakMemory(uint64_t mb, bool compressed)
{
    const std::string raw = tempPath("peak_input.raw");
    writeRawFile(raw, mb);
    const pid_t child = ::fork();
    if (child == 0) {
        auto input = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(raw), shapeOf(mb),
                                                        DataTypeId::UINT16);
        writeVxt(input, tempPath("peak.vxt"), compressed);
        std::_Exit(0);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    std::printf("peak memory writing %llu MiB from a file-backed input, %s: %.1f MiB (exit %d)\n",
                static_cast<unsigned long long>(mb), compressed ? "compressed at level 1" : "uncompressed",
                static_cast<double>(usage.ru_maxrss) / 1024.0, WEXITSTATUS(status));
    std::remove(raw.c_str());
    std::remove(tempPath("peak.vxt").c_str());
    std::remove(tempPath("peak.dat").c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? static_cast<double>(usage.ru_maxrss) / 1024.0 : 0.0;
}

uint64_t peakMegabytes()
{
    const char* mb = std::getenv("QUENZA_BENCH_PEAK_MB");
    return std::max<uint64_t>(2, mb ? std::strtoull(mb, nullptr, 10) : 2048);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Before anything big is allocated, so that the children start small.
    std::vector<quenza::bench::MeasuredRow> peaks;
    if (std::getenv("QUENZA_BENCH_SKIP_PEAK") == nullptr) {
        const uint64_t mb = peakMegabytes();
        for (const bool compressed : {false, true}) {
            peaks.push_back({std::string("VXT writer peak memory, ") + (mb >= 1024 ? std::to_string(mb / 1024) + " GiB"
                                                                                   : std::to_string(mb) + " MiB") +
                                 " file-backed input, " + (compressed ? "compressed" : "uncompressed"),
                             "MiB", measurePeakMemory(mb, compressed), static_cast<double>(mb), "≤ 0.25"});
        }
    }
    // Inputs are made before any timing, and the files written once to warm the cache.
    readFixtures();
    writeVolume();
    kmInputFile();
    pigzInput();
    quenza::bench::RowRunner runner({
        {"VXT, level-0 full read, uncompressed", "BM_ReadVxt/0", "BM_ReadPlainFile", "≥ 0.7"},
        {"VXT, level-0 full read, compressed", "BM_ReadVxt/1", "BM_ReadZlibTiles", "≥ 1.2"},
        {"VXT, write compressed level 1 from a memory input", "BM_WriteVxt/1", "BM_Pigz", "≥ 1.5"},
        {"VXT, write compressed level 1 from a file-backed input (KorvelMesh raw)", "BM_WriteVxtFromKm", "BM_Pigz",
         "≥ 1.2"},
        {"VXT, write compressed level 1 (against compress2 on every worker)", "BM_WriteVxt/1",
         "BM_Compress2PerWorker", "report"},
        {"VXT, write uncompressed", "BM_WriteVxt/0", "BM_WritePlainFile", "≥ 0.5"},
    });
    for (auto& peak : peaks) {
        runner.addMeasured(std::move(peak));
    }
    const int status = runner.run();
    for (const char* name : {"plain.vxt", "plain.dat", "packed.vxt", "packed.dat", "out_plain.vxt", "out_plain.dat",
                             "out_packed.vxt", "out_packed.dat", "plain.raw", "input.km", "out_from_km.vxt",
                             "out_from_km.dat", "pigz_input.raw"}) {
        std::remove(tempPath(name).c_str());
    }
    benchmark::Shutdown();
    return status;
}
