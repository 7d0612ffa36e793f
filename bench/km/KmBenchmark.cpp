// The KorvelMesh reader and writer against the plain operation doing the same work, in
// the same run: a raw read against read(2) of the file, an HxZip read against zlib's
// one-call uncompress of the same section bytes, HxByteRLE reading and writing against
// memcpy of the volume's bytes (and read(2), write(2)), and an HxZip write against
// one-call compress2 at the same level.

#include "RowRunner.h"

#include <KmExtractor.h>
#include <KmWriter.h>

#include <dravik/dravik.h>

#include <benchmark/benchmark.h>

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace dravik;
using quenza::km::KmExtractor;
using quenza::km::KmWriter;

// 256 MiB volumes unless QUENZA_BENCH_MB asks for another size.
uint64_t megabytes()
{
    const char* mb = std::getenv("QUENZA_BENCH_MB");
    return std::max<uint64_t>(2, mb ? std::strtoull(mb, nullptr, 10) : 256);
}

std::string tempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/km_bench_" + name;
}

/// 16-bit grey values: smooth ramps with a little noise, as a scanner gives.
const std::shared_ptr<ImageView>& greyVolume()
{
    static const std::shared_ptr<ImageView> image = [] {
        const VectorXu64 shape{1024, 1024, megabytes() / 2};
        auto view = ImageViewFactory::allocate(shape, DataTypeId::UINT16);
        auto* values = static_cast<uint16_t*>(view->buffer());
        uint32_t noise = 12345;
        uint64_t i = 0;
        for (uint64_t z = 0; z < shape[2]; ++z) {
            for (uint64_t y = 0; y < shape[1]; ++y) {
                for (uint64_t x = 0; x < shape[0]; ++x, ++i) {
                    noise = noise * 1664525u + 1013904223u;
                    values[i] = static_cast<uint16_t>((x + 3 * y + 7 * z) / 16 + (noise >> 29));
                }
            }
        }
        return view;
    }();
    return image;
}

/// 8-bit labels: blocks of constant values.
const std::shared_ptr<ImageView>& labelVolume()
{
    static const std::shared_ptr<ImageView> image = [] {
        const VectorXu64 shape{2048, 1024, megabytes() / 2};
        auto view = ImageViewFactory::allocate(shape, DataTypeId::UINT8);
        auto* values = static_cast<uint8_t*>(view->buffer());
        uint64_t i = 0;
        for (uint64_t z = 0; z < shape[2]; ++z) {
            for (uint64_t y = 0; y < shape[1]; ++y) {
                for (uint64_t x = 0; x < shape[0]; ++x, ++i) {
                    values[i] = static_cast<uint8_t>(((x >> 6) + (y >> 6) * 3 + (z >> 3) * 5) % 7);
                }
            }
        }
        auto properties = ImageProperties::fromDataType(DataTypeId::UINT8);
        properties->imageInfo().setInterpretation(ImageInterpretation::LABEL);
        return ImageViewFactory::fromImageView(view, properties, nullptr);
    }();
    return image;
}

void writeKm(const std::shared_ptr<ImageView>& image, const std::string& path, const char* compressor)
{
    KmWriter writer(image, path);
    writer.setOption("compressor", VariantDataValueFactory::create(compressor));
    writer.writeAll();
}

const std::string& rawFile()
{
    static const std::string path = [] {
        std::string p = tempPath("raw.km");
        writeKm(greyVolume(), p, "RAW");
        return p;
    }();
    return path;
}

const std::string& zipFile()
{
    static const std::string path = [] {
        std::string p = tempPath("zip.km");
        writeKm(greyVolume(), p, "ZIP");
        return p;
    }();
    return path;
}

const std::string& rleFile()
{
    static const std::string path = [] {
        std::string p = tempPath("rle.km");
        writeKm(labelVolume(), p, "RLE");
        return p;
    }();
    return path;
}

std::vector<uint8_t> fileBytes(const std::string& path, uint64_t offset = 0, uint64_t size = UINT64_MAX)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8_t> chunk(1 << 20);
    uint64_t position = 0;
    ssize_t n = 0;
    while ((n = ::read(fd, chunk.data(), chunk.size())) > 0) {
        const uint64_t end = position + static_cast<uint64_t>(n);
        const uint64_t from = std::max(position, offset);
        const uint64_t to = size == UINT64_MAX ? end : std::min(end, offset + size);
        if (from < to) {
            bytes.insert(bytes.end(), chunk.begin() + static_cast<ptrdiff_t>(from - position),
                         chunk.begin() + static_cast<ptrdiff_t>(to - position));
        }
        position = end;
    }
    ::close(fd);
    return bytes;
}

void posixRead(const std::string& path, std::vector<uint8_t>& dst)
{
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
}

