#include <quenza/host/ViewDescription.h>

#include <dravik/ImageProperties.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/Providers.h>
#include <dravik/Region.h>
#include <dravik/ViewOriginExtension.h>

#include <fmt/format.h>

#include <openssl/evp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace quenza::host {

using nlohmann::ordered_json;

namespace {

// Deeper metadata is cut: JSON printing recurses, and trees from hostile files can be
// as deep as their size allows.
constexpr size_t MAX_METADATA_DEPTH = 512;
// Bytes hashed per read of an image.
constexpr uint64_t HASH_SLAB_BYTES = 64ull << 20;

ordered_json number(double v)
{
    if (std::isnan(v)) {
        return "nan";
    }
    if (std::isinf(v)) {
        return v > 0 ? "inf" : "-inf";
    }
    return v;
}

/// Calls `f` with element `i` of packed scalars of `type` at `data`, in its C++ type.
template <typename F>
void visitScalar(const dravik::DataType& type, const void* data, uint64_t i, F&& f)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto load = [&](auto tag) {
        decltype(tag) v;
        std::memcpy(&v, bytes + i * sizeof(v), sizeof(v));
        f(v);
    };
    const uint32_t bits = type.bitDepth();
    switch (type.primitiveType()) {
    case dravik::PrimitiveType::UNSIGNED_INTEGER:
        if (bits == 8) return load(uint8_t{});
        if (bits == 16) return load(uint16_t{});
        if (bits == 32) return load(uint32_t{});
        if (bits == 64) return load(uint64_t{});
        break;
    case dravik::PrimitiveType::SIGNED_INTEGER:
        if (bits == 8) return load(int8_t{});
        if (bits == 16) return load(int16_t{});
        if (bits == 32) return load(int32_t{});
        if (bits == 64) return load(int64_t{});
        break;
    case dravik::PrimitiveType::FLOATING_POINT:
        if (bits == 32) return load(float{});
        if (bits == 64) return load(double{});
        break;
    default: break;
    }
    throw dravik::Error(fmt::format("Values of type {} cannot be shown", type.toString()));
}

template <typename T>
ordered_json jsonOf(T v)
{
    if constexpr (std::is_floating_point_v<T>) {
        return number(static_cast<double>(v));
    } else {
        return v;
    }
}

template <typename T>
std::string textOf(T v)
{
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v)) {
            return "nan";
        }
        if (std::isinf(v)) {
            return v > 0 ? "inf" : "-inf";
        }
        return fmt::format("{}", v);
    } else if constexpr (sizeof(T) == 1) {
        return fmt::format("{}", static_cast<int>(v));
    } else {
        return fmt::format("{}", v);
    }
}

ordered_json vectorJson(const dravik::Vector3d& v)
{
    return ordered_json::array({number(v[0]), number(v[1]), number(v[2])});
}

ordered_json describeOrigin(dravik::View& view)
{
    auto origin = view.viewOrigin();
    if (!origin) {
        return nullptr;
    }
    ordered_json j;
    j["name"] = origin->displayName();
    j["dataOrigin"] = dravik::toString(origin->dataOrigin());
    j["parents"] = origin->parentCount();
    return j;
}

ordered_json capabilityNames(const dravik::ImageCapabilitySet& caps)
{
    ordered_json names = ordered_json::array();
    const std::pair<dravik::ImageCapability, const char*> all[] = {
        {dravik::ImageCapability::READ, "READ"},
        {dravik::ImageCapability::WRITE, "WRITE"},
        {dravik::ImageCapability::RESHAPE, "RESHAPE"},
        {dravik::ImageCapability::MEMORY_ACCESS, "MEMORY_ACCESS"},
    };
    for (const auto& [cap, name] : all) {
        if (caps.has(cap)) {
            names.push_back(name);
        }
    }
    return names;
}

