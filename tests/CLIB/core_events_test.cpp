#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "CriticalSection.h"
#include "Subprocess.h"

namespace {

class CoreEvents : public ::testing::Test {
protected:
  void SetUp() override { CreateEvent(ev); }
  void TearDown() override { DestroyEvent(ev); }
  MPEventID ev;
};

TEST_F(CoreEvents, SetBeforeWaitIsPendingAndResetCancelsIt) {
  bool signalled = false;
  SetEvent(ev);
  const std::uint64_t start = TickCountMs();
  WaitEventTimer(ev, 5000, signalled);
  EXPECT_TRUE(signalled);
  EXPECT_LT(TickCountMs() - start, 1000u);
  WaitEventTimer(ev, 0, signalled); // the wait left the event clear
  EXPECT_FALSE(signalled);

  SetEvent(ev);
  WaitEvent(ev); // returns at once
  SetEvent(ev);
  ResetEvent(ev);
  WaitEventTimer(ev, 20, signalled);
  EXPECT_FALSE(signalled);
}

TEST_F(CoreEvents, TimedWaitRunsOutOnTheMonotonicClock) {
  bool signalled = true;
  const std::uint64_t start = TickCountMs();
  WaitEventTimer(ev, 150, signalled);
  const std::uint64_t elapsed = TickCountMs() - start;
  EXPECT_FALSE(signalled);
  EXPECT_GE(elapsed, 150u);
  EXPECT_LT(elapsed, 3000u);
}

TEST_F(CoreEvents, SetFromAnotherThreadWakesTheTimedWait) {
  bool signalled = false;
  std::thread setter([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(ev);
  });
  const std::uint64_t start = TickCountMs();
  WaitEventTimer(ev, 10000, signalled);
  setter.join();
  EXPECT_TRUE(signalled);
  EXPECT_LT(TickCountMs() - start, 5000u);
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
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(released.load(), 1);
  SetEvent(ev);
  ASSERT_TRUE(testsupport::WaitFor([&] { return released.load() == 2; }, 5000));
  for (auto& t : waiters) t.join();
}

// A set that races with the expiry of a timed wait is never lost: either the
// wait reports it, or it is still pending afterwards.
TEST_F(CoreEvents, SetAtExpiryIsNeverLost) {
  for (int round = 0; round < 200; ++round) {
    bool signalled = false, pending = false;
    std::thread setter([this, round] {
      std::this_thread::sleep_for(std::chrono::microseconds(1500 + 5 * (round % 200)));
      SetEvent(ev);
    });
    WaitEventTimer(ev, 2, signalled);
    setter.join();
    WaitEventTimer(ev, 0, pending);
    ASSERT_NE(signalled, pending) << "round " << round;
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
  long counter = 0; // plain on purpose: only the lock protects it
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

TEST(CoreClock, TickCount) {
  EXPECT_EQ(TickCountText(1234567u), "34567");
  EXPECT_EQ(TickCountText(100000u), "0");
  EXPECT_EQ(TickCountText(5000000099999ull), "99999"); // beyond 32 bits
  const std::uint64_t a = TickCountMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::uint64_t b = TickCountMs();
  EXPECT_GE(b - a, 20u);
  EXPECT_LT(b - a, 5000u);
  const std::string now = TickCountText();
  EXPECT_FALSE(now.empty());
  EXPECT_LE(now.size(), 5u);
  EXPECT_TRUE(now == "0" || now[0] != '0');
}

} // namespace
