// A descriptor speaking a later revision of the interface: the host must refuse it.

#include <solvane/WriterPlugin.h>

// Not in an anonymous namespace: an object of a type with internal linkage could not be exported.
class FutureApiPlugin : public solvane::WriterPlugin {
public:
    uint64_t api() const override { return 7; }
    const std::string& name() const override { return m_name; }
    const std::string& version() const override { return m_name; }
    const solvane::FormatList& supportedFormats() const override { return m_formats; }
    const solvane::ExtensionMap& extensionMap() const override { return m_map; }
    std::shared_ptr<dravik::Writer> openFile(std::shared_ptr<dravik::View>, const std::string&) override
    {
        return nullptr;
    }
    std::shared_ptr<dravik::Writer> openDataAccess(std::shared_ptr<dravik::View>, std::shared_ptr<dravik::DataAccess>,
                                                   const std::string&) override
    {
        return nullptr;
    }

private:
    std::string m_name = "FuturePlugin";
    solvane::FormatList m_formats{"FUTURE"};
    solvane::ExtensionMap m_map{{"fut", "FUTURE"}};
};

__attribute__((visibility("default"))) FutureApiPlugin g_writerPlugin;
