#include <TarnisWriter.h>

#include <TarnisDescription.h>
#include <TarnisImageView.h>
#include <TarnisMetadata.h>
#include <TarnisWriterPlugin.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MultiImageViewFactory.h>
#include <dravik/Providers.h>
#include <dravik/Region.h>

#include <algorithm>
#include <cstring>

namespace quenza::tarnis {

namespace {

// Upper bound of the bytes moved by one read and one write of writeData.
constexpr uint64_t WRITE_CHUNK_BYTES = uint64_t(16) << 20;

} // namespace

const std::string TarnisWriter::s_name = TARNIS_PLUGIN_NAME;
const std::string TarnisWriter::s_version = TARNIS_PLUGIN_VERSION;

TarnisWriter::TarnisWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::StreamAccess> output)
    : m_view(std::move(view))
    , m_outputStorage(std::move(output))
    , m_imageView(dravik::ImageViewProvider::toImage(m_view))
{
    if (!m_imageView) {
        throw dravik::Error("Unsupported view");
    }
    std::memset(&m_tarnis6Description, 0, sizeof m_tarnis6Description);
    std::memset(&m_calibration, 0, sizeof m_calibration);
    if (auto metadata = m_imageView->metadata()) {
        m_tarnisMetadataNode = metadata->child("TARNIS");
    }
    updateIndexInShape(effectiveAxes(*m_imageView), m_indexInShape);
}

TarnisWriter::~TarnisWriter() = default;

void TarnisWriter::write(size_t size, const void* buffer, const std::string& errorMessage)
{
    if (m_outputStorage->write(size, buffer) != size) {
        throw dravik::Error(errorMessage);
    }
}

void TarnisWriter::writeAll()
{
    writeInit();
    writeData();
    writeFinish();
}

void TarnisWriter::writeInit()
{
    std::string refusal;
    if (!TarnisWriterPlugin::checkImageView(m_view, refusal)) {
        throw dravik::Error(refusal);
    }
    auto properties = m_imageView->properties();
    const dravik::SpatialCalibrationProperty spatial =
        properties ? properties->calibration() : dravik::SpatialCalibrationProperty();
    updateCalibration(m_calibration, spatial, m_imageView->metadata(), m_indexInShape);
    addHeaderField(m_fullHeader, "Calibration", fieldText(m_calibration.c_name, sizeof m_calibration.c_name));
    updateLut(m_lutName, m_lutR, m_lutG, m_lutB, m_tarnisMetadataNode);
    checkLutSize(m_lutR.size());
    if (!m_lutName.empty()) {
        addHeaderField(m_fullHeader, "Lut", m_lutName);
    }
    updateHeaderField(m_fullHeader, m_imageView->metadata());
    updateDescription(m_tarnis6Description, m_imageView.get(), m_calibration, m_fullHeader, m_lutR, m_lutG, m_lutB,
                      m_tarnisMetadataNode, m_indexInShape);
    write(sizeof m_tarnis6Description, &m_tarnis6Description, "Cannot write the image description.");
    m_outputStorage->flush();
}

void TarnisWriter::writeData()
{
    const V6desc_im& d = m_tarnis6Description;
    const uint64_t rowSize = static_cast<uint64_t>(d.gx) * static_cast<uint64_t>(d.gbits) / 8;
    std::shared_ptr<dravik::ImageView> source = m_imageView;
    int8_t positions[AXIS_COUNT];
    std::copy(std::begin(m_indexInShape), std::end(m_indexInShape), positions);
    if (m_imageView->dataType().elementCount() >= 2) {
        // The components of each element become a channel axis.
        source = dravik::ImageViewFactory::stack(dravik::MultiImageViewFactory::deinterlace(m_imageView),
                                                 dravik::ImageTypeDimension::CHANNEL);
        updateIndexInShape(effectiveAxes(*source), positions);
    }
    const size_t dims = source->shape().size();
    const uint64_t rows = static_cast<uint64_t>(d.gy);
    const uint64_t rowsPerChunk = std::clamp<uint64_t>(WRITE_CHUNK_BYTES / std::max<uint64_t>(rowSize, 1), 1, rows);
    std::vector<uint8_t> buffer(rowsPerChunk * rowSize);

    dravik::VectorXu64 size(dims, 1);
    dravik::VectorXu64 index(dims, 0);
    auto setAt = [](dravik::VectorXu64& v, int8_t position, uint64_t value) {
        if (position >= 0) {
            v[static_cast<size_t>(position)] = value;
        }
    };
    setAt(size, positions[AXIS_X], static_cast<uint64_t>(d.gx));
    for (int32_t t = 0; t < d.gt; ++t) {
        setAt(index, positions[AXIS_T], static_cast<uint64_t>(t));
        for (int32_t z = 0; z < d.gz; ++z) {
            setAt(index, positions[AXIS_Z], static_cast<uint64_t>(z));
            for (int32_t c = 0; c < d.gc; ++c) {
                setAt(index, positions[AXIS_C], static_cast<uint64_t>(c));
                for (uint64_t row = 0; row < rows; row += rowsPerChunk) {
                    const uint64_t count = std::min(rowsPerChunk, rows - row);
                    setAt(index, positions[AXIS_Y], row);
                    setAt(size, positions[AXIS_Y], count);
                    source->readRegion(dravik::RegionXu64(index, size), buffer.data());
                    write(count * rowSize, buffer.data(), "Cannot write a row");
                }
            }
        }
    }
    m_outputStorage->flush();
}

void TarnisWriter::writeFinish()
{
    const V6desc_im& d = m_tarnis6Description;
    if (d.headersize > 0) {
        write(static_cast<size_t>(d.headersize), m_fullHeader.c_str(), "Cannot write the header fields");
    }
    write(static_cast<size_t>(d.scalesize), &m_calibration, "Cannot write the calibration");
    if (d.lutsize > 0) {
        const auto count = static_cast<uint16_t>(m_lutR.size());
        const uint16_t closing = 0;
        write(sizeof count, &count, "Cannot write the DC lut size");
        write(2 * size_t(count), m_lutR.data(), "Cannot write the red lut");
        write(2 * size_t(count), m_lutG.data(), "Cannot write the green lut");
        write(2 * size_t(count), m_lutB.data(), "Cannot write the blue lut");
        write(sizeof closing, &closing, "Cannot write the DC lut size");
    }
    m_outputStorage->flush();
}

std::string TarnisWriter::name() const
{
    return s_name;
}

std::string TarnisWriter::version() const
{
    return s_version;
}

void TarnisWriter::setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> /*value*/)
{
    throw dravik::Error("The Tarnis format does not support the option " + name);
}

} // namespace quenza::tarnis
