#pragma once
// Handshake object: signal(v) stores v and wakes every waiter; wait(v) blocks
// until signalled with value v. A "manual" object starts unsignalled and goes
// back to unsignalled after each successful wait; a non-manual one starts
// signalled (value 0) and stays signalled, so any number of threads get through.

#include <pthread.h>

#include <cstdint>
#include <mutex>

class GUIX_WaitEvent {
public:
    explicit GUIX_WaitEvent(bool manual);
    ~GUIX_WaitEvent();
    GUIX_WaitEvent(const GUIX_WaitEvent&) = delete;
    GUIX_WaitEvent& operator=(const GUIX_WaitEvent&) = delete;

    void signal(std::int32_t value);
    void wait(std::int32_t value);
    // Bounded form; false when timeoutMs passed first.
    bool wait(std::int32_t value, int timeoutMs);
    // Back to unsignalled.
    void reset();

    bool isSignalled() const;
    std::int32_t value() const;

private:
    mutable std::mutex m_mutex;
    pthread_cond_t m_cond;  // on the monotonic clock
    bool m_signalled;
    bool m_autoReset;  // what m_signalled becomes after a successful wait
    std::int32_t m_value = 0;
};
