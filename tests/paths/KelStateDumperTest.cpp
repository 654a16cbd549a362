#include "mox_utils/paths/KelStateDumper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A dumper whose dump operation runs the function it was made with.
class Hook : public KelStateDumper {
 public:
  using Body = std::function<void(const KelStateDumper*, const std::wstring&)>;
  explicit Hook(Body body) : m_body(std::move(body)) {}
  void dumpState(const std::wstring& directory) override { m_body(this, directory); }

 private:
  Body m_body;
};

// Records, in call order, which dumper was asked for which directory.
using CallLog = std::vector<std::pair<const KelStateDumper*, std::wstring>>;

Hook::Body recordInto(CallLog& log) {
  return [&log](const KelStateDumper* self, const std::wstring& directory) { log.emplace_back(self, directory); };
}

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
  std::vector<std::unique_ptr<Hook>> dumpers;
  std::vector<const KelStateDumper*> byAddress;
  for (int i = 0; i < 5; ++i) {
    dumpers.push_back(std::make_unique<Hook>(recordInto(log)));
    byAddress.push_back(dumpers.back().get());
  }
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
  auto original = std::make_unique<Hook>(recordInto(log));
  std::make_unique<Hook>(recordInto(log)).reset();
  {
    Hook copy(*original);
    Hook assigned(recordInto(log));
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
  CallLog log;
  const Hook::Body body = [&log](const KelStateDumper* self, const std::wstring& directory) {
    log.emplace_back(self, directory);
    KelStateDumper::setRootPath(KelStateDumper::getRootPath() + L"+");
  };
  Hook first(body), second(body);
  KelStateDumper::setRootPath(L"r");
  KelStateDumper::dumpAll(L"");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].second, L"r");
  EXPECT_EQ(log[1].second, L"r");
  EXPECT_EQ(KelStateDumper::getRootPath(), L"r++");
}

// One thread's dump operation hangs with the lock held: a second dumpAll
// waits its bounded time and then walks anyway, while getRootPath on a third
// thread waits for the lock without limit.
TEST_F(KelStateDumperTest, DumpAllGoesAheadWhenTheLockIsHeldTooLong) {
  std::promise<void> entered, release;
  const std::shared_future<void> released = release.get_future().share();
  // Written by the holder before it signals, then by this thread alone.
  std::vector<std::wstring> calls;
  Hook blocker([&](const KelStateDumper*, const std::wstring& directory) {
    calls.push_back(directory);
    if (directory != L"held") return;
    entered.set_value();
    released.wait();
  });
  std::thread holder([] { KelStateDumper::dumpAll(L"held"); });
  entered.get_future().wait();

  std::atomic<bool> rootRead{false};
  std::thread reader([&] {
    (void)KelStateDumper::getRootPath();
    rootRead = true;
  });
  KelStateDumper::dumpAll(L"late");
  EXPECT_EQ(calls, (std::vector<std::wstring>{L"held", L"late"}));
  EXPECT_FALSE(rootRead.load());  // still waiting for the holder

  release.set_value();
  holder.join();
  reader.join();
  EXPECT_TRUE(rootRead.load());
}

}  // namespace
