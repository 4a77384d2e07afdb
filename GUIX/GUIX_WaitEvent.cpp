#include "GUIX_WaitEvent.h"

#include <time.h>

GUIX_WaitEvent::GUIX_WaitEvent(bool manual) : m_signalled(!manual), m_autoReset(!manual) {
    // Bounded waits measure on the monotonic clock: setting the wall clock
    // back or forward neither stretches nor cuts them.
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&m_cond, &attributes);
    pthread_condattr_destroy(&attributes);
}

GUIX_WaitEvent::~GUIX_WaitEvent() {
    {
        // Let anybody still waiting on value 0 through before the object goes.
        std::lock_guard<std::mutex> g(m_mutex);
        m_autoReset = true;
        m_value = 0;
        m_signalled = true;
        pthread_cond_broadcast(&m_cond);
    }
    pthread_cond_destroy(&m_cond);
}

void GUIX_WaitEvent::signal(std::int32_t value) {
    std::lock_guard<std::mutex> g(m_mutex);
    m_value = value;
    m_signalled = true;
    pthread_cond_broadcast(&m_cond);
}

void GUIX_WaitEvent::wait(std::int32_t value) {
    std::unique_lock<std::mutex> g(m_mutex);
    while (!(m_signalled && m_value == value)) pthread_cond_wait(&m_cond, m_mutex.native_handle());
    m_signalled = m_autoReset;
}

bool GUIX_WaitEvent::wait(std::int32_t value, int timeoutMs) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (timeoutMs > 0) {
        deadline.tv_sec += timeoutMs / 1000;
        const long nsec = deadline.tv_nsec + static_cast<long>(timeoutMs % 1000) * 1000000L;
        deadline.tv_sec += nsec / 1000000000L;
        deadline.tv_nsec = nsec % 1000000000L;
    }
    std::unique_lock<std::mutex> g(m_mutex);
    while (!(m_signalled && m_value == value)) {
        if (pthread_cond_timedwait(&m_cond, m_mutex.native_handle(), &deadline) != 0) {
            // Decided on the state: a signal that lands as the wait times out counts.
            if (!(m_signalled && m_value == value)) return false;
        }
    }
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
