#include "tile_cache.h"

#include <algorithm>

#include <sys/mman.h>

namespace korvane {

void* mapTileBytes(std::size_t bytes) noexcept
{
    void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return mapped == MAP_FAILED ? nullptr : mapped;
}

void unmapTileBytes(void* bytes, std::size_t count) noexcept
{
    ::munmap(bytes, count);
}

TileCache::TileCache(std::size_t budgetBytes)
    : m_budget(budgetBytes)
{
}

TilePtr TileCache::find(std::int64_t key)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return nullptr;
    m_order.splice(m_order.begin(), m_order, found->second.place);
    return found->second.tile;
}

bool TileCache::contains(std::int64_t key) const
{
    std::lock_guard lock(m_mutex);
    return m_entries.count(key) != 0;
}

void TileCache::insert(std::int64_t key, TilePtr tile)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        m_held -= found->second.tile->size();
        m_order.erase(found->second.place);
        m_entries.erase(found);
    }
    m_held += tile->size();
    m_order.push_front(key);
    m_entries.emplace(key, Entry{std::move(tile), m_order.begin()});
    evictOverBudget();
    m_peak = std::max(m_peak, m_held);
}

// The newest tile stays even when it alone is over budget: it was asked for.
void TileCache::evictOverBudget()
{
    while (m_held > m_budget && m_order.size() > 1) {
        const auto oldest = m_entries.find(m_order.back());
        m_held -= oldest->second.tile->size();
        m_entries.erase(oldest);
        m_order.pop_back();
    }
}

std::size_t TileCache::budgetBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_budget;
}

void TileCache::setBudget(std::size_t budgetBytes)
{
    std::lock_guard lock(m_mutex);
    m_budget = budgetBytes;
    evictOverBudget();
}

std::size_t TileCache::heldBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}

std::size_t TileCache::peakBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_peak;
}

} // namespace korvane
