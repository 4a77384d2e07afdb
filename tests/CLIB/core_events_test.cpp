// Auto-reset events on the monotonic clock.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "CriticalSection.h"
#include "Subprocess.h"

namespace {
// While set, a timed wait on this event times out and a set lands before the
// waiter has the mutex back: the race of a SetEvent at the deadline, every time.
MPEventID* g_setAtExpiry = nullptr;
}  // namespace

extern "C" int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const timespec* until) {
    using Wait = int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*);
    static const auto real = reinterpret_cast<Wait>(dlsym(RTLD_NEXT, "pthread_cond_timedwait"));
    const int result = real(cond, mutex, until);
    // The mutex is held again here, as SetEvent holds it.
    if (result == ETIMEDOUT && g_setAtExpiry && cond == &g_setAtExpiry->condition)
        __atomic_store_n(&g_setAtExpiry->aval, 1, __ATOMIC_RELAXED);
    return result;
}

namespace {

class CoreEvents : public ::testing::Test {
protected:
    void SetUp() override { CreateEvent(ev); }
    void TearDown() override { DestroyEvent(ev); }
    bool TimedWait(std::int32_t ms) {
        bool signalled = false;
        WaitEventTimer(ev, ms, signalled);
        return signalled;
    }
    MPEventID ev;
};

TEST_F(CoreEvents, PendingSetIsTakenOnceAndTimedWaitsLastTheirTime) {
    SetEvent(ev);
    EXPECT_TRUE(TimedWait(5000));
    EXPECT_FALSE(TimedWait(0)) << "the wait clears the event";
    SetEvent(ev);
    ResetEvent(ev);
    const std::uint64_t start = TickCountMs();
    EXPECT_FALSE(TimedWait(150));
    EXPECT_GE(TickCountMs() - start, 150u) << "measured on another clock than its deadline";
}

TEST_F(CoreEvents, SetThatLandsAsTheWaitTimesOutIsReported) {
    g_setAtExpiry = &ev;
    EXPECT_TRUE(TimedWait(10));
    g_setAtExpiry = nullptr;
    EXPECT_FALSE(TimedWait(0)) << "and taken";
}

}  // namespace