void setBytes(benchmark::State& state, uint64_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void readKm(benchmark::State& state, const std::string& path)
{
    KmExtractor probe(path);
    std::vector<uint8_t> dst(probe.byteCount());
    for (auto _ : state) {
        KmExtractor km(path);
        km.readRegion(RegionXu64::fullRegion(km.shape()), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_KmRaw_FullRead(benchmark::State& state)
{
    readKm(state, rawFile());
}

void BM_PosixRead_RawFileBytes(benchmark::State& state)
{
    std::vector<uint8_t> dst(greyVolume()->byteCount());
    for (auto _ : state) {
        posixRead(rawFile(), dst);
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_KmZip_FullRead(benchmark::State& state)
{
    readKm(state, zipFile());
}

void BM_ZlibUncompress_SectionBytes(benchmark::State& state)
{
    KmExtractor km(zipFile());
    const std::vector<uint8_t> section = fileBytes(zipFile(), km.dataOffset(), km.compression().size);
    std::vector<uint8_t> dst(km.byteCount());
    for (auto _ : state) {
        uLongf size = dst.size();
        if (uncompress(dst.data(), &size, section.data(), section.size()) != Z_OK) {
            state.SkipWithError("uncompress failed");
        }
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_KmRle_FullRead(benchmark::State& state)
{
    readKm(state, rleFile());
}

void BM_PosixRead_LabelVolumeBytes(benchmark::State& state)
{
    static const std::string path = [] {
        std::string p = tempPath("labels.raw");
        const auto& image = labelVolume();
        FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(image->bufferReadOnly(), 1, image->byteCount(), f);
        std::fclose(f);
        return p;
    }();
    std::vector<uint8_t> dst(labelVolume()->byteCount());
    for (auto _ : state) {
        posixRead(path, dst);
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void BM_Memcpy_LabelVolumeBytes(benchmark::State& state)
{
    const auto& image = labelVolume();
    std::vector<uint8_t> dst(image->byteCount());
    for (auto _ : state) {
        std::memcpy(dst.data(), image->bufferReadOnly(), dst.size());
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, dst.size());
}

void writeBench(benchmark::State& state, const std::shared_ptr<ImageView>& image, const char* compressor)
{
    const std::string path = tempPath(std::string("written_") + compressor + ".km");
    for (auto _ : state) {
        writeKm(image, path, compressor);
    }
    std::remove(path.c_str());
    setBytes(state, image->byteCount());
}

void BM_KmRle_Write(benchmark::State& state)
{
    writeBench(state, labelVolume(), "RLE");
}

void BM_PosixWrite_LabelVolumeBytes(benchmark::State& state)
{
    const std::string path = tempPath("written.raw");
    const auto& image = labelVolume();
    const auto* bytes = static_cast<const uint8_t*>(image->bufferReadOnly());
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        size_t done = 0;
        while (done < image->byteCount()) {
            const ssize_t n = ::write(fd, bytes + done, image->byteCount() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }
    std::remove(path.c_str());
    setBytes(state, image->byteCount());
}

void BM_KmZip_Write(benchmark::State& state)
{
    writeBench(state, greyVolume(), "ZIP");
}

void BM_Compress2_GreyVolumeBytes(benchmark::State& state)
{
    const auto& image = greyVolume();
    std::vector<uint8_t> dst(compressBound(image->byteCount()));
    for (auto _ : state) {
        uLongf size = dst.size();
        compress2(dst.data(), &size, static_cast<const Bytef*>(image->bufferReadOnly()), image->byteCount(), 1);
        benchmark::DoNotOptimize(dst.data());
    }
    setBytes(state, image->byteCount());
}

} // namespace

BENCHMARK(BM_KmRaw_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead_RawFileBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KmZip_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress_SectionBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KmRle_FullRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead_LabelVolumeBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_LabelVolumeBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KmRle_Write)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixWrite_LabelVolumeBytes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KmZip_Write)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compress2_GreyVolumeBytes)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Make the files and read each once, so that both sides of a pair read a warm cache.
    for (const std::string* path : {&rawFile(), &zipFile(), &rleFile()}) {
        benchmark::DoNotOptimize(fileBytes(*path, 0, 0).size());
    }
    const int status = quenza::bench::RowRunner({
        {"KorvelMesh raw, full-volume read", "BM_KmRaw_FullRead", "BM_PosixRead_RawFileBytes", "≥ 0.8"},
        {"KorvelMesh HxZip, full-volume read", "BM_KmZip_FullRead", "BM_ZlibUncompress_SectionBytes", "≥ 1.2"},
        {"KorvelMesh HxByteRLE, full-volume read", "BM_KmRle_FullRead", "BM_Memcpy_LabelVolumeBytes", "report"},
        {"KorvelMesh HxByteRLE, write", "BM_KmRle_Write", "BM_Memcpy_LabelVolumeBytes", "report"},
        {"KorvelMesh HxByteRLE, write (against write(2))", "BM_KmRle_Write", "BM_PosixWrite_LabelVolumeBytes",
         "report"},
        {"KorvelMesh HxZip write, level 1", "BM_KmZip_Write", "BM_Compress2_GreyVolumeBytes", "≥ 0.9"},
    }).run();
    for (const char* name : {"raw.km", "zip.km", "rle.km", "labels.raw"}) {
        std::remove(tempPath(name).c_str());
    }
    benchmark::Shutdown();
    return status;
}
