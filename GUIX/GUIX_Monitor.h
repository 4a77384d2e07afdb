#pragma once
// A plain (non-recursive) lock; base of the locked containers and the application.

#include <mutex>

class GUIX_Monitor {
public:
    GUIX_Monitor() = default;
    GUIX_Monitor(const GUIX_Monitor&) = delete;
    GUIX_Monitor& operator=(const GUIX_Monitor&) = delete;

    void lock() const;
    void unlock() const;

protected:
    std::mutex& monitorMutex() const { return m_mutex; }

private:
    mutable std::mutex m_mutex;
};
