#include <dravik/DataConverter.h>
#include <dravik/DataType.h>
#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/UidGenerator.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

using dravik::DataType;
using dravik::DataTypeId;
using dravik::PrimitiveType;

TEST(DataType, NamedTypesHaveTheirLayoutAndName)
{
    struct Case {
        DataTypeId id;
        PrimitiveType primitive;
        uint32_t elements;
        uint32_t bits;
        uint64_t bytes;
        const char* name;
    };
    const Case cases[] = {
        {DataTypeId::UINT8, PrimitiveType::UNSIGNED_INTEGER, 1, 8, 1, "UINT8"},
        {DataTypeId::INT16, PrimitiveType::SIGNED_INTEGER, 1, 16, 2, "INT16"},
        {DataTypeId::UINT64, PrimitiveType::UNSIGNED_INTEGER, 1, 64, 8, "UINT64"},
        {DataTypeId::FLOAT, PrimitiveType::FLOATING_POINT, 1, 32, 4, "FLOAT"},
        {DataTypeId::DOUBLE, PrimitiveType::FLOATING_POINT, 1, 64, 8, "DOUBLE"},
        {DataTypeId::COMPLEX_FLOAT, PrimitiveType::FLOATING_POINT, 2, 32, 8, "COMPLEX_FLOAT"},
        {DataTypeId::COMPLEX_DOUBLE, PrimitiveType::FLOATING_POINT, 2, 64, 16, "COMPLEX_DOUBLE"},
        {DataTypeId::VEC3_UINT8, PrimitiveType::UNSIGNED_INTEGER, 3, 8, 3, "VEC3_UINT8"},
        {DataTypeId::VEC4_UINT8, PrimitiveType::UNSIGNED_INTEGER, 4, 8, 4, "VEC4_UINT8"},
        {DataTypeId::UTF8_STRING, PrimitiveType::UNICODE_STRING, 1, 8, 1, "UTF8_STRING"},
    };
    for (const Case& c : cases) {
        const DataType t(c.id);
        EXPECT_EQ(t.primitiveType(), c.primitive) << c.name;
        EXPECT_EQ(t.elementCount(), c.elements) << c.name;
        EXPECT_EQ(t.bitDepth(), c.bits) << c.name;
        EXPECT_EQ(t.byteCount(), c.bytes) << c.name;
        EXPECT_EQ(t.toString(), c.name);
        EXPECT_EQ(t.id(), c.id);
        EXPECT_EQ(DataType(c.primitive, c.elements, c.bits, c.id == DataTypeId::COMPLEX_FLOAT
                                                              || c.id == DataTypeId::COMPLEX_DOUBLE),
                  t)
            << c.name;
    }
    EXPECT_EQ(DataType().id(), DataTypeId::UNKNOWN);
    EXPECT_TRUE(DataType().isUnknown());
    EXPECT_EQ(DataType().byteCount(), 0u);
}

TEST(DataType, ComplexIsNotATwoVector)
{
    const DataType complex(DataTypeId::COMPLEX_FLOAT);
    const DataType pair(DataTypeId::VEC2_FLOAT);
    EXPECT_NE(complex, pair);
    EXPECT_TRUE(complex.isComplex());
    EXPECT_FALSE(complex.isVector());
    EXPECT_TRUE(pair.isVector());
    EXPECT_EQ(complex.extractScalarType(), DataType(DataTypeId::FLOAT));
    EXPECT_EQ(DataType(DataTypeId::VEC3_UINT8).extractScalarType(), DataType(DataTypeId::UINT8));
    EXPECT_EQ(DataType(PrimitiveType::SIGNED_INTEGER, 5, 16).toString(), "VEC5_INT16");
    EXPECT_THROW(DataType(PrimitiveType::SIGNED_INTEGER, 2, 16, true), dravik::InvalidArgument);
    EXPECT_THROW(DataType(PrimitiveType::UNSIGNED_INTEGER, 1, 12), dravik::InvalidArgument);
    EXPECT_EQ(dravik::dataTypeOf<int32_t>(), DataType(DataTypeId::INT32));
    EXPECT_EQ(dravik::dataTypeOf<double>(), DataType(DataTypeId::DOUBLE));
}

TEST(DataType, StandardRanges)
{
    using Range = std::pair<double, double>;
    EXPECT_EQ(DataType::standardRange(DataTypeId::UINT8), Range(0, 255));
    EXPECT_EQ(DataType::standardRange(DataTypeId::INT16), Range(-32768, 32767));
    EXPECT_EQ(DataType::standardRange(DataTypeId::UINT32), Range(0, 4294967295.0));
    EXPECT_EQ(DataType::standardRange(DataTypeId::FLOAT), Range(-FLT_MAX, FLT_MAX));
    EXPECT_EQ(DataType::standardRange(DataTypeId::VEC3_UINT8), Range(0, 255));
    EXPECT_THROW(DataType::standardRange(DataTypeId::UTF8_STRING), dravik::InvalidArgument);
    EXPECT_THROW(DataType::standardRange(DataType()), dravik::InvalidArgument);
}

