#pragma once
// Auto-reset events, a mutex object and the monotonic millisecond clock.

#include <pthread.h>

#include <cstdint>
#include <string>

// Auto-reset event: one SetEvent releases one wait; a set with nobody waiting
// stays pending until the next wait. Owned by whoever declares it. Every call
// but CreateEvent on a destroyed event stops the process ("h.aval != -1").
struct MPEventID {
    pthread_mutex_t mutex;
    pthread_cond_t condition;  // on CLOCK_MONOTONIC
    std::int32_t aval = 0;     // 0 clear, 1 set, -1 destroyed
};

void CreateEvent(MPEventID& h);
void SetEvent(MPEventID& h);
void ResetEvent(MPEventID& h);
void WaitEvent(MPEventID& h);  // returns once the event was set; leaves it clear
// Waits up to `milliseconds` on the monotonic clock. signalled = true when the
// event was set (also when the set lands as the time runs out). The event is
// clear on return either way.
void WaitEventTimer(MPEventID& h, std::int32_t milliseconds, bool& signalled);
void DestroyEvent(MPEventID& h);

// A plain (by default non-recursive) mutex.
class CriticalSection {
public:
    explicit CriticalSection(int kind = 0);  // kind: POSIX mutex type
    virtual ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Lock();
    void Unlock();

private:
    pthread_mutexattr_t m_attributes;
    pthread_mutex_t m_mutex;
};

// Holds a CriticalSection locked for its own lifetime.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CriticalSectionLock() { m_cs.Unlock(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& m_cs;
};

// Milliseconds of the monotonic clock.
std::uint64_t TickCountMs();
// TickCountMs() modulo 100000 as decimal text without leading zeros.
std::string TickCountText();
std::string TickCountText(std::uint64_t milliseconds);  // same for a given clock value
