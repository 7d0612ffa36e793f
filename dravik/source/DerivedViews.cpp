#include "DerivedViews.h"

#include "OriginExtension.h"

#include <dravik/Error.h>
#include <dravik/RegionCopier.h>

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace dravik {

namespace {

// Image axes that calibration origin and spacing refer to: COLUMN, ROW, SLICE where the
// axes interpretation places them, else the first three axes.
std::vector<int> spatialAxes(const ImageProperties& props, size_t dims)
{
    const ImageType& axes = props.imageInfo().axesInterpretation();
    std::vector<int> result(3, -1);
    const ImageTypeDimension spatial[3] = {ImageTypeDimension::COLUMN, ImageTypeDimension::ROW,
                                           ImageTypeDimension::SLICE};
    for (size_t i = 0; i < 3; ++i) {
        if (!axes.isUnknown() && axes.dimensionCount() == dims) {
            result[i] = axes.position(spatial[i]);
        } else if (i < dims) {
            result[i] = static_cast<int>(i);
        }
    }
    return result;
}

std::shared_ptr<const ImageProperties> shiftedProperties(const std::shared_ptr<const ImageProperties>& props,
                                                         const VectorXu64& offset)
{
    if (!props) {
        return nullptr;
    }
    auto shifted = props->clone();
    SpatialCalibrationProperty& calibration = shifted->calibration();
    Vector3d origin = calibration.origin();
    const std::vector<int> axes = spatialAxes(*props, offset.size());
    for (size_t i = 0; i < 3; ++i) {
        if (axes[i] >= 0) {
            const double distance = static_cast<double>(offset[static_cast<size_t>(axes[i])])
                * calibration.spacing()[i];
            origin += calibration.directions().direction(i) * distance;
        }
    }
    calibration.setOrigin(origin);
    return shifted;
}

std::shared_ptr<const ImageProperties> scaledProperties(const std::shared_ptr<const ImageProperties>& props,
                                                        size_t dims, uint64_t factor)
{
    if (!props) {
        return nullptr;
    }
    auto scaled = props->clone();
    Vector3d spacing = scaled->calibration().spacing();
    const std::vector<int> axes = spatialAxes(*props, dims);
    for (size_t i = 0; i < 3; ++i) {
        if (axes[i] >= 0) {
            spacing[i] *= static_cast<double>(factor);
        }
    }
    scaled->calibration().setSpacing(spacing);
    return scaled;
}

VectorXu64 withoutAxis(const VectorXu64& v, size_t axis)
{
    VectorXu64 r = v;
    r.erase(axis);
    return r;
}

VectorXu64 zeros(size_t n)
{
    return VectorXu64(n, 0);
}

} // namespace

// --- RegionImageView -------------------------------------------------------------

RegionImageView::RegionImageView(std::shared_ptr<ImageView> source, const RegionXu64& region)
    : ImageViewBase(region.size(), source->dataType(),
                    source->capabilities() & ImageCapabilitySet{ImageCapability::READ, ImageCapability::WRITE})
    , m_source(std::move(source))
    , m_offset(region.origin())
{
    m_properties = shiftedProperties(m_source->properties(), m_offset);
    m_metadata = m_source->metadata();
    setOrigin(std::make_shared<OriginExtension>("Region view", std::vector<View*>{m_source.get()}));
}

void RegionImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    m_source->readRegion(region.translated(m_offset), dst);
}

void RegionImageView::writeRegion(const RegionXu64& region, const void* src)
{
    checkRegion(region);
    m_source->writeRegion(region.translated(m_offset), src);
}

// --- SubSampledImageView ---------------------------------------------------------

namespace {

VectorXu64 subSampledShape(const VectorXu64& shape, uint64_t factor)
{
    VectorXu64 r = shape;
    for (uint64_t& s : r) {
        s = s / factor + (s % factor != 0 ? 1 : 0);
    }
    return r;
}

// Source bytes read per call when subsampling: large enough for few calls, small
// enough that a subsampled volume never needs its source in memory.
constexpr uint64_t SUBSAMPLE_CHUNK_BYTES = 16ull << 20;

} // namespace