void describeImageInto(ordered_json& j, dravik::ImageView& image, const DescribeOptions& options)
{
    j["shape"] = std::vector<uint64_t>(image.shape().begin(), image.shape().end());
    j["dataType"] = image.dataType().toString();
    j["capabilities"] = capabilityNames(image.capabilities());
    auto props = image.properties();
    if (props) {
        const auto& cal = props->calibration();
        ordered_json c;
        c["origin"] = vectorJson(cal.origin());
        c["spacing"] = vectorJson(cal.spacing());
        c["directions"] = ordered_json::array({vectorJson(cal.directions().direction(0)),
                                               vectorJson(cal.directions().direction(1)),
                                               vectorJson(cal.directions().direction(2))});
        c["unit"] = cal.unit();
        j["calibration"] = c;
        const auto& info = props->imageInfo();
        ordered_json i;
        i["interpretation"] = dravik::toString(info.interpretation());
        ordered_json axes = ordered_json::array();
        for (auto d : info.axesInterpretation().dimensions()) {
            axes.push_back(dravik::toString(d));
        }
        i["axes"] = axes;
        i["bitDepth"] = info.bitDepth();
        i["valueRange"] = ordered_json::array({number(info.valueRange()[0]), number(info.valueRange()[1])});
        j["imageInfo"] = i;
    } else {
        j["calibration"] = nullptr;
        j["imageInfo"] = nullptr;
    }
    auto md = image.metadata();
    j["metadata"] = describeMetadata(md.get());
    if (options.checksum) {
        j["sha256"] = imageSha256(image);
    }
}

ordered_json describeImage(dravik::ImageView& image, const DescribeOptions& options)
{
    ordered_json j;
    j["view"] = "image";
    j["origin"] = describeOrigin(image);
    describeImageInto(j, image, options);
    return j;
}

class Sha256 {
public:
    Sha256()
        : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
    {
        if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1) {
            throw dravik::Error("Cannot start a SHA-256 digest");
        }
    }
    void update(const void* data, size_t size) { EVP_DigestUpdate(m_context.get(), data, size); }
    std::string hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context.get(), digest, &length);
        std::string text;
        for (unsigned int i = 0; i < length; ++i) {
            text += fmt::format("{:02x}", digest[i]);
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> m_context;
};

ordered_json describeDataFrame(dravik::DataFrameView& frame, const DescribeOptions& options)
{
    ordered_json j;
    j["view"] = "data-frame";
    j["origin"] = describeOrigin(frame);
    const auto& shape = frame.shape();
    const uint64_t columns = shape.size() > 0 ? shape[0] : 0;
    const uint64_t rows = shape.size() > 1 ? shape[1] : 0;
    j["shape"] = ordered_json::array({columns, rows});
    ordered_json cols = ordered_json::array();
    for (uint64_t c = 0; c < columns; ++c) {
        ordered_json col;
        col["name"] = frame.columnName(c);
        col["dataType"] = frame.columnDataType(c).toString();
        try {
            col["unit"] = frame.unit(c);
        } catch (const dravik::Error&) {
            col["unit"] = nullptr;
        }
        cols.push_back(col);
    }
    j["columns"] = cols;
    if (!options.checksum) {
        return j;
    }
    // Column by column into memory, then row by row into JSON and text.
    std::vector<ordered_json> cells(rows, ordered_json::array());
    std::vector<std::string> lines(rows);
    for (uint64_t c = 0; c < columns; ++c) {
        const dravik::DataType type = frame.columnDataType(c);
        const bool text = type.isString() || type.isUnknown();
        if (text) {
            std::vector<std::string> values(rows);
            frame.read(c, 0, rows, values.data());
            for (uint64_t r = 0; r < rows; ++r) {
                cells[r].push_back(values[r]);
                lines[r] += (c ? "\t" : "") + values[r];
            }
            continue;
        }
        const dravik::DataType scalar = type.extractScalarType();
        const uint64_t components = type.elementCount();
        std::vector<uint8_t> values(rows * type.byteCount());
        frame.read(c, 0, rows, values.data());
        for (uint64_t r = 0; r < rows; ++r) {
            ordered_json cell = ordered_json::array();
            std::string cellText;
            for (uint64_t k = 0; k < components; ++k) {
                visitScalar(scalar, values.data(), r * components + k, [&](auto v) {
                    cell.push_back(jsonOf(v));
                    cellText += (k ? "," : "") + textOf(v);
                });
            }
            cells[r].push_back(components == 1 ? cell[0] : cell);
            lines[r] += (c ? "\t" : "") + cellText;
        }
    }
    Sha256 sha;
    for (const std::string& line : lines) {
        sha.update(line.data(), line.size());
        sha.update("\n", 1);
    }
    j["rows"] = cells;
    j["sha256"] = sha.hex();
    return j;
}

} // namespace

std::string viewKind(dravik::View& view)
{
    if (dynamic_cast<dravik::ImageView*>(&view)) {
        return "image";
    }
    if (dynamic_cast<dravik::MultiImageView*>(&view)) {
        return "multi-image";
    }
    if (dynamic_cast<dravik::LodImageView*>(&view)) {
        return "lod";
    }
    if (dynamic_cast<dravik::DataFrameView*>(&view)) {
        return "data-frame";
    }
    return "unknown";
}

