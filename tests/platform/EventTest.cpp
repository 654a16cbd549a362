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

// A timed wait that returned at once, or timed out too early, would miss a
// set that comes while it waits.
TEST(EventTest, TimedWaitEndsWhenAnotherThreadSets) {
  EventHandle e = createEvent(false, false);
  std::thread setter([e] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    setEvent(e);
  });
  EXPECT_EQ(waitEvent(e, 60000), WaitResult::Signaled);
  setter.join();
  closeEvent(e);
}

TEST(EventTest, ClosedNullAndForeignHandlesFail) {
  EventHandle closed = createEvent(true, true);
  ASSERT_TRUE(closeEvent(closed));
  // A later event never answers to the old handle.
  EventHandle later = createEvent(true, true);
  EXPECT_NE(later, closed);
  int notAnEvent = 0;
  for (EventHandle dead : {closed, static_cast<EventHandle>(nullptr), static_cast<EventHandle>(&notAnEvent)}) {
    SCOPED_TRACE(dead == closed ? "closed" : dead == nullptr ? "null" : "not an event");
    EXPECT_FALSE(setEvent(dead));
    EXPECT_FALSE(resetEvent(dead));
    EXPECT_EQ(waitEvent(dead, -1), WaitResult::Failed);  // must not block
    EXPECT_FALSE(closeEvent(dead));
  }
  closeEvent(later);
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
