#include <quenza/host/PluginRegistry.h>

#include <dravik/Error.h>
#include <dravik/StreamAccessFactory.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

namespace quenza::host {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t SUPPORTED_API = 6;

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool handles(const solvane::Plugin& plugin, const std::string& format)
{
    const auto& formats = plugin.supportedFormats();
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

std::vector<std::string> splitColons(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

template <typename Plugin>
std::pair<const PluginLibrary*, std::string> byExtension(const std::vector<PluginLibrary>& libraries,
                                                         const std::string& path, Plugin* PluginLibrary::*which)
{
    const std::string ext = extensionOf(path);
    if (ext.empty()) {
        return {nullptr, ""};
    }
    for (const PluginLibrary& library : libraries) {
        const Plugin* plugin = library.*which;
        if (plugin == nullptr) {
            continue;
        }
        const auto& map = plugin->extensionMap();
        const auto found = map.find(ext);
        if (found != map.end()) {
            return {&library, found->second};
        }
    }
    return {nullptr, ""};
}

template <typename Plugin>
std::string knownFormats(const std::vector<PluginLibrary>& libraries, Plugin* PluginLibrary::*which)
{
    std::set<std::string> names;
    for (const PluginLibrary& library : libraries) {
        if (const Plugin* plugin = library.*which) {
            names.insert(plugin->supportedFormats().begin(), plugin->supportedFormats().end());
        }
    }
    return names.empty() ? std::string("none (no plug-in found)") : fmt::format("{}", fmt::join(names, ", "));
}

} // namespace

std::string PluginLibrary::fileName() const
{
    return fs::path(path).filename().string();
}

std::string extensionOf(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return "";
    }
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string PluginRegistry::defaultPluginPath()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return QUENZA_PLUGIN_SUBDIR;
    }
    return (exe.parent_path().parent_path() / QUENZA_PLUGIN_SUBDIR).lexically_normal().string();
}

PluginRegistry::PluginRegistry(const RegistryOptions& options)
{
    m_searchPaths = options.searchPaths;
    if (options.useEnvironment) {
        if (const char* env = std::getenv("QUENZA_PLUGIN_PATH")) {
            for (const std::string& folder : splitColons(env)) {
                m_searchPaths.push_back(folder);
            }
        }
    }
    if (options.useDefaultPath) {
        m_searchPaths.push_back(defaultPluginPath());
    }
    for (const std::string& folder : m_searchPaths) {
        loadFolder(folder, options.logLevel);
    }
}

void PluginRegistry::loadFolder(const std::string& folder, dravik::LogLevel level)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return;
    }
    std::vector<fs::path> candidates;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("libquenza-", 0) == 0 && entry.path().extension() == ".so") {
            candidates.push_back(entry.path());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const fs::path& candidate : candidates) {
        load(candidate.string(), level);
    }
}

void PluginRegistry::load(const std::string& path, dravik::LogLevel level)
{
    // A library of the same name found in an earlier folder takes precedence.
    const std::string name = fs::path(path).filename().string();
    for (const PluginLibrary& library : m_libraries) {
        if (library.fileName() == name) {
            return;
        }
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        m_failures.push_back({path, why ? why : "cannot be loaded"});
        return;
    }
    PluginLibrary library;
    library.path = path;
    library.extractor = static_cast<solvane::ExtractorPlugin*>(::dlsym(handle, "g_extractorPlugin"));
    library.writer = static_cast<solvane::WriterPlugin*>(::dlsym(handle, "g_writerPlugin"));
    if (library.extractor == nullptr && library.writer == nullptr) {
        m_failures.push_back({path, "exports neither g_extractorPlugin nor g_writerPlugin"});
        ::dlclose(handle);
        return;
    }
    const uint64_t api = library.descriptor().api();
    if (api != SUPPORTED_API) {
        m_failures.push_back({path, fmt::format("descriptor interface revision {} (this host speaks {})", api,
                                                SUPPORTED_API)});
        // Its objects were never used, so the library can go.
        ::dlclose(handle);
        return;
    }
    try {
        // Both descriptors of a library share its one logger: one call creates it.
        if (library.extractor != nullptr) {
            library.extractor->initLogger(level);
        } else {
            library.writer->initLogger(level);
        }
    } catch (const std::exception& e) {
        m_failures.push_back({path, fmt::format("cannot start its logger: {}", e.what())});
        return;
    }
    m_libraries.push_back(std::move(library));
}

