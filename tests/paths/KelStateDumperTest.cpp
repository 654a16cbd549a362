#include "mox_utils/paths/KelStateDumper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Records, in call order, which dumper was asked for which directory.
using CallLog = std::vector<std::pair<const KelStateDumper*, std::wstring>>;

class Recorder : public KelStateDumper {
 public:
  explicit Recorder(CallLog& log) : m_log(&log) {}
  void dumpState(const std::wstring& directory) override { m_log->emplace_back(this, directory); }

 private:
  CallLog* m_log;
};

// Restores the root path each test changes.
class KelStateDumperTest : public ::testing::Test {
 protected:
  void SetUp() override { m_savedRoot = KelStateDumper::getRootPath(); }
  void TearDown() override { KelStateDumper::setRootPath(m_savedRoot); }

 private:
  std::wstring m_savedRoot;
};

TEST_F(KelStateDumperTest, DumpAllCallsEveryDumperInAddressOrderWithTheChosenDirectory) {
  CallLog log;
  std::vector<std::unique_ptr<Recorder>> dumpers;
  for (int i = 0; i < 5; ++i) dumpers.push_back(std::make_unique<Recorder>(log));
  std::vector<const KelStateDumper*> byAddress;
  for (const auto& d : dumpers) byAddress.push_back(d.get());
  std::sort(byAddress.begin(), byAddress.end(), std::less<const KelStateDumper*>());

  KelStateDumper::setRootPath(L"C:\\dumps\\root");
  // An empty directory falls back to the root path.
  for (const std::wstring directory : {L"D:\\incident\\42", L""}) {
    KelStateDumper::dumpAll(directory);
    ASSERT_EQ(log.size(), byAddress.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
      EXPECT_EQ(log[i].first, byAddress[i]);
      EXPECT_EQ(log[i].second, directory.empty() ? L"C:\\dumps\\root" : directory);
    }
    log.clear();
  }
  EXPECT_EQ(KelStateDumper::getRootPath(), L"C:\\dumps\\root");
}

TEST_F(KelStateDumperTest, OnlyLiveOriginalsAreRegistered) {
  CallLog log;
  auto original = std::make_unique<Recorder>(log);
  std::make_unique<Recorder>(log).reset();
  {
    Recorder copy(*original);
    Recorder assigned(log);
    assigned = *original;  // keeps its own registration, adds none
    KelStateDumper::dumpAll(L"x");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(std::set<const KelStateDumper*>({log[0].first, log[1].first}),
              std::set<const KelStateDumper*>({original.get(), &assigned}));
    log.clear();
  }
  // Destroying the copy did not unregister the object it was copied from.
  KelStateDumper::dumpAll(L"x");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].first, original.get());
}

// A dump operation runs under the registry lock; the lock is re-entrant, so
// the operation may read and replace the root path. The directory handed on
// was chosen before the walk.
TEST_F(KelStateDumperTest, DumpOperationMayUseTheRootPath) {
  class RootUser : public KelStateDumper {
   public:
    void dumpState(const std::wstring& directory) override {
      seen.emplace_back(directory, getRootPath());
      setRootPath(getRootPath() + L"+");
    }
    std::vector<std::pair<std::wstring, std::wstring>> seen;
  };
  RootUser first, second;
  KelStateDumper::setRootPath(L"r");
  KelStateDumper::dumpAll(L"");
  ASSERT_EQ(first.seen.size(), 1u);
  ASSERT_EQ(second.seen.size(), 1u);
  EXPECT_EQ(first.seen[0].first, L"r");
  EXPECT_EQ(second.seen[0].first, L"r");
  EXPECT_EQ(KelStateDumper::getRootPath(), L"r++");
}

// One thread's dump operation hangs with the lock held: a second dumpAll
// waits its bounded time and then walks anyway, while getRootPath on a third
// thread waits for the lock without limit.
TEST_F(KelStateDumperTest, DumpAllGoesAheadWhenTheLockIsHeldTooLong) {
  struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
  } gate;
  class Blocker : public KelStateDumper {
   public:
    Blocker(Gate& g, std::thread::id blockOn) : m_gate(g), m_blockOn(blockOn) {}
    void dumpState(const std::wstring& directory) override {
      std::unique_lock<std::mutex> hold(m_gate.lock);
      calls.push_back(directory);
      if (std::this_thread::get_id() != m_blockOn) return;
      m_gate.entered = true;
      m_gate.changed.notify_all();
      m_gate.changed.wait(hold, [this] { return m_gate.released; });
    }
    std::vector<std::wstring> calls;  // Guarded by m_gate.lock.

   private:
    Gate& m_gate;
    std::thread::id m_blockOn;
  };

  std::promise<std::thread::id> holderId;
  std::promise<void> go;
  std::thread holder([&] {
    holderId.set_value(std::this_thread::get_id());
    go.get_future().wait();
    KelStateDumper::dumpAll(L"held");
  });
  Blocker blocker(gate, holderId.get_future().get());
  go.set_value();
  {
    std::unique_lock<std::mutex> hold(gate.lock);
    gate.changed.wait(hold, [&] { return gate.entered; });
  }

  std::atomic<bool> rootRead{false};
  std::thread reader([&] {
    (void)KelStateDumper::getRootPath();
    rootRead = true;
  });

  const auto start = std::chrono::steady_clock::now();
  KelStateDumper::dumpAll(L"late");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  {
    std::lock_guard<std::mutex> hold(gate.lock);
    EXPECT_EQ(blocker.calls, (std::vector<std::wstring>{L"held", L"late"}));
  }
  EXPECT_FALSE(rootRead.load());  // still waiting for the holder

  {
    std::lock_guard<std::mutex> hold(gate.lock);
    gate.released = true;
  }
  gate.changed.notify_all();
  holder.join();
  reader.join();
  EXPECT_TRUE(rootRead.load());
}

}  // namespace