SubSampledImageView::SubSampledImageView(std::shared_ptr<ImageView> source, uint64_t factor)
    : ImageViewBase(subSampledShape(source->shape(), factor), source->dataType(),
                    source->capabilities() & ImageCapabilitySet{ImageCapability::READ})
    , m_source(std::move(source))
    , m_factor(factor)
{
    m_properties = scaledProperties(m_source->properties(), m_shape.size(), factor);
    m_metadata = m_source->metadata();
    setOrigin(std::make_shared<OriginExtension>("Subsampled view", std::vector<View*>{m_source.get()}));
}

void SubSampledImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const size_t dims = region.dimensionCount();
    const size_t last = dims - 1;
    const uint64_t f = m_factor;
    const uint64_t elementBytes = m_type.byteCount();

    VectorXu64 sourceSize = region.size();
    for (uint64_t& s : sourceSize) {
        s = (s - 1) * f + 1;
    }
    uint64_t slabBytes = elementBytes * f; // source bytes behind one output slab along the last axis
    for (size_t i = 0; i < last; ++i) {
        slabBytes *= sourceSize[i];
    }
    const uint64_t slabsPerChunk = std::max<uint64_t>(1, SUBSAMPLE_CHUNK_BYTES / std::max<uint64_t>(slabBytes, 1));

    std::vector<uint8_t> chunk;
    const Indexer destination(region.size(), m_type);
    for (uint64_t k = 0; k < region.size()[last]; k += slabsPerChunk) {
        const uint64_t slabs = std::min(slabsPerChunk, region.size()[last] - k);
        VectorXu64 chunkOrigin = region.origin() * f;
        chunkOrigin[last] = (region.origin()[last] + k) * f;
        VectorXu64 chunkSize = sourceSize;
        chunkSize[last] = (slabs - 1) * f + 1;
        chunk.resize(checkedByteCount(checkedElementCount(chunkSize), m_type));
        m_source->readRegion(RegionXu64(chunkOrigin, chunkSize), chunk.data());

        VectorXu64 outSize = region.size();
        outSize[last] = slabs;
        VectorXu64 outOrigin = zeros(dims);
        outOrigin[last] = k;
        const Indexer everyFth(outSize, m_type, Indexer::denseStrides(chunkSize, elementBytes) * f);
        RegionCopier(everyFth, zeros(dims), destination, outOrigin, outSize, m_type).copy(chunk.data(), dst);
    }
}

// --- StackedImageView ------------------------------------------------------------

StackedImageView::StackedImageView(std::shared_ptr<MultiImageView> multi, size_t axis, const ImageType& axes)
    : ImageViewBase({}, DataType(), ImageCapabilitySet{})
    , m_multi(std::move(multi))
    , m_axis(axis)
{
    const uint64_t count = m_multi->frameCount();
    if (count == 0) {
        throw InvalidArgument("Cannot stack a sequence without frames");
    }
    m_frames.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        auto frame = m_multi->frame(i);
        if (!frame) {
            throw InvalidArgument(fmt::format("Cannot stack: frame {} is empty", i));
        }
        m_frames.push_back(std::move(frame));
    }
    const auto& first = m_frames.front();
    ImageCapabilitySet capabilities{ImageCapability::READ, ImageCapability::WRITE};
    for (size_t i = 0; i < m_frames.size(); ++i) {
        const auto& frame = m_frames[i];
        if (frame->shape() != first->shape() || !(frame->dataType() == first->dataType())) {
            throw InvalidArgument(fmt::format(
                "Cannot stack frames of different shapes or types: frame 0 is ({}) {}, frame {} is ({}) {}",
                first->shape().toString(), first->dataType().toString(), i, frame->shape().toString(),
                frame->dataType().toString()));
        }
        capabilities = capabilities & frame->capabilities();
    }
    if (first->shape().empty()) {
        throw InvalidArgument("Cannot stack frames without dimensions");
    }
    m_type = first->dataType();
    m_shape = first->shape();
    m_shape.insert(axis, count);
    m_capabilities = capabilities;

    std::shared_ptr<ImageProperties> props =
        first->properties() ? first->properties()->clone() : ImageProperties::fromDataType(m_type);
    props->imageInfo().setAxesInterpretation(axes);
    m_properties = props;
    m_metadata = m_multi->metadata();

    std::vector<View*> parents;
    for (const auto& frame : m_frames) {
        parents.push_back(frame.get());
    }
    setOrigin(std::make_shared<OriginExtension>("Stacked view", parents));
}

