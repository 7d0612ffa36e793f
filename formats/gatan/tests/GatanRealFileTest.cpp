// Real DM3 and DM4 files, read through the host as a user's program would, against an
// independent reading of each (<file>.expected.json beside it).

#include <quenza/host/PluginRegistry.h>
#include <quenza/host/ViewDescription.h>

#include <dravik/dravik.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using dravik::DataType;
using dravik::DataTypeId;

const quenza::host::PluginRegistry& registry()
{
    static const quenza::host::PluginRegistry instance;
    return instance;
}

fs::path dmFolder()
{
    const char* shared = std::getenv("QUENZA_SHARED_TESTDATA");
    return fs::path(shared ? shared : QUENZA_SHARED_TESTDATA_DIR) / "dm";
}

/// The real files that have an independent reading, in name order.
std::vector<fs::path> realFiles()
{
    std::vector<fs::path> files;
    const fs::path folder = dmFolder();
    if (!fs::is_directory(folder)) {
        return files;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const std::string suffix = ".expected.json";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(folder / name.substr(0, name.size() - suffix.size()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

#define SKIP_WITHOUT_REAL_FILES()                                                                  \
    if (realFiles().empty()) {                                                                     \
        GTEST_SKIP() << "no DM files in " << dmFolder();                                \
    }

json expectedOf(const fs::path& file)
{
    std::ifstream in(file.string() + ".expected.json");
    return json::parse(in);
}

std::vector<uint8_t> fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sha256Of(std::vector<uint8_t> bytes)
{
    auto view = dravik::ImageViewFactory::fromBuffer({bytes.size()}, DataTypeId::UINT8, bytes.data(), bytes.size());
    return quenza::host::imageSha256(*view);
}

/// The element types of the DM image data types found in the files; the others are refused.
std::optional<DataType> elementTypeOf(int code)
{
    switch (code) {
    case 1: return DataType(DataTypeId::INT16);
    case 2: return DataType(DataTypeId::FLOAT);
    case 3: return DataType(DataTypeId::COMPLEX_FLOAT);
    case 6: return DataType(DataTypeId::UINT8);
    case 7: return DataType(DataTypeId::INT32);
    case 8: return DataType(DataTypeId::VEC3_UINT8);
    case 9: return DataType(DataTypeId::INT8);
    case 10: return DataType(DataTypeId::UINT16);
    case 11: return DataType(DataTypeId::UINT32);
    case 12: return DataType(DataTypeId::DOUBLE);
    case 13: return DataType(DataTypeId::COMPLEX_DOUBLE);
    case 14: return DataType(DataTypeId::UINT8);
    case 23: return DataType(DataTypeId::VEC3_UINT8);
    default: return std::nullopt;
    }
}

std::string itemName(size_t index)
{
    char name[32];
    std::snprintf(name, sizeof name, "item%03zu", index);
    return name;
}

std::shared_ptr<const dravik::MetadataNode> node(const std::shared_ptr<const dravik::MetadataNode>& root,
                                                 const std::string& path)
{
    auto found = dravik::MetadataNodeHelper::getNode(root, path);
    if (!found) {
        throw std::runtime_error("no metadata node " + path);
    }
    return found;
}

/// The first image the reader refuses, as its error message, or empty when it reads them all.
std::string refusal(const json& expected)
{
    for (const json& image : expected["images"]) {
        const int code = image["data_type"].get<int>();
        if (code == 5) {
            return "Unsupported packed complex format";
        }
        if (!elementTypeOf(code)) {
            return "Unsupported data type: " + std::to_string(code);
        }
    }
    return "";
}

void checkImage(const fs::path& file, const json& expected, const std::shared_ptr<const dravik::MetadataNode>& root,
                dravik::ImageView& frame, size_t index)
{
    const std::string entry = "GATAN/ImageList/" + itemName(index);
    const auto dims = expected["dimensions"].get<std::vector<uint64_t>>();
    const int code = expected["data_type"].get<int>();
    EXPECT_EQ(std::vector<uint64_t>(frame.shape().begin(), frame.shape().end()), dims);
    EXPECT_EQ(frame.dataType(), *elementTypeOf(code));
    EXPECT_EQ(frame.metadata(), root);

    // The tree holds what the independent reading found.
    using Converter = dravik::VariantDataValueConverter;
    EXPECT_EQ(Converter::toInt32(node(root, entry + "/ImageData/DataType")->value()), code);
    EXPECT_EQ(Converter::toUint64(node(root, entry + "/ImageData/DataOffset")->value()),
              expected["data"]["offset"].get<uint64_t>());
    const auto dimensions = node(root, entry + "/ImageData/Dimensions");
    ASSERT_EQ(dimensions->childCount(), dims.size());
    for (size_t i = 0; i < dims.size(); ++i) {
        EXPECT_EQ(static_cast<uint64_t>(Converter::toInt64(dimensions->child(i)->value())), dims[i]);
    }
    if (expected["name"].is_string()) {
        EXPECT_EQ(Converter::toString(node(root, entry + "/Name")->value()), expected["name"].get<std::string>());
    }

    const json& calibrations = expected["calibrations"];
    EXPECT_EQ(node(root, entry + "/ImageData/Calibrations/Dimension")->childCount(), calibrations.size());
    const auto& cal = frame.properties()->calibration();
    // Axes without an entry (a stack with fewer entries than dimensions) keep origin 0 and spacing 1.
    for (size_t axis = 0; axis < 3; ++axis) {
        const bool calibrated = axis < calibrations.size() && axis < dims.size();
        EXPECT_EQ(cal.origin()[axis], calibrated ? calibrations[axis]["origin"].get<double>() : 0.0) << axis;
        EXPECT_EQ(cal.spacing()[axis], calibrated ? calibrations[axis]["scale"].get<double>() : 1.0) << axis;
    }
    EXPECT_EQ(cal.unit(), calibrations.empty() ? "" : calibrations[0]["units"].get<std::string>());
    EXPECT_EQ(frame.properties()->imageInfo().axesInterpretation().id(),
              dims.size() == 2 ? dravik::ImageTypeId::IMAGE : dravik::ImageTypeId::UNKNOWN);

    const json& data = expected["data"];
    const auto bytes = fileBytes(file);
    const auto offset = data["offset"].get<size_t>();
    const auto count = data["byte_count"].get<size_t>();
    ASSERT_LE(offset + count, bytes.size());
    std::vector<uint8_t> stored(bytes.begin() + static_cast<ptrdiff_t>(offset),
                                bytes.begin() + static_cast<ptrdiff_t>(offset + count));
    ASSERT_EQ(sha256Of(stored), data["sha256"].get<std::string>());
    if (frame.dataType() == DataType(DataTypeId::VEC3_UINT8)) {
        // Colour pixels are stored in 4 bytes, of which readRegion packs the first three:
        // the hash of a colour frame is that of the stored bytes without every fourth one.
        std::vector<uint8_t> packed;
        for (size_t i = 0; i + 3 < stored.size(); i += 4) {
            packed.insert(packed.end(), stored.begin() + static_cast<ptrdiff_t>(i),
                          stored.begin() + static_cast<ptrdiff_t>(i + 3));
        }
        EXPECT_EQ(frame.byteCount(), packed.size());
        EXPECT_EQ(quenza::host::imageSha256(frame), sha256Of(packed));
    } else {
        EXPECT_EQ(frame.byteCount(), expected["frame"]["byte_count"].get<uint64_t>());
        EXPECT_EQ(quenza::host::imageSha256(frame), expected["frame"]["sha256"].get<std::string>());
    }
}

TEST(GatanRealFileTest, TheHostFindsTheReaderOfDm)
{
    const auto* library = registry().readerOf("DM");
    ASSERT_NE(library, nullptr) << "libquenza-gatan.so not found in " << quenza::host::PluginRegistry::defaultPluginPath();
    EXPECT_EQ(library->writer, nullptr) << "DM files are read only";
    EXPECT_EQ(library->extractor->name(), "GatanPlugin");
    EXPECT_EQ(library->extractor->logLevel(), dravik::LOG_WARNING) << "the host started the logger";
    EXPECT_EQ(registry().readerForPath("a/b/Image.DM4").second, "DM");
    EXPECT_EQ(registry().readerForPath("image.dm3").first, library);
}

TEST(GatanRealFileTest, EveryFileReadsAsItsIndependentReadingSays)
{
    SKIP_WITHOUT_REAL_FILES();
    for (const fs::path& file : realFiles()) {
        SCOPED_TRACE(file.filename().string());
        const json expected = expectedOf(file);
        const std::string refused = refusal(expected);
        if (!refused.empty()) {
            // A file with one image the reader cannot represent does not open at all.
            try {
                registry().open(file.string());
                ADD_FAILURE() << "opened";
            } catch (const dravik::Error& e) {
                EXPECT_EQ(std::string(e.what()), refused);
            }
            continue;
        }
        const auto opened = registry().open(file.string());
        EXPECT_EQ(opened.format, "DM");
        EXPECT_EQ(opened.library->extractor->name(), "GatanPlugin");
        auto multi = dravik::MultiImageViewProvider::toMultiImage(opened.view);
        ASSERT_NE(multi, nullptr);
        EXPECT_EQ(multi->viewOrigin()->dataOrigin(), dravik::ViewDataOrigin::DRIVE);
        ASSERT_EQ(multi->frameCount(), expected["images"].size());
        ASSERT_EQ(multi->frameCount(), expected["image_list"]["count"].get<uint64_t>());

        const auto root = multi->metadata();
        std::vector<std::string> rootEntries;
        for (const auto& child : node(root, "GATAN")->children()) {
            rootEntries.push_back(child->name());
        }
        EXPECT_EQ(rootEntries, expected["root_entries"].get<std::vector<std::string>>());
        for (size_t k = 0; k < multi->frameCount(); ++k) {
            SCOPED_TRACE("image " + std::to_string(k));
            checkImage(file, expected["images"][k], root, *multi->frame(k), k);
        }
    }
}

TEST(GatanRealFileTest, PackedComplexImagesAreRefused)
{
    const fs::path file = dmFolder() / "test_fft_packed_complex8.dm4";
    if (!fs::exists(file)) {
        GTEST_SKIP() << file << " is absent";
    }
    try {
        registry().open(file.string());
        ADD_FAILURE() << "opened";
    } catch (const dravik::Error& e) {
        EXPECT_STREQ(e.what(), "Unsupported data type: 27");
    }
}

TEST(GatanRealFileTest, CutFilesFail)
{
    SKIP_WITHOUT_REAL_FILES();
    for (const fs::path& file : realFiles()) {
        SCOPED_TRACE(file.filename().string());
        const auto bytes = fileBytes(file);
        // Past the end of the root directory come only padding bytes the reader never needs.
        const auto rootEnd = expectedOf(file)["root_end"].get<size_t>();
        ASSERT_LE(rootEnd, bytes.size());
        for (size_t cut = 0; cut < rootEnd; cut += 1 + rootEnd / 40) {
            const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
            EXPECT_THROW(registry().readerOf("DM")->extractor->openDataAccess(
                             dravik::StreamAccessFactory::fromBytes(part), "DM"),
                         dravik::Error)
                << "cut at " << cut;
        }
    }
}

struct ProgramResult {
    int status;
    std::string out;
};

ProgramResult runQuenza(const std::string& args)
{
    const std::string command = std::string(QUENZA_EXECUTABLE) + " " + args + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {-1, ""};
    }
    std::string out;
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        out.append(chunk.data(), n);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
}

const json* findNamed(const json& node, const std::string& name)
{
    std::vector<const json*> pending{&node};
    while (!pending.empty()) {
        const json* current = pending.back();
        pending.pop_back();
        if ((*current)["name"] == name) {
            return current;
        }
        for (const json& child : (*current)["children"]) {
            pending.push_back(&child);
        }
    }
    return nullptr;
}

TEST(GatanRealFileTest, InfoPrintsAFileWhoseTagNamesAreNotUtf8)
{
    const fs::path file = dmFolder() / "test_stackbuilder_imagestack.dm3";
    if (!fs::exists(file)) {
        GTEST_SKIP() << file << " is absent";
    }
    const ProgramResult result = runQuenza("info '" + file.string() + "' --json --checksum");
    ASSERT_EQ(result.status, 0) << result.out;
    const json doc = json::parse(result.out);
    const json expected = expectedOf(file);
    EXPECT_EQ(doc["plugin"], "GatanPlugin");
    EXPECT_EQ(doc["format"], "DM");
    EXPECT_EQ(doc["view"], "multi-image");
    EXPECT_EQ(doc["origin"]["dataOrigin"], "DRIVE");
    ASSERT_EQ(doc["frameCount"], 2);
    const json& stack = doc["frames"][1];
    EXPECT_EQ(stack["shape"], json({16, 2, 3}));
    EXPECT_EQ(stack["dataType"], "UINT32");
    EXPECT_EQ(stack["sha256"], expected["images"][1]["frame"]["sha256"]);
    EXPECT_EQ(stack["calibration"]["unit"], "\u00b5m");
    EXPECT_EQ(stack["origin"]["name"], "GatanPlugin frame Extractor");
    // The name holds a Latin-1 micro sign, not UTF-8: the JSON text shows U+FFFD in its place.
    EXPECT_NE(findNamed(doc["metadata"], "Emission Current (\xEF\xBF\xBD" "A)"), nullptr);
    EXPECT_EQ(result.out.find("\xB5" "A)"), std::string::npos);
}

} // namespace
