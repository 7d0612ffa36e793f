#include "CountingViews.h"

#include <dravik/DataFrameView.h>
#include <dravik/ImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/Providers.h>

#include <mutex>
#include <vector>

namespace quenza::cli {

namespace {

class CountingImageView : public dravik::ImageView {
public:
    CountingImageView(std::shared_ptr<dravik::ImageView> source, std::shared_ptr<ProgressMeter> meter)
        : m_source(std::move(source))
        , m_meter(std::move(meter))
    {
    }

    using dravik::ImageView::extension;
    std::shared_ptr<dravik::Extension> extension(size_t id) override { return m_source->extension(id); }
    dravik::ImageCapabilitySet capabilities() const override
    {
        dravik::ImageCapabilitySet caps;
        if (m_source->support(dravik::ImageCapability::READ)) {
            caps.add(dravik::ImageCapability::READ);
        }
        return caps;
    }
    const dravik::VectorXu64& shape() const override { return m_source->shape(); }
    dravik::DataType dataType() const override { return m_source->dataType(); }
    std::shared_ptr<const dravik::ImageProperties> properties() const override { return m_source->properties(); }
    std::shared_ptr<const dravik::MetadataNode> metadata() const override { return m_source->metadata(); }
    void read(const dravik::VectorXu64& index, void* dst) override
    {
        m_source->read(index, dst);
        m_meter->advance(m_source->dataType().byteCount());
    }
    void readRegion(const dravik::RegionXu64& region, void* dst) override
    {
        m_source->readRegion(region, dst);
        m_meter->advance(region.elementCount() * m_source->dataType().byteCount());
    }

private:
    std::shared_ptr<dravik::ImageView> m_source;
    std::shared_ptr<ProgressMeter> m_meter;
};

class CountingMultiImageView : public dravik::MultiImageView {
public:
    CountingMultiImageView(std::shared_ptr<dravik::MultiImageView> source, std::shared_ptr<ProgressMeter> meter)
        : m_source(std::move(source))
        , m_meter(std::move(meter))
        , m_frames(m_source->frameCount())
    {
    }

    using dravik::MultiImageView::extension;
    std::shared_ptr<dravik::Extension> extension(size_t id) override { return m_source->extension(id); }
    dravik::MultiImageCapabilitySet capabilities() const override
    {
        dravik::MultiImageCapabilitySet caps;
        if (m_source->support(dravik::MultiImageCapability::READ)) {
            caps.add(dravik::MultiImageCapability::READ);
        }
        return caps;
    }
    uint64_t frameCount() const override { return m_frames.size(); }
    std::shared_ptr<dravik::ImageView> frame(uint64_t index) override
    {
        if (index >= m_frames.size()) {
            return m_source->frame(index);
        }
        // Writers that read on several threads may ask for frames on several threads.
        const std::lock_guard<std::mutex> lock(m_framesLock);
        if (!m_frames[index]) {
            m_frames[index] = std::make_shared<CountingImageView>(m_source->frame(index), m_meter);
        }
        return m_frames[index];
    }
    std::shared_ptr<const dravik::MetadataNode> metadata() const override { return m_source->metadata(); }

private:
    std::shared_ptr<dravik::MultiImageView> m_source;
    std::shared_ptr<ProgressMeter> m_meter;
    std::vector<std::shared_ptr<dravik::ImageView>> m_frames;
    std::mutex m_framesLock;
};

class CountingDataFrameView : public dravik::DataFrameView {
public:
    CountingDataFrameView(std::shared_ptr<dravik::DataFrameView> source, std::shared_ptr<ProgressMeter> meter)
        : m_source(std::move(source))
        , m_meter(std::move(meter))
    {
    }

    using dravik::DataFrameView::extension;
    std::shared_ptr<dravik::Extension> extension(size_t id) override { return m_source->extension(id); }
    dravik::DataFrameCapabilitySet capabilities() const override
    {
        dravik::DataFrameCapabilitySet caps;
        if (m_source->support(dravik::DataFrameCapability::READ)) {
            caps.add(dravik::DataFrameCapability::READ);
        }
        return caps;
    }
    const dravik::VectorXu64& shape() const override { return m_source->shape(); }
    std::string columnName(size_t column) const override { return m_source->columnName(column); }
    size_t columnIndex(const std::string& name) const override { return m_source->columnIndex(name); }
    dravik::DataType columnDataType(size_t column) const override { return m_source->columnDataType(column); }
    void read(size_t column, uint64_t offset, uint64_t count, void* dst) override
    {
        m_source->read(column, offset, count, dst);
        m_meter->advance(count);
    }

private:
    std::shared_ptr<dravik::DataFrameView> m_source;
    std::shared_ptr<ProgressMeter> m_meter;
};

} // namespace

uint64_t readAmount(dravik::View& view)
{
    if (auto* image = dynamic_cast<dravik::ImageView*>(&view)) {
        return image->byteCount();
    }
    if (auto* multi = dynamic_cast<dravik::MultiImageView*>(&view)) {
        uint64_t bytes = 0;
        for (uint64_t i = 0; i < multi->frameCount(); ++i) {
            bytes += multi->frame(i)->byteCount();
        }
        return bytes;
    }
    if (auto* frame = dynamic_cast<dravik::DataFrameView*>(&view)) {
        return frame->shape()[0] * frame->shape()[1];
    }
    return 0;
}

ProgressMeter::Unit readUnit(dravik::View& view)
{
    return dynamic_cast<dravik::DataFrameView*>(&view) ? ProgressMeter::Unit::CELLS : ProgressMeter::Unit::BYTES;
}

std::shared_ptr<dravik::View> countReads(std::shared_ptr<dravik::View> view, std::shared_ptr<ProgressMeter> meter)
{
    if (auto image = dravik::ImageViewProvider::toImage(view)) {
        return std::make_shared<CountingImageView>(std::move(image), std::move(meter));
    }
    if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        return std::make_shared<CountingMultiImageView>(std::move(multi), std::move(meter));
    }
    if (auto frame = dravik::DataFrameViewProvider::toDataFrame(view)) {
        return std::make_shared<CountingDataFrameView>(std::move(frame), std::move(meter));
    }
    return view;
}

} // namespace quenza::cli
