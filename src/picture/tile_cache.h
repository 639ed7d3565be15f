#pragma once
// Decoded tiles kept within a byte budget: the least recently used goes
// first. A tile handed out stays valid for whoever holds it, even once the
// cache has let it go.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace korvane {

using Tile = std::vector<std::uint8_t>;
using TilePtr = std::shared_ptr<const Tile>;

class TileCache {
public:
    explicit TileCache(std::size_t budgetBytes);

    // The tile, marked as just used; null when it is not held.
    TilePtr find(std::int64_t key);
    // Whether the tile is held, without marking it used.
    bool contains(std::int64_t key) const;
    // Keeps the tile, letting the least recently used go while over budget.
    void insert(std::int64_t key, TilePtr tile);

    std::size_t heldBytes() const;
    std::size_t peakBytes() const;
    std::size_t budgetBytes() const { return m_budget; }

private:
    using Order = std::list<std::int64_t>; // most recently used first
    struct Entry {
        TilePtr tile;
        Order::iterator place;
    };
    void evictOverBudget();

    const std::size_t m_budget;
    mutable std::mutex m_mutex;
    Order m_order;
    std::unordered_map<std::int64_t, Entry> m_entries;
    std::size_t m_held = 0, m_peak = 0;
};

} // namespace korvane