void StackedImageView::readRegion(const RegionXu64& region, void* dst)
{
    transfer(region, static_cast<uint8_t*>(dst), true,
             [](ImageView& frame, const RegionXu64& r, uint8_t* data) { frame.readRegion(r, data); });
}

void StackedImageView::writeRegion(const RegionXu64& region, const void* src)
{
    if (!support(ImageCapability::WRITE)) {
        throw NotImplemented("This stack cannot be written: one of its frames is read-only");
    }
    // Writing only reads `src`: straight into the frames, or into the staging buffer.
    transfer(region, const_cast<uint8_t*>(static_cast<const uint8_t*>(src)), false,
             [](ImageView& frame, const RegionXu64& r, uint8_t* data) { frame.writeRegion(r, data); });
}

template <typename Transfer>
void StackedImageView::transfer(const RegionXu64& region, uint8_t* data, bool reading, Transfer frameTransfer)
{
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const size_t dims = region.dimensionCount();
    const RegionXu64 frameRegion(withoutAxis(region.origin(), m_axis), withoutAxis(region.size(), m_axis));
    const uint64_t frameBytes = frameRegion.elementCount() * m_type.byteCount();
    const uint64_t first = region.origin()[m_axis];
    const uint64_t count = region.size()[m_axis];

    if (m_axis == dims - 1) {
        // The frames follow each other in the packed buffer.
        for (uint64_t j = 0; j < count; ++j) {
            frameTransfer(*m_frames[first + j], frameRegion, data + j * frameBytes);
        }
        return;
    }
    VectorXu64 oneFrame = region.size();
    oneFrame[m_axis] = 1;
    const Indexer frameLayout(oneFrame, m_type);
    const Indexer packed(region.size(), m_type);
    std::vector<uint8_t> staging(frameBytes);
    for (uint64_t j = 0; j < count; ++j) {
        VectorXu64 at = zeros(dims);
        at[m_axis] = j;
        if (reading) {
            frameTransfer(*m_frames[first + j], frameRegion, staging.data());
            RegionCopier(frameLayout, zeros(dims), packed, at, oneFrame, m_type).copy(staging.data(), data);
        } else {
            RegionCopier(packed, at, frameLayout, zeros(dims), oneFrame, m_type).copy(data, staging.data());
            frameTransfer(*m_frames[first + j], frameRegion, staging.data());
        }
    }
}

// --- ReplacedPropertiesImageView -------------------------------------------------

ReplacedPropertiesImageView::ReplacedPropertiesImageView(std::shared_ptr<ImageView> source,
                                                         std::shared_ptr<const ImageProperties> properties,
                                                         std::shared_ptr<const MetadataNode> metadata)
    : ImageViewBase(source->shape(), source->dataType(), source->capabilities().remove(ImageCapability::RESHAPE))
    , m_source(std::move(source))
{
    m_properties = std::move(properties);
    m_metadata = std::move(metadata);
    setOrigin(std::make_shared<OriginExtension>("Image view with replaced properties",
                                                std::vector<View*>{m_source.get()}));
}

std::shared_ptr<Extension> ReplacedPropertiesImageView::extension(size_t id)
{
    if (id == ViewOriginExtension::EXTENSION_ID) {
        return ImageViewBase::extension(id);
    }
    // Other extensions (tiling, say) describe the same elements, so they still hold.
    return m_source->extension(id);
}