ordered_json describeView(dravik::View& view, const DescribeOptions& options)
{
    if (auto* image = dynamic_cast<dravik::ImageView*>(&view)) {
        return describeImage(*image, options);
    }
    if (auto* multi = dynamic_cast<dravik::MultiImageView*>(&view)) {
        ordered_json j;
        j["view"] = "multi-image";
        j["origin"] = describeOrigin(view);
        j["frameCount"] = multi->frameCount();
        auto md = multi->metadata();
        j["metadata"] = describeMetadata(md.get());
        ordered_json frames = ordered_json::array();
        for (uint64_t i = 0; i < multi->frameCount(); ++i) {
            frames.push_back(describeImage(*multi->frame(i), options));
        }
        j["frames"] = frames;
        return j;
    }
    if (auto* lod = dynamic_cast<dravik::LodImageView*>(&view)) {
        ordered_json j;
        j["view"] = "lod";
        j["origin"] = describeOrigin(view);
        const auto range = lod->levelRange();
        j["levelRange"] = ordered_json::array({range[0], range[1]});
        ordered_json levels = ordered_json::array();
        for (int64_t level = range[0]; level <= range[1]; ++level) {
            levels.push_back(describeImage(*lod->resolution(level), options));
        }
        j["levels"] = levels;
        return j;
    }
    if (auto* frame = dynamic_cast<dravik::DataFrameView*>(&view)) {
        return describeDataFrame(*frame, options);
    }
    ordered_json j;
    j["view"] = "unknown";
    j["origin"] = describeOrigin(view);
    return j;
}

ordered_json describeValue(const dravik::VariantDataValue& value)
{
    ordered_json j;
    j["type"] = value.dataType().toString();
    ordered_json values = ordered_json::array();
    if (value.isString()) {
        for (const std::string& s : value.strings()) {
            values.push_back(s);
        }
    } else {
        for (size_t i = 0; i < value.size(); ++i) {
            visitScalar(value.dataType(), value.data(), i, [&](auto v) { values.push_back(jsonOf(v)); });
        }
    }
    j["values"] = values;
    return j;
}

ordered_json describeMetadata(const dravik::MetadataNode* root)
{
    if (root == nullptr) {
        return nullptr;
    }
    // Depth-first without recursion; each entry fills the children of its parent's JSON.
    auto nodeJson = [](const dravik::MetadataNode& node) {
        ordered_json j;
        j["name"] = node.name();
        j["value"] = node.hasValue() ? describeValue(*node.value()) : ordered_json(nullptr);
        j["children"] = ordered_json::array();
        return j;
    };
    ordered_json result = nodeJson(*root);
    struct Pending {
        const dravik::MetadataNode* node;
        ordered_json* json;
        size_t depth;
    };
    std::vector<Pending> pending{{root, &result, 0}};
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        if (p.depth >= MAX_METADATA_DEPTH) {
            if (p.node->childCount() != 0) {
                (*p.json)["childrenOmitted"] = p.node->childCount();
            }
            continue;
        }
        ordered_json& children = (*p.json)["children"];
        for (const auto& child : p.node->children()) {
            children.push_back(nodeJson(*child));
        }
        // Children are complete now, so pointers into the array stay valid.
        for (size_t i = 0; i < p.node->childCount(); ++i) {
            pending.push_back({p.node->children()[i].get(), &children[i], p.depth + 1});
        }
    }
    return result;
}

std::string imageSha256(dravik::ImageView& image)
{
    Sha256 sha;
    const auto full = dravik::RegionXu64::fullRegion(image.shape());
    if (full.isEmpty()) {
        return sha.hex();
    }
    const size_t last = full.dimensionCount() - 1;
    const uint64_t sliceBytes = full.extractSliceFromAxis(last, 0).elementCount() * image.dataType().byteCount();
    const uint64_t slicesPerRead = std::max<uint64_t>(1, HASH_SLAB_BYTES / std::max<uint64_t>(sliceBytes, 1));
    std::vector<uint8_t> buffer;
    for (uint64_t z = 0; z < image.shape()[last]; z += slicesPerRead) {
        dravik::VectorXu64 origin(full.dimensionCount(), 0);
        dravik::VectorXu64 size = image.shape();
        origin[last] = z;
        size[last] = std::min(slicesPerRead, image.shape()[last] - z);
        const dravik::RegionXu64 slab(origin, size);
        buffer.resize(slab.elementCount() * image.dataType().byteCount());
        image.readRegion(slab, buffer.data());
        sha.update(buffer.data(), buffer.size());
    }
    return sha.hex();
}

std::string toJsonText(const ordered_json& document, int indent)
{
    return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace quenza::host
