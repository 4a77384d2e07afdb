#pragma once
// FIFO whose every operation holds the lock for its whole duration.

#include <deque>

#include "GUIX_Monitor.h"

template <class T>
class GUIX_Queue : private GUIX_Monitor {
public:
    void push(const T& v) {
        std::lock_guard<std::mutex> g(monitorMutex());
        m_queue.push_back(v);
    }
    bool pop(T& out) {
        std::lock_guard<std::mutex> g(monitorMutex());
        if (m_queue.empty()) return false;
        out = m_queue.front();
        m_queue.pop_front();
        return true;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> g(monitorMutex());
        return m_queue.size();
    }

private:
    std::deque<T> m_queue;
};