void ReplacedPropertiesImageView::setProperties(std::shared_ptr<const ImageProperties> properties)
{
    m_properties = std::move(properties);
}

void ReplacedPropertiesImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    m_metadata = std::move(metadata);
}

// --- AssembledChannelsImageView --------------------------------------------------

AssembledChannelsImageView::AssembledChannelsImageView(std::shared_ptr<ImageView> source)
    : ImageViewBase({}, DataType(), source->capabilities() & ImageCapabilitySet{ImageCapability::READ})
    , m_source(std::move(source))
{
    auto props = m_source->properties();
    const ImageType axes = props ? props->imageInfo().axesInterpretation() : ImageType();
    if (!axes.has(ImageTypeDimension::CHANNEL)) {
        throw InvalidArgument("Cannot assemble channels: the image has no CHANNEL axis");
    }
    if (axes.dimensionCount() != m_source->shape().size()) {
        throw InvalidArgument(fmt::format("Cannot assemble channels: the axes ({}) do not match the shape ({})",
                                          axes.toString(), m_source->shape().toString()));
    }
    const DataType scalar = m_source->dataType();
    if (!scalar.isScalar()) {
        throw InvalidArgument(fmt::format("Cannot assemble channels of elements of {}", scalar.toString()));
    }
    m_channelAxis = static_cast<size_t>(axes.position(ImageTypeDimension::CHANNEL));
    m_channelCount = m_source->shape()[m_channelAxis];
    if (m_channelCount == 0 || m_channelCount > 0xFFFF) {
        throw InvalidArgument(fmt::format("Cannot assemble {} channels into one element", m_channelCount));
    }
    m_type = DataType(scalar.primitiveType(), static_cast<uint32_t>(m_channelCount), scalar.bitDepth());
    m_shape = withoutAxis(m_source->shape(), m_channelAxis);

    auto assembled = props->clone();
    ImageType newAxes = axes;
    newAxes.remove(ImageTypeDimension::CHANNEL);
    assembled->imageInfo().setAxesInterpretation(newAxes);
    m_properties = assembled;
    m_metadata = m_source->metadata();
    setOrigin(std::make_shared<OriginExtension>("Assembled channels view", std::vector<View*>{m_source.get()}));
}

void AssembledChannelsImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const DataType scalar = m_type.extractScalarType();
    const uint64_t scalarBytes = scalar.byteCount();
    VectorXu64 sourceOrigin = region.origin();
    VectorXu64 sourceSize = region.size();
    sourceOrigin.insert(m_channelAxis, 0);
    sourceSize.insert(m_channelAxis, m_channelCount);
    std::vector<uint8_t> planes(checkedByteCount(checkedElementCount(sourceSize), scalar));
    m_source->readRegion(RegionXu64(sourceOrigin, sourceSize), planes.data());

    // Channel c of every element lands at byte c × scalar size of the packed vector.
    VectorXu64 outStrides = Indexer::denseStrides(region.size(), m_type.byteCount());
    outStrides.insert(m_channelAxis, m_type.byteCount());
    VectorXu64 onePlane = sourceSize;
    onePlane[m_channelAxis] = 1;
    const Indexer source(sourceSize, scalar);
    const Indexer interleaved(onePlane, scalar, outStrides);
    auto* out = static_cast<uint8_t*>(dst);
    for (uint64_t c = 0; c < m_channelCount; ++c) {
        VectorXu64 at = zeros(sourceSize.size());
        at[m_channelAxis] = c;
        RegionCopier(source, at, interleaved, zeros(sourceSize.size()), onePlane, scalar)
            .copy(planes.data(), out + c * scalarBytes);
    }
}

// --- ComponentImageView ----------------------------------------------------------

