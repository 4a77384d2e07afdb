#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "CriticalSection.h"
#include "Subprocess.h"

namespace {

using std::chrono::milliseconds;

class CoreEvents : public ::testing::Test {
protected:
    void SetUp() override { CreateEvent(ev); }
    void TearDown() override { DestroyEvent(ev); }
    // Waits up to ms; returns whether the event was signalled and the time taken.
    bool TimedWait(std::int32_t ms, std::uint64_t* took = nullptr) {
        bool signalled = false;
        const std::uint64_t start = TickCountMs();
        WaitEventTimer(ev, ms, signalled);
        if (took) *took = TickCountMs() - start;
        return signalled;
    }
    MPEventID ev;
};

TEST_F(CoreEvents, PendingSetResetExpiryAndWake) {
    SetEvent(ev);
    EXPECT_TRUE(TimedWait(5000));  // a set before the wait stays pending
    EXPECT_FALSE(TimedWait(0));    // and the wait cleared it
    SetEvent(ev);
    WaitEvent(ev);  // returns at once
    SetEvent(ev);
    ResetEvent(ev);
    std::uint64_t took = 0;
    EXPECT_FALSE(TimedWait(150, &took));
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 3000u);
    std::thread setter([this] {
        std::this_thread::sleep_for(milliseconds(30));
        SetEvent(ev);
    });
    EXPECT_TRUE(TimedWait(10000, &took));  // woken by another thread, long before the limit
    setter.join();
    EXPECT_LT(took, 5000u);
}

TEST_F(CoreEvents, OneSetReleasesOneWaiter) {
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([this, &released] {
            WaitEvent(ev);
            ++released;
        });
    SetEvent(ev);
    ASSERT_TRUE(testsupport::WaitFor([&] { return released.load() >= 1; }, 5000));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(released.load(), 1);
    SetEvent(ev);
    ASSERT_TRUE(testsupport::WaitFor([&] { return released.load() == 2; }, 5000));
    for (auto& t : waiters) t.join();
}

// A set racing the expiry of a timed wait is never lost: the wait reports it, or it stays pending.
TEST_F(CoreEvents, SetAtExpiryIsNeverLost) {
    for (int round = 0; round < 200; ++round) {
        std::thread setter([this, round] {
            std::this_thread::sleep_for(std::chrono::microseconds(1500 + 5 * round));
            SetEvent(ev);
        });
        const bool signalled = TimedWait(2);
        setter.join();
        ASSERT_NE(signalled, TimedWait(0)) << "round " << round;
    }
}

TEST(CoreEventsDeath, DestroyedEventStopsTheProcess) {
    MPEventID ev;
    CreateEvent(ev);
    DestroyEvent(ev);
    EXPECT_DEATH(SetEvent(ev), "h.aval != -1");
    EXPECT_DEATH(WaitEvent(ev), "h.aval != -1");
}

TEST(CoreLocks, CriticalSectionSerialises) {
    CriticalSection cs;
    long counter = 0;  // plain on purpose: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CriticalSectionLock hold(cs);
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(CoreClock, TickCountTextIsTheLastFiveDigits) {
    EXPECT_EQ(TickCountText(1234567u), "34567");
    EXPECT_EQ(TickCountText(100000u), "0");
    EXPECT_EQ(TickCountText(5000000099999ull), "99999");  // beyond 32 bits
}

}  // namespace
