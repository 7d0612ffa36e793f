#include <RawWriter.h>

#include <RawWriterPlugin.h>

#include <common/PluginLogger.h>
#include <common/StreamConverter.h>
#include <common/ViewConverter.h>

#include <dravik/Error.h>
#include <dravik/Region.h>
#include <dravik/StreamAccessFactory.h>

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace quenza::raw {

RawWriter::RawWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> accessor,
                     const std::string& format, uint64_t slabBytes)
    : m_slabBytes(slabBytes)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument("Format " + format + " not supported by the plugin " + common::PLUGIN_NAME);
    }
    auto output = common::StreamConverter::convertOutputAccessor(std::move(accessor));
    if (!output || !output->support(dravik::StreamAccessCapability::WRITE)) {
        throw dravik::Error("output storage does not have writing capabilities");
    }
    m_inputImage = common::ViewConverter::toImageView(std::move(view));
    m_output = std::move(output);
}

RawWriter::RawWriter(std::shared_ptr<dravik::View> view, const std::string& path, uint64_t slabBytes)
    // The view is checked before the file is opened, so that a rejected view does not
    // leave an existing file emptied.
    : m_inputImage(common::ViewConverter::toImageView(std::move(view)))
    , m_output(dravik::StreamAccessFactory::openFileWrite(path))
    , m_slabBytes(slabBytes)
{
}

void RawWriter::writeAll()
{
    writeInit();
    writeData();
    writeFinish();
}

void RawWriter::writeInit() {}

void RawWriter::writeData()
{
    if (!m_output) {
        throw dravik::Error("RAW writer has no destination: writeFinish was already called");
    }
    const dravik::VectorXu64& shape = m_inputImage->shape();
    const uint64_t elementBytes = m_inputImage->dataType().byteCount();
    const size_t dims = shape.size();
    if (dims == 0 || elementBytes == 0 || std::any_of(shape.begin(), shape.end(), [](uint64_t s) { return s == 0; })) {
        return;
    }

    // The image is moved in blocks that are contiguous in the file: axes below `axis`
    // whole, a run along `axis`, one index on each axis above. `axis` is the highest
    // whose whole lower axes still fit in one slab.
    const uint64_t slab = std::max<uint64_t>(m_slabBytes, 1);
    size_t axis = 0;
    uint64_t stepBytes = elementBytes;
    while (axis + 1 < dims && shape[axis] <= slab / stepBytes) {
        stepBytes *= shape[axis];
        ++axis;
    }
    const uint64_t run = std::clamp<uint64_t>(slab / stepBytes, 1, shape[axis]);
    std::vector<uint8_t> buffer(run * stepBytes);

    dravik::VectorXu64 origin(dims, 0);
    dravik::VectorXu64 size(dims, 1);
    for (size_t i = 0; i < axis; ++i) {
        size[i] = shape[i];
    }
    QUENZA_LOG_DEBUG("RAW writer: {0} bytes in blocks of up to {1} bytes", m_inputImage->byteCount(), buffer.size());
    while (true) {
        size[axis] = std::min(run, shape[axis] - origin[axis]);
        writeBlock(dravik::RegionXu64(origin, size), size[axis] * stepBytes, buffer.data());
        // Next block in file order: along `axis` first, then the axes above it.
        origin[axis] += size[axis];
        size_t carry = axis;
        while (carry < dims && origin[carry] == shape[carry]) {
            origin[carry] = 0;
            ++carry;
            if (carry < dims) {
                ++origin[carry];
            }
        }
        if (carry == dims) {
            break;
        }
    }
}

void RawWriter::writeBlock(const dravik::RegionXu64& region, uint64_t byteCount, uint8_t* buffer)
{
    m_inputImage->readRegion(region, buffer);
    const uint64_t written = m_output->write(byteCount, buffer);
    if (written != byteCount) {
        throw dravik::Error(fmt::format("RAW writer could write only {0} of {1} bytes", written, byteCount));
    }
}

void RawWriter::writeFinish()
{
    // Released even when the flush fails; a failed flush is reported, not lost in the
    // destination's destructor.
    std::shared_ptr<dravik::StreamAccess> output = std::move(m_output);
    if (output) {
        output->flush();
    }
}

std::string RawWriter::name() const
{
    return RawWriterPlugin::s_name;
}

std::string RawWriter::version() const
{
    return RawWriterPlugin::s_version;
}

void RawWriter::setOption(const std::string& /*name*/, std::shared_ptr<dravik::VariantDataValue> /*value*/)
{
    throw dravik::Error("impossible to set options");
}

} // namespace quenza::raw
