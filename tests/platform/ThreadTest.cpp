#include "mox_utils/platform/Thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "mox_utils/platform/Event.h"

using namespace mox::platform;

namespace {

// A job touches its record only before it reports that it started, so the
// record may go away while the thread winds down.
struct Job {
  EventHandle started = createEvent(true, false);
  EventHandle finished = createEvent(true, false);
  EventHandle release = nullptr;  // the job waits for it before it ends
  std::uint32_t threadId = 0;     // written before `started` is set
};

void runJob(void* argument) {
  Job* job = static_cast<Job*>(argument);
  const EventHandle release = job->release;
  const EventHandle finished = job->finished;
  job->threadId = currentThreadId();
  setEvent(job->started);
  waitEvent(release, kInfinite);
  setEvent(finished);
}

}  // namespace

TEST(ThreadTest, RunsTheFunctionWithItsArgumentOnAnotherThread) {
  Job jobs[3];
  EventHandle release = createEvent(true, false);
  std::set<unsigned long> handles;
  std::set<std::uint32_t> ids;
  for (Job& job : jobs) {
    job.release = release;
    const unsigned long handle = startThread(&runJob, &job);
    ASSERT_NE(handle, kThreadStartFailed);
    EXPECT_NE(handle, 0ul);
    handles.insert(handle);
  }
  for (Job& job : jobs) {
    ASSERT_EQ(waitEvent(job.started, kInfinite), WaitResult::Signaled);
    ids.insert(job.threadId);
  }
  // All three run at once (held by the event), so they are told apart.
  EXPECT_EQ(handles.size(), 3u);
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids.count(currentThreadId()), 0u);
  setEvent(release);
  for (Job& job : jobs) {
    EXPECT_EQ(waitEvent(job.finished, kInfinite), WaitResult::Signaled);
    closeEvent(job.started);
    closeEvent(job.finished);
  }
  closeEvent(release);
}

TEST(ThreadTest, NullFunctionFailsAndIdsAreTheKernels) {
  EXPECT_EQ(startThread(nullptr, nullptr), ~0UL);
  EXPECT_EQ(currentProcessId(), static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(currentThreadId(), static_cast<std::uint32_t>(::gettid()));
}

TEST(ThreadTest, SleepLastsAtLeastItsTime) {
  const auto start = std::chrono::steady_clock::now();
  sleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  sleepMs(0);  // yields and returns
}
