#include <TarnisExtractor.h>

#include <TarnisEditableImageView.h>

#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/Providers.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <fmt/format.h>

namespace quenza::tarnis {

namespace {

std::shared_ptr<dravik::StreamAccess> openGood(std::shared_ptr<dravik::StreamAccess> (*open)(const std::string&),
                                               const std::string& path)
{
    try {
        auto stream = open(path);
        return stream && stream->good() ? stream : nullptr;
    } catch (const dravik::Error&) {
        return nullptr;
    }
}

} // namespace

TarnisExtractor::TarnisExtractor(const std::string& path)
{
    if (!boost::filesystem::exists(path)) {
        throw dravik::InvalidArgument(fmt::format("Invalid file path: {0}", path));
    }
    // Reading and writing, so that the main frame can be edited; opening alone writes nothing.
    m_imageStreamAccess = openGood(&dravik::StreamAccessFactory::openFile, path);
    if (!m_imageStreamAccess) {
        m_imageStreamAccess = openGood(&dravik::StreamAccessFactory::openFileRead, path);
    }
    if (!m_imageStreamAccess) {
        throw dravik::Error("Impossible to open file");
    }
    m_capabilities = dravik::MultiImageCapability::READ;
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{} Extractor", TARNIS_PLUGIN_NAME), dravik::ViewDataOrigin::DRIVE));
    readImagesFromInternalStorage(path);

    m_metadata = dravik::MetadataNodeFactory::create("root");
    auto fromFile = dravik::VariantDataValueFactory::create(path);
    dravik::MetadataNodeHelper::createPath(m_metadata, "TARNIS/FromFile", fromFile);
    m_mainImage->addMetadata("TARNIS/FromFile", fromFile);
    if (m_overlayImage) {
        m_overlayImage->addMetadata("TARNIS/FromFile", fromFile);
    }
}

TarnisExtractor::TarnisExtractor(std::shared_ptr<dravik::DataAccess> accessor)
    : m_imageStreamAccess(dravik::StreamAccessProvider::toStream(accessor))
{
    m_capabilities = dravik::MultiImageCapability::READ;
    m_extensions.add<common::ViewOriginExtensionImpl>(std::make_shared<common::ViewOriginExtensionImpl>(
        fmt::format("{} Extractor", TARNIS_PLUGIN_NAME), dravik::ViewDataOrigin::UNKNOWN));
    readImagesFromInternalStorage("");
}

TarnisExtractor::~TarnisExtractor() = default;

void TarnisExtractor::readImagesFromInternalStorage(const std::string& path)
{
    const auto& stream = m_imageStreamAccess;
    if (!stream || !stream->good() || !stream->support(dravik::StreamAccessCapability::SEEK)) {
        if (path.empty()) {
            throw dravik::InvalidArgument("Invalid storage");
        }
        throw dravik::InvalidArgument(fmt::format("Cannot open the file: {}", path));
    }
    const std::string imageName = path.empty() ? std::string() : boost::filesystem::path(path).stem().string();
    std::shared_ptr<TarnisEditableImageView> editable;
    if (stream->support(dravik::StreamAccessCapability::WRITE)) {
        editable = std::make_shared<TarnisEditableImageView>(stream, imageName, this);
        m_mainImage = editable;
    } else {
        m_mainImage = std::make_shared<TarnisImageView>(stream, imageName, this);
    }
    if (m_mainImage->tarnisInformation().m_offsetOverlay != 0) {
        m_overlayImage = std::make_shared<TarnisImageView>(stream, m_mainImage->tarnisInformation(), this);
        if (editable) {
            editable->setOverlayView(m_overlayImage);
        }
    }
    m_numOfImages = m_overlayImage ? 2 : 1;
}

uint64_t TarnisExtractor::frameCount() const
{
    return m_numOfImages;
}

std::shared_ptr<dravik::ImageView> TarnisExtractor::frame(uint64_t index)
{
    if (index >= m_numOfImages) {
        throw dravik::InvalidArgument(fmt::format("Invalid frame index: {0}", index));
    }
    return index == 1 ? m_overlayImage : m_mainImage;
}

} // namespace quenza::tarnis
