#include "mox_utils/platform/Mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

using mox::platform::MutexHandle;
using mox::platform::WaitResult;

namespace {

// Holds a mutex on another thread until told to let go.
class OtherHolder {
 public:
  explicit OtherHolder(MutexHandle mutex) : m_mutex(std::move(mutex)) {
    std::future<void> held = m_holding.get_future();
    m_thread = std::thread([this] {
      const WaitResult r = m_mutex.wait(mox::platform::kInfinite);
      m_holding.set_value();
      m_letGo.get_future().wait();
      if (r == WaitResult::Signaled) m_mutex.release();
    });
    held.wait();
  }
  ~OtherHolder() { letGo(); }
  void letGo() {
    if (m_thread.joinable()) {
      m_letGo.set_value();
      m_thread.join();
    }
  }

 private:
  MutexHandle m_mutex;
  std::promise<void> m_holding;
  std::promise<void> m_letGo;
  std::thread m_thread;
};

}  // namespace

TEST(MutexTest, TimedWaitGivesUpWhileHeldAndTakesOverOnRelease) {
  MutexHandle m = MutexHandle::create();
  OtherHolder holder(m);
  EXPECT_EQ(m.wait(0), WaitResult::Timeout);
  EXPECT_EQ(m.wait(20), WaitResult::Timeout);
  // A timed wait that gave up early would miss a release during the wait.
  std::thread releaser([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    holder.letGo();
  });
  EXPECT_EQ(m.wait(60000), WaitResult::Signaled);
  releaser.join();
  EXPECT_TRUE(m.release());
}

TEST(MutexTest, OnlyTheOwnerReleasesAndAWaiterTakesOver) {
  MutexHandle m = MutexHandle::create();
  ASSERT_EQ(m.wait(0), WaitResult::Signaled);
  bool releasedByOther = true;
  std::thread([&] { releasedByOther = m.release(); }).join();
  EXPECT_FALSE(releasedByOther);  // only the owner releases
  std::promise<WaitResult> result;
  std::thread waiter([&] {
    const WaitResult r = m.wait(-1);
    result.set_value(r);
    if (r == WaitResult::Signaled) m.release();
  });
  EXPECT_TRUE(m.release());
  EXPECT_EQ(result.get_future().get(), WaitResult::Signaled);
  waiter.join();
}

TEST(MutexTest, CopiesShareOneMutexAndOutliveItsClose) {
  MutexHandle m = MutexHandle::create();
  MutexHandle copy = m;
  EXPECT_TRUE(copy == m);
  EXPECT_FALSE(MutexHandle::create() == m);
  {
    OtherHolder holder(copy);
    EXPECT_EQ(m.wait(0), WaitResult::Timeout);
  }
  EXPECT_TRUE(m.close());
  EXPECT_FALSE(m.close());
  EXPECT_FALSE(m.valid());
  EXPECT_EQ(m.wait(0), WaitResult::Failed);
  EXPECT_FALSE(m.release());
  EXPECT_EQ(copy.wait(0), WaitResult::Signaled);
  EXPECT_TRUE(copy.release());

  MutexHandle null;
  EXPECT_EQ(null.wait(-1), WaitResult::Failed);  // must not block
  EXPECT_FALSE(null.close());
}

TEST(MutexTest, ExcludesOtherThreads) {
  MutexHandle m = MutexHandle::create();
  long counter = 0;  // plain on purpose: only the mutex protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(m.wait(-1), WaitResult::Signaled);
        ASSERT_EQ(m.wait(0), WaitResult::Signaled);  // nested hold
        ++counter;
        m.release();
        m.release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
  EXPECT_FALSE(m.release());  // every hold was released
}