const PluginLibrary* PluginRegistry::readerOf(const std::string& format) const
{
    const std::string wanted = upper(format);
    for (const PluginLibrary& library : m_libraries) {
        if (library.extractor != nullptr && handles(*library.extractor, wanted)) {
            return &library;
        }
    }
    return nullptr;
}

const PluginLibrary* PluginRegistry::writerOf(const std::string& format) const
{
    const std::string wanted = upper(format);
    for (const PluginLibrary& library : m_libraries) {
        if (library.writer != nullptr && handles(*library.writer, wanted)) {
            return &library;
        }
    }
    return nullptr;
}

std::pair<const PluginLibrary*, std::string> PluginRegistry::readerForPath(const std::string& path) const
{
    return byExtension(m_libraries, path, &PluginLibrary::extractor);
}

std::pair<const PluginLibrary*, std::string> PluginRegistry::writerForPath(const std::string& path) const
{
    return byExtension(m_libraries, path, &PluginLibrary::writer);
}

OpenedView PluginRegistry::open(const std::string& path, const std::string& format) const
{
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        throw dravik::Error(fmt::format("{}: no such file", path));
    }
    if (fs::is_directory(path, ec)) {
        throw dravik::Error(fmt::format("{}: is a directory", path));
    }
    OpenedView opened;
    if (!format.empty()) {
        opened.library = readerOf(format);
        if (opened.library == nullptr) {
            throw dravik::Error(fmt::format("No plug-in reads the format {}; formats that can be read: {}",
                                            upper(format), knownFormats(m_libraries, &PluginLibrary::extractor)));
        }
        opened.format = upper(format);
        const auto byPath = readerForPath(path);
        // A file whose extension says the same format opens by path, which tells the
        // reader where it lives; any other file is handed over as bytes of that format.
        if (byPath.first == opened.library && byPath.second == opened.format) {
            opened.view = opened.library->extractor->openFile(path);
        } else {
            opened.view = opened.library->extractor->openDataAccess(dravik::StreamAccessFactory::openFileRead(path),
                                                                    opened.format);
        }
    } else {
        std::tie(opened.library, opened.format) = readerForPath(path);
        if (opened.library == nullptr) {
            const std::string ext = extensionOf(path);
            throw dravik::Error(ext.empty()
                                    ? fmt::format("{}: the file has no extension; name its format with --format", path)
                                    : fmt::format("{}: no plug-in reads files ending in .{}; formats that can be read: {}",
                                                  path, ext, knownFormats(m_libraries, &PluginLibrary::extractor)));
        }
        opened.view = opened.library->extractor->openFile(path);
    }
    if (!opened.view) {
        throw dravik::Error(fmt::format("{}: {} returned no view", path, opened.library->descriptor().name()));
    }
    return opened;
}

CreatedWriter PluginRegistry::createWriter(std::shared_ptr<dravik::View> view, const std::string& path,
                                           const std::string& format) const
{
    CreatedWriter created;
    if (!format.empty()) {
        created.library = writerOf(format);
        if (created.library == nullptr) {
            throw dravik::Error(fmt::format("No plug-in writes the format {}; formats that can be written: {}",
                                            upper(format), knownFormats(m_libraries, &PluginLibrary::writer)));
        }
        created.format = upper(format);
        const auto byPath = writerForPath(path);
        if (byPath.first == created.library && byPath.second == created.format) {
            created.writer = created.library->writer->openFile(std::move(view), path);
        } else {
            created.writer = created.library->writer->openDataAccess(
                std::move(view), dravik::StreamAccessFactory::openFileWrite(path), created.format);
        }
    } else {
        std::tie(created.library, created.format) = writerForPath(path);
        if (created.library == nullptr) {
            const std::string ext = extensionOf(path);
            throw dravik::Error(ext.empty()
                                    ? fmt::format("{}: the file has no extension; name its format with --to", path)
                                    : fmt::format("{}: no plug-in writes files ending in .{}; formats that can be written: {}",
                                                  path, ext, knownFormats(m_libraries, &PluginLibrary::writer)));
        }
        created.writer = created.library->writer->openFile(std::move(view), path);
    }
    if (!created.writer) {
        throw dravik::Error(fmt::format("{}: {} returned no writer", path, created.library->descriptor().name()));
    }
    return created;
}

} // namespace quenza::host
