#include <TarnisMetadata.h>

#include <dravik/Error.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValue.h>
#include <dravik/VariantDataValueConverter.h>
#include <dravik/VariantDataValueFactory.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quenza::tarnis {

const std::array<const char*, 9> s_listIgnoredMetadata = {
    "Calibration", "ColorType", "From file", "FromFile", "GridName", "Lut", "Overlay", "Segment", "Version"};

namespace {

using dravik::MetadataNode;
using dravik::MetadataNodeFactory;
using dravik::MetadataNodeHelper;
using dravik::VariantDataValueFactory;

constexpr size_t SEGMENT_SET_SKIPPED = 112;
constexpr size_t SEGMENT_LABEL_SIZE = 50;

const char* modeName(int32_t mode)
{
    switch (mode) {
    case CAL_SQUARE: return "CAL_SQUARE";
    case CAL_RECT1: return "CAL_RECT1";
    case CAL_RECT2: return "CAL_RECT2";
    case CAL_RECT3: return "CAL_RECT3";
    default: return "Unknown";
    }
}

const char* intensityTypeName(int16_t type)
{
    switch (type) {
    case 0: return "Isolated";
    case 1: return "tray";
    case 2: return "interpolation";
    default: return "";
    }
}

// The child `name` of `node`, or a new one; `created` tells which, so that an existing
// child is not attached a second time.
std::shared_ptr<MetadataNode> childOrNew(const std::shared_ptr<MetadataNode>& node, const std::string& name,
                                         bool& created)
{
    std::shared_ptr<MetadataNode> child = node->child(name);
    created = !child;
    return child ? child : MetadataNodeFactory::create(name);
}

void addLeaf(const std::shared_ptr<MetadataNode>& parent, const std::string& name,
             std::shared_ptr<dravik::VariantDataValue> value)
{
    parent->addChild(MetadataNodeFactory::create(name, std::move(value)));
}

template <typename T>
T take(const char*& cursor, const char* end)
{
    if (end - cursor < static_cast<std::ptrdiff_t>(sizeof(T))) {
        throw dravik::Error("Invalid segment");
    }
    T value;
    std::memcpy(&value, cursor, sizeof value);
    cursor += sizeof value;
    return value;
}

int32_t takeCount(const char*& cursor, const char* end)
{
    const auto count = take<int32_t>(cursor, end);
    if (count < 0) {
        throw dravik::Error("Invalid segment");
    }
    return count;
}

void skipBytes(const char*& cursor, const char* end, size_t count)
{
    if (static_cast<size_t>(end - cursor) < count) {
        throw dravik::Error("Invalid segment");
    }
    cursor += count;
}

std::shared_ptr<const dravik::VariantDataValue> valueAt(const std::shared_ptr<const MetadataNode>& rootNode,
                                                        const std::string& path)
{
    if (!rootNode) {
        return nullptr;
    }
    auto node = MetadataNodeHelper::getNode(rootNode, path);
    return node ? node->value() : nullptr;
}

bool isFloatArray(const dravik::VariantDataValue& value, uint32_t bits)
{
    return value.dataType().primitiveType() == dravik::PrimitiveType::FLOATING_POINT
        && value.dataType().bitDepth() == bits;
}

// The first string of a string value, if it is one.
bool stringOf(const std::shared_ptr<const dravik::VariantDataValue>& value, std::string& text)
{
    if (!value || !value->isString() || value->strings().empty()) {
        return false;
    }
    text = value->strings().front();
    return true;
}

// Copies the first `maxCopy` of exactly `expected` 32-bit floats at `path`.
bool copyFloats(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path, float* dst,
                size_t expected, size_t maxCopy)
{
    auto value = valueAt(rootNode, path);
    if (!value || !isFloatArray(*value, BIT_DEPTH_FLOAT) || value->size() != expected) {
        return false;
    }
    std::memcpy(dst, value->data(), std::min(expected, maxCopy) * sizeof(float));
    return true;
}

} // namespace

