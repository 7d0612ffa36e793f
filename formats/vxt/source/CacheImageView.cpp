#include <CacheImageView.h>

#include <dravik/Error.h>
#include <dravik/ImageViewFactory.h>

#include <fmt/format.h>

#include <algorithm>

namespace quenza::vxt {

CacheImageView::CacheImageView(std::shared_ptr<dravik::ImageView> source, const dravik::VectorXu64& blockSize)
    : m_source(std::move(source))
    , m_blockSize(blockSize)
    , m_blockOrigin(m_source->shape().size(), 0)
{
    const dravik::VectorXu64& shape = m_source->shape();
    if (m_blockSize.size() != shape.size()
        || std::any_of(m_blockSize.begin(), m_blockSize.end(), [](uint64_t s) { return s == 0; })) {
        throw dravik::InvalidArgument(fmt::format("Cache blocks of ({}) do not fit an image of shape ({})",
                                                  m_blockSize.toString(), shape.toString()));
    }
    // No block is larger than the image, so a small image gets a small buffer.
    uint64_t elements = 1;
    for (size_t i = 0; i < shape.size(); ++i) {
        elements *= std::min(m_blockSize[i], shape[i]);
    }
    m_buffer.assign(elements * m_source->dataType().byteCount(), 0);
}

CacheImageView::~CacheImageView() = default;

dravik::ImageCapabilitySet CacheImageView::capabilities() const
{
    return dravik::ImageCapability::READ;
}

void CacheImageView::readRegion(const dravik::RegionXu64& region, void* dst)
{
    const std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const dravik::VectorXu64& shape = m_source->shape();
    if (!region.isInside(shape)) {
        throw dravik::InvalidArgument(fmt::format("Region {} is outside the image of shape ({})", region.toString(),
                                                  shape.toString()));
    }
    if (region.isEmpty()) {
        return;
    }
    auto held = [&] { return !m_blockInvalid && dravik::RegionXu64(m_blockOrigin, m_blockSize).contains(region); };
    if (!held()) {
        dravik::VectorXu64 origin = region.origin();
        for (size_t i = 0; i < origin.size(); ++i) {
            origin[i] = origin[i] / m_blockSize[i] * m_blockSize[i];
        }
        if (!dravik::RegionXu64(origin, m_blockSize).contains(region)) {
            // Across a block edge: no block holds it, the source does.
            m_source->readRegion(region, dst);
            return;
        }
        const dravik::RegionXu64 load =
            dravik::RegionXu64(origin, m_blockSize).intersect(dravik::RegionXu64::fullRegion(shape));
        m_blockInvalid = true;
        m_blockOrigin = origin;
        m_blockView = dravik::ImageViewFactory::fromBuffer(load.size(), m_source->dataType(), m_buffer.data(),
                                                           load.elementCount() * m_source->dataType().byteCount());
        m_source->readRegion(load, m_buffer.data());
        m_blockInvalid = false;
        ++m_loads;
    }
    m_blockView->readRegion(dravik::RegionXu64(region.origin() - m_blockOrigin, region.size()), dst);
}

} // namespace quenza::vxt
