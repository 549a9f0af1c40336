// The worker threads of the default launcher, with fetches that need no network (a skipped
// scheme) and a hand-over whose results the test takes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/HandOver.h"

namespace {

class WorkerThreadsTest : public ::testing::Test {
 protected:
  WorkerThreadsTest() {
    ShutdownWorkerThreads();  // no thread of an earlier test
    handOver = std::make_shared<ResultHandOver>([](std::function<void()>) {}, [](std::unique_ptr<FetchResult>) {});
  }
  ~WorkerThreadsTest() override { ShutdownWorkerThreads(); }

  // Launches count fetches at once and waits until every one has handed over.
  void Burst(int count) {
    for (int i = 0; i < count; ++i) {
      FetchRequest request;
      request.url = "tel:" + std::to_string(++launched);
      request.handOver = handOver;
      request.thread = std::make_shared<CWorkerThread>();
      ASSERT_TRUE(LaunchFetchWorker(std::move(request)));
    }
    ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 0; }));
  }
  template <class Done>
  static bool WaitFor(Done done) {
    for (int i = 0; i < 20000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
  }
  std::shared_ptr<ResultHandOver> handOver;
  int launched = 0;
};

// Threads stay between the bursts of a check, also across a quiet spell of several seconds,
// so later bursts that they can take start none; the end of a check ends the idle ones, and the quit every one.
TEST_F(WorkerThreadsTest, ThreadsStayForTheCheckAndEndWithIt) {
  const int startedBefore = GetWorkerThreadCounts().started;
  Burst(6);
  const WorkerThreadCounts first = GetWorkerThreadCounts();
  EXPECT_GE(first.alive, 1);
  EXPECT_LE(first.alive, 6);
  EXPECT_LE(first.started - startedBefore, 6);
  // Bursts no larger than the threads there are find each a sleeping thread.
  for (int round = 0; round < 20; ++round) Burst(round % first.alive + 1);
  std::this_thread::sleep_for(std::chrono::seconds(6));
  Burst(first.alive);
  const WorkerThreadCounts later = GetWorkerThreadCounts();
  EXPECT_EQ(later.started, first.started) << "the sleeping threads took every later fetch";
  EXPECT_EQ(later.alive, first.alive);
  EXPECT_EQ(handOver->WaitingCount(), static_cast<std::size_t>(launched)) << "each fetch handed over once";

  ReleaseIdleWorkerThreads();
  EXPECT_TRUE(WaitFor([] { return GetWorkerThreadCounts().alive == 0; }));
  Burst(3);
  EXPECT_GT(GetWorkerThreadCounts().started, later.started) << "a new check starts threads again";
  ShutdownWorkerThreads();
  EXPECT_EQ(GetWorkerThreadCounts().alive, 0);
}

// The quit waits for every fetch launched, queued ones too, then ends every thread.
TEST_F(WorkerThreadsTest, TheQuitWaitsForEveryFetchThenEndsEveryThread) {
  for (int i = 0; i < 40; ++i) {
    FetchRequest request;
    request.url = "tel:" + std::to_string(i);
    request.handOver = handOver;
    ASSERT_TRUE(LaunchFetchWorker(std::move(request)));
  }
  ShutdownWorkerThreads();
  EXPECT_EQ(RunningWorkerCount(), 0);
  EXPECT_EQ(GetWorkerThreadCounts().alive, 0);
  EXPECT_EQ(handOver->WaitingCount(), 40u);
}

}  // namespace
