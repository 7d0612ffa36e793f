#pragma once

// DM3 and DM4 files written byte by byte for the tests: a tree of entries as the test
// spells it out, serialised with the format's big-endian headers and little-endian values.

#include <GatanExtractor.h>

#include <dravik/Error.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quenza::gatan::test {

using Bytes = std::vector<uint8_t>;

/// One entry of a tag tree: a directory of entries, or a tag with its descriptor and
/// the bytes that follow it. An empty name is written with name length 0.
struct DmEntry {
    std::string name;
    bool directory = false;
    std::vector<DmEntry> entries;
    std::vector<int64_t> info;
    Bytes data;
    /// Written instead of the entry kind (20 or 21) when set.
    std::optional<uint8_t> kind;
    /// Written instead of the name's length when set.
    std::optional<int16_t> nameLength;
    /// Written instead of "%%%%" when set.
    std::optional<std::string> separator;
    /// Written instead of the descriptor's length when set.
    std::optional<int64_t> infoLength;
    /// Written instead of a directory's entry count when set.
    std::optional<int64_t> count;
};

template <typename T>
Bytes le(T value)
{
    Bytes bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

template <typename T>
Bytes leArray(const std::vector<T>& values)
{
    Bytes bytes(values.size() * sizeof(T));
    if (!values.empty()) {
        std::memcpy(bytes.data(), values.data(), bytes.size());
    }
    return bytes;
}

inline Bytes utf16(const std::u16string& text)
{
    return leArray(std::vector<char16_t>(text.begin(), text.end()));
}

inline Bytes concat(std::vector<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline DmEntry dir(std::string name, std::vector<DmEntry> entries = {})
{
    DmEntry e;
    e.name = std::move(name);
    e.directory = true;
    e.entries = std::move(entries);
    return e;
}

inline DmEntry tag(std::string name, std::vector<int64_t> info, Bytes data = {})
{
    DmEntry e;
    e.name = std::move(name);
    e.info = std::move(info);
    e.data = std::move(data);
    return e;
}

template <typename T>
DmEntry scalar(std::string name, int64_t code, T value)
{
    return tag(std::move(name), {code}, le(value));
}

template <typename T>
DmEntry array(std::string name, int64_t code, const std::vector<T>& values)
{
    return tag(std::move(name), {20, code, static_cast<int64_t>(values.size())}, leArray(values));
}

/// Text as the files store it: an array of 16-bit code units.
inline DmEntry text(std::string name, const std::u16string& value)
{
    return tag(std::move(name), {20, 4, static_cast<int64_t>(value.size())}, utf16(value));
}

/// Text as a string tag (kind 18).
inline DmEntry string18(std::string name, const std::u16string& value)
{
    return tag(std::move(name), {18, static_cast<int64_t>(value.size())}, utf16(value));
}

class DmWriter {
public:
    explicit DmWriter(int version)
        : m_version(version)
    {
    }

    size_t width() const { return m_version == 4 ? 8 : 4; }

    void bigEndian(uint64_t value, size_t bytes)
    {
        for (size_t i = 0; i < bytes; ++i) {
            m_bytes.push_back(static_cast<uint8_t>(value >> (8 * (bytes - 1 - i))));
        }
    }
    void append(const Bytes& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }

    void body(const DmEntry& directory)
    {
        m_bytes.push_back(1);
        m_bytes.push_back(0);
        bigEndian(static_cast<uint64_t>(directory.count.value_or(static_cast<int64_t>(directory.entries.size()))),
                  width());
        for (const DmEntry& e : directory.entries) {
            entry(e);
        }
    }

    void entry(const DmEntry& e)
    {
        m_bytes.push_back(e.kind.value_or(e.directory ? 20 : 21));
        bigEndian(static_cast<uint16_t>(e.nameLength.value_or(static_cast<int16_t>(e.name.size()))), 2);
        m_bytes.insert(m_bytes.end(), e.name.begin(), e.name.end());
        DmWriter inner(m_version);
        if (e.directory) {
            inner.body(e);
        } else {
            inner.tagBody(e);
        }
        if (m_version == 4) {
            bigEndian(inner.m_bytes.size(), 8);
        }
        append(inner.m_bytes);
    }

    void tagBody(const DmEntry& e)
    {
        const std::string separator = e.separator.value_or("%%%%");
        m_bytes.insert(m_bytes.end(), separator.begin(), separator.end());
        bigEndian(static_cast<uint64_t>(e.infoLength.value_or(static_cast<int64_t>(e.info.size()))), width());
        for (int64_t v : e.info) {
            bigEndian(static_cast<uint64_t>(v), width());
        }
        append(e.data);
    }

    Bytes& bytes() { return m_bytes; }

private:
    int m_version;
    Bytes m_bytes;
};

/// A whole file: header, then the root directory holding `entries`.
inline Bytes dmFile(int version, const std::vector<DmEntry>& entries, int32_t byteOrder = 1)
{
    DmWriter root(version);
    root.body(dir("", entries));
    DmWriter file(version);
    file.bigEndian(static_cast<uint32_t>(version), 4);
    file.bigEndian(root.bytes().size(), file.width());
    file.bigEndian(static_cast<uint32_t>(byteOrder), 4);
    file.append(root.bytes());
    return file.bytes();
}

/// A file whose root holds `entries` and an empty "ImageList", to look at the tree alone.
inline Bytes treeFile(int version, std::vector<DmEntry> entries)
{
    entries.push_back(dir("ImageList"));
    return dmFile(version, entries);
}

struct DmCalibration {
    float origin;
    float scale;
    std::u16string units;
};

/// One "ImageList" entry. `dataCode` is the tag type of the "Data" array, whose
/// element count is the pixel bytes divided by that type's size.
struct DmImage {
    std::vector<uint32_t> dimensions;
    int32_t dataType;
    int64_t dataCode;
    Bytes pixels;
    std::optional<std::vector<DmCalibration>> calibrations;
};

inline uint64_t tagTypeBytes(int64_t code)
{
    switch (code) {
    case 2:
    case 4:
        return 2;
    case 3:
    case 5:
    case 6:
        return 4;
    case 7:
    case 11:
    case 12:
        return 8;
    default:
        return 1;
    }
}

inline DmEntry imageDataDirectory(const DmImage& image)
{
    std::vector<DmEntry> dims;
    for (uint32_t d : image.dimensions) {
        dims.push_back(scalar("", 5, d));
    }
    std::vector<DmEntry> entries;
    if (image.calibrations) {
        std::vector<DmEntry> cal;
        for (const DmCalibration& c : *image.calibrations) {
            cal.push_back(dir("", {scalar("Origin", 6, c.origin), scalar("Scale", 6, c.scale), text("Units", c.units)}));
        }
        entries.push_back(dir("Calibrations", {dir("Dimension", cal)}));
    }
    const auto count = static_cast<int64_t>(image.pixels.size() / tagTypeBytes(image.dataCode));
    entries.push_back(tag("Data", {20, image.dataCode, count}, image.pixels));
    entries.push_back(scalar("DataType", 3, image.dataType));
    entries.push_back(dir("Dimensions", dims));
    return dir("ImageData", entries);
}

/// A file holding `images` in its "ImageList", each entry also named by a "Name" text.
inline Bytes imageFile(int version, const std::vector<DmImage>& images)
{
    std::vector<DmEntry> list;
    for (size_t i = 0; i < images.size(); ++i) {
        list.push_back(dir("", {imageDataDirectory(images[i]), text("Name", u"image " + std::u16string(1, static_cast<char16_t>(u'0' + i)))}));
    }
    return dmFile(version, {dir("DocumentTags"), dir("ImageList", list)});
}

inline std::shared_ptr<GatanExtractor> openBytes(Bytes bytes)
{
    return std::make_shared<GatanExtractor>(dravik::StreamAccessFactory::fromBytes(std::move(bytes)), "DM");
}

/// The message of the dravik::Error that opening `bytes` throws, or "(opened)".
inline std::string openError(Bytes bytes)
{
    try {
        openBytes(std::move(bytes));
    } catch (const dravik::Error& e) {
        return e.what();
    }
    return "(opened)";
}

/// Where `needle` first starts in `haystack`, or npos.
inline size_t find(const Bytes& haystack, const Bytes& needle)
{
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (std::memcmp(haystack.data() + i, needle.data(), needle.size()) == 0) {
            return i;
        }
    }
    return std::string::npos;
}

/// Names the instances of tests parameterised by the version: DM3, DM4.
inline std::string versionName(const ::testing::TestParamInfo<int>& version)
{
    return "DM" + std::to_string(version.param);
}

} // namespace quenza::gatan::test
