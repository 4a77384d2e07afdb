#include "GUIX_WaitEvent.h"

#include <chrono>

GUIX_WaitEvent::GUIX_WaitEvent(bool manual) : m_signalled(!manual), m_autoReset(!manual) {}

GUIX_WaitEvent::~GUIX_WaitEvent() {
    // Let anybody still waiting on value 0 through before the object goes.
    std::lock_guard<std::mutex> g(m_mutex);
    m_autoReset = true;
    m_value = 0;
    m_signalled = true;
    m_cond.notify_all();
}

void GUIX_WaitEvent::signal(std::int32_t value) {
    std::lock_guard<std::mutex> g(m_mutex);
    m_value = value;
    m_signalled = true;
    m_cond.notify_all();
}

void GUIX_WaitEvent::wait(std::int32_t value) {
    std::unique_lock<std::mutex> g(m_mutex);
    m_cond.wait(g, [&] { return m_signalled && m_value == value; });
    m_signalled = m_autoReset;
}

bool GUIX_WaitEvent::wait(std::int32_t value, int timeoutMs) {
    std::unique_lock<std::mutex> g(m_mutex);
    if (!m_cond.wait_for(g, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                         [&] { return m_signalled && m_value == value; }))
        return false;
    m_signalled = m_autoReset;
    return true;
}

void GUIX_WaitEvent::reset() {
    std::lock_guard<std::mutex> g(m_mutex);
    m_signalled = false;
}

bool GUIX_WaitEvent::isSignalled() const {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_signalled;
}

std::int32_t GUIX_WaitEvent::value() const {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_value;
}
