#include "DemoCheck.h"

#include "MetadataTree.h"
#include "ScalarType.h"
#include "TextFormat.h"

#include <dravik/ColumnUnitExtension.h>
#include <dravik/ImageProperties.h>
#include <dravik/MetadataNode.h>
#include <dravik/VariantDataValueConverter.h>

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

namespace quenza::cli {

namespace {

bool nearlyEqual(double a, double b)
{
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b);
    }
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool nearlyEqual(const dravik::Vector3d& a, const dravik::Vector3d& b)
{
    return nearlyEqual(a[0], b[0]) && nearlyEqual(a[1], b[1]) && nearlyEqual(a[2], b[2]);
}

std::string text(const dravik::Vector3d& v)
{
    return fmt::format("({}, {}, {})", v[0], v[1], v[2]);
}

std::string elementText(const dravik::DataType& type, const uint8_t* element)
{
    std::vector<std::string> parts;
    withScalarType(type.extractScalarType(), [&](auto tag) {
        using T = decltype(tag);
        for (uint32_t c = 0; c < type.elementCount(); ++c) {
            T v;
            std::memcpy(&v, element + c * sizeof(T), sizeof(T));
            if constexpr (sizeof(T) == 1) {
                parts.push_back(std::to_string(static_cast<int>(v)));
            } else {
                parts.push_back(fmt::format("{}", v));
            }
        }
    });
    return parts.size() == 1 ? parts.front() : fmt::format("({})", fmt::join(parts, ", "));
}

std::string positionText(uint64_t index, const dravik::VectorXu64& shape)
{
    std::vector<uint64_t> at;
    for (uint64_t s : shape) {
        at.push_back(index % s);
        index /= s;
    }
    return fmt::format("({})", fmt::join(at, ", "));
}

std::vector<uint8_t> allBytes(dravik::ImageView& image)
{
    std::vector<uint8_t> bytes(image.byteCount());
    image.readRegion(dravik::RegionXu64::fullRegion(image.shape()), bytes.data());
    return bytes;
}

std::string elementDifference(dravik::ImageView& written, const void* readBytes)
{
    const uint64_t size = written.byteCount();
    std::vector<uint8_t> copy;
    const uint8_t* expected = nullptr;
    if (written.support(dravik::ImageCapability::MEMORY_ACCESS) && written.indexer().isDense()) {
        expected = static_cast<const uint8_t*>(written.bufferReadOnly());
    } else {
        copy = allBytes(written);
        expected = copy.data();
    }
    const auto* got = static_cast<const uint8_t*>(readBytes);
    if (std::memcmp(expected, got, size) == 0) {
        return "";
    }
    const uint64_t elementBytes = written.dataType().byteCount();
    uint64_t first = 0;
    while (first < size && expected[first] == got[first]) {
        ++first;
    }
    const uint64_t element = first / elementBytes;
    return fmt::format("element {}: wrote {}, read {}", positionText(element, written.shape()),
                       elementText(written.dataType(), expected + element * elementBytes),
                       elementText(written.dataType(), got + element * elementBytes));
}

std::string calibrationDifference(const dravik::ImageView& written, const dravik::ImageView& read,
                                  const ImageTraits& traits)
{
    const auto w = written.properties();
    const auto r = read.properties();
    if (!w) {
        return "";
    }
    const bool needed = traits.origin || traits.spacing || traits.directions || traits.unit || traits.interpretation;
    if (!r) {
        return needed ? "no image properties read back" : "";
    }
    const auto& wc = w->calibration();
    const auto& rc = r->calibration();
    if (traits.origin && !nearlyEqual(wc.origin(), rc.origin())) {
        return fmt::format("origin {} read back as {}", text(wc.origin()), text(rc.origin()));
    }
    if (traits.spacing && !nearlyEqual(wc.spacing(), rc.spacing())) {
        return fmt::format("spacing {} read back as {}", text(wc.spacing()), text(rc.spacing()));
    }
    if (traits.directions) {
        for (size_t axis = 0; axis < 3; ++axis) {
            if (!nearlyEqual(wc.directions().direction(axis), rc.directions().direction(axis))) {
                return fmt::format("direction {} {} read back as {}", axis, text(wc.directions().direction(axis)),
                                   text(rc.directions().direction(axis)));
            }
        }
    }
    if (traits.unit && wc.unit() != rc.unit()) {
        return fmt::format("unit \"{}\" read back as \"{}\"", printableText(wc.unit()), printableText(rc.unit()));
    }
    const auto wi = w->imageInfo().interpretation();
    const auto ri = r->imageInfo().interpretation();
    if (traits.interpretation && wi != ri) {
        return fmt::format("interpretation {} read back as {}", dravik::toString(wi), dravik::toString(ri));
    }
    return "";
}

bool sameValue(const dravik::VariantDataValue& a, const dravik::VariantDataValue& b)
{
    if (a.isString() || b.isString()) {
        return a.isString() && b.isString() && a.strings() == b.strings();
    }
    const auto x = dravik::VariantDataValueConverter::toDoubleArray(a);
    const auto y = dravik::VariantDataValueConverter::toDoubleArray(b);
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](double p, double q) {
               return p == q || (std::isnan(p) && std::isnan(q));
           });
}

