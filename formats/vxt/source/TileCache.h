#pragma once

#include <VxtGrid.h>

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace quenza::vxt {

/// Inflated tiles of one level that a read used only in part, kept for the reads that
/// come back to them: a slice-by-slice read meets every tile of a z-row once a slice.
/// At most `capacity` tiles, the least recently used leaving first. Thread-safe; a tile
/// handed out stays valid while its holder keeps it.
class TileCache {
public:
    using Tile = std::shared_ptr<const uint8_t[]>;

    /// Most bytes the tiles of one cache may hold.
    static constexpr uint64_t MAX_BYTES = uint64_t(256) << 20;

    /// One z-row of tiles of a level of `tilingGrid`, fewer where they would hold more than
    /// MAX_BYTES: 0 for tiles larger than that.
    static uint64_t capacityFor(const Vector3u64& tilingGrid, uint64_t tileBytes);

    explicit TileCache(uint64_t capacity);

    uint64_t capacity() const { return m_capacity; }
    uint64_t size() const;
    /// The tile of `fileId`, now the most recently used, or empty.
    Tile find(uint64_t fileId);
    /// Keeps `tile` as the most recently used, in place of an older copy.
    void insert(uint64_t fileId, Tile tile);

private:
    using Entry = std::pair<uint64_t, Tile>;

    const uint64_t m_capacity;
    mutable std::mutex m_mutex;
    /// Most recently used first.
    std::list<Entry> m_order;
    std::unordered_map<uint64_t, std::list<Entry>::iterator> m_entries;
};

} // namespace quenza::vxt
