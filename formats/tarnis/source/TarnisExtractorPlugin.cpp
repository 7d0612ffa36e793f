#include <TarnisExtractorPlugin.h>

#include <TarnisExtractor.h>
#include <TarnisImageView.h>

namespace quenza::tarnis {

namespace {

std::shared_ptr<dravik::View> viewOf(const std::shared_ptr<TarnisExtractor>& extractor)
{
    if (extractor->frameCount() == 1) {
        return extractor->frame(0);
    }
    return extractor;
}

} // namespace

const std::string TarnisExtractorPlugin::s_name = TARNIS_PLUGIN_NAME;
const std::string TarnisExtractorPlugin::s_version = TARNIS_PLUGIN_VERSION;
const solvane::FormatList TarnisExtractorPlugin::s_supportedFormats{"TARNIS_3", "TARNIS_4", "TARNIS_5", "TARNIS_6"};
const solvane::ExtensionMap TarnisExtractorPlugin::s_extensionMapping{
    {"im3", "TARNIS_3"}, {"im4", "TARNIS_4"}, {"im5", "TARNIS_5"}, {"im6", "TARNIS_6"}};

TarnisExtractorPlugin::~TarnisExtractorPlugin() = default;

std::shared_ptr<dravik::View> TarnisExtractorPlugin::openFile(const std::string& path)
{
    return viewOf(std::make_shared<TarnisExtractor>(path));
}

std::shared_ptr<dravik::View> TarnisExtractorPlugin::openDataAccess(std::shared_ptr<dravik::DataAccess> accessor,
                                                                    const std::string& /*format*/)
{
    if (!accessor) {
        return nullptr;
    }
    return viewOf(std::make_shared<TarnisExtractor>(std::move(accessor)));
}

} // namespace quenza::tarnis
