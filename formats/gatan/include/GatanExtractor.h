#pragma once

#include <GatanFrameExtractor.h>
#include <GatanHandle.h>

#include <common/AbstractExtractorMulti.h>

#include <dravik/DataAccess.h>
#include <dravik/DataType.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/VariantDataValue.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::gatan {

/// Reader of DM3 and DM4 files: the whole tag tree is parsed when it is opened and
/// becomes the metadata under "root/GATAN", each pixel array replaced by its offset
/// ("DataOffset"); every "ImageList" entry becomes one frame.
///
/// The file is not trusted: every count, length and size is checked against the bytes
/// left in the stream before anything is allocated, read or skipped, directory nesting
/// is bounded, and a cut or inconsistent file fails with a dravik::Error.
class GatanExtractor : public common::AbstractExtractorMulti {
public:
    static constexpr const char* FORMAT = "DM";
    /// Directories nested deeper than this are refused, so that parsing cannot exhaust the stack.
    static constexpr size_t MAX_DIRECTORY_DEPTH = 256;
    /// Metadata nodes one file may produce. Arrays of groups expand to two or more nodes
    /// a byte, so their size alone does not bound the memory of the tree.
    static constexpr uint64_t MAX_TREE_NODES = uint64_t(1) << 21;

    /// Opens the file at `path`.
    explicit GatanExtractor(const std::string& path);
    /// Reads `accessor`, which must read and seek; `format` must be "DM", else
    /// dravik::Error "Unsupported format {format}".
    GatanExtractor(std::shared_ptr<dravik::DataAccess> accessor, const std::string& format);
    ~GatanExtractor() override;

    uint64_t frameCount() const override;
    /// The same frame object at every call; dravik::InvalidArgument past the last one.
    std::shared_ptr<dravik::ImageView> frame(uint64_t index) override;
    /// The shared root of the tag tree, the same node that every frame returns.
    std::shared_ptr<const dravik::MetadataNode> metadata() const override;

    /// The element type of a tag type code; dravik::Error "Tag type {code} is not
    /// convertible" for codes outside the table.
    template <typename T>
    static dravik::DataType convertTagDataType(T code);
    /// `count` little-endian values of the scalar `type` at `buffer` as a variant value.
    static std::shared_ptr<dravik::VariantDataValue> createTagValue(const dravik::DataType& type,
                                                                    const void* buffer, size_t count);

private:
    void init();
    std::shared_ptr<dravik::MetadataNode> parseDirectory3(const std::string& name);
    std::shared_ptr<dravik::MetadataNode> parseTag3(const std::string& name);
    std::shared_ptr<dravik::MetadataNode> parseDirectory4(const std::string& name);
    std::shared_ptr<dravik::MetadataNode> parseTag4(const std::string& name);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseDirectory(const std::string& name);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseTag(const std::string& name);

    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseScalar(const std::string& name, const std::vector<T>& info);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseGroup(const std::string& name, const std::vector<T>& info);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseString(const std::string& name, const std::vector<T>& info);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseArray(const std::string& name, const std::vector<T>& info);
    template <typename T>
    std::shared_ptr<dravik::MetadataNode> parseGroupArray(const std::string& name, const std::vector<T>& info);

    /// `count` UTF-16 code units from the stream as UTF-8; invalid sequences are dropped.
    std::string extractString(uint64_t count);

    /// Bytes between the stream position and the end of the stream.
    uint64_t remaining() const;
    /// Fails, naming the offset, when fewer than `size` bytes are left.
    void requireBytes(uint64_t size) const;
    /// Reads exactly `size` bytes, or fails naming the offset; nothing is read when
    /// the stream cannot hold them.
    void readExact(uint64_t size, void* dst);
    std::vector<uint8_t> readBytes(uint64_t size);
    template <typename T>
    T readBigEndian();
    /// Skips the `size` bytes of a pixel array and records where they were.
    uint64_t skipData(uint64_t size);
    /// A new node of the tree, counted against MAX_TREE_NODES.
    std::shared_ptr<dravik::MetadataNode> newNode(const std::string& name,
                                                  std::shared_ptr<dravik::VariantDataValue> value = nullptr);
    void reserveNodes(uint64_t count);
    void buildFrames();

    std::shared_ptr<GatanHandle> m_handle;
    std::vector<std::shared_ptr<GatanFrameExtractor>> m_frames;
    uint64_t m_streamEnd = 0;
    size_t m_depth = 0;
    uint64_t m_nodeCount = 0;
};

} // namespace quenza::gatan