void computeCalib(int32_t c_mode, double* ima_size, const double* real_size, double* rxy)
{
    double* I = ima_size;
    const double* R = real_size;
    double* X = rxy;
    switch (c_mode) {
    case CAL_SQUARE:
        X[0] = R[0] / I[0];
        X[1] = X[0];
        X[2] = 1.0;
        I[1] = I[0];
        I[2] = 0.0;
        I[4] = 0.0;
        I[5] = I[0];
        break;
    case CAL_RECT1:
        X[1] = std::sqrt(R[0] * R[0] / (X[2] * X[2] * I[1] * I[1] + I[2] * I[2]));
        X[0] = X[1] * X[2];
        break;
    case CAL_RECT2:
        X[0] = R[0] / I[0];
        X[1] = R[3] / I[3];
        X[2] = X[0] / X[1];
        I[1] = I[0];
        I[2] = 0.0;
        I[4] = 0.0;
        I[5] = I[3];
        break;
    case CAL_RECT3: {
        X[0] = X[1] = X[2] = 0.0;
        const double det = I[1] * I[1] * I[5] * I[5] - I[2] * I[2] * I[4] * I[4];
        if (det == 0.0) {
            break;
        }
        const double sx2 = (R[0] * R[0] * I[5] * I[5] - R[3] * R[3] * I[2] * I[2]) / det;
        const double sy2 = (R[3] * R[3] * I[1] * I[1] - R[0] * R[0] * I[4] * I[4]) / det;
        if (sx2 > 0.0 && sy2 > 0.0) {
            X[0] = std::sqrt(sx2);
            X[1] = std::sqrt(sy2);
            X[2] = X[0] / X[1];
        }
        break;
    }
    default: throw dravik::Error(fmt::format("Unknown calibration mode ({0})", c_mode));
    }
}

void updateMetadataWithTarnisHeader(const std::shared_ptr<MetadataNode>& node, const std::string& header)
{
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, header, boost::algorithm::is_any_of(std::string(1, FIELD_SEPARATOR)));
    for (std::string& piece : pieces) {
        if (piece.empty() || piece.front() == '\0') {
            continue;
        }
        // A value ends at its first NUL: the block's terminator is not part of it.
        piece.resize(::strnlen(piece.c_str(), piece.size()));
        const size_t colon = piece.find(VALUE_SEPARATOR);
        const std::string name = piece.substr(0, colon);
        // A name of separators alone would address the "TARNIS" node itself.
        if (name.find_first_not_of('/') == std::string::npos) {
            continue;
        }
        if (colon == std::string::npos) {
            MetadataNodeHelper::createPath(node, name);
        } else {
            MetadataNodeHelper::createPath(node, name, VariantDataValueFactory::create(piece.substr(colon + 1)));
        }
    }
}

void updateMetadataWithCalibration(const std::shared_ptr<MetadataNode>& node, const mcalib& calibration)
{
    bool created = false;
    auto cal = childOrNew(node, "Calibration", created);
    MetadataNodeHelper::createPath(cal, "c_mode", VariantDataValueFactory::create(calibration.c_mode));
    MetadataNodeHelper::createPath(cal, "ModeName", VariantDataValueFactory::create(modeName(calibration.c_mode)));
    MetadataNodeHelper::createPath(cal, "ima_size", VariantDataValueFactory::create(calibration.ima_size, 6));
    MetadataNodeHelper::createPath(cal, "real_size", VariantDataValueFactory::create(calibration.real_size, 6));
    MetadataNodeHelper::createPath(cal, "ima_orig", VariantDataValueFactory::create(calibration.ima_orig, 2));
    MetadataNodeHelper::createPath(cal, "real_orig", VariantDataValueFactory::create(calibration.real_orig, 2));
    MetadataNodeHelper::createPath(cal, "rxy", VariantDataValueFactory::create(calibration.rxy, 4));
    const std::pair<const char*, std::string> texts[] = {
        {"c_name", fieldText(calibration.c_name, sizeof calibration.c_name)},
        {"cal_name", fieldText(calibration.cal_name, sizeof calibration.cal_name)},
        {"c_comments", fieldText(calibration.c_comments, sizeof calibration.c_comments)},
        {"c_unit", fieldText(calibration.c_unit, sizeof calibration.c_unit)},
    };
    for (const auto& [name, text] : texts) {
        if (!text.empty()) {
            MetadataNodeHelper::createPath(cal, name, VariantDataValueFactory::create(text));
        }
    }
    const int32_t classes = std::clamp(calibration.GrayScaleSize, 0, GRAY_SCALE_CLASSES);
    if (classes > 0) {
        auto intensity = MetadataNodeFactory::create("IntensityCalibration");
        const auto count = static_cast<size_t>(classes);
        addLeaf(intensity, "Type", VariantDataValueFactory::create(calibration.ClasseType));
        addLeaf(intensity, "TypeName", VariantDataValueFactory::create(intensityTypeName(calibration.ClasseType)));
        addLeaf(intensity, "GrayScaleSize", VariantDataValueFactory::create(classes));
        addLeaf(intensity, "Intensity", VariantDataValueFactory::create(calibration.ClasseDeb, count));
        addLeaf(intensity, "RealValue", VariantDataValueFactory::create(calibration.ClasseVal, count));
        const std::string unit = fieldText(calibration.GrayScaleUnit, sizeof calibration.GrayScaleUnit);
        if (!unit.empty()) {
            addLeaf(intensity, "Unit", VariantDataValueFactory::create(unit));
        }
        cal->addChild(intensity);
    }
    const std::string unitSequence = fieldText(calibration.unitSequence, sizeof calibration.unitSequence);
    if (!unitSequence.empty()) {
        MetadataNodeHelper::createPath(cal, "unitSequence", VariantDataValueFactory::create(unitSequence));
    }
    if (created) {
        node->addChild(cal);
    }
}

