#pragma once

#include <dravik/DataType.h>
#include <dravik/StreamAccess.h>
#include <dravik/Vector.h>

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quenza::vxt::header {

using boost::property_tree::ptree;

/// Largest header text accepted: far above the biggest histogram a writer produces.
constexpr uint64_t MAX_HEADER_BYTES = uint64_t(16) << 20;
/// Deepest element nesting accepted; the document itself needs four levels.
constexpr uint64_t MAX_NESTING = 64;

/// The data type of a header word, or nothing for an unknown word.
std::optional<dravik::DataType> dataTypeOfWord(const std::string& word);
/// The header word of a data type, or "" for a type the header cannot name.
std::string wordOfDataType(const dravik::DataType& type);

/// Reads the whole header from `stream` (at most MAX_HEADER_BYTES) and parses it.
/// Throws dravik::Error for a text too long, nested too deeply, or not well formed.
ptree readDocument(dravik::StreamAccess& stream);
/// Parses a header text; the same checks as readDocument.
ptree parseDocument(const std::string& text);
/// Throws dravik::Error when elements in `text` nest deeper than MAX_NESTING.
void checkNesting(const std::string& text);

/// The text of a required key; throws dravik::Error "VXT header has no {path}".
std::string requiredText(const ptree& tree, const std::string& path);
/// A required number; throws dravik::Error when absent or not a number of type T.
template <typename T>
T requiredNumber(const ptree& tree, const std::string& path);
/// A number that counts as `fallback` when absent or unreadable.
template <typename T>
T lenientNumber(const ptree& tree, const std::string& path, T fallback);
/// `text` read as a number of type T (surrounding blanks allowed), or nothing.
template <typename T>
std::optional<T> parseNumber(const std::string& text);

/// Three numbers separated by white space; a number that cannot be read stays 0.
dravik::Vector3d parseTriple(const std::string& text);
/// "{0} {1} {2}", each the shortest text that reads back to the same double.
std::string formatTriple(const dravik::Vector3d& v);

} // namespace quenza::vxt::header
