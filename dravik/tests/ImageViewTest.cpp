#include "TestSupport.h"

#include <dravik/dravik.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace dravik;
using test::expectedRegion;
using test::pattern;

const VectorXu64 SHAPE{6, 5, 4};
const DataType TYPE = DataTypeId::UINT16;

std::vector<uint8_t> readAll(ImageView& view, const RegionXu64& region)
{
    std::vector<uint8_t> out(region.elementCount() * view.dataType().byteCount());
    view.readRegion(region, out.data());
    return out;
}

const std::vector<RegionXu64>& sampleRegions()
{
    static const std::vector<RegionXu64> regions{
        RegionXu64::fullRegion(SHAPE),
        RegionXu64({1, 1, 1}, {4, 3, 2}),
        RegionXu64({5, 0, 0}, {1, 5, 4}), // a column: strided everywhere
        RegionXu64({0, 4, 3}, {6, 1, 1}), // the last row
        RegionXu64({0, 0, 2}, {6, 5, 1}), // a slice
        RegionXu64({3, 2, 1}, {1, 1, 1}),
    };
    return regions;
}

// Every kind of source holding the same bytes must read the same regions identically.
TEST(ImageViewSources, BuffersRandomAccessesAndFilesReadTheSameBytes)
{
    const auto bytes = pattern(SHAPE.prod() * TYPE.byteCount());
    auto borrowed = bytes;
    test::TempFile file("sources.raw", bytes);

    std::vector<std::pair<std::string, std::shared_ptr<ImageView>>> views;
    auto owned = ImageViewFactory::allocate(SHAPE, TYPE);
    owned->writeRegion(RegionXu64::fullRegion(SHAPE), bytes.data());
    views.emplace_back("allocate", owned);
    views.emplace_back("fromBuffer", ImageViewFactory::fromBuffer(SHAPE, TYPE, borrowed.data(), borrowed.size()));
    views.emplace_back("memory random access",
                       ImageViewFactory::fromRandomAccess(RandomAccessFactory::fromBytes(bytes), SHAPE, TYPE));
    views.emplace_back("file random access", ImageViewFactory::fromRandomAccess(
                                                 RandomAccessFactory::openFileRead(file.path()), SHAPE, TYPE));
    views.emplace_back("file stream",
                       ImageViewFactory::fromRandomAccess(
                           RandomAccessFactory::fromStream(StreamAccessFactory::openFileRead(file.path())), SHAPE,
                           TYPE));

    for (const auto& [name, view] : views) {
        ASSERT_TRUE(view) << name;
        EXPECT_EQ(view->shape(), SHAPE) << name;
        EXPECT_EQ(view->dataType(), TYPE) << name;
        EXPECT_TRUE(view->support(ImageCapability::READ)) << name;
        for (const RegionXu64& region : sampleRegions()) {
            EXPECT_EQ(readAll(*view, region), expectedRegion(bytes, SHAPE, TYPE, region))
                << name << " " << region.toString();
        }
        uint16_t one = 0;
        view->read(VectorXu64{2, 3, 1}, &one);
        uint16_t expected = 0;
        std::memcpy(&expected, bytes.data() + Indexer(SHAPE, TYPE).offset({2, 3, 1}), 2);
        EXPECT_EQ(one, expected) << name;
        EXPECT_THROW(readAll(*view, RegionXu64({1, 0, 0}, {6, 5, 4})), InvalidArgument) << name;
        EXPECT_THROW(readAll(*view, RegionXu64({0, 0}, {1, 1})), InvalidArgument) << name;
    }
}

TEST(ImageViewSources, RandomAccessTooShortGivesNoViewAndTruncationFailsReads)
{
    const auto bytes = pattern(SHAPE.prod() * TYPE.byteCount() - 1);
    EXPECT_EQ(ImageViewFactory::fromRandomAccess(RandomAccessFactory::fromBytes(bytes), SHAPE, TYPE), nullptr);
    EXPECT_THROW(ImageViewFactory::fromRandomAccess(nullptr, SHAPE, TYPE), InvalidArgument);

    // A file that shrinks after the view was made fails the read instead of returning stale bytes.
    test::TempFile file("shrinking.raw", pattern(SHAPE.prod() * TYPE.byteCount()));
    auto view = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(file.path()), SHAPE, TYPE);
    ASSERT_TRUE(view);
    { std::ofstream truncate(file.path(), std::ios::binary | std::ios::trunc); }
    EXPECT_THROW(readAll(*view, RegionXu64::fullRegion(SHAPE)), Error);
    EXPECT_THROW(readAll(*view, RegionXu64({0, 0, 3}, {6, 5, 1})), Error);
}

// Counts the calls a view makes; reads the bytes of `source`.
class CountingRandomAccess : public RandomAccess {
public:
    explicit CountingRandomAccess(std::shared_ptr<RandomAccess> source)
        : m_source(std::move(source))
    {
    }
    std::shared_ptr<DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return "counting"; }
    RandomAccessCapabilitySet capabilities() const override { return RandomAccessCapability::READ; }
    uint64_t size() const override { return m_source->size(); }
    uint64_t read(uint64_t offset, uint64_t size, void* dst) override
    {
        ++reads;
        return m_source->read(offset, size, dst);
    }

    uint64_t reads = 0;

private:
    std::shared_ptr<RandomAccess> m_source;
};

