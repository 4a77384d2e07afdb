#pragma once
// Doubly linked list whose every operation holds the lock for its whole duration.

#include <algorithm>
#include <list>
#include <vector>

#include "GUIX_Monitor.h"

template <class T>
class GUIX_List : private GUIX_Monitor {
public:
    void pushBack(const T& v) {
        std::lock_guard<std::mutex> g(monitorMutex());
        m_list.push_back(v);
    }
    // Removes the first element equal to v; false when there was none.
    bool remove(const T& v) {
        std::lock_guard<std::mutex> g(monitorMutex());
        auto it = std::find(m_list.begin(), m_list.end(), v);
        if (it == m_list.end()) return false;
        m_list.erase(it);
        return true;
    }
    bool contains(const T& v) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return std::find(m_list.begin(), m_list.end(), v) != m_list.end();
    }
    bool front(T& out) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        if (m_list.empty()) return false;
        out = m_list.front();
        return true;
    }
    // The element after v, wrapping to the first; false when v is absent.
    bool nextAfter(const T& v, T& out) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        auto it = std::find(m_list.begin(), m_list.end(), v);
        if (it == m_list.end()) return false;
        ++it;
        out = (it == m_list.end()) ? m_list.front() : *it;
        return true;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return m_list.size();
    }
    void clear() {
        std::lock_guard<std::mutex> g(monitorMutex());
        m_list.clear();
    }
    template <class F>
    void forEach(F&& fn) const {
        std::lock_guard<std::mutex> g(monitorMutex());
        for (const auto& v : m_list) fn(v);
    }
    std::vector<T> snapshot() const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return std::vector<T>(m_list.begin(), m_list.end());
    }

private:
    std::list<T> m_list;
};
