#pragma once

#include <solvane/ExtractorPlugin.h>
#include <solvane/WriterPlugin.h>

#include <string>

namespace quenza::host {

/// A plug-in library loaded into the process, with the descriptors it exports.
/// Libraries stay loaded until the process ends, so that every object they made
/// can still be destroyed.
struct PluginLibrary {
    /// Where the library was loaded from.
    std::string path;
    /// `g_extractorPlugin`, or null when the library does not read.
    solvane::ExtractorPlugin* extractor = nullptr;
    /// `g_writerPlugin`, or null when the library does not write.
    solvane::WriterPlugin* writer = nullptr;

    /// The descriptor that names the library: the extractor when there is one.
    const solvane::Plugin& descriptor() const
    {
        return extractor ? static_cast<const solvane::Plugin&>(*extractor)
                         : static_cast<const solvane::Plugin&>(*writer);
    }
    /// The file name of `path`.
    std::string fileName() const;
};

/// A library that could not be used, and why.
struct LoadFailure {
    std::string path;
    std::string reason;
};

} // namespace quenza::host