// Boxes of short rows are read in one call, slab by slab when the whole box spans too
// many gaps, or row by row when even a slab is mostly gaps; every way reads the same bytes.
TEST(ImageViewSources, BoxesOfShortRowsAreReadInAsFewCallsAsTheirGapsAllow)
{
    const struct {
        VectorXu64 shape;
        RegionXu64 region;
        uint64_t reads;
    } cases[] = {
        {{64, 32, 40}, RegionXu64({8, 4, 2}, {32, 20, 30}), 1},       // the whole box at once
        {{64, 32, 40}, RegionXu64({8, 4, 2}, {16, 20, 30}), 30},      // a slice of the box a call
        {{64, 32, 40}, RegionXu64({63, 0, 0}, {1, 20, 30}), 600},     // a column: one voxel a call
        {{16, 8, 6, 5}, RegionXu64({2, 1, 1, 1}, {4, 6, 5, 3}), 15},  // slabs of x-y under two outer axes
        {{4096, 4, 2}, RegionXu64({0, 0, 0}, {4096, 2, 2}), 2},       // long rows: one call a row span
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.region.toString());
        const auto bytes = pattern(c.shape.prod() * TYPE.byteCount());
        test::TempFile file("blocks.raw", bytes);
        auto counting = std::make_shared<CountingRandomAccess>(RandomAccessFactory::openFileRead(file.path()));
        auto view = ImageViewFactory::fromRandomAccess(counting, c.shape, TYPE);
        ASSERT_TRUE(view);
        EXPECT_EQ(readAll(*view, c.region), expectedRegion(bytes, c.shape, TYPE, c.region));
        EXPECT_EQ(counting->reads, c.reads);
    }
}

TEST(ImageViewSources, WritesGoToTheRandomAccess)
{
    auto random = RandomAccessFactory::fromBytes(std::vector<uint8_t>(SHAPE.prod() * 2, 0));
    auto view = ImageViewFactory::fromRandomAccess(random, SHAPE, TYPE);
    ASSERT_TRUE(view->support(ImageCapability::WRITE));
    const RegionXu64 box({1, 2, 3}, {3, 2, 1});
    const auto values = pattern(box.elementCount() * 2, 7);
    view->writeRegion(box, values.data());
    std::vector<uint8_t> stored(random->size());
    random->read(0, stored.size(), stored.data());
    EXPECT_EQ(expectedRegion(stored, SHAPE, TYPE, box), values);
    EXPECT_EQ(readAll(*view, box), values);
}

TEST(MemoryImageView, WritesReshapesAndExposesItsBuffer)
{
    auto view = ImageViewFactory::allocate({4, 3}, DataTypeId::FLOAT);
    EXPECT_TRUE(view->support(ImageCapability::MEMORY_ACCESS));
    EXPECT_EQ(view->bufferSize(), 48u);
    const float value = 2.5f;
    view->write({3, 2}, &value);
    float stored = 0;
    std::memcpy(&stored, static_cast<const uint8_t*>(view->bufferReadOnly()) + view->indexer().offset({3, 2}), 4);
    EXPECT_EQ(stored, 2.5f);
    EXPECT_THROW(view->write({4, 0}, &value), InvalidArgument);

    view->reshape({12}, DataTypeId::UINT32);
    EXPECT_EQ(view->shape(), (VectorXu64{12}));
    EXPECT_EQ(view->dataType(), DataType(DataTypeId::UINT32));
    EXPECT_EQ(view->properties()->imageInfo().bitDepth(), 32u);
    EXPECT_THROW(ImageViewFactory::allocate({1ull << 40, 1ull << 40}, DataTypeId::UINT8), InvalidArgument);
    EXPECT_THROW(ImageViewFactory::allocate({4}, DataTypeId::UTF8_STRING), InvalidArgument);

    std::vector<uint8_t> tooSmall(10);
    EXPECT_THROW(ImageViewFactory::fromBuffer({4, 3}, DataTypeId::UINT8, tooSmall.data(), tooSmall.size()),
                 InvalidArgument);
}

TEST(ViewOrigin, LeavesAndDerivedViewsReportWhereTheirDataComesFrom)
{
    auto memory = ImageViewFactory::allocate({2, 2}, DataTypeId::UINT8);
    auto leaf = memory->viewOrigin();
    ASSERT_TRUE(leaf);
    EXPECT_EQ(leaf->dataOrigin(), ViewDataOrigin::CPU_MEMORY);
    EXPECT_EQ(leaf->parentCount(), 0u);
    EXPECT_THROW(leaf->parent(0), Error);

    auto region = ImageViewFactory::extractRegion(memory, RegionXu64({0, 0}, {1, 2}));
    auto derived = region->viewOrigin();
    EXPECT_EQ(derived->dataOrigin(), ViewDataOrigin::CPU_MEMORY);
    ASSERT_EQ(derived->parentCount(), 1u);
    EXPECT_EQ(derived->parent(0)->uid(), leaf->uid());
    EXPECT_NE(derived->uid(), leaf->uid());

    auto inMemory = ImageViewFactory::fromRandomAccess(RandomAccessFactory::fromBytes(std::vector<uint8_t>(4)),
                                                       {2, 2}, DataTypeId::UINT8);
    EXPECT_EQ(inMemory->viewOrigin()->dataOrigin(), ViewDataOrigin::CPU_MEMORY);
    test::TempFile file("origin.raw", std::vector<uint8_t>(4));
    auto onDisk = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(file.path()), {2, 2},
                                                     DataTypeId::UINT8);
    EXPECT_EQ(onDisk->viewOrigin()->dataOrigin(), ViewDataOrigin::DRIVE);
    auto mixed = ImageViewFactory::stack(MultiImageViewFactory::create({memory, onDisk}));
    EXPECT_EQ(mixed->viewOrigin()->dataOrigin(), ViewDataOrigin::COMPOSITE);
    EXPECT_EQ(mixed->viewOrigin()->parentCount(), 2u);
    EXPECT_THROW(memory->extension(TilingInfoExtension::EXTENSION_ID), Error);
    try {
        memory->extension(42);
        FAIL() << "no extension 42";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Extension 42 not found");
    }
}

} // namespace
