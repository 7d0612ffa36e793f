#include <dravik/Indexer.h>
#include <dravik/RegionCopier.h>

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

using dravik::DataType;
using dravik::DataTypeId;
using dravik::Indexer;
using dravik::InvalidArgument;
using dravik::RegionCopier;
using dravik::RegionXu64;
using dravik::VectorXu64;

// Bytes that tell every position apart.
std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    return v;
}

// Element-by-element copy through Indexer::offset, the reference for the planned copy.
std::vector<uint8_t> referenceCopy(const Indexer& src, const VectorXu64& srcOrigin, const Indexer& dst,
                                   const VectorXu64& dstOrigin, const VectorXu64& size, uint64_t elementBytes,
                                   const std::vector<uint8_t>& srcBytes, std::vector<uint8_t> dstBytes)
{
    VectorXu64 i(size.size(), 0);
    if (RegionXu64(srcOrigin, size).isEmpty()) {
        return dstBytes;
    }
    for (;;) {
        std::memcpy(dstBytes.data() + dst.offset(dstOrigin + i), srcBytes.data() + src.offset(srcOrigin + i),
                    elementBytes);
        size_t axis = 0;
        for (; axis < size.size(); ++axis) {
            if (++i[axis] < size[axis]) {
                break;
            }
            i[axis] = 0;
        }
        if (axis == size.size()) {
            return dstBytes;
        }
    }
}

TEST(Indexer, DenseAndExplicitStrides)
{
    const Indexer dense(VectorXu64{4, 3, 2}, DataTypeId::UINT16);
    EXPECT_EQ(dense.strides(), (VectorXu64{2, 8, 24}));
    EXPECT_EQ(dense.byteCount(), 48u);
    EXPECT_EQ(dense.offset(VectorXu64{1, 2, 1}), 2u + 16u + 24u);
    EXPECT_TRUE(dense.isDense());
    EXPECT_THROW(dense.offset(VectorXu64{4, 0, 0}), InvalidArgument);
    EXPECT_THROW(dense.offset(VectorXu64{0, 0}), InvalidArgument);

    // Colour pixels stored in 4 bytes: 3 x 2 pixels span 24 bytes.
    const Indexer padded(VectorXu64{3, 2}, DataTypeId::VEC3_UINT8, VectorXu64{4, 12});
    EXPECT_EQ(padded.byteCount(), 24u);
    EXPECT_FALSE(padded.isDense());
    EXPECT_EQ(padded.offset(VectorXu64{2, 1}), 20u);
    EXPECT_THROW(Indexer(VectorXu64{3, 2}, DataTypeId::UINT8, VectorXu64{1}), InvalidArgument);
    EXPECT_EQ(Indexer(VectorXu64{}, DataTypeId::UINT8).byteCount(), 0u);
}

struct CopyCase {
    const char* name;
    Indexer src;
    VectorXu64 srcOrigin;
    Indexer dst;
    VectorXu64 dstOrigin;
    VectorXu64 size;
    DataType type;
};

void PrintTo(const CopyCase& c, std::ostream* out)
{
    *out << c.name;
}

class RegionCopierCases : public ::testing::TestWithParam<CopyCase> {};

TEST_P(RegionCopierCases, MatchesElementByElementCopy)
{
    const CopyCase& c = GetParam();
    const auto srcBytes = pattern(c.src.byteCount());
    const std::vector<uint8_t> dstBytes(c.dst.byteCount(), 0xEE);
    const auto expected =
        referenceCopy(c.src, c.srcOrigin, c.dst, c.dstOrigin, c.size, c.type.byteCount(), srcBytes, dstBytes);
    auto actual = dstBytes;
    RegionCopier(c.src, c.srcOrigin, c.dst, c.dstOrigin, c.size, c.type).copy(srcBytes.data(), actual.data());
    EXPECT_EQ(actual, expected);
}

const VectorXu64 VOLUME{17, 9, 5};