std::string metadataDifference(const dravik::ImageView& written, const dravik::ImageView& read,
                               const ImageTraits& traits)
{
    if (traits.metadataSection.empty()) {
        return "";
    }
    const auto writtenRoot = written.metadata();
    const auto section = writtenRoot ? writtenRoot->child(traits.metadataSection) : nullptr;
    if (!section) {
        return "";
    }
    const auto readRoot = read.metadata();
    const auto readSection = readRoot ? readRoot->child(traits.metadataSection) : nullptr;
    if (!readSection) {
        return fmt::format("metadata {} missing", traits.metadataSection);
    }
    // Both trees walked side by side, the read one looked up by name.
    std::vector<std::tuple<const dravik::MetadataNode*, const dravik::MetadataNode*, std::string>> pending{
        {section.get(), readSection.get(), traits.metadataSection}};
    while (!pending.empty()) {
        const auto [w, r, path] = pending.back();
        pending.pop_back();
        for (const auto& child : w->children()) {
            if (traits.textChildrenOnly && !(child->hasValue() && child->value()->isString())) {
                continue;
            }
            const std::string childPath = path + "/" + child->name();
            const auto match = r->child(child->name());
            if (!match) {
                return fmt::format("metadata {} missing", printableText(childPath));
            }
            if (child->hasValue()
                && (!match->hasValue() || !sameValue(*child->value(), *match->value()))) {
                return fmt::format("metadata {} = {} read back as {}", printableText(childPath),
                                   metadataValueText(*child->value()),
                                   match->hasValue() ? metadataValueText(*match->value()) : "no value");
            }
            if (!traits.textChildrenOnly) {
                pending.emplace_back(child.get(), match.get(), childPath);
            }
        }
    }
    return "";
}

std::vector<double> numbersOf(dravik::DataFrameView& table, size_t column)
{
    const dravik::DataType type = table.columnDataType(column);
    const uint64_t rows = table.shape()[1];
    std::vector<double> numbers(rows);
    withScalarType(type, [&](auto tag) {
        std::vector<decltype(tag)> cells(rows);
        table.read(column, 0, rows, cells.data());
        std::copy(cells.begin(), cells.end(), numbers.begin());
    });
    return numbers;
}

std::vector<std::string> textsOf(dravik::DataFrameView& table, size_t column)
{
    std::vector<std::string> cells(table.shape()[1]);
    table.read(column, 0, cells.size(), cells.data());
    return cells;
}

bool isText(const dravik::DataType& type)
{
    return type.isString() || type.isUnknown();
}

} // namespace

std::string firstImageDifference(dravik::ImageView& written, dravik::ImageView& read, const void* readBytes,
                                 const ImageTraits& traits)
{
    if (written.shape() != read.shape()) {
        return fmt::format("shape {} read back as {}", shapeText(written.shape()), shapeText(read.shape()));
    }
    if (written.dataType() != read.dataType()) {
        return fmt::format("type {} read back as {}", written.dataType().toString(), read.dataType().toString());
    }
    std::string difference = elementDifference(written, readBytes);
    if (difference.empty()) {
        difference = calibrationDifference(written, read, traits);
    }
    if (difference.empty()) {
        difference = metadataDifference(written, read, traits);
    }
    return difference;
}

std::string firstTableDifference(dravik::DataFrameView& written, dravik::DataFrameView& read, bool unitsInNames)
{
    const auto& ws = written.shape();
    const auto& rs = read.shape();
    if (ws != rs) {
        return fmt::format("table of {} columns x {} rows read back as {} x {}", ws[0], ws[1], rs[0], rs[1]);
    }
    std::shared_ptr<dravik::ColumnUnitExtension> units;
    try {
        units = written.extension<dravik::ColumnUnitExtension>();
    } catch (const dravik::Error&) {
    }
    for (size_t c = 0; c < ws[0]; ++c) {
        std::string name = written.columnName(c);
        const std::string unit = units ? units->unit(c) : "";
        if (unitsInNames && !unit.empty()) {
            name += " (" + unit + ")";
        }
        if (read.columnName(c) != name) {
            return fmt::format("column {} named \"{}\" read back as \"{}\"", c, printableText(name),
                               printableText(read.columnName(c)));
        }
        const dravik::DataType wt = written.columnDataType(c);
        const dravik::DataType rt = read.columnDataType(c);
        if (isText(wt) != isText(rt)) {
            return fmt::format("column {} of {} read back as {}", printableText(name), wt.toString(), rt.toString());
        }
        if (isText(wt)) {
            const auto a = textsOf(written, c);
            const auto b = textsOf(read, c);
            for (size_t row = 0; row < a.size(); ++row) {
                if (a[row] != b[row]) {
                    return fmt::format("row {}, column {}: wrote \"{}\", read \"{}\"", row, printableText(name),
                                       printableText(a[row]), printableText(b[row]));
                }
            }
            continue;
        }
        const auto a = numbersOf(written, c);
        const auto b = numbersOf(read, c);
        // Real numbers are written with six decimals.
        const double tolerance = wt.isFloatingPoint() ? 5e-7 : 0.0;
        for (size_t row = 0; row < a.size(); ++row) {
            const bool same = std::isnan(a[row]) ? std::isnan(b[row])
                                                 : std::fabs(a[row] - b[row]) <= tolerance + 1e-12 * std::fabs(a[row]);
            if (!same) {
                return fmt::format("row {}, column {}: wrote {}, read {}", row, printableText(name), a[row], b[row]);
            }
        }
    }
    return "";
}

} // namespace quenza::cli
