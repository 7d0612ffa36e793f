#pragma once

#include <TarnisImageView.h>

#include <dravik/ImageProperties.h>
#include <dravik/MetadataNode.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::tarnis {

/// The main image of a Tarnis file opened for writing: pixels are written in place, and a
/// change of properties, metadata or shape rewrites the descriptor and the blocks, after
/// which the file is a version 6 file. The region list, the overlay and (unless the shape
/// changes) the segments are carried over by each rewrite.
class TarnisEditableImageView : public TarnisImageView {
public:
    TarnisEditableImageView(std::shared_ptr<dravik::StreamAccess> imageStream, const std::string& imageName,
                            dravik::View* rootView);
    ~TarnisEditableImageView() override;

    dravik::ImageCapabilitySet capabilities() const override;
    /// Throws dravik::InvalidArgument "Invalid properties", "Invalid image interpretation"
    /// or "Unsupported image interpretation"; the view and the file are then unchanged.
    void setProperties(std::shared_ptr<const dravik::ImageProperties> properties) override;
    /// A null tree is refused with dravik::InvalidArgument "Invalid metadata" while the
    /// view has metadata.
    void setMetadata(std::shared_ptr<dravik::MetadataNode> metadata) override;
    void write(const dravik::VectorXu64& index, const void* src) override;
    void writeRegion(const dravik::RegionXu64& region, const void* buffer) override;
    /// Positions 0 to 4 of `shape` are the x, y, slice, channel and time axes, each present
    /// when the shape has that position, so that the view (and the file reopened) has the
    /// shape asked for. On failure the view is left as it was.
    void reshape(const dravik::VectorXu64& shape, dravik::DataType dataType) override;

    /// The overlay frame of the same file, moved along when a rewrite moves its block.
    void setOverlayView(std::weak_ptr<TarnisImageView> overlay) { m_overlay = std::move(overlay); }

private:
    struct SavedState;
    SavedState save() const;
    void restore(SavedState& state);
    /// Rewrites the descriptor and the blocks from the record; `keepRegionList` carries
    /// the region-list block over.
    void rewriteFile(bool keepRegionList);
    std::vector<char> readBlock(uint64_t offset, uint64_t size);
    void movePixels(uint64_t from, uint64_t to, uint64_t size);
    /// Takes the look-up tables and header fields of `metadata` into the record, when it
    /// has a "TARNIS" node.
    void takeTablesAndHeader(const std::shared_ptr<const dravik::MetadataNode>& metadata);

    std::shared_ptr<dravik::StreamAccess> m_imageWriteStream;
    int8_t m_indexInShape[5] = {-1, -1, -1, -1, -1};
    V6desc_im m_tarnis6Description{};
    std::weak_ptr<TarnisImageView> m_overlay;
    /// The header that an overlay of a file older than version 6500 gets when it is
    /// carried into a version 6500 file; empty once the overlay has one.
    std::vector<int32_t> m_overlayHeader;
};

} // namespace quenza::tarnis