INSTANTIATE_TEST_SUITE_P(
    Layouts, RegionCopierCases,
    ::testing::Values(
        CopyCase{"whole_volume", Indexer(VOLUME, DataTypeId::UINT16), {0, 0, 0}, Indexer(VOLUME, DataTypeId::UINT16),
                 {0, 0, 0}, VOLUME, DataTypeId::UINT16},
        CopyCase{"inner_box_to_packed", Indexer(VOLUME, DataTypeId::FLOAT), {3, 2, 1},
                 Indexer(VectorXu64{5, 4, 3}, DataTypeId::FLOAT), {0, 0, 0}, {5, 4, 3}, DataTypeId::FLOAT},
        CopyCase{"full_rows_merge", Indexer(VOLUME, DataTypeId::UINT8), {0, 2, 1},
                 Indexer(VectorXu64{17, 5, 4}, DataTypeId::UINT8), {0, 0, 0}, {17, 5, 4}, DataTypeId::UINT8},
        CopyCase{"into_bigger_shape", Indexer(VectorXu64{4, 3}, DataTypeId::DOUBLE), {0, 0},
                 Indexer(VectorXu64{10, 8}, DataTypeId::DOUBLE), {5, 4}, {4, 3}, DataTypeId::DOUBLE},
        CopyCase{"column_of_a_volume", Indexer(VOLUME, DataTypeId::INT32), {16, 0, 0},
                 Indexer(VectorXu64{1, 9, 5}, DataTypeId::INT32), {0, 0, 0}, {1, 9, 5}, DataTypeId::INT32},
        CopyCase{"padded_colour_source", Indexer(VectorXu64{3, 2}, DataTypeId::VEC3_UINT8, {4, 12}), {0, 0},
                 Indexer(VectorXu64{3, 2}, DataTypeId::VEC3_UINT8), {0, 0}, {3, 2}, DataTypeId::VEC3_UINT8},
        CopyCase{"first_three_of_four_bytes", Indexer(VectorXu64{6, 4}, DataTypeId::VEC4_UINT8), {1, 1},
                 Indexer(VectorXu64{4, 2}, DataTypeId::VEC3_UINT8), {0, 0}, {4, 2}, DataTypeId::VEC3_UINT8},
        CopyCase{"padded_destination_keeps_its_gaps", Indexer(VectorXu64{5, 3}, DataTypeId::VEC3_UINT8), {0, 0},
                 Indexer(VectorXu64{5, 3}, DataTypeId::VEC3_UINT8, {4, 20}), {0, 0}, {5, 3}, DataTypeId::VEC3_UINT8},
        CopyCase{"six_of_eight_bytes", Indexer(VectorXu64{7, 2}, DataTypeId::VEC4_UINT16), {1, 0},
                 Indexer(VectorXu64{6, 2}, DataTypeId::VEC3_UINT16), {0, 0}, {6, 2}, DataTypeId::VEC3_UINT16},
        CopyCase{"twelve_of_sixteen_bytes", Indexer(VectorXu64{3, 3}, DataTypeId::VEC4_FLOAT), {0, 1},
                 Indexer(VectorXu64{3, 2}, DataTypeId::VEC3_FLOAT), {0, 0}, {3, 2}, DataTypeId::VEC3_FLOAT},
        CopyCase{"every_second_element", Indexer(VectorXu64{4, 3}, DataTypeId::UINT16, {4, 28}), {0, 0},
                 Indexer(VectorXu64{4, 3}, DataTypeId::UINT16), {0, 0}, {4, 3}, DataTypeId::UINT16},
        CopyCase{"odd_element_size", Indexer(VectorXu64{7, 3}, DataType(dravik::PrimitiveType::UNSIGNED_INTEGER, 5, 8)),
                 {1, 1}, Indexer(VectorXu64{6, 2}, DataType(dravik::PrimitiveType::UNSIGNED_INTEGER, 5, 8)), {0, 0},
                 {6, 2}, DataType(dravik::PrimitiveType::UNSIGNED_INTEGER, 5, 8)},
        CopyCase{"wide_strided_elements", Indexer(VectorXu64{5, 5}, DataTypeId::VEC4_DOUBLE), {0, 1},
                 Indexer(VectorXu64{5, 8}, DataTypeId::VEC4_DOUBLE, {40, 200}), {0, 2},
                 {3, 4}, DataTypeId::VEC4_DOUBLE},
        CopyCase{"empty_box", Indexer(VOLUME, DataTypeId::UINT8), {2, 2, 2}, Indexer(VOLUME, DataTypeId::UINT8),
                 {0, 0, 0}, {0, 3, 3}, DataTypeId::UINT8}),
    [](const ::testing::TestParamInfo<CopyCase>& param) { return std::string(param.param.name); });

TEST(RegionCopier, MergesContiguousAxesIntoOneRun)
{
    const Indexer volume(VectorXu64{64, 32, 8}, DataTypeId::UINT16);
    EXPECT_EQ(RegionCopier(volume, RegionXu64::fullRegion(volume.shape()), DataTypeId::UINT16).runByteCount(),
              volume.byteCount());
    EXPECT_EQ(RegionCopier(volume, RegionXu64({0, 4, 0}, {64, 8, 8}), DataTypeId::UINT16).runByteCount(),
              64u * 8u * 2u);
    EXPECT_EQ(RegionCopier(volume, RegionXu64({1, 0, 0}, {10, 32, 8}), DataTypeId::UINT16).runByteCount(), 20u);
}

TEST(RegionCopier, RejectsBoxesOutsideTheirLayoutAndOversizedElements)
{
    const Indexer small(VectorXu64{4, 4}, DataTypeId::UINT8);
    EXPECT_THROW(RegionCopier(small, RegionXu64({2, 2}, {3, 1}), DataTypeId::UINT8), InvalidArgument);
    EXPECT_THROW(RegionCopier(small, RegionXu64({0, 0, 0}, {1, 1, 1}), DataTypeId::UINT8), InvalidArgument);
    EXPECT_THROW(RegionCopier(small, RegionXu64({0, 0}, {1, 1}), DataTypeId::UINT16), InvalidArgument);
    EXPECT_THROW(RegionCopier(small, {0, 0}, small, {3, 3}, {2, 1}, DataTypeId::UINT8), InvalidArgument);
}

} // namespace
