#include <GatanExtractor.h>

#include "Utf16Text.h"

#include <common/PluginLogger.h>
#include <common/StreamConverter.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/DataConverter.h>
#include <dravik/Error.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueFactory.h>

#include <boost/endian/conversion.hpp>

#include <fmt/format.h>

#include <cstring>

namespace quenza::gatan {

namespace {

constexpr uint8_t DIRECTORY_KIND = 20;
constexpr uint8_t TAG_KIND = 21;
constexpr int64_t GROUP_CODE = 15;
constexpr int64_t STRING_CODE = 18;
constexpr int64_t ARRAY_CODE = 20;
constexpr int64_t UTF16_CODE = 4;
constexpr const char* DATA_TAG = "Data";

std::string extractorName()
{
    return fmt::format("{0} Extractor", common::PLUGIN_NAME);
}

/// Values are stored little-endian; only a big-endian machine has anything to do.
void littleToNative(const dravik::DataType& type, void* data, uint64_t count)
{
    if constexpr (boost::endian::order::native == boost::endian::order::big) {
        dravik::DataConverter::endianReverse(type, data, data, count);
    } else {
        (void)type;
        (void)data;
        (void)count;
    }
}

class DepthGuard {
public:
    explicit DepthGuard(size_t& depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() { --m_depth; }

private:
    size_t& m_depth;
};

[[noreturn]] void descriptorTooShort(const std::string& name, size_t have, const char* kind)
{
    throw dravik::Error(fmt::format("Tag \"{0}\" has a descriptor of {1} entries, too short for {2}", name, have, kind));
}

void requireInfo(const std::string& name, size_t have, size_t need, const char* kind)
{
    if (have < need) {
        descriptorTooShort(name, have, kind);
    }
}

template <typename T>
uint64_t checkedCount(const std::string& name, T value, const char* what)
{
    if (value < 0) {
        throw dravik::Error(fmt::format("Tag \"{0}\" has a negative {1}: {2}", name, what, value));
    }
    return static_cast<uint64_t>(value);
}

std::string unnamedEntry(uint64_t counter)
{
    return fmt::format("item{0:0>3}", counter);
}

} // namespace

template <typename T>
T GatanExtractor::readBigEndian()
{
    T value;
    readExact(sizeof value, &value);
    return boost::endian::big_to_native(value);
}

GatanExtractor::GatanExtractor(const std::string& path)
    : m_handle(std::make_shared<GatanHandle>())
{
    m_handle->m_reader = dravik::StreamAccessFactory::openFileRead(path);
    // Registered before parsing: the frames built by init() take it as their parent's origin.
    m_extensions.add<common::ViewOriginExtensionImpl>(
        std::make_shared<common::ViewOriginExtensionImpl>(extractorName(), dravik::ViewDataOrigin::DRIVE));
    init();
}

GatanExtractor::GatanExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format)
    : m_handle(std::make_shared<GatanHandle>())
{
    if (format != FORMAT) {
        throw dravik::Error(fmt::format("Unsupported format {0}", format));
    }
    m_handle->m_reader =
        common::StreamConverter::convertInputAccessor(std::move(accessor), dravik::StreamAccessCapability::READ_SEEK);
    m_extensions.add<common::ViewOriginExtensionImpl>(
        std::make_shared<common::ViewOriginExtensionImpl>(extractorName(), dravik::ViewDataOrigin::UNKNOWN));
    init();
}

GatanExtractor::~GatanExtractor() = default;

uint64_t GatanExtractor::frameCount() const
{
    return m_frames.size();
}

std::shared_ptr<dravik::ImageView> GatanExtractor::frame(uint64_t index)
{
    if (index >= m_frames.size()) {
        throw dravik::InvalidArgument(fmt::format("Out of bounds, trying to access index {0} when the max value is {1}",
                                                  index, static_cast<int64_t>(m_frames.size()) - 1));
    }
    return m_frames[index];
}

std::shared_ptr<const dravik::MetadataNode> GatanExtractor::metadata() const
{
    return m_handle->m_metadata;
}

void GatanExtractor::init()
{
    QUENZA_LOG_DEBUG("Reading DM header");
    m_capabilities = dravik::MultiImageCapability::READ;

    dravik::StreamAccess& stream = *m_handle->m_reader;
    const uint64_t start = stream.tell();
    stream.seek(0, dravik::SeekOrigin::END);
    m_streamEnd = stream.tell();
    stream.seek(static_cast<int64_t>(start), dravik::SeekOrigin::BEGIN);

    m_handle->m_version = readBigEndian<int32_t>();
    if (m_handle->m_version == 3) {
        QUENZA_LOG_INFO("DM3 dataset");
        readBigEndian<uint32_t>();
    } else if (m_handle->m_version == 4) {
        QUENZA_LOG_INFO("DM4 dataset");
        readBigEndian<uint64_t>();
    } else {
        throw dravik::Error(fmt::format("Unsupported version {0}", m_handle->m_version));
    }
    QUENZA_LOG_DEBUG("DM{0} detected", m_handle->m_version);

    const int32_t byteOrder = readBigEndian<int32_t>();
    m_handle->m_endianess = byteOrder == 1 ? boost::endian::order::little : boost::endian::order::big;
    if (m_handle->m_endianess != boost::endian::order::little) {
        throw dravik::Error("Unsupported endianess conversion");
    }

    m_handle->m_metadata = newNode("root");
    m_metadata = m_handle->m_metadata;
    m_handle->m_metadata->addChild(m_handle->m_version == 3 ? parseDirectory3("GATAN") : parseDirectory4("GATAN"));
    buildFrames();
}

void GatanExtractor::buildFrames()
{
    const auto imageList = m_handle->m_metadata->child("GATAN")->child("ImageList");
    if (!imageList) {
        throw dravik::Error("The file has no \"ImageList\" directory");
    }
    m_frames.reserve(imageList->childCount());
    for (size_t i = 0; i < imageList->childCount(); ++i) {
        const auto imageData = imageList->child(i)->child("ImageData");
        if (!imageData) {
            throw dravik::Error(fmt::format("ImageList entry {0} has no \"ImageData\"", i));
        }
        m_frames.push_back(std::make_shared<GatanFrameExtractor>(m_handle, imageData, this));
    }
}

std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseDirectory3(const std::string& name)
{
    return parseDirectory<int32_t>(name);
}

std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseTag3(const std::string& name)
{
    return parseTag<int32_t>(name);
}

std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseDirectory4(const std::string& name)
{
    return parseDirectory<int64_t>(name);
}

std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseTag4(const std::string& name)
{
    return parseTag<int64_t>(name);
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseDirectory(const std::string& name)
{
    if (m_depth >= MAX_DIRECTORY_DEPTH) {
        throw dravik::Error(fmt::format("Tag directories are nested more than {0} levels deep", MAX_DIRECTORY_DEPTH));
    }
    const DepthGuard guard(m_depth);
    constexpr bool dm4 = sizeof(T) == 8;

    QUENZA_LOG_DEBUG("Parsing directory \"{0}\"", name);
    uint8_t flags[2];
    readExact(sizeof flags, flags);
    const T count = readBigEndian<T>();
    QUENZA_LOG_DEBUG("Directory \"{0}\" has {1} children", name, count);
    if (count < 0) {
        throw dravik::Error(fmt::format("Directory \"{0}\" has a negative entry count: {1}", name, count));
    }
    // The smallest entry is an empty directory: kind, name length, DM4 entry size, flags and count.
    constexpr uint64_t smallestEntry = 1 + 2 + (dm4 ? 8 : 0) + 2 + sizeof(T);
    if (static_cast<uint64_t>(count) > remaining() / smallestEntry) {
        throw dravik::Error(fmt::format("Directory \"{0}\" declares {1} entries but only {2} bytes are left in the file",
                                        name, count, remaining()));
    }

    auto node = newNode(name, dravik::VariantDataValueFactory::create(count));
    uint64_t unnamed = 0;
    for (T i = 0; i < count; ++i) {
        const uint8_t kind = readBigEndian<uint8_t>();
        const int16_t nameLength = readBigEndian<int16_t>();
        std::string entryName;
        if (nameLength <= 0) {
            entryName = unnamedEntry(unnamed++);
        } else {
            requireBytes(static_cast<uint64_t>(nameLength));
            entryName.resize(static_cast<size_t>(nameLength));
            readExact(entryName.size(), entryName.data());
        }
        if constexpr (dm4) {
            readBigEndian<uint64_t>();
        }
        if (kind == TAG_KIND) {
            node->addChild(dm4 ? parseTag4(entryName) : parseTag3(entryName));
        } else if (kind == DIRECTORY_KIND) {
            node->addChild(dm4 ? parseDirectory4(entryName) : parseDirectory3(entryName));
        } else {
            throw dravik::Error(fmt::format("Invalid tag type {0:x}", static_cast<int8_t>(kind)));
        }
    }
    QUENZA_LOG_DEBUG("End of directory \"{0}\"", name);
    return node;
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseTag(const std::string& name)
{
    QUENZA_LOG_DEBUG("Parsing tag \"{0}\"", name);
    char separator[4];
    readExact(sizeof separator, separator);
    if (std::memcmp(separator, "%%%%", sizeof separator) != 0) {
        throw dravik::Error("Invalid tag separator");
    }
    const T length = readBigEndian<T>();
    if (length < 1) {
        throw dravik::Error(fmt::format("Tag \"{0}\" has an invalid descriptor length {1}", name, length));
    }
    if (static_cast<uint64_t>(length) > remaining() / sizeof(T)) {
        throw dravik::Error(fmt::format("Tag \"{0}\" declares a descriptor of {1} entries but only {2} bytes are left "
                                        "in the file",
                                        name, length, remaining()));
    }
    std::vector<T> info(static_cast<size_t>(length));
    readExact(info.size() * sizeof(T), info.data());
    for (T& entry : info) {
        boost::endian::big_to_native_inplace(entry);
    }

    switch (info[0]) {
    case GROUP_CODE:
        return parseGroup(name, info);
    case STRING_CODE:
        return parseString(name, info);
    case ARRAY_CODE:
        if (info.size() > 1 && info[1] == GROUP_CODE) {
            return parseGroupArray(name, info);
        }
        return parseArray(name, info);
    default:
        return parseScalar(name, info);
    }
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseScalar(const std::string& name, const std::vector<T>& info)
{
    QUENZA_LOG_DEBUG("Parsing scalar value of tag \"{0}\"", name);
    const dravik::DataType type = convertTagDataType(info[0]);
    uint8_t bytes[8];
    readExact(type.byteCount(), bytes);
    littleToNative(type, bytes, 1);
    return newNode(name, createTagValue(type, bytes, 1));
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseGroup(const std::string& name, const std::vector<T>& info)
{
    QUENZA_LOG_DEBUG("Parsing group value of tag \"{0}\"", name);
    requireInfo(name, info.size(), 3, "a group");
    const uint64_t fields = checkedCount(name, info[2], "field count");
    // Field i's type is at 4 + 2i.
    if (fields > (info.size() - 3) / 2) {
        descriptorTooShort(name, info.size(), "a group");
    }
    auto node = newNode(name);
    for (uint64_t i = 0; i < fields; ++i) {
        const dravik::DataType type = convertTagDataType(info[4 + 2 * i]);
        uint8_t bytes[8];
        readExact(type.byteCount(), bytes);
        littleToNative(type, bytes, 1);
        node->addChild(newNode(fmt::format("Field{0}", i), createTagValue(type, bytes, 1)));
    }
    return node;
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseString(const std::string& name, const std::vector<T>& info)
{
    QUENZA_LOG_DEBUG("Parsing string value of tag \"{0}\"", name);
    requireInfo(name, info.size(), 2, "a string");
    const uint64_t length = checkedCount(name, info[1], "string length");
    if (length > remaining() / 2) {
        throw dravik::Error(fmt::format("Tag \"{0}\" declares {1} elements of {2} bytes but only {3} bytes are left "
                                        "in the file",
                                        name, length, 2, remaining()));
    }
    return newNode(name, dravik::VariantDataValueFactory::create(extractString(length)));
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseArray(const std::string& name, const std::vector<T>& info)
{
    QUENZA_LOG_DEBUG("Parse array value of tag \"{0}\"", name);
    requireInfo(name, info.size(), 3, "an array");
    const dravik::DataType type = convertTagDataType(info[1]);
    const uint64_t count = checkedCount(name, info[2], "element count");
    const uint64_t elementBytes = type.byteCount();
    if (count > remaining() / elementBytes) {
        throw dravik::Error(fmt::format("Tag \"{0}\" declares {1} elements of {2} bytes but only {3} bytes are left "
                                        "in the file",
                                        name, count, elementBytes, remaining()));
    }
    const uint64_t size = count * elementBytes;

    if (name == DATA_TAG) {
        QUENZA_LOG_DEBUG("Data tag encountered, remplacing it by a DataOffset one");
        return newNode("DataOffset", dravik::VariantDataValueFactory::create(skipData(size)));
    }
    if (info[1] == UTF16_CODE) {
        QUENZA_LOG_DEBUG("Special case: array of 16 bits integer treated as an UTF-16 string");
        return newNode(name, dravik::VariantDataValueFactory::create(extractString(count)));
    }
    std::vector<uint8_t> bytes = readBytes(size);
    littleToNative(type, bytes.data(), count);
    return newNode(name, createTagValue(type, bytes.data(), static_cast<size_t>(count)));
}

template <typename T>
std::shared_ptr<dravik::MetadataNode> GatanExtractor::parseGroupArray(const std::string& name,
                                                                      const std::vector<T>& info)
{
    QUENZA_LOG_DEBUG("Parse array of groups value of tag \"{0}\"", name);
    requireInfo(name, info.size(), 4, "an array of groups");
    const uint64_t fields = checkedCount(name, info[3], "field count");
    // Field i's type is at 5 + 2i and the element count follows the last one, at 4 + 2f.
    if (info.size() < 5 || fields > (info.size() - 5) / 2) {
        descriptorTooShort(name, info.size(), "an array of groups");
    }
    std::vector<dravik::DataType> types;
    types.reserve(static_cast<size_t>(fields));
    uint64_t elementBytes = 0;
    for (uint64_t i = 0; i < fields; ++i) {
        types.push_back(convertTagDataType(info[5 + 2 * i]));
        elementBytes += types.back().byteCount();
    }
    const uint64_t count = checkedCount(name, info[4 + 2 * fields], "element count");
    if (elementBytes != 0 && count > remaining() / elementBytes) {
        throw dravik::Error(fmt::format("Tag \"{0}\" declares {1} elements of {2} bytes but only {3} bytes are left "
                                        "in the file",
                                        name, count, elementBytes, remaining()));
    }
    const uint64_t size = count * elementBytes;

    if (name == DATA_TAG) {
        QUENZA_LOG_DEBUG("Data tag encountered, remplacing it by a DataOffset one");
        return newNode("DataOffset", dravik::VariantDataValueFactory::create(skipData(size)));
    }
    if (fields == 0 && count != 0) {
        // Nothing in the file backs the elements: their count alone would decide the size of the tree.
        throw dravik::Error(fmt::format("Tag \"{0}\" is an array of {1} groups without fields", name, count));
    }
    reserveNodes(1 + count * (1 + fields));
    const std::vector<uint8_t> bytes = readBytes(size);
    auto node = dravik::MetadataNodeFactory::create(name);
    const uint8_t* cursor = bytes.data();
    std::vector<uint8_t> value(8);
    for (uint64_t k = 0; k < count; ++k) {
        auto item = dravik::MetadataNodeFactory::create(unnamedEntry(k));
        for (uint64_t j = 0; j < fields; ++j) {
            const dravik::DataType& type = types[j];
            std::memcpy(value.data(), cursor, type.byteCount());
            cursor += type.byteCount();
            littleToNative(type, value.data(), 1);
            item->addChild(dravik::MetadataNodeFactory::create(fmt::format("Field{0}", j),
                                                               createTagValue(type, value.data(), 1)));
        }
        node->addChild(item);
    }
    return node;
}

template <typename T>
dravik::DataType GatanExtractor::convertTagDataType(T code)
{
    switch (code) {
    case 2:
        return dravik::DataTypeId::INT16;
    case 3:
        return dravik::DataTypeId::INT32;
    case 4:
        return dravik::DataTypeId::UINT16;
    case 5:
        return dravik::DataTypeId::UINT32;
    case 6:
        return dravik::DataTypeId::FLOAT;
    case 7:
        return dravik::DataTypeId::DOUBLE;
    case 8:
        return dravik::DataTypeId::UINT8;
    case 9:
        return dravik::DataTypeId::INT8;
    // 10 and 12 are the format's unsigned 8- and 64-bit types: 8-bit pixels and metadata
    // bytes above 127 are stored under 10.
    case 10:
        return dravik::DataTypeId::UINT8;
    case 11:
        return dravik::DataTypeId::INT64;
    case 12:
        return dravik::DataTypeId::UINT64;
    default:
        throw dravik::Error(fmt::format("Tag type {0} is not convertible", code));
    }
}

template dravik::DataType GatanExtractor::convertTagDataType<int32_t>(int32_t code);
template dravik::DataType GatanExtractor::convertTagDataType<int64_t>(int64_t code);

std::shared_ptr<dravik::VariantDataValue> GatanExtractor::createTagValue(const dravik::DataType& type,
                                                                         const void* buffer, size_t count)
{
    using Factory = dravik::VariantDataValueFactory;
    const uint32_t bits = type.bitDepth();
    switch (type.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        switch (bits) {
        case 8:
            return Factory::create(dravik::dataTypeOf<uint8_t>(), buffer, count);
        case 16:
            return Factory::create(dravik::dataTypeOf<uint16_t>(), buffer, count);
        case 32:
            return Factory::create(dravik::dataTypeOf<uint32_t>(), buffer, count);
        case 64:
            return Factory::create(dravik::dataTypeOf<uint64_t>(), buffer, count);
        default:
            throw dravik::Error(fmt::format("Invalid bit depth of {0} for an unsigned integer", bits));
        }
    case dravik::PrimitiveType::SIGNED_INTEGER:
        switch (bits) {
        case 8:
            return Factory::create(dravik::dataTypeOf<int8_t>(), buffer, count);
        case 16:
            return Factory::create(dravik::dataTypeOf<int16_t>(), buffer, count);
        case 32:
            return Factory::create(dravik::dataTypeOf<int32_t>(), buffer, count);
        case 64:
            return Factory::create(dravik::dataTypeOf<int64_t>(), buffer, count);
        default:
            throw dravik::Error(fmt::format("Invalid bit depth of {0} for a signed integer", bits));
        }
    case dravik::PrimitiveType::FLOATING_POINT:
        switch (bits) {
        case 32:
            return Factory::create(dravik::dataTypeOf<float>(), buffer, count);
        case 64:
            return Factory::create(dravik::dataTypeOf<double>(), buffer, count);
        default:
            throw dravik::Error(fmt::format("Invalid bit depth of {0} for a floating point", bits));
        }
    default:
        throw dravik::Error("Invalid primitive type");
    }
}

std::string GatanExtractor::extractString(uint64_t count)
{
    const std::vector<uint8_t> bytes = readBytes(count * 2);
    return utf16LittleEndianToUtf8(bytes.data(), static_cast<size_t>(count));
}

uint64_t GatanExtractor::remaining() const
{
    const uint64_t position = m_handle->m_reader->tell();
    return position < m_streamEnd ? m_streamEnd - position : 0;
}

void GatanExtractor::requireBytes(uint64_t size) const
{
    const uint64_t left = remaining();
    if (size > left) {
        throw dravik::Error(fmt::format("Unexpected end of file at offset {0}: {1} bytes needed, {2} left",
                                        m_handle->m_reader->tell(), size, left));
    }
}

void GatanExtractor::readExact(uint64_t size, void* dst)
{
    requireBytes(size);
    const uint64_t offset = m_handle->m_reader->tell();
    const uint64_t got = m_handle->m_reader->read(size, dst);
    if (got != size) {
        throw dravik::Error(
            fmt::format("Unexpected end of file at offset {0}: {1} bytes needed, {2} read", offset, size, got));
    }
}

std::vector<uint8_t> GatanExtractor::readBytes(uint64_t size)
{
    requireBytes(size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    readExact(size, bytes.data());
    return bytes;
}

uint64_t GatanExtractor::skipData(uint64_t size)
{
    const uint64_t offset = m_handle->m_reader->tell();
    m_handle->m_reader->seek(static_cast<int64_t>(size), dravik::SeekOrigin::CURRENT);
    m_handle->m_dataArrayBytes[offset] = size;
    return offset;
}

std::shared_ptr<dravik::MetadataNode> GatanExtractor::newNode(const std::string& name,
                                                              std::shared_ptr<dravik::VariantDataValue> value)
{
    reserveNodes(1);
    return dravik::MetadataNodeFactory::create(name, std::move(value));
}

void GatanExtractor::reserveNodes(uint64_t count)
{
    if (count > MAX_TREE_NODES - m_nodeCount) {
        throw dravik::Error(fmt::format("The tag tree holds more than {0} entries", MAX_TREE_NODES));
    }
    m_nodeCount += count;
}

} // namespace quenza::gatan
