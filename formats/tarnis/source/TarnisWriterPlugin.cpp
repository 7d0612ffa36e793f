#include <TarnisWriterPlugin.h>

#include <TarnisDescription.h>
#include <TarnisImageView.h>
#include <TarnisWriter.h>

#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/StreamAccessFactory.h>

#include <boost/filesystem/operations.hpp>

namespace quenza::tarnis {

const std::string TarnisWriterPlugin::s_name = TARNIS_PLUGIN_NAME;
const std::string TarnisWriterPlugin::s_version = TARNIS_PLUGIN_VERSION;
const solvane::FormatList TarnisWriterPlugin::s_supportedFormats{"TARNIS_6"};
const solvane::ExtensionMap TarnisWriterPlugin::s_extensionMap{{"im6", "TARNIS_6"}};

TarnisWriterPlugin::~TarnisWriterPlugin() = default;

bool TarnisWriterPlugin::checkImageView(const std::shared_ptr<dravik::View>& view, std::string& errorMessage)
{
    errorMessage.clear();
    auto image = dravik::ImageViewProvider::toImage(view);
    if (!image) {
        errorMessage = "Unsupported view";
        return false;
    }
    const dravik::ImageInterpretation interpretation = image->imageInterpretation();
    const dravik::DataType type = image->dataType();
    if (!isValidDatatype(type, interpretation)) {
        switch (interpretation) {
        case dravik::ImageInterpretation::BINARY: errorMessage = "Unsupported data type for BINARY image"; break;
        case dravik::ImageInterpretation::LABEL: errorMessage = "Unsupported data type for LABEL image"; break;
        case dravik::ImageInterpretation::UNKNOWN:
        case dravik::ImageInterpretation::GRAYSCALE:
        case dravik::ImageInterpretation::MULTISPECTRAL: errorMessage = "Unsupported data type"; break;
        default: errorMessage = "Unsupported data type for color image"; break;
        }
        return false;
    }
    if (isColorInterpretation(interpretation)) {
        const bool channels = effectiveAxes(*image).has(dravik::ImageTypeDimension::CHANNEL);
        const bool components = type.isVector() && (type.elementCount() == 3 || type.elementCount() == 4);
        if (!channels && !components) {
            errorMessage = "Unsupported image interpretation";
            return false;
        }
    }
    errorMessage = checkStorable(*image);
    return errorMessage.empty();
}

std::shared_ptr<dravik::Writer> TarnisWriterPlugin::openFile(std::shared_ptr<dravik::View> view,
                                                             const std::string& path)
{
    if (!view || path.empty()) {
        return nullptr;
    }
    std::string refusal;
    if (!checkImageView(view, refusal)) {
        throw dravik::Error(refusal);
    }
    const bool existed = boost::filesystem::exists(path);
    std::shared_ptr<dravik::StreamAccess> stream;
    try {
        stream = dravik::StreamAccessFactory::openFileWrite(path);
    } catch (const dravik::Error&) {
        stream = nullptr;
    }
    if (!stream) {
        throw dravik::Error("Cannot create the file " + path);
    }
    if (!stream->support(dravik::StreamAccessCapability::WRITE)) {
        stream.reset();
        if (!existed) {
            boost::system::error_code ignored;
            boost::filesystem::remove(path, ignored);
        }
        throw dravik::Error("Cannot create a StreamAccess for the file " + path);
    }
    return std::make_shared<TarnisWriter>(std::move(view), std::move(stream));
}

std::shared_ptr<dravik::Writer> TarnisWriterPlugin::openDataAccess(std::shared_ptr<dravik::View> view,
                                                                   std::shared_ptr<dravik::DataAccess> accessor,
                                                                   const std::string& /*format*/)
{
    if (!view || !accessor) {
        return nullptr;
    }
    auto stream = dravik::StreamAccessProvider::toStream(accessor);
    if (!stream) {
        throw dravik::Error("Unsupported DataAccess");
    }
    std::string refusal;
    if (!checkImageView(view, refusal)) {
        throw dravik::Error(refusal);
    }
    return std::make_shared<TarnisWriter>(std::move(view), std::move(stream));
}

} // namespace quenza::tarnis
