#pragma once
// Ordered map whose every operation holds the lock for its whole duration
// (forEach included: the callback runs with the map locked).

#include <map>

#include "GUIX_Monitor.h"

template <class K, class V>
class GUIX_Map : private GUIX_Monitor {
public:
    // False when the key was already present (the value is then replaced).
    bool insert(const K& key, const V& value) {
        std::lock_guard<std::mutex> g(monitorMutex());
        auto r = m_map.insert_or_assign(key, value);
        return r.second;
    }
    bool erase(const K& key) {
        std::lock_guard<std::mutex> g(monitorMutex());
        return m_map.erase(key) > 0;
    }
    bool find(const K& key, V& out) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        auto it = m_map.find(key);
        if (it == m_map.end()) return false;
        out = it->second;
        return true;
    }
    bool contains(const K& key) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return m_map.count(key) > 0;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return m_map.size();
    }
    template <class F>
    void forEach(F&& fn) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        for (const auto& [k, v] : m_map) fn(k, v);
    }
    // Empties the map and hands its content to the caller.
    std::map<K, V> takeAll() {
        std::lock_guard<std::mutex> g(monitorMutex());
        std::map<K, V> out;
        out.swap(m_map);
        return out;
    }

private:
    std::map<K, V> m_map;
};
