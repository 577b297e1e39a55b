#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <utility>

namespace vennimo {

// A thread-safe in-memory cache with a count limit and a total-cost limit (0 means no limit).
// The least recently used entries go first when either limit is passed; an entry that alone
// costs more than the limit is not kept.
template <class Value>
class MemoryCache {
public:
    MemoryCache(int countLimit, std::int64_t costLimit)
        : m_countLimit(countLimit)
        , m_costLimit(costLimit) {}

    std::optional<Value> value(const QString& key) {
        std::lock_guard lock(m_mutex);
        auto it = m_index.find(key);
        if (it == m_index.end())
            return std::nullopt;
        m_order.splice(m_order.begin(), m_order, it.value());
        return it.value()->value;
    }

    bool contains(const QString& key) const {
        std::lock_guard lock(m_mutex);
        return m_index.contains(key);
    }

    void insert(const QString& key, Value value, std::int64_t cost) {
        std::lock_guard lock(m_mutex);
        removeLocked(key);
        m_order.push_front(Entry{key, std::move(value), cost});
        m_index.insert(key, m_order.begin());
        m_totalCost += cost;
        while (!m_order.empty() &&
               (int(m_order.size()) > m_countLimit || (m_costLimit > 0 && m_totalCost > m_costLimit)))
            removeLocked(m_order.back().key);
    }

    void remove(const QString& key) {
        std::lock_guard lock(m_mutex);
        removeLocked(key);
    }

    void clear() {
        std::lock_guard lock(m_mutex);
        m_order.clear();
        m_index.clear();
        m_totalCost = 0;
    }

    // Every entry, the most recently used first.
    QList<std::pair<QString, Value>> entries() const {
        std::lock_guard lock(m_mutex);
        QList<std::pair<QString, Value>> all;
        all.reserve(qsizetype(m_order.size()));
        for (const Entry& entry : m_order)
            all.append({entry.key, entry.value});
        return all;
    }

    int count() const {
        std::lock_guard lock(m_mutex);
        return int(m_order.size());
    }

    std::int64_t totalCost() const {
        std::lock_guard lock(m_mutex);
        return m_totalCost;
    }

    int countLimit() const { return m_countLimit; }
    std::int64_t costLimit() const { return m_costLimit; }

private:
    struct Entry {
        QString key;
        Value value;
        std::int64_t cost = 0;
    };

    void removeLocked(const QString& key) {
        auto it = m_index.find(key);
        if (it == m_index.end())
            return;
        m_totalCost -= it.value()->cost;
        m_order.erase(it.value());
        m_index.erase(it);
    }

    const int m_countLimit;
    const std::int64_t m_costLimit;
    mutable std::mutex m_mutex;
    std::list<Entry> m_order;
    QHash<QString, typename std::list<Entry>::iterator> m_index;
    std::int64_t m_totalCost = 0;
};

} // namespace vennimo
