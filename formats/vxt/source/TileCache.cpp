#include "TileCache.h"

#include <algorithm>

namespace quenza::vxt {

uint64_t TileCache::capacityFor(const Vector3u64& tilingGrid, uint64_t tileBytes)
{
    if (tileBytes == 0) {
        return 0;
    }
    return std::min(tilingGrid[0] * tilingGrid[1], MAX_BYTES / tileBytes);
}

TileCache::TileCache(uint64_t capacity)
    : m_capacity(capacity)
{
}

uint64_t TileCache::size() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

TileCache::Tile TileCache::find(uint64_t fileId)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(fileId);
    if (found == m_entries.end()) {
        return nullptr;
    }
    m_order.splice(m_order.begin(), m_order, found->second);
    return found->second->second;
}

void TileCache::insert(uint64_t fileId, Tile tile)
{
    if (m_capacity == 0) {
        return;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (const auto found = m_entries.find(fileId); found != m_entries.end()) {
        m_order.erase(found->second);
        m_entries.erase(found);
    }
    m_order.emplace_front(fileId, std::move(tile));
    m_entries[fileId] = m_order.begin();
    while (m_entries.size() > m_capacity) {
        m_entries.erase(m_order.back().first);
        m_order.pop_back();
    }
}

} // namespace quenza::vxt
