#include "mox_utils/cine/CriticalSection.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Threads increment a plain counter under the section, each time through
// nested locks taken in both forms; a lock that did not exclude would lose
// increments (and ThreadSanitizer would report the race).
TEST(CriticalSectionTest, ExcludesOtherThreadsWhileHeldReentrantly) {
  CriticalSection cs;
  long counter = 0;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        CriticalSectionLock outer(cs);
        const long seen = counter;
        {
          CriticalSectionLock inner(cs.record());
          counter = seen + 1;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
  EXPECT_EQ(cs.record()->RecursionCount, 0);
}

// Copies and assignments keep a lock of their own: holding one object never
// blocks another thread on its copy (a shared record would deadlock here).
TEST(CriticalSectionTest, CopiesNeverShareALock) {
  CriticalSection original;
  CriticalSection copy(original);
  CriticalSection assigned;
  void* const assignedLock = assigned.record()->LockSemaphore;
  assigned = original;
  EXPECT_EQ(assigned.record()->LockSemaphore, assignedLock);
  EXPECT_NE(copy.record()->LockSemaphore, original.record()->LockSemaphore);
  EXPECT_NE(assigned.record()->LockSemaphore, original.record()->LockSemaphore);

  CriticalSectionLock held(original);
  bool entered = false;
  std::thread other([&] {
    CriticalSectionLock a(copy);
    CriticalSectionLock b(assigned);
    entered = true;
  });
  other.join();
  EXPECT_TRUE(entered);
}

}  // namespace
