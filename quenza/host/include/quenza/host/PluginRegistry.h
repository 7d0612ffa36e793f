#pragma once

#include <quenza/host/PluginLibrary.h>

#include <dravik/LogLevel.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <memory>
#include <string>
#include <vector>

namespace quenza::host {

/// Where to look for plug-ins and how loud they should be.
struct RegistryOptions {
    /// Folders searched first, in order (the command line's --plugin-path).
    std::vector<std::string> searchPaths;
    /// Also search the folders of QUENZA_PLUGIN_PATH (colon-separated).
    bool useEnvironment = true;
    /// Also search the folder the build or the install puts plug-ins in, relative to
    /// the running executable (../lib/quenza).
    bool useDefaultPath = true;
    /// Level handed to every library's initLogger.
    dravik::LogLevel logLevel = dravik::LOG_WARNING;
};

/// A view opened by a plug-in, with who opened it.
struct OpenedView {
    std::shared_ptr<dravik::View> view;
    const PluginLibrary* library = nullptr;
    std::string format;
};

/// A writer made by a plug-in, with who made it.
struct CreatedWriter {
    std::shared_ptr<dravik::Writer> writer;
    const PluginLibrary* library = nullptr;
    std::string format;
};

/// Finds, loads and describes the plug-in libraries (files named libquenza-*.so), and
/// chooses one for a file by its extension or by a format name. A library that cannot be
/// loaded is reported in failures() and skipped; it never stops the others.
class PluginRegistry {
public:
    explicit PluginRegistry(const RegistryOptions& options = {});
    PluginRegistry(const PluginRegistry&) = delete;
    PluginRegistry& operator=(const PluginRegistry&) = delete;

    /// The folders searched, in order.
    const std::vector<std::string>& searchPaths() const { return m_searchPaths; }
    const std::vector<PluginLibrary>& libraries() const { return m_libraries; }
    const std::vector<LoadFailure>& failures() const { return m_failures; }

    /// Opens `path` with the reader of `format` (case-insensitive) or, when `format` is
    /// empty, of the file's extension. Throws dravik::Error when no plug-in reads it.
    OpenedView open(const std::string& path, const std::string& format = "") const;
    /// Makes a writer of `view` to `path` for `format` or, when empty, the extension.
    CreatedWriter createWriter(std::shared_ptr<dravik::View> view, const std::string& path,
                               const std::string& format = "") const;

    /// The library that reads (or writes) `format`, or null.
    const PluginLibrary* readerOf(const std::string& format) const;
    const PluginLibrary* writerOf(const std::string& format) const;
    /// The format a reader (or writer) maps the extension of `path` to, and its library;
    /// an empty format when none does.
    std::pair<const PluginLibrary*, std::string> readerForPath(const std::string& path) const;
    std::pair<const PluginLibrary*, std::string> writerForPath(const std::string& path) const;

    /// The folder plug-ins are installed in relative to the running executable.
    static std::string defaultPluginPath();

private:
    void loadFolder(const std::string& folder, dravik::LogLevel level);
    void load(const std::string& path, dravik::LogLevel level);

    std::vector<std::string> m_searchPaths;
    std::vector<PluginLibrary> m_libraries;
    std::vector<LoadFailure> m_failures;
};

/// The lower-case extension of the file name of `path`, without the dot ("" when none).
std::string extensionOf(const std::string& path);

} // namespace quenza::host
