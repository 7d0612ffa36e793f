#pragma once

#include <VxtGrid.h>

#include <dravik/View.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quenza::vxt {

/// A tile of the octree as it moves through the pipeline.
struct TileNode {
    /// The tile's voxels, an image view of its clipped region; after compression a BufferView.
    std::shared_ptr<dravik::View> view;
    Vector3u64 position;
    uint64_t level = 0;
    /// The clipped region in level voxels.
    Region3u64 region;
    /// Octree children, used by the producer only.
    std::vector<std::shared_ptr<TileNode>> children;
};

/// The compressed bytes of a tile between the compression and the write stage.
class BufferView : public dravik::View {
public:
    /// A zero-filled buffer of `capacity` bytes, none of them valid yet.
    explicit BufferView(uint64_t capacity);
    ~BufferView() override;

    /// Copies the bytes [from, to) of the buffer to `dst`; throws dravik::InvalidArgument
    /// for a range outside the valid bytes.
    void copy(uint64_t from, uint64_t to, void* dst) const;

    /// Number of valid bytes.
    uint64_t size = 0;
    std::vector<uint8_t> buffer;
};

} // namespace quenza::vxt
