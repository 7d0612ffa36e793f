#include <KmWriter.h>

#include <KmWriterPlugin.h>
#include <MetadataGrammar.h>

#include <common/PluginLogger.h>
#include <common/StreamConverter.h>

#include <quenza/Version.h>

#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/Providers.h>
#include <dravik/StreamAccessFactory.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>

#include <charconv>
#include <cmath>

namespace quenza::km {

namespace {

bool isKeyStart(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_' || ch == '&';
}

bool isKeyChar(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_'
        || ch == '\\' || ch == ':' || ch == '.' || ch == '-';
}

/// A node name as a key of the block language: a name outside it would make the whole
/// block, calibration included, unreadable.
std::string keyOf(const std::string& name)
{
    std::string key;
    for (char ch : name) {
        key.push_back(isKeyChar(ch) ? ch : '_');
    }
    if (key.empty() || !isKeyStart(key.front())) {
        key.insert(key.begin(), '_');
    }
    return key;
}

} // namespace

KmWriter::KmWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> accessor,
                   const std::string& format)
{
    if (format != FORMAT) {
        throw dravik::InvalidArgument(
            fmt::format("Format {0} not supported by the plugin {1}", format, common::PLUGIN_NAME));
    }
    auto output = common::StreamConverter::convertOutputAccessor(std::move(accessor));
    if (!output || !output->support(dravik::StreamAccessCapability::WRITE)) {
        throw dravik::Error("output storage does not have writing capabilities");
    }
    m_inputImage = acceptedImage(std::move(view));
    m_output = std::move(output);
    init();
}

KmWriter::KmWriter(std::shared_ptr<dravik::View> view, const std::string& path)
    // The view is checked before the file is opened, so that a rejected view leaves an
    // existing file as it was.
    : m_inputImage(acceptedImage(std::move(view)))
    , m_output(dravik::StreamAccessFactory::openFileWrite(path))
{
    init();
}

KmWriter::~KmWriter()
{
    if (m_currentState != DONE) {
        QUENZA_LOG_WARN("Korvel Writer not in DONE state, but will be destroyed");
    }
}

std::shared_ptr<dravik::ImageView> KmWriter::acceptedImage(std::shared_ptr<dravik::View> view)
{
    std::shared_ptr<dravik::ImageView> image;
    if (auto single = dravik::ImageViewProvider::toImage(view)) {
        image = std::move(single);
    } else if (auto multi = dravik::MultiImageViewProvider::toMultiImage(view)) {
        image = dravik::ImageViewFactory::stack(std::move(multi));
    } else {
        throw dravik::InvalidArgument("view type not supported");
    }
    // Stacked frames too: the header holds exactly three sizes.
    if (image->shape().size() != 3) {
        throw dravik::InvalidArgument("image views with a dimension count different of 3 are not supported");
    }
    DataTypeToKorvel(image->dataType());
    return image;
}

void KmWriter::init()
{
    if (auto metadata = m_inputImage->metadata()) {
        m_metadata = metadata->clone();
    } else {
        m_metadata = dravik::MetadataNodeFactory::create("root", nullptr);
        dravik::MetadataNodeHelper::createPath(m_metadata, "KM");
    }
}

std::string KmWriter::DataTypeToKorvel(const dravik::DataType& type)
{
    if (type == dravik::DataType(dravik::DataTypeId::COMPLEX_FLOAT)) {
        return "complex";
    }
    const dravik::DataType scalar = type.extractScalarType();
    const char* name = nullptr;
    const uint32_t bits = scalar.bitDepth();
    switch (scalar.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        name = bits == 8 ? "byte" : bits == 16 ? "ushort" : bits == 32 ? "uint" : bits == 64 ? "uint64" : nullptr;
        break;
    case dravik::PrimitiveType::SIGNED_INTEGER:
        name = bits == 8 ? "sbyte" : bits == 16 ? "short" : bits == 32 ? "int" : bits == 64 ? "int64" : nullptr;
        break;
    case dravik::PrimitiveType::FLOATING_POINT: name = bits == 32 ? "float" : bits == 64 ? "double" : nullptr; break;
    default: break;
    }
    // The reader takes one digit of the component count.
    if (name == nullptr || type.elementCount() == 0 || type.elementCount() > 9) {
        throw dravik::Error("Unsupported data type");
    }
    return type.elementCount() == 1 ? std::string(name) : fmt::format("{}[{}]", name, type.elementCount());
}