void updateMetadataWithLut(const std::shared_ptr<MetadataNode>& node, const std::vector<uint16_t>& lutR,
                           const std::vector<uint16_t>& lutG, const std::vector<uint16_t>& lutB)
{
    if (lutR.empty() && lutG.empty() && lutB.empty()) {
        return;
    }
    bool created = false;
    auto lut = childOrNew(node, "Lut", created);
    const std::pair<const char*, const std::vector<uint16_t>*> tables[] = {
        {"LutR", &lutR}, {"LutG", &lutG}, {"LutB", &lutB}};
    for (const auto& [name, table] : tables) {
        if (!table->empty()) {
            MetadataNodeHelper::createPath(lut, name, VariantDataValueFactory::create(*table));
        }
    }
    if (created) {
        node->addChild(lut);
    }
}

void updateMetadataWithOneSegment(const std::shared_ptr<MetadataNode>& segmentNode, const char*& pBuf,
                                  const char* end)
{
    skipBytes(pBuf, end, SEGMENT_SET_SKIPPED);
    const int32_t chainCount = takeCount(pBuf, end);
    const auto type = take<int32_t>(pBuf, end);
    addLeaf(segmentNode, "Number of chains", VariantDataValueFactory::create(chainCount));
    addLeaf(segmentNode, "Type", VariantDataValueFactory::create(type));
    for (int32_t i = 0; i < chainCount; ++i) {
        auto chain = MetadataNodeFactory::create("chain_" + std::to_string(i));
        addLeaf(chain, "Id", VariantDataValueFactory::create(take<int32_t>(pBuf, end)));
        const int32_t points = takeCount(pBuf, end);
        addLeaf(chain, "nb_pixels", VariantDataValueFactory::create(points));
        addLeaf(chain, "nb_chains_head", VariantDataValueFactory::create(take<int32_t>(pBuf, end)));
        int32_t ends[4];
        for (int32_t& value : ends) {
            value = take<int32_t>(pBuf, end);
        }
        addLeaf(chain, "heads", VariantDataValueFactory::create(ends, 4));
        addLeaf(chain, "nb_chains_tail", VariantDataValueFactory::create(take<int32_t>(pBuf, end)));
        for (int32_t& value : ends) {
            value = take<int32_t>(pBuf, end);
        }
        addLeaf(chain, "tails", VariantDataValueFactory::create(ends, 4));
        addLeaf(chain, "flag_close", VariantDataValueFactory::create(take<int32_t>(pBuf, end)));
        const char* label = pBuf;
        skipBytes(pBuf, end, SEGMENT_LABEL_SIZE);
        addLeaf(chain, "label", VariantDataValueFactory::create(fieldText(label, SEGMENT_LABEL_SIZE)));
        for (int32_t j = 0; j < points; ++j) {
            auto point = MetadataNodeFactory::create("segment_" + std::to_string(j));
            addLeaf(point, "type", VariantDataValueFactory::create(take<int32_t>(pBuf, end)));
            for (const char* name : {"x1", "y1", "x2", "y2", "mean"}) {
                addLeaf(point, name, VariantDataValueFactory::create(take<float>(pBuf, end)));
            }
            chain->addChild(point);
        }
        segmentNode->addChild(chain);
    }
}

