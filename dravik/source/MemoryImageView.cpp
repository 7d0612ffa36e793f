#include "MemoryImageView.h"

#include "OriginExtension.h"

#include <dravik/Error.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <cstring>

namespace dravik {

namespace {

constexpr ImageCapabilitySet OWNED_CAPABILITIES{ImageCapability::READ, ImageCapability::WRITE,
                                                ImageCapability::RESHAPE, ImageCapability::MEMORY_ACCESS};
constexpr ImageCapabilitySet BORROWED_CAPABILITIES{ImageCapability::READ, ImageCapability::WRITE,
                                                   ImageCapability::MEMORY_ACCESS};

void checkType(const DataType& type)
{
    if (type.byteCount() == 0 || type.isString()) {
        throw InvalidArgument(fmt::format("An image cannot hold elements of type {}", type.toString()));
    }
}

} // namespace

MemoryImageView::MemoryImageView(const VectorXu64& shape, const DataType& type)
    : ImageViewBase(shape, type, OWNED_CAPABILITIES)
{
    checkType(type);
    allocateOwned(checkedByteCount(checkedElementCount(shape), type));
    m_properties = ImageProperties::fromDataType(type);
    setOrigin(std::make_shared<OriginExtension>("Memory image", ViewDataOrigin::CPU_MEMORY));
}

MemoryImageView::MemoryImageView(const VectorXu64& shape, const DataType& type, void* buffer, uint64_t size)
    : ImageViewBase(shape, type, BORROWED_CAPABILITIES)
    , m_data(buffer)
    , m_size(size)
{
    checkType(type);
    const uint64_t needed = checkedByteCount(checkedElementCount(shape), type);
    if (size < needed) {
        throw InvalidArgument(fmt::format("A buffer of {} bytes is too small for an image of shape ({}) of {}: {} "
                                          "bytes are needed",
                                          size, shape.toString(), type.toString(), needed));
    }
    if (buffer == nullptr && needed != 0) {
        throw InvalidArgument("An image cannot be made over an empty buffer");
    }
    m_properties = ImageProperties::fromDataType(type);
    setOrigin(std::make_shared<OriginExtension>("Memory image", ViewDataOrigin::CPU_MEMORY));
}

void MemoryImageView::allocateOwned(uint64_t bytes)
{
    // calloc hands out zero pages lazily, so a large zeroed image costs nothing until touched.
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (p == nullptr) {
        throw Error(fmt::format("Cannot allocate {} bytes for an image of shape ({}) of {}", bytes,
                                m_shape.toString(), m_type.toString()));
    }
    m_owned.reset(p);
    m_data = p;
    m_size = bytes;
}

void MemoryImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    RegionCopier(Indexer(m_shape, m_type), region, m_type).copy(m_data, dst);
}

void MemoryImageView::writeRegion(const RegionXu64& region, const void* src)
{
    checkRegion(region);
    RegionCopier(Indexer(region.size(), m_type), VectorXu64(region.dimensionCount(), 0), Indexer(m_shape, m_type),
                 region.origin(), region.size(), m_type)
        .copy(src, m_data);
}

void MemoryImageView::setProperties(std::shared_ptr<const ImageProperties> properties)
{
    m_properties = std::move(properties);
}

void MemoryImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    m_metadata = std::move(metadata);
}

void MemoryImageView::reshape(const VectorXu64& shape, DataType dataType)
{
    if (!m_owned) {
        throw NotImplemented("An image over a caller's buffer cannot be reshaped");
    }
    checkType(dataType);
    const uint64_t bytes = checkedByteCount(checkedElementCount(shape), dataType);
    if (bytes != m_size) {
        allocateOwned(bytes);
    }
    // The elements keep their bytes when the size does not change, as a reinterpretation.
    const bool typeChanged = !(dataType == m_type);
    m_shape = shape;
    m_type = dataType;
    if (typeChanged || !m_properties || !m_properties->isCompatibleWith(shape, dataType)) {
        m_properties = ImageProperties::fromDataType(dataType);
    }
}

} // namespace dravik
