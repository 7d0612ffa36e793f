#pragma once

// Truncation and corruption sweeps shared by the readers' robustness tests: every prefix
// of a small valid file, and single-byte corruptions at fixed seeds, must either open
// and read or fail with a dravik::Error. A crash, a hang, or an exception of another
// kind is a fault of the reader.

#include <dravik/DataFrameView.h>
#include <dravik/Error.h>
#include <dravik/ImageView.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/Region.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace quenza::common::test {

using SweepBytes = std::vector<uint8_t>;

struct SweepFixture {
    std::string name;
    SweepBytes bytes;
};

/// Opens and reads everything in `bytes`; throws what the reader throws.
using Exercise = std::function<void(const SweepBytes& bytes)>;

enum class SweepOutcome { READ, REFUSED, FOREIGN };

struct SweepResult {
    SweepOutcome outcome;
    std::string message;
};

inline SweepResult runExercise(const Exercise& exercise, const SweepBytes& bytes)
{
    try {
        exercise(bytes);
    } catch (const dravik::Error& e) {
        return {SweepOutcome::REFUSED, e.what()};
    } catch (const std::exception& e) {
        return {SweepOutcome::FOREIGN, std::string("not a dravik::Error: ") + e.what()};
    } catch (...) {
        return {SweepOutcome::FOREIGN, "an exception of no standard type"};
    }
    return {SweepOutcome::READ, ""};
}

struct SweepCounts {
    uint64_t read = 0;
    uint64_t refused = 0;
};

/// Every prefix of `fixture`, from empty to one byte short. Each must be read or refused;
/// the shortest prefixes (up to `alwaysRefusedBelow` bytes) must be refused.
inline SweepCounts prefixSweep(const SweepFixture& fixture, const Exercise& exercise, size_t alwaysRefusedBelow)
{
    SweepCounts counts;
    for (size_t length = 0; length < fixture.bytes.size(); ++length) {
        const SweepBytes prefix(fixture.bytes.begin(), fixture.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        const SweepResult result = runExercise(exercise, prefix);
        EXPECT_NE(result.outcome, SweepOutcome::FOREIGN)
            << fixture.name << " cut to " << length << " bytes: " << result.message;
        if (length < alwaysRefusedBelow) {
            EXPECT_EQ(result.outcome, SweepOutcome::REFUSED) << fixture.name << " cut to " << length << " bytes";
        }
        (result.outcome == SweepOutcome::READ ? counts.read : counts.refused) += 1;
    }
    return counts;
}

/// `count` copies of `fixture`, each with one byte replaced by a different value, at
/// positions and values drawn from `seed`.
inline SweepCounts corruptionSweep(const SweepFixture& fixture, const Exercise& exercise, size_t count,
                                   uint32_t seed)
{
    SweepCounts counts;
    if (fixture.bytes.empty()) {
        return counts;
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> position(0, fixture.bytes.size() - 1);
    std::uniform_int_distribution<int> delta(1, 255);
    for (size_t i = 0; i < count; ++i) {
        SweepBytes corrupt = fixture.bytes;
        const size_t at = position(random);
        corrupt[at] = static_cast<uint8_t>(corrupt[at] + delta(random));
        const SweepResult result = runExercise(exercise, corrupt);
        EXPECT_NE(result.outcome, SweepOutcome::FOREIGN) << fixture.name << " with byte " << at << " set to "
                                                         << int(corrupt[at]) << ": " << result.message;
        (result.outcome == SweepOutcome::READ ? counts.read : counts.refused) += 1;
    }
    return counts;
}

/// The inputs that fuzz target `target` once failed on, committed under
/// fuzz/regressions/<target>/, in name order.
inline std::vector<SweepFixture> fuzzRegressions(const std::string& target)
{
    const std::filesystem::path dir = std::filesystem::path(QUENZA_TESTDATA_DIR) / ".." / "fuzz" / "regressions" / target;
    std::vector<SweepFixture> found;
    if (std::filesystem::is_directory(dir)) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            found.push_back({entry.path().filename().string(),
                             SweepBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
        }
    }
    std::sort(found.begin(), found.end(), [](const SweepFixture& a, const SweepFixture& b) { return a.name < b.name; });
    return found;
}

/// Writes the fixtures as seed files under $QUENZA_FUZZ_SEEDS/<target>/ when that
/// variable is set: the fuzz corpora start from the same files the sweeps use.
inline void writeSeeds(const std::string& target, const std::vector<SweepFixture>& fixtures)
{
    const char* root = std::getenv("QUENZA_FUZZ_SEEDS");
    if (root == nullptr || *root == '\0') {
        return;
    }
    const std::filesystem::path dir = std::filesystem::path(root) / target;
    std::filesystem::create_directories(dir);
    for (const SweepFixture& f : fixtures) {
        std::string name = f.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !(std::isalnum(static_cast<unsigned char>(c)) || c == '-'); },
            '_');
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    }
}

/// Reads `image` whole, then its first element, a box in the middle and its last plane.
inline void readImageEverywhere(dravik::ImageView& image)
{
    const dravik::VectorXu64 shape = image.shape();
    (void)image.properties();
    (void)image.metadata();
    const size_t n = shape.size();
    if (n == 0 || std::any_of(shape.begin(), shape.end(), [](uint64_t s) { return s == 0; })) {
        return;
    }
    // A corrupted size may announce more than a test should hold; the boxes still read it.
    uint64_t elements = 1;
    for (uint64_t s : shape) {
        elements = s > (uint64_t(1) << 26) / elements ? (uint64_t(1) << 26) + 1 : elements * s;
    }
    const bool whole = elements <= (uint64_t(1) << 26) && elements * image.dataType().byteCount() <= (uint64_t(64) << 20);
    std::vector<uint8_t> all(static_cast<size_t>((whole ? image.byteCount() : 0) + image.dataType().byteCount() + 64));
    if (whole) {
        image.readRegion(dravik::RegionXu64::fullRegion(shape), all.data());
    }
    dravik::VectorXu64 origin = shape;
    dravik::VectorXu64 size = shape;
    origin.fill(0);
    size.fill(1);
    image.readRegion(dravik::RegionXu64(origin, size), all.data());
    if (!whole) {
        return;
    }
    for (size_t d = 0; d < n; ++d) {
        origin[d] = shape[d] / 3;
        size[d] = std::min<uint64_t>(std::max<uint64_t>(shape[d] / 2, 1), shape[d] - origin[d]);
    }
    image.readRegion(dravik::RegionXu64(origin, size), all.data());
    for (size_t d = 0; d < n; ++d) {
        origin[d] = 0;
        size[d] = shape[d];
    }
    origin[n - 1] = shape[n - 1] - 1;
    size[n - 1] = 1;
    image.readRegion(dravik::RegionXu64(origin, size), all.data());
}

inline void readEveryFrame(dravik::MultiImageView& images)
{
    (void)images.metadata();
    for (uint64_t i = 0; i < images.frameCount(); ++i) {
        readImageEverywhere(*images.frame(i));
    }
}

inline void readEveryLevel(dravik::LodImageView& lod)
{
    const auto range = lod.levelRange();
    for (int64_t level = range[0]; level <= range[1]; ++level) {
        readImageEverywhere(*lod.resolution(level));
    }
}

} // namespace quenza::common::test