void updateMetadataWithSegment(const std::shared_ptr<MetadataNode>& node, const std::vector<char>& segmentBuffer,
                               int32_t imageGType)
{
    if (segmentBuffer.empty()) {
        return;
    }
    bool created = false;
    auto segment = childOrNew(node, "Segment", created);
    const char* cursor = segmentBuffer.data();
    const char* end = segmentBuffer.data() + segmentBuffer.size() - 1;
    if ((imageGType & IM_SEQUENCE) != 0) {
        const int32_t count = takeCount(cursor, end);
        for (int32_t i = 0; i < count; ++i) {
            const auto id = take<int32_t>(cursor, end);
            auto entry = MetadataNodeFactory::create("segment_sequence_" + std::to_string(id));
            addLeaf(entry, "Id", VariantDataValueFactory::create(id));
            updateMetadataWithOneSegment(entry, cursor, end);
            segment->addChild(entry);
        }
    } else if ((imageGType & IM_3D) != 0) {
        const int32_t count = takeCount(cursor, end);
        for (int32_t i = 0; i < count; ++i) {
            const auto axis = take<int8_t>(cursor, end);
            const char* letter = axis == 1 ? "X" : axis == 2 ? "Y" : axis == 3 ? "Z" : nullptr;
            if (letter == nullptr) {
                throw dravik::Error(fmt::format("Unknown segment axis ({0})", static_cast<char>(axis)));
            }
            const auto id = take<int32_t>(cursor, end);
            auto entry = MetadataNodeFactory::create(std::string("segment_") + letter + std::to_string(id));
            addLeaf(entry, "Id", VariantDataValueFactory::create(id));
            updateMetadataWithOneSegment(entry, cursor, end);
            segment->addChild(entry);
        }
    } else {
        updateMetadataWithOneSegment(segment, cursor, end);
    }
    if (created) {
        node->addChild(segment);
    }
}

void updateCalibration(mcalib& calibration, const dravik::SpatialCalibrationProperty& spatialCalibration,
                       const std::shared_ptr<const MetadataNode>& imageMetadataNode, const int8_t* indexInShape)
{
    initCalibration(calibration);
    const dravik::Vector3d& spacing = spatialCalibration.spacing();
    const dravik::Vector3d& origin = spatialCalibration.origin();
    if (indexInShape[0] >= 0) {
        calibration.rxy[0] = spacing[0];
        calibration.real_size[0] = spacing[0];
        calibration.real_orig[0] = origin[0];
    }
    if (indexInShape[1] >= 0) {
        calibration.rxy[1] = spacing[1];
        calibration.real_size[3] = spacing[1];
        calibration.real_orig[1] = origin[1];
    }
    if (calibration.real_size[0] != calibration.real_size[3]) {
        calibration.c_mode = CAL_RECT2;
    }
    if (indexInShape[2] >= 0) {
        calibration.deltaz = static_cast<float>(spacing[2]);
        calibration.oz = static_cast<float>(origin[2]);
    }
    setField(calibration.c_unit, sizeof calibration.c_unit, spatialCalibration.unit());
    if (imageMetadataNode) {
        updateCalibrationFromMetadata(calibration, imageMetadataNode);
    }
    computeCalib(calibration.c_mode, calibration.ima_size, calibration.real_size, calibration.rxy);
}