ComponentImageView::ComponentImageView(std::shared_ptr<ImageView> source, uint32_t component)
    : ImageViewBase(source->shape(), source->dataType().extractScalarType(),
                    source->capabilities() & ImageCapabilitySet{ImageCapability::READ})
    , m_source(std::move(source))
    , m_component(component)
{
    auto props = m_source->properties() ? m_source->properties()->clone() : ImageProperties::fromDataType(m_type);
    props->imageInfo().setInterpretation(ImageInterpretation::GRAYSCALE);
    m_properties = props;
    m_metadata = m_source->metadata();
    setOrigin(std::make_shared<OriginExtension>(fmt::format("Component {} view", component),
                                                std::vector<View*>{m_source.get()}));
}

void ComponentImageView::readRegion(const RegionXu64& region, void* dst)
{
    checkRegion(region);
    if (region.isEmpty()) {
        return;
    }
    const DataType whole = m_source->dataType();
    std::vector<uint8_t> elements(checkedByteCount(region.elementCount(), whole));
    m_source->readRegion(region, elements.data());
    const Indexer components(region.size(), m_type, Indexer::denseStrides(region.size(), whole.byteCount()));
    RegionCopier(components, zeros(region.dimensionCount()), Indexer(region.size(), m_type),
                 zeros(region.dimensionCount()), region.size(), m_type)
        .copy(elements.data() + m_component * m_type.byteCount(), dst);
}

// --- MemoryMultiImageView --------------------------------------------------------

namespace {

std::shared_ptr<ViewOriginExtension> sequenceOrigin(const std::vector<std::shared_ptr<ImageView>>& frames)
{
    std::vector<View*> parents;
    for (const auto& frame : frames) {
        parents.push_back(frame.get());
    }
    return std::make_shared<OriginExtension>("Image sequence", parents);
}

} // namespace

MemoryMultiImageView::MemoryMultiImageView(std::vector<std::shared_ptr<ImageView>> frames,
                                           std::shared_ptr<MetadataNode> metadata)
    : m_frames(std::move(frames))
    , m_metadata(std::move(metadata))
{
    for (size_t i = 0; i < m_frames.size(); ++i) {
        if (!m_frames[i]) {
            throw InvalidArgument(fmt::format("Frame {} of the sequence is empty", i));
        }
    }
    m_origin = sequenceOrigin(m_frames);
}

std::shared_ptr<Extension> MemoryMultiImageView::extension(size_t id)
{
    if (id == ViewOriginExtension::EXTENSION_ID) {
        return m_origin;
    }
    return MultiImageView::extension(id);
}

void MemoryMultiImageView::checkIndex(uint64_t index) const
{
    if (index >= m_frames.size()) {
        throw InvalidArgument(fmt::format("Frame index {} out of range: the sequence has {} frames", index,
                                          m_frames.size()));
    }
}

std::shared_ptr<ImageView> MemoryMultiImageView::frame(uint64_t index)
{
    checkIndex(index);
    return m_frames[index];
}

void MemoryMultiImageView::addFrame(std::shared_ptr<ImageView> frame)
{
    if (!support(MultiImageCapability::WRITE)) {
        MultiImageView::addFrame(std::move(frame));
    }
    if (!frame) {
        throw InvalidArgument("Cannot add an empty frame");
    }
    m_frames.push_back(std::move(frame));
    m_origin = sequenceOrigin(m_frames);
}

void MemoryMultiImageView::setFrame(uint64_t index, std::shared_ptr<ImageView> frame)
{
    if (!support(MultiImageCapability::WRITE)) {
        MultiImageView::setFrame(index, std::move(frame));
    }
    checkIndex(index);
    if (!frame) {
        throw InvalidArgument("Cannot set an empty frame");
    }
    m_frames[index] = std::move(frame);
    m_origin = sequenceOrigin(m_frames);
}

void MemoryMultiImageView::removeFrame(uint64_t index)
{
    if (!support(MultiImageCapability::WRITE)) {
        MultiImageView::removeFrame(index);
    }
    checkIndex(index);
    m_frames.erase(m_frames.begin() + static_cast<std::ptrdiff_t>(index));
    m_origin = sequenceOrigin(m_frames);
}

} // namespace dravik
