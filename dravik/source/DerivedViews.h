#pragma once

#include "ImageViewBase.h"

#include <dravik/MultiImageView.h>

#include <memory>
#include <vector>

// Views computed from other views on each read. None of them copies its source.

namespace dravik {

/// A box of a source image.
class RegionImageView : public ImageViewBase {
public:
    RegionImageView(std::shared_ptr<ImageView> source, const RegionXu64& region);
    void readRegion(const RegionXu64& region, void* dst) override;
    void writeRegion(const RegionXu64& region, const void* src) override;

private:
    std::shared_ptr<ImageView> m_source;
    VectorXu64 m_offset;
};

/// Every factor-th element of a source image along each axis.
class SubSampledImageView : public ImageViewBase {
public:
    SubSampledImageView(std::shared_ptr<ImageView> source, uint64_t factor);
    void readRegion(const RegionXu64& region, void* dst) override;

private:
    std::shared_ptr<ImageView> m_source;
    uint64_t m_factor;
};

/// Frames of equal shape and type as one image with one more axis at `axis`.
class StackedImageView : public ImageViewBase {
public:
    StackedImageView(std::shared_ptr<MultiImageView> multi, size_t axis, const ImageType& axes);
    void readRegion(const RegionXu64& region, void* dst) override;
    void writeRegion(const RegionXu64& region, const void* src) override;

private:
    template <typename Transfer>
    void transfer(const RegionXu64& region, uint8_t* data, bool reading, Transfer frameTransfer);

    std::shared_ptr<MultiImageView> m_multi;
    std::vector<std::shared_ptr<ImageView>> m_frames;
    size_t m_axis;
};

/// A source image seen with other properties and metadata.
class ReplacedPropertiesImageView : public ImageViewBase {
public:
    ReplacedPropertiesImageView(std::shared_ptr<ImageView> source, std::shared_ptr<const ImageProperties> properties,
                                std::shared_ptr<const MetadataNode> metadata);
    std::shared_ptr<Extension> extension(size_t id) override;
    const VectorXu64& shape() const override { return m_source->shape(); }
    DataType dataType() const override { return m_source->dataType(); }
    void readRegion(const RegionXu64& region, void* dst) override { m_source->readRegion(region, dst); }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override;
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override;
    void writeRegion(const RegionXu64& region, const void* src) override { m_source->writeRegion(region, src); }
    Indexer indexer() const override { return m_source->indexer(); }
    void* buffer() override { return m_source->buffer(); }
    const void* bufferReadOnly() const override { return m_source->bufferReadOnly(); }
    uint64_t bufferSize() const override { return m_source->bufferSize(); }

private:
    std::shared_ptr<ImageView> m_source;
};

/// A scalar image whose CHANNEL axis is folded into vector elements.
class AssembledChannelsImageView : public ImageViewBase {
public:
    explicit AssembledChannelsImageView(std::shared_ptr<ImageView> source);
    void readRegion(const RegionXu64& region, void* dst) override;

private:
    std::shared_ptr<ImageView> m_source;
    size_t m_channelAxis;
    uint64_t m_channelCount;
};

/// One component of the elements of a source image, as a scalar image.
class ComponentImageView : public ImageViewBase {
public:
    ComponentImageView(std::shared_ptr<ImageView> source, uint32_t component);
    void readRegion(const RegionXu64& region, void* dst) override;

private:
    std::shared_ptr<ImageView> m_source;
    uint32_t m_component;
};

/// A sequence of frames held in memory.
class MemoryMultiImageView : public MultiImageView {
public:
    MemoryMultiImageView(std::vector<std::shared_ptr<ImageView>> frames, std::shared_ptr<MetadataNode> metadata);
    std::shared_ptr<Extension> extension(size_t id) override;
    MultiImageCapabilitySet capabilities() const override { return m_capabilities; }
    uint64_t frameCount() const override { return m_frames.size(); }
    std::shared_ptr<ImageView> frame(uint64_t index) override;
    std::shared_ptr<const MetadataNode> metadata() const override { return m_metadata; }
    void addFrame(std::shared_ptr<ImageView> frame) override;
    void setFrame(uint64_t index, std::shared_ptr<ImageView> frame) override;
    void removeFrame(uint64_t index) override;
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override { m_metadata = std::move(metadata); }

    /// Lets the view be read only (the frames of a deinterlaced image cannot be replaced).
    void setCapabilities(MultiImageCapabilitySet capabilities) { m_capabilities = capabilities; }

private:
    void checkIndex(uint64_t index) const;

    std::vector<std::shared_ptr<ImageView>> m_frames;
    std::shared_ptr<MetadataNode> m_metadata;
    MultiImageCapabilitySet m_capabilities{MultiImageCapability::READ, MultiImageCapability::WRITE};
    std::shared_ptr<ViewOriginExtension> m_origin;
};

} // namespace dravik
