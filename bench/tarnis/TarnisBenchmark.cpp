// Reading a large version 6 Tarnis file through its image view against a plain read of
// its pixel bytes, in the same run and from the same warm cache.

#include "RowRunner.h"

#include <TarnisExtractor.h>
#include <TarnisWriter.h>

#include <dravik/dravik.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace dravik;

// 1024 x 1024 x 128 16-bit voxels: 256 MiB, unless QUENZA_BENCH_MB asks for another size.
const VectorXu64& volumeShape()
{
    static const VectorXu64 shape = [] {
        const char* mb = std::getenv("QUENZA_BENCH_MB");
        const uint64_t megabytes = mb ? std::strtoull(mb, nullptr, 10) : 256;
        return VectorXu64{1024, 1024, std::max<uint64_t>(1, megabytes / 2)};
    }();
    return shape;
}

uint64_t pixelBytes()
{
    return volumeShape().prod() * 2;
}

const std::string& volumeFile()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir ? dir : "/tmp") + "/tarnis_bench_volume.im6";
        std::vector<uint8_t> bytes(pixelBytes());
        uint32_t x = 12345;
        for (auto& b : bytes) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        auto image = ImageViewFactory::fromBuffer(volumeShape(), DataTypeId::UINT16, bytes.data(), bytes.size());
        auto properties = ImageProperties::fromDataType(DataTypeId::UINT16);
        properties->imageInfo().setAxesInterpretation(ImageTypeId::VOLUME);
        quenza::tarnis::TarnisWriter writer(ImageViewFactory::fromImageView(image, properties, nullptr),
                                            StreamAccessFactory::openFileWrite(p));
        writer.writeAll();
        return p;
    }();
    return path;
}

std::shared_ptr<ImageView> openVolume()
{
    return std::make_shared<quenza::tarnis::TarnisExtractor>(volumeFile())->frame(0);
}

void setBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixelBytes()));
}

void BM_Tarnis_FullRead(benchmark::State& state)
{
    std::vector<uint8_t> dst(pixelBytes());
    for (auto _ : state) {
        auto view = openVolume();
        view->readRegion(RegionXu64::fullRegion(view->shape()), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state);
}

void BM_Tarnis_SliceBySlice(benchmark::State& state)
{
    std::vector<uint8_t> dst(pixelBytes());
    const uint64_t sliceBytes = volumeShape()[0] * volumeShape()[1] * 2;
    for (auto _ : state) {
        auto view = openVolume();
        const auto full = RegionXu64::fullRegion(view->shape());
        for (uint64_t z = 0; z < volumeShape()[2]; ++z) {
            view->readRegion(full.extractSliceFromAxis(2, z), dst.data() + z * sliceBytes);
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state);
}

// One region per row: what reading a region one seek and one read a row at a time costs.
void BM_Tarnis_RowByRow(benchmark::State& state)
{
    std::vector<uint8_t> dst(pixelBytes());
    const uint64_t rowBytes = volumeShape()[0] * 2;
    for (auto _ : state) {
        auto view = openVolume();
        uint8_t* out = dst.data();
        for (uint64_t z = 0; z < volumeShape()[2]; ++z) {
            for (uint64_t y = 0; y < volumeShape()[1]; ++y) {
                view->readRegion(RegionXu64({0, y, z}, {volumeShape()[0], 1, 1}), out);
                out += rowBytes;
            }
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state);
}

void BM_PosixRead_PixelBytes(benchmark::State& state)
{
    std::vector<uint8_t> dst(pixelBytes());
    for (auto _ : state) {
        const int fd = ::open(volumeFile().c_str(), O_RDONLY | O_CLOEXEC);
        size_t done = 0;
        while (done < dst.size()) {
            const ssize_t n = ::pread(fd, dst.data() + done, dst.size() - done, static_cast<off_t>(116 + done));
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state);
}

} // namespace

BENCHMARK(BM_Tarnis_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tarnis_SliceBySlice)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tarnis_RowByRow)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead_PixelBytes)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Write the file and read it once, so that both sides read from a warm cache.
    {
        std::vector<uint8_t> warm(pixelBytes());
        if (FILE* f = std::fopen(volumeFile().c_str(), "rb")) {
            benchmark::DoNotOptimize(std::fread(warm.data(), 1, warm.size(), f));
            std::fclose(f);
        }
    }
    const int status = quenza::bench::RowRunner({
        {"Tarnis, full-image read", "BM_Tarnis_FullRead", "BM_PosixRead_PixelBytes", "≥ 0.8"},
        {"Tarnis, slice-by-slice read", "BM_Tarnis_SliceBySlice", "BM_PosixRead_PixelBytes", "report"},
        {"Tarnis, row-by-row read", "BM_Tarnis_RowByRow", "BM_PosixRead_PixelBytes", "report"},
    }).run();
    std::remove(volumeFile().c_str());
    benchmark::Shutdown();
    return status;
}
