#include "mox_utils/cine/CriticalSection.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Threads increment a plain counter under the section, each time through
// nested locks taken in both forms (each form in turn the outer one), yielding
// between reading and writing it: a lock that did not exclude would lose
// increments.
TEST(CriticalSectionTest, ExcludesOtherThreadsWhileHeldReentrantly) {
  CriticalSection cs;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        CriticalSectionLock outer = i % 2 == 0 ? CriticalSectionLock(cs) : CriticalSectionLock(cs.record());
        const long seen = counter;
        std::this_thread::yield();
        CriticalSectionLock inner = i % 2 == 0 ? CriticalSectionLock(cs.record()) : CriticalSectionLock(cs);
        counter = seen + 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4 * 2000);
  EXPECT_EQ(cs.record()->RecursionCount, 0);
}

// Copies and assignments keep a lock of their own: holding one object never
// blocks another thread on its copy.
TEST(CriticalSectionTest, CopiesNeverShareALock) {
  CriticalSection original;
  CriticalSection copy(original);
  CriticalSection assigned;
  void* const assignedLock = assigned.record()->LockSemaphore;
  assigned = original;
  EXPECT_EQ(assigned.record()->LockSemaphore, assignedLock);
  // A shared lock would deadlock below.
  ASSERT_NE(copy.record()->LockSemaphore, original.record()->LockSemaphore);
  ASSERT_NE(assigned.record()->LockSemaphore, original.record()->LockSemaphore);
  CriticalSectionLock held(original);
  bool entered = false;
  std::thread([&] {
    CriticalSectionLock a(copy);
    CriticalSectionLock b(assigned);
    entered = true;
  }).join();
  EXPECT_TRUE(entered);
}

}  // namespace