void KmWriter::writeAll()
{
    writeInit();
    writeData();
    writeFinish();
}

void KmWriter::writeBytes(const void* data, uint64_t size)
{
    const uint64_t written = m_output->write(size, data);
    if (written != size) {
        throw dravik::Error(fmt::format("KorvelMesh writer could write only {0} of {1} bytes", written, size));
    }
}

void KmWriter::writeInit()
{
    if (m_currentState != HEADER) {
        throw dravik::Error("Korvel Writer not in HEADER state");
    }
    const auto& shape = m_inputImage->shape();
    std::string text = HEADER_FILE;
    text += fmt::format("\n# Exported with Quenza {}\n\n", QUENZA_VERSION_STRING);
    text += fmt::format("define Lattice {0} {1} {2}\n", shape[0], shape[1], shape[2]);

    writeCalibration();
    cleanOriginalMetadata();
    auto parameters = dravik::MetadataNodeFactory::create("Parameters", nullptr);
    if (auto km = m_metadata->child("KM")) {
        for (const auto& child : km->children()) {
            parameters->addChild(child->clone());
        }
    }
    writeMetadata(*parameters, text, 0);
    text += "\n\n";
    writeBytes(text.data(), text.size());
    if (m_compression == AUTO_COMPRESSION) {
        m_compression = resolvedCompression();
    }
    m_currentState = DATA;
}

KmWriter::CompressionMethod KmWriter::resolvedCompression() const
{
    if (m_compression != AUTO_COMPRESSION) {
        return m_compression;
    }
    const auto interpretation = m_inputImage->imageInterpretation();
    return interpretation == dravik::ImageInterpretation::LABEL || interpretation == dravik::ImageInterpretation::BINARY
             ? RLE_COMPRESSION
             : NO_COMPRESSION;
}

void KmWriter::writeData()
{
    if (m_currentState != DATA) {
        throw dravik::Error("Korvel Writer not in DATA state");
    }
    // "AUTO" may have been set again after writeInit.
    const CompressionMethod method = resolvedCompression();
    if (method != NO_COMPRESSION && !m_output->support(dravik::StreamAccessCapability::SEEK)) {
        throw dravik::Error("HxByteRLE and HxZip sections need an output that can seek");
    }
    m_compression = method;
    switch (method) {
    case NO_COMPRESSION:
        QUENZA_LOG_INFO("Writing data without compression");
        dataWrite();
        break;
    case RLE_COMPRESSION:
        QUENZA_LOG_INFO("Writing data with RLE compression");
        dataRLEWrite();
        break;
    case ZLIB_COMPRESSION:
        QUENZA_LOG_INFO("Writing data with ZLIB compression");
        dataZipWrite();
        break;
    case AUTO_COMPRESSION: break;
    }
    m_currentState = FOOTER;
}

void KmWriter::writeFinish()
{
    if (m_currentState != FOOTER) {
        throw dravik::Error("Korvel Writer not in FOOTER state");
    }
    m_output->flush();
    m_currentState = DONE;
}

std::string KmWriter::name() const
{
    return KmWriterPlugin::s_name;
}

std::string KmWriter::version() const
{
    return KmWriterPlugin::s_version;
}

void KmWriter::setOption(const std::string& parameter, std::shared_ptr<dravik::VariantDataValue> data)
{
    if (parameter == "compressor") {
        if (!data || data->dataType().primitiveType() != dravik::PrimitiveType::UNICODE_STRING) {
            throw dravik::Error("compressor option must be a string");
        }
        const std::string text = dravik::VariantDataValueConverter::toString(*data);
        if (text == "RAW") {
            m_compression = NO_COMPRESSION;
        } else if (text == "RLE") {
            m_compression = RLE_COMPRESSION;
        } else if (text == "ZIP") {
            m_compression = ZLIB_COMPRESSION;
        } else if (text == "AUTO") {
            m_compression = AUTO_COMPRESSION;
        } else {
            throw dravik::Error(fmt::format("invalid compression mode {0}", text));
        }
        return;
    }
    if (parameter == "zipLevel") {
        int64_t level = 0;
        try {
            level = data ? dravik::VariantDataValueConverter::toInt64(*data) : 0;
        } catch (const dravik::Error&) {
            level = 0;
        }
        if (level < 1 || level > 9) {
            throw dravik::Error("Invalid level of compression: should be between 1 and 9");
        }
        m_compressionlevel = level;
        return;
    }
    throw dravik::Error(fmt::format("Not supported option {0}", parameter));
}

