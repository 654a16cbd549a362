#include "mox_utils/paths/KelStateDumper.h"

#include <gtest/gtest.h>

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

// Which dumper was asked for which directory, in call order.
using CallLog = std::vector<std::pair<const KelStateDumper*, std::wstring>>;

// A dumper that logs each call and then runs `more`, if given.
struct Hook : KelStateDumper {
  explicit Hook(CallLog& log, std::function<void(const std::wstring&)> more = {}) : log(&log), more(more) {}
  void dumpState(const std::wstring& directory) override {
    log->emplace_back(this, directory);
    if (more) more(directory);
  }
  CallLog* log;
  std::function<void(const std::wstring&)> more;
};

// Restores the root path each test changes.
struct KelStateDumperTest : ::testing::Test {
  void TearDown() override { KelStateDumper::setRootPath(savedRoot); }
  const std::wstring savedRoot = KelStateDumper::getRootPath();
};

// Every dumper is asked in ascending address order, with the given directory
// or else the root path. A dump operation runs under the registry lock,
// which is re-entrant, so it may read and replace the root path; the
// directory handed on was chosen before the walk.
TEST_F(KelStateDumperTest, DumpAllCallsEveryDumperInAddressOrderWithTheChosenDirectory) {
  CallLog log;
  const auto extendRoot = [](const std::wstring&) {
    KelStateDumper::setRootPath(KelStateDumper::getRootPath() + L"+");
  };
  std::vector<std::unique_ptr<Hook>> dumpers;
  std::set<const KelStateDumper*> byAddress;  // ordered by std::less
  for (int i = 0; i < 5; ++i) byAddress.insert(dumpers.emplace_back(std::make_unique<Hook>(log, extendRoot)).get());
  KelStateDumper::setRootPath(L"root");
  for (const std::wstring directory : {L"D:\\incident\\42", L""}) {
    CallLog expected;
    for (const KelStateDumper* dumper : byAddress)
      expected.emplace_back(dumper, directory.empty() ? L"root+++++" : directory);
    log.clear();
    KelStateDumper::dumpAll(directory);
    EXPECT_EQ(log, expected);
  }
  EXPECT_EQ(KelStateDumper::getRootPath(), L"root++++++++++");
}

// Registration belongs to the object: a copy is not registered, assigning
// changes no registration, and destroying an object unregisters it alone.
TEST_F(KelStateDumperTest, OnlyLiveOriginalsAreRegistered) {
  CallLog log;
  auto original = std::make_unique<Hook>(log);
  std::make_unique<Hook>(log).reset();
  {
    Hook copy(*original);
    Hook assigned(log);
    assigned = *original;
    KelStateDumper::dumpAll(L"x");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(std::set<const KelStateDumper*>({log[0].first, log[1].first}),
              std::set<const KelStateDumper*>({original.get(), &assigned}));
  }
  log.clear();
  KelStateDumper::dumpAll(L"x");
  EXPECT_EQ(log, (CallLog{{original.get(), L"x"}}));
}

// One thread's dump operation hangs with the lock held: a second dumpAll
// waits its bounded time and then walks anyway, while getRootPath on a third
// thread waits for the lock without limit.
TEST_F(KelStateDumperTest, DumpAllGoesAheadWhenTheLockIsHeldTooLong) {
  std::promise<void> entered, release;
  const std::shared_future<void> released = release.get_future().share();
  CallLog calls;  // written by the holder before it signals, then by this thread alone
  Hook blocker(calls, [&](const std::wstring& directory) {
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
  EXPECT_EQ(calls, (CallLog{{&blocker, L"held"}, {&blocker, L"late"}}));
  EXPECT_FALSE(rootRead.load());  // still waiting for the holder

  release.set_value();
  holder.join();
  reader.join();
  EXPECT_TRUE(rootRead.load());
}

}  // namespace
