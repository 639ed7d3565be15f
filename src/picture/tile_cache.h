#pragma once
// Decoded tiles kept within a byte budget: the least recently used goes
// first. A tile handed out stays valid for whoever holds it, even once the
// cache has let it go.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvane {

// Pages mapped for one tile, and given back to the kernel when it goes.
// glibc serves a freed mapping's size from its arenas from then on, and a
// band tile (tens of megabytes) carved from a worker thread's arena stayed
// there once freed: over a long session the viewer grew by a tile every
// minute or two. Null when the kernel has no pages to give.
void* mapTileBytes(std::size_t bytes) noexcept;
void unmapTileBytes(void* bytes, std::size_t count) noexcept;
constexpr std::size_t kMappedTileBytes = std::size_t(1) << 20; // smaller ones come from malloc

// A tile's bytes: mapped on their own when large, and left unwritten when
// made, as whoever makes a tile fills it.
template <class T>
struct TileAllocator {
    using value_type = T;
    TileAllocator() = default;
    template <class U>
    explicit TileAllocator(const TileAllocator<U>& /*other*/) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        if (count * sizeof(T) < kMappedTileBytes)
            return std::allocator<T>{}.allocate(count);
        void* bytes = mapTileBytes(count * sizeof(T));
        if (!bytes)
            throw std::bad_alloc();
        return static_cast<T*>(bytes);
    }
    void deallocate(T* bytes, std::size_t count) noexcept
    {
        if (count * sizeof(T) < kMappedTileBytes)
            std::allocator<T>{}.deallocate(bytes, count);
        else
            unmapTileBytes(bytes, count * sizeof(T));
    }
    template <class U>
    void construct(U* at) noexcept
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const TileAllocator<U>& /*other*/) const noexcept
    {
        return true;
    }
};

using Tile = std::vector<std::uint8_t, TileAllocator<std::uint8_t>>;
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
    std::size_t budgetBytes() const;
    // A new budget, the least recently used tiles let go down to it.
    void setBudget(std::size_t budgetBytes);

private:
    using Order = std::list<std::int64_t>; // most recently used first
    struct Entry {
        TilePtr tile;
        Order::iterator place;
    };
    void evictOverBudget();

    mutable std::mutex m_mutex; // for what follows
    std::size_t m_budget;
    Order m_order;
    std::unordered_map<std::int64_t, Entry> m_entries;
    std::size_t m_held = 0, m_peak = 0;
};

} // namespace korvane
