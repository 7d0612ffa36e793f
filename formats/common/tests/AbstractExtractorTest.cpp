#include <common/AbstractExtractor.h>
#include <common/AbstractExtractorMulti.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNode.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace quenza::common::test {
namespace {

using dravik::ViewDataOrigin;

// An extractor of a 1-D image whose element i holds the value first + i.
class CountingExtractor : public AbstractExtractor {
public:
    CountingExtractor(uint64_t length, uint8_t first, ViewDataOrigin origin)
        : m_first(first)
    {
        m_shape = {length};
        m_type = dravik::DataTypeId::UINT8;
        m_properties = dravik::ImageProperties::fromDataType(m_type);
        m_metadata = std::make_shared<dravik::MetadataNode>("root");
        m_capabilities = dravik::ImageCapability::READ;
        m_extensions.add<ViewOriginExtensionImpl>(std::make_shared<ViewOriginExtensionImpl>("Test Extractor", origin));
    }
    void readRegion(const dravik::RegionXu64& region, void* dst) override
    {
        auto* out = static_cast<uint8_t*>(dst);
        for (uint64_t i = 0; i < region.size()[0]; ++i) {
            out[i] = static_cast<uint8_t>(m_first + region.origin()[0] + i);
        }
    }

    std::shared_ptr<dravik::ImageProperties> propertiesField() const { return m_properties; }
    std::shared_ptr<dravik::MetadataNode> metadataField() const { return m_metadata; }

private:
    uint8_t m_first;
};

class BareExtractor : public AbstractExtractor {
public:
    void readRegion(const dravik::RegionXu64& /*region*/, void* /*dst*/) override {}
};

class FramesExtractor : public AbstractExtractorMulti {
public:
    explicit FramesExtractor(uint64_t count)
    {
        for (uint64_t i = 0; i < count; ++i) {
            m_frames.push_back(std::make_shared<CountingExtractor>(4, static_cast<uint8_t>(10 * i), ViewDataOrigin::DRIVE));
        }
        m_metadata = std::make_shared<dravik::MetadataNode>("root");
        m_capabilities = dravik::MultiImageCapability::READ;
        m_extensions.add<ViewOriginExtensionImpl>(
            std::make_shared<ViewOriginExtensionImpl>("Frames Extractor", ViewDataOrigin::DRIVE));
    }
    uint64_t frameCount() const override { return m_frames.size(); }
    std::shared_ptr<dravik::ImageView> frame(uint64_t index) override { return m_frames.at(index); }

    std::shared_ptr<dravik::MetadataNode> metadataField() const { return m_metadata; }

private:
    std::vector<std::shared_ptr<dravik::ImageView>> m_frames;
};

class BareMulti : public AbstractExtractorMulti {
public:
    uint64_t frameCount() const override { return 0; }
    std::shared_ptr<dravik::ImageView> frame(uint64_t /*index*/) override { return nullptr; }
};

void expectNotFound(dravik::View& view, size_t id)
{
    try {
        view.extension(id);
        ADD_FAILURE() << "extension " << id << " found";
    } catch (const dravik::Error& e) {
        EXPECT_EQ(std::string(e.what()), "Extension " + std::to_string(id) + " not found");
    }
}

TEST(AbstractExtractorTest, ReportsWhatTheSubclassFilledIn)
{
    auto extractor = std::make_shared<CountingExtractor>(6, 100, ViewDataOrigin::DRIVE);
    std::shared_ptr<dravik::ImageView> view = extractor;
    EXPECT_EQ(view->shape(), dravik::VectorXu64({6}));
    EXPECT_EQ(view->dataType(), dravik::DataType(dravik::DataTypeId::UINT8));
    EXPECT_EQ(view->capabilities(), dravik::ImageCapabilitySet(dravik::ImageCapability::READ));
    // Shared, not copied.
    EXPECT_EQ(view->properties().get(), extractor->propertiesField().get());
    EXPECT_EQ(view->metadata().get(), extractor->metadataField().get());

    auto origin = view->viewOrigin();
    ASSERT_NE(origin, nullptr);
    EXPECT_EQ(view->extension(3), origin);
    EXPECT_EQ(view->extension<dravik::ViewOriginExtension>(), origin);
    EXPECT_EQ(origin->dataOrigin(), ViewDataOrigin::DRIVE);
    EXPECT_EQ(origin->displayName(), "Test Extractor");
    expectNotFound(*view, 1);
    expectNotFound(*view, 4);

    std::vector<uint8_t> all(6);
    view->readRegion(dravik::RegionXu64::fullRegion(view->shape()), all.data());
    EXPECT_EQ(all, (std::vector<uint8_t>{100, 101, 102, 103, 104, 105}));
    uint8_t one = 0;
    view->read({4}, &one);
    EXPECT_EQ(one, 104);
    // The library's defaults stay for what an extractor does not implement.
    EXPECT_THROW(view->writeRegion(dravik::RegionXu64::fullRegion(view->shape()), all.data()), dravik::NotImplemented);
    EXPECT_THROW(view->buffer(), dravik::NotImplemented);
}

TEST(AbstractExtractorTest, StartsEmpty)
{
    BareExtractor bare;
    EXPECT_TRUE(bare.shape().empty());
    EXPECT_EQ(bare.dataType(), dravik::DataType());
    EXPECT_EQ(bare.properties(), nullptr);
    EXPECT_EQ(bare.metadata(), nullptr);
    EXPECT_TRUE(bare.capabilities().empty());
    expectNotFound(bare, 3);
    EXPECT_EQ(bare.viewOrigin(), nullptr);
}

TEST(AbstractExtractorMultiTest, ReportsWhatTheSubclassFilledIn)
{
    auto extractor = std::make_shared<FramesExtractor>(3);
    std::shared_ptr<dravik::MultiImageView> view = extractor;
    EXPECT_EQ(view->capabilities(), dravik::MultiImageCapabilitySet(dravik::MultiImageCapability::READ));
    EXPECT_EQ(view->metadata().get(), extractor->metadataField().get());
    ASSERT_NE(view->viewOrigin(), nullptr);
    EXPECT_EQ(view->extension(3), view->viewOrigin());
    EXPECT_EQ(view->viewOrigin()->displayName(), "Frames Extractor");
    expectNotFound(*view, 1);
    EXPECT_EQ(view->frameCount(), 3u);
    EXPECT_THROW(view->addFrame(view->frame(0)), dravik::NotImplemented);

    auto stacked = dravik::ImageViewFactory::stack(view);
    EXPECT_EQ(stacked->shape(), dravik::VectorXu64({4, 3}));
    std::vector<uint8_t> all(12);
    stacked->readRegion(dravik::RegionXu64::fullRegion(stacked->shape()), all.data());
    EXPECT_EQ(all, (std::vector<uint8_t>{0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23}));
}

TEST(AbstractExtractorMultiTest, StartsEmpty)
{
    BareMulti bare;
    EXPECT_EQ(bare.metadata(), nullptr);
    EXPECT_TRUE(bare.capabilities().empty());
    expectNotFound(bare, 3);
}

} // namespace
} // namespace quenza::common::test