void updateCalibrationFromMetadata(mcalib& calibration, const std::shared_ptr<const MetadataNode>& rootNode)
{
    if (!rootNode) {
        return;
    }
    if (rootNode->hasChild("TIFF")) {
        int32_t resolutionUnit = 0;
        if (extractMetadataValue(rootNode, "TIFF/ResolutionUnit", resolutionUnit)) {
            if (resolutionUnit == 2) {
                setField(calibration.c_unit, sizeof calibration.c_unit, "inch");
            } else if (resolutionUnit == 3) {
                setField(calibration.c_unit, sizeof calibration.c_unit, "cm");
            }
        }
        return;
    }
    std::shared_ptr<const MetadataNode> cal = MetadataNodeHelper::getNode(rootNode, "TARNIS/Calibration");
    if (!cal || cal->childCount() == 0) {
        return;
    }
    double stored[4];
    if (!extractMetadataValue(cal, "rxy", stored, 4)) {
        return;
    }
    // Only a calibration made for the image's current pixel sizes is carried over.
    const double* current = calibration.rxy;
    if (!(std::fabs(stored[0] - current[0]) <= FACTOR_TOLERANCE_DOUBLE * current[0]
          && std::fabs(stored[1] - current[1]) <= FACTOR_TOLERANCE_DOUBLE * current[1])) {
        return;
    }
    extractMetadataValue(cal, "c_mode", calibration.c_mode);
    extractMetadataValue(cal, "ima_size", calibration.ima_size, 6);
    extractMetadataValue(cal, "real_size", calibration.real_size, 6);
    extractMetadataValue(cal, "ima_orig", calibration.ima_orig, 2);
    extractMetadataValue(cal, "real_orig", calibration.real_orig, 2);
    extractMetadataValue(cal, "c_name", calibration.c_name, sizeof calibration.c_name);
    extractMetadataValue(cal, "cal_name", calibration.cal_name, sizeof calibration.cal_name);
    extractMetadataValue(cal, "c_comments", calibration.c_comments, sizeof calibration.c_comments);
    // The image's own unit wins: the stored one only stands in for a missing unit.
    if (calibration.c_unit[0] == '\0') {
        extractMetadataValue(cal, "c_unit", calibration.c_unit, sizeof calibration.c_unit);
    }

    extractMetadataValue(cal, "IntensityCalibration/Type", calibration.ClasseType);
    int32_t declared = calibration.GrayScaleSize;
    extractMetadataValue(cal, "IntensityCalibration/GrayScaleSize", declared);
    // The record holds 256 classes: larger counts keep their first 256 classes.
    calibration.GrayScaleSize = std::clamp(declared, 0, GRAY_SCALE_CLASSES);
    if (declared > 0) {
        const auto count = static_cast<size_t>(declared);
        copyFloats(cal, "IntensityCalibration/Intensity", calibration.ClasseDeb, count, GRAY_SCALE_CLASSES);
        copyFloats(cal, "IntensityCalibration/RealValue", calibration.ClasseVal, count, GRAY_SCALE_CLASSES);
    }
    extractMetadataValue(cal, "IntensityCalibration/Unit", calibration.GrayScaleUnit,
                         sizeof calibration.GrayScaleUnit);
    extractMetadataValue(cal, "unitSequence", calibration.unitSequence, sizeof calibration.unitSequence);
}

void updateCalibrationName(mcalib& calibration, const char* newName)
{
    std::string name = newName == nullptr ? std::string() : std::string(newName);
    if (name.empty()) {
        name = "unknown";
    } else {
        if (name.size() > MAX_LENGTH_CALIBRATION_NAME) {
            name.resize(MAX_LENGTH_CALIBRATION_NAME);
        }
        std::replace(name.begin(), name.end(), ' ', '_');
    }
    setField(calibration.c_name, sizeof calibration.c_name, name);
    std::memcpy(calibration.cal_name, calibration.c_name, sizeof calibration.cal_name);
}

void updateLut(std::string& lutName, std::vector<uint16_t>& lutR, std::vector<uint16_t>& lutG,
               std::vector<uint16_t>& lutB, const std::shared_ptr<const MetadataNode>& tarnisNode)
{
    lutName.clear();
    lutR.clear();
    lutG.clear();
    lutB.clear();
    if (!tarnisNode) {
        return;
    }
    std::shared_ptr<const MetadataNode> lut = tarnisNode->child("Lut");
    if (!lut) {
        return;
    }
    const dravik::DataType uint16Type(dravik::DataTypeId::UINT16);
    std::shared_ptr<const dravik::VariantDataValue> values[3];
    const char* names[3] = {"LutR", "LutG", "LutB"};
    for (size_t i = 0; i < 3; ++i) {
        auto child = lut->child(names[i]);
        values[i] = child ? child->value() : nullptr;
        if (!values[i] || !(values[i]->dataType() == uint16Type)) {
            return;
        }
    }
    if (values[1]->size() != values[0]->size() || values[2]->size() != values[0]->size()) {
        return;
    }
    stringOf(lut->value(), lutName);
    std::vector<uint16_t>* tables[3] = {&lutR, &lutG, &lutB};
    for (size_t i = 0; i < 3; ++i) {
        const auto* first = static_cast<const uint16_t*>(values[i]->data());
        tables[i]->assign(first, first + values[i]->size());
    }
}

void addHeaderField(std::string& allHeader, const std::string& fieldName, const std::string& fieldValue)
{
    allHeader += fmt::format("{0}{1}{2}{3}", FIELD_SEPARATOR, fieldName, VALUE_SEPARATOR, fieldValue);
}

