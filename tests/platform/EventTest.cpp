#include "mox_utils/platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using mox::platform::closeEvent;
using mox::platform::createEvent;
using mox::platform::EventHandle;
using mox::platform::resetEvent;
using mox::platform::setEvent;
using mox::platform::waitEvent;
using mox::platform::WaitResult;

// Each event runs through its steps: s = set, r = reset, S / T = a wait(0)
// that must be signalled / time out.
TEST(EventTest, AutoResetReleasesOneWaitAndManualResetStaysSignalled) {
  struct Case {
    const char* name;
    bool manual, initial;
    const char* steps;
  } cases[] = {
      {"auto", false, false, "TssST"},  // a second set does not count twice
      {"auto, initially set", false, true, "ST"},
      {"manual", true, true, "SSrTrTsS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventHandle e = createEvent(c.manual, c.initial);
    ASSERT_NE(e, nullptr);
    for (const char* p = c.steps; *p != '\0'; ++p) {
      const bool ok = *p == 's'   ? setEvent(e)
                      : *p == 'r' ? resetEvent(e)
                                  : waitEvent(e, 0) == (*p == 'S' ? WaitResult::Signaled : WaitResult::Timeout);
      EXPECT_TRUE(ok) << "step " << p - c.steps << " '" << *p << "'";
    }
    EXPECT_TRUE(closeEvent(e));
  }
}

TEST(EventTest, TimedWaitLastsAtLeastItsTimeout) {
  EventHandle e = createEvent(false, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitEvent(e, 30), WaitResult::Timeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  closeEvent(e);
}

TEST(EventTest, ClosedOnceAndStaleHandlesFail) {
  EventHandle e = createEvent(true, true);
  ASSERT_TRUE(closeEvent(e));
  EXPECT_FALSE(closeEvent(e));
  EXPECT_FALSE(setEvent(e));
  EXPECT_FALSE(resetEvent(e));
  EXPECT_EQ(waitEvent(e, -1), WaitResult::Failed);  // must not block
  // A later event never answers to the old handle.
  EventHandle later = createEvent(true, true);
  EXPECT_NE(later, e);
  EXPECT_EQ(waitEvent(e, 0), WaitResult::Failed);
  closeEvent(later);

  EXPECT_FALSE(setEvent(nullptr));
  EXPECT_FALSE(resetEvent(nullptr));
  EXPECT_FALSE(closeEvent(nullptr));
  EXPECT_EQ(waitEvent(nullptr, -1), WaitResult::Failed);
  int notAnEvent = 0;
  EXPECT_FALSE(setEvent(&notAnEvent));
}

TEST(EventTest, ManualResetWakesEveryWaiter) {
  EventHandle go = createEvent(true, false);
  EventHandle done = createEvent(false, false);
  constexpr int kWaiters = 4;
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    threads.emplace_back([&] {
      if (waitEvent(go, -1) == WaitResult::Signaled && ++woken == kWaiters) setEvent(done);
    });
  }
  setEvent(go);
  EXPECT_EQ(waitEvent(done, -1), WaitResult::Signaled);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(woken.load(), kWaiters);
  closeEvent(go);
  closeEvent(done);
}

TEST(EventTest, AutoResetHandsEachSetToOneWaiter) {
  EventHandle item = createEvent(false, false);
  constexpr int kWaiters = 3;
  constexpr int kItems = 300;
  std::atomic<int> taken{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    threads.emplace_back([&] {
      while (!stop) {
        if (waitEvent(item, 5) == WaitResult::Signaled) ++taken;
      }
    });
  }
  // Each set is handed on only after it was taken, so none merges with the next.
  for (int i = 0; i < kItems; ++i) {
    setEvent(item);
    while (taken.load() <= i) std::this_thread::yield();
  }
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(taken.load(), kItems);
  EXPECT_EQ(waitEvent(item, 0), WaitResult::Timeout);
  closeEvent(item);
}
