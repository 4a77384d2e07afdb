#include "CriticalSection.h"

// The assertions here guard programming errors and stay on in release builds.
#undef NDEBUG
#include <assert.h>

#include <time.h>

#include <cinttypes>
#include <cstdio>

namespace {

// aval is also read outside the mutex by the destroyed-event check, so every
// access is atomic; the mutex still orders the state changes.
std::int32_t Aval(const MPEventID& h) { return __atomic_load_n(&h.aval, __ATOMIC_RELAXED); }
void SetAval(MPEventID& h, std::int32_t v) { __atomic_store_n(&h.aval, v, __ATOMIC_RELAXED); }

}  // namespace

// A call on a destroyed event is a programming error: stop in every build type.
#define SA_REQUIRE_LIVE(h) \
    (Aval(h) != -1 ? void(0) : __assert_fail("h.aval != -1", __FILE__, __LINE__, __PRETTY_FUNCTION__))

void CreateEvent(MPEventID& h) {
    pthread_mutex_init(&h.mutex, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    // Timed waits measure on the monotonic clock, so setting the wall clock back
    // or forward neither stretches nor cuts them.
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&h.condition, &attributes);
    pthread_condattr_destroy(&attributes);
    SetAval(h, 0);
}

void SetEvent(MPEventID& h) {
    SA_REQUIRE_LIVE(h);
    pthread_mutex_lock(&h.mutex);
    SetAval(h, 1);
    pthread_cond_broadcast(&h.condition);
    pthread_mutex_unlock(&h.mutex);
}

void ResetEvent(MPEventID& h) {
    SA_REQUIRE_LIVE(h);
    pthread_mutex_lock(&h.mutex);
    SetAval(h, 0);
    pthread_mutex_unlock(&h.mutex);
}

void WaitEvent(MPEventID& h) {
    SA_REQUIRE_LIVE(h);
    pthread_mutex_lock(&h.mutex);
    while (Aval(h) == 0) pthread_cond_wait(&h.condition, &h.mutex);
    SetAval(h, 0);
    pthread_mutex_unlock(&h.mutex);
}

void WaitEventTimer(MPEventID& h, std::int32_t milliseconds, bool& signalled) {
    SA_REQUIRE_LIVE(h);
    pthread_mutex_lock(&h.mutex);
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (milliseconds > 0) {
        deadline.tv_sec += milliseconds / 1000;
        long nsec = deadline.tv_nsec + static_cast<long>(milliseconds % 1000) * 1000000L;
        deadline.tv_sec += nsec / 1000000000L;
        deadline.tv_nsec = nsec % 1000000000L;
    }
    while (Aval(h) == 0) {
        if (pthread_cond_timedwait(&h.condition, &h.mutex, &deadline) != 0) break;
    }
    // Decided on the event itself: a set that lands as the wait times out counts.
    signalled = (Aval(h) != 0);
    SetAval(h, 0);
    pthread_mutex_unlock(&h.mutex);
}

void DestroyEvent(MPEventID& h) {
    SA_REQUIRE_LIVE(h);
    pthread_mutex_lock(&h.mutex);
    SetAval(h, -1);
    pthread_mutex_unlock(&h.mutex);
    pthread_cond_destroy(&h.condition);
    pthread_mutex_destroy(&h.mutex);
}

CriticalSection::CriticalSection(int kind) {
    pthread_mutexattr_init(&m_attributes);
    pthread_mutexattr_settype(&m_attributes, kind);
    pthread_mutex_init(&m_mutex, &m_attributes);
}

CriticalSection::~CriticalSection() {
    pthread_mutex_destroy(&m_mutex);
    pthread_mutexattr_destroy(&m_attributes);
}

void CriticalSection::Lock() { pthread_mutex_lock(&m_mutex); }

void CriticalSection::Unlock() { pthread_mutex_unlock(&m_mutex); }

std::uint64_t TickCountMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Widen before multiplying: time_t may be 32 bits wide.
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::string TickCountText(std::uint64_t milliseconds) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, milliseconds % 100000u);
    return text;
}

std::string TickCountText() { return TickCountText(TickCountMs()); }