void updateHeaderFieldFromTarnisMetadata(std::string& allHeader, const std::shared_ptr<const MetadataNode>& tarnisNode)
{
    if (!tarnisNode) {
        return;
    }
    for (const auto& child : tarnisNode->children()) {
        const bool ignored = std::any_of(s_listIgnoredMetadata.begin(), s_listIgnoredMetadata.end(),
                                         [&child](const char* name) { return child->name() == name; });
        std::string text;
        if (!ignored && stringOf(child->value(), text)) {
            addHeaderField(allHeader, child->name(), text);
        }
    }
}

void updateHeaderField(std::string& allHeader, const std::shared_ptr<const MetadataNode>& rootNode)
{
    if (!rootNode) {
        return;
    }
    std::shared_ptr<const MetadataNode> tiff = rootNode->child("TIFF");
    if (tiff && tiff->childCount() > 0) {
        std::string text;
        for (const char* name : {"Artist", "Copyright", "HostComputer", "Make", "Model", "Software"}) {
            if (extractMetadataValue(tiff, name, text)) {
                addHeaderField(allHeader, name, text);
            }
        }
        if (extractMetadataValue(tiff, "DateTime", text)) {
            addHeaderField(allHeader, "Date", text);
        }
        std::string description;
        if (!extractMetadataValue(tiff, "ImageDescription", description)) {
            return;
        }
        if (description.find(VALUE_SEPARATOR) == std::string::npos) {
            addHeaderField(allHeader, "Comments", description);
            return;
        }
        auto afterMarker = [](const std::string& whole, size_t at, size_t markerLength) {
            std::string rest = whole.substr(at + markerLength);
            if (!rest.empty() && rest.front() == ' ') {
                rest.erase(0, 1);
            }
            return rest;
        };
        const std::string processingMarker = "Processing:";
        const size_t processing = description.find(processingMarker);
        if (processing != std::string::npos) {
            addHeaderField(allHeader, "Processing", afterMarker(description, processing, processingMarker.size()));
            description.resize(processing);
        }
        if (description.empty()) {
            return;
        }
        const std::string commentsMarker = "Comments:";
        const size_t comments = description.find(commentsMarker);
        if (comments == std::string::npos) {
            addHeaderField(allHeader, "Comments", description);
            return;
        }
        std::string comment = afterMarker(description, comments, commentsMarker.size());
        if (comments != 0) {
            comment += '\r';
            comment += description.substr(0, comments);
        }
        addHeaderField(allHeader, "Comments", comment);
        return;
    }
    std::shared_ptr<const MetadataNode> tarnis = rootNode->child("TARNIS");
    if (tarnis && tarnis->childCount() > 0) {
        updateHeaderFieldFromTarnisMetadata(allHeader, tarnis);
    }
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path,
                          int16_t& value)
{
    auto stored = valueAt(rootNode, path);
    if (!stored) {
        return false;
    }
    try {
        value = dravik::VariantDataValueConverter::toInt16(*stored);
    } catch (const dravik::Error&) {
        return false;
    }
    return true;
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path,
                          int32_t& value)
{
    auto stored = valueAt(rootNode, path);
    if (!stored) {
        return false;
    }
    try {
        value = dravik::VariantDataValueConverter::toInt32(*stored);
    } catch (const dravik::Error&) {
        return false;
    }
    return true;
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path, char* value,
                          size_t size)
{
    std::string text;
    if (value == nullptr || size == 0 || !stringOf(valueAt(rootNode, path), text)) {
        return false;
    }
    std::memset(value, 0, size);
    std::memcpy(value, text.data(), std::min(text.size(), size - 1));
    return true;
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path,
                          std::string& value)
{
    return stringOf(valueAt(rootNode, path), value);
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path, float* value,
                          size_t count)
{
    return value != nullptr && copyFloats(rootNode, path, value, count, count);
}

bool extractMetadataValue(const std::shared_ptr<const MetadataNode>& rootNode, const std::string& path, double* value,
                          size_t count)
{
    auto stored = valueAt(rootNode, path);
    if (value == nullptr || !stored || !isFloatArray(*stored, BIT_DEPTH_DOUBLE) || stored->size() != count) {
        return false;
    }
    std::memcpy(value, stored->data(), count * sizeof(double));
    return true;
}

} // namespace quenza::tarnis