void KmWriter::writeCalibration()
{
    dravik::SpatialCalibrationProperty calibration;
    if (auto properties = m_inputImage->properties()) {
        calibration = properties->calibration();
    }
    const auto& shape = m_inputImage->shape();
    const auto& origin = calibration.origin();
    const auto& spacing = calibration.spacing();
    std::vector<double> box;
    for (size_t i = 0; i < 3; ++i) {
        box.push_back(origin[i]);
        box.push_back(origin[i] + spacing[i] * static_cast<double>(shape[i]));
    }
    dravik::MetadataNodeHelper::createPath(m_metadata, "KM/Units/Coordinates",
                                           dravik::VariantDataValueFactory::create(calibration.unit()));
    dravik::MetadataNodeHelper::createPath(m_metadata, "KM/BoundingBox", dravik::VariantDataValueFactory::create(box));
}

void KmWriter::cleanOriginalMetadata()
{
    if (dravik::MetadataNodeHelper::exists(m_metadata, "/KM/HistoryLogHead")) {
        m_metadata->child("KM")->removeChild("HistoryLogHead");
    }
}

std::string KmWriter::formatReal(double value)
{
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    std::string text = fmt::format("{:g}", value);
    if (MetadataGrammar::toDouble(text) == value) {
        return text;
    }
    char shortest[64];
    const auto result = std::to_chars(shortest, shortest + sizeof shortest, value);
    return std::string(shortest, result.ptr);
}

std::string KmWriter::escapeText(const std::string& text)
{
    std::string escaped;
    bool dropped = false;
    for (char ch : text) {
        switch (ch) {
        case '\\': escaped += "\\\\"; break;
        case '"': escaped += "\\\""; break;
        // Line breaks inside the header would let a value start a line of its own.
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\f': escaped += "\\f"; break;
        // The header ends at its first zero byte.
        case '\0': dropped = true; break;
        default: escaped.push_back(ch);
        }
    }
    if (dropped) {
        QUENZA_LOG_WARN("Zero bytes of a metadata text are not written");
    }
    return escaped;
}

void KmWriter::writeMetadata(const dravik::MetadataNode& node, std::string& metadataStream, size_t level) const
{
    if (!node.hasValue() && level >= MetadataGrammar::MAX_DEPTH) {
        throw dravik::Error(
            fmt::format("Metadata blocks nested {0} levels deep cannot be written", MetadataGrammar::MAX_DEPTH));
    }
    metadataStream.append(2 * level, ' ');
    metadataStream += keyOf(node.name());
    metadataStream += ' ';
    if (node.hasValue()) {
        const dravik::VariantDataValue& value = *node.value();
        if (value.isString()) {
            if (value.size() > 1) {
                QUENZA_LOG_INFO("Multiple strings are not supported in Korvel metadata. Only the first string of "
                                "\"{}\" will be written",
                                node.name());
            }
            metadataStream += '"' + escapeText(dravik::VariantDataValueConverter::toString(value)) + '"';
        } else if (value.empty()) {
            // Reads back as a node without value, which is what a list without numbers is.
            metadataStream += "{}";
        } else if (value.dataType().isFloatingPoint()) {
            for (double v : dravik::VariantDataValueConverter::toDoubleArray(value)) {
                metadataStream += ' ' + formatReal(v);
            }
        } else if (value.dataType().primitiveType() == dravik::PrimitiveType::UNSIGNED_INTEGER) {
            for (uint64_t v : dravik::VariantDataValueConverter::toUint64Array(value)) {
                metadataStream += fmt::format(" {}", v);
            }
        } else {
            for (int64_t v : dravik::VariantDataValueConverter::toInt64Array(value)) {
                metadataStream += fmt::format(" {}", v);
            }
        }
        return;
    }
    metadataStream += '{';
    const auto& children = node.children();
    if (!children.empty()) {
        metadataStream += '\n';
        for (size_t i = 0; i < children.size(); ++i) {
            writeMetadata(*children[i], metadataStream, level + 1);
            if (i + 1 < children.size()) {
                metadataStream += ',';
            }
            metadataStream += '\n';
        }
        metadataStream.append(2 * level, ' ');
    }
    metadataStream += '}';
}

} // namespace quenza::km