TEST(DataConverter, ReversesEachComponentInPlaceOrNot)
{
    const uint16_t words[] = {0x0102, 0xA0B0};
    uint16_t out[2];
    dravik::DataConverter::endianReverse(DataTypeId::UINT16, words, out, 2);
    EXPECT_EQ(out[0], 0x0201);
    EXPECT_EQ(out[1], 0xB0A0);

    // A complex number swaps its two floats separately, not as one 8-byte value.
    uint32_t complex[2] = {0x11223344, 0x55667788};
    dravik::DataConverter::endianReverse(DataTypeId::COMPLEX_FLOAT, complex, complex, 1);
    EXPECT_EQ(complex[0], 0x44332211u);
    EXPECT_EQ(complex[1], 0x88776655u);

    uint64_t big = 0x0102030405060708ull;
    dravik::DataConverter::endianReverse(DataTypeId::INT64, &big, &big, 1);
    EXPECT_EQ(big, 0x0807060504030201ull);

    const uint8_t bytes[] = {1, 2, 3};
    uint8_t copy[3] = {};
    dravik::DataConverter::endianReverse(DataTypeId::VEC3_UINT8, bytes, copy, 1);
    EXPECT_EQ(std::memcmp(bytes, copy, 3), 0);
}

TEST(UidGenerator, NeverRepeatsAcrossThreads)
{
    constexpr int THREADS = 8;
    constexpr int PER_THREAD = 20000;
    std::vector<std::vector<uint64_t>> drawn(THREADS);
    std::vector<std::thread> workers;
    for (int t = 0; t < THREADS; ++t) {
        workers.emplace_back([&drawn, t] {
            drawn[static_cast<size_t>(t)].reserve(PER_THREAD);
            for (int i = 0; i < PER_THREAD; ++i) {
                drawn[static_cast<size_t>(t)].push_back(dravik::UidGenerator::generate());
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    std::set<uint64_t> all;
    for (const auto& d : drawn) {
        all.insert(d.begin(), d.end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(THREADS * PER_THREAD));
}

TEST(ImageProperties, FromDataTypeCloneAndCompatibility)
{
    auto grey = dravik::ImageProperties::fromDataType(DataTypeId::UINT16);
    EXPECT_EQ(grey->imageInfo().interpretation(), dravik::ImageInterpretation::GRAYSCALE);
    EXPECT_EQ(grey->imageInfo().bitDepth(), 16u);
    EXPECT_EQ(grey->imageInfo().valueRange(), (dravik::Vector2d{0, 65535}));
    EXPECT_TRUE(grey->imageInfo().axesInterpretation().isUnknown());
    EXPECT_EQ(grey->calibration().spacing(), (dravik::Vector3d{1, 1, 1}));
    EXPECT_EQ(dravik::ImageProperties::fromDataType(DataTypeId::VEC3_UINT8)->imageInfo().interpretation(),
              dravik::ImageInterpretation::RGB);

    auto copy = grey->clone();
    copy->calibration().setUnit("mm");
    copy->imageInfo().setAxesInterpretation(dravik::ImageTypeId::VOLUME);
    EXPECT_EQ(grey->calibration().unit(), "");
    EXPECT_TRUE(copy->isCompatibleWith({4, 4, 4}, DataTypeId::UINT16));
    EXPECT_FALSE(copy->isCompatibleWith({4, 4}, DataTypeId::UINT16));
    EXPECT_FALSE(copy->isCompatibleWith({4, 4, 4}, DataTypeId::UINT8)) << "16 significant bits in 8-bit elements";
}

TEST(ImageType, PositionsFollowTheAxisOrder)
{
    dravik::ImageType t(dravik::ImageTypeId::IMAGE);
    t.add(dravik::ImageTypeDimension::SEQUENCE);
    EXPECT_EQ(t.position(dravik::ImageTypeDimension::SEQUENCE), 2);
    t.add(dravik::ImageTypeDimension::CHANNEL);
    EXPECT_EQ(t.position(dravik::ImageTypeDimension::CHANNEL), 2);
    EXPECT_EQ(t.position(dravik::ImageTypeDimension::SEQUENCE), 3);
    EXPECT_EQ(t.position(dravik::ImageTypeDimension::SLICE), -1);
    EXPECT_EQ(t.id(), dravik::ImageTypeId::MULTICHANNEL_IMAGE_SEQUENCE);
    EXPECT_EQ(t.toString(), "COLUMN, ROW, CHANNEL, SEQUENCE");
    EXPECT_EQ(dravik::ImageType::defaultFor(3), dravik::ImageType(dravik::ImageTypeId::VOLUME));
}

TEST(SpatialDirections, NormalisesAndCompletesTheFrame)
{
    const dravik::SpatialDirections d(dravik::Vector3d{0, 2, 0}, dravik::Vector3d{-3, 0, 0});
    EXPECT_EQ(d.direction(0), (dravik::Vector3d{0, 1, 0}));
    EXPECT_EQ(d.direction(1), (dravik::Vector3d{-1, 0, 0}));
    EXPECT_EQ(d.direction(2), (dravik::Vector3d{0, 0, 1}));
    EXPECT_THROW(dravik::SpatialDirections(dravik::Vector3d{1, 0, 0}, dravik::Vector3d{2, 0, 0}),
                 dravik::InvalidArgument);
    EXPECT_THROW(dravik::SpatialDirections(dravik::Vector3d{0, 0, 0}, dravik::Vector3d{0, 1, 0}),
                 dravik::InvalidArgument);
}

} // namespace
