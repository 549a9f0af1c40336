// The hand-over between workers and the user-interface thread on its own: a poster that keeps
// its tasks until the test runs them, as an event loop would.
#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Fetch.h"
#include "engine/HandOver.h"
#include "engine/TempFiles.h"

namespace {

class HandOverTest : public ::testing::Test {
 protected:
  std::shared_ptr<ResultHandOver> Make() {
    return std::make_shared<ResultHandOver>(
        [this](std::function<void()> task) {
          std::lock_guard<std::mutex> lock(mutex);
          posted.push_back(std::move(task));
          wake.notify_all();
        },
        [this](std::unique_ptr<FetchResult> result) {
          taken.push_back(result->csUrl);
          if (onTake) onTake(*result);
        });
  }
  static std::unique_ptr<FetchResult> Result(const std::string& url, const std::string& body = "",
                                             bool temporary = true) {
    auto result = std::make_unique<FetchResult>();
    result->csUrl = url;
    result->csBodyFile = body;
    result->bBodyIsTemp = temporary;
    return result;
  }
  // Runs the tasks posted so far, as the loop does; gives how many there were.
  std::size_t RunPosted() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex);
      tasks.swap(posted);
    }
    for (auto& task : tasks) task();
    return tasks.size();
  }
  std::size_t PostedCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return posted.size();
  }
  static std::string TempBody() {
    std::string path, error;
    EXPECT_TRUE(CreateUniqueTempFile(path, error)) << error;
    return path;
  }
  static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> posted;
  std::vector<std::string> taken;
  std::function<void(const FetchResult&)> onTake;
};

// A worker does not wait for the user-interface thread; one task takes a whole burst, oldest
// first, and a later burst posts again.
TEST_F(HandOverTest, WorkersGoOnAtOnceAndOneTaskTakesTheBurstInOrder) {
  auto handOver = Make();
  std::thread worker([&] {
    for (const char* url : {"a", "b", "c"}) handOver->PostUrlDone(Result(url));
  });
  worker.join();  // returned although nothing was taken yet
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(handOver->WaitingCount(), 3u);
  EXPECT_EQ(PostedCount(), 1u) << "one wake-up for the burst";
  EXPECT_EQ(RunPosted(), 1u);
  EXPECT_EQ(taken, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(handOver->WaitingCount(), 0u);

  handOver->PostUrlDone(Result("d"));
  handOver->PostUrlDone(Result("e"));
  EXPECT_EQ(PostedCount(), 1u) << "the next burst posts again, once";
  handOver->TakeWaiting();  // the scheduler's tick takes them before the task runs
  EXPECT_EQ(taken.size(), 5u);
  RunPosted();
  EXPECT_EQ(taken, (std::vector<std::string>{"a", "b", "c", "d", "e"})) << "the late task finds nothing";
}

// Taking a result may pump events, and with them the task of a later result: that inner take
// leaves the results to the outer one, so the order holds.
TEST_F(HandOverTest, ATakeFromInsideATakeKeepsTheOrder) {
  auto handOver = Make();
  handOver->PostUrlDone(Result("a"));
  handOver->PostUrlDone(Result("b"));
  onTake = [&](const FetchResult& result) {
    if (result.csUrl != "a") return;
    handOver->PostUrlDone(Result("c"));
    handOver->TakeWaiting();
    RunPosted();
    EXPECT_EQ(taken, std::vector<std::string>{"a"}) << "nothing taken inside";
  };
  RunPosted();
  EXPECT_EQ(taken, (std::vector<std::string>{"a", "b", "c"}));
}

// Once closed (the view went), queued and later results are dropped: their temporary bodies
// are removed, a body read where it lies is kept; a hand-over that goes unclosed removes the
// bodies it still holds.
TEST_F(HandOverTest, ResultsNobodyTakesAreDroppedWithTheirTemporaryBodies) {
  const struct {
    bool queuedBeforeClose;
    bool close;  // else the hand-over goes unclosed
  } cases[] = {{true, true}, {false, true}, {true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.queuedBeforeClose) + std::to_string(c.close));
    posted.clear();
    taken.clear();
    const std::string temp = TempBody();
    const std::string kept = TempBody();
    auto handOver = Make();
    if (c.queuedBeforeClose) {
      handOver->PostUrlDone(Result("temp", temp));
      handOver->PostUrlDone(Result("kept", kept, false));
      EXPECT_TRUE(Exists(temp));
    }
    if (c.close) {
      handOver->Close();
      EXPECT_TRUE(handOver->IsClosed());
    }
    if (!c.queuedBeforeClose) {
      handOver->PostUrlDone(Result("temp", temp));
      handOver->PostUrlDone(Result("kept", kept, false));
      EXPECT_EQ(PostedCount(), 0u) << "nothing posted after the close";
    }
    if (!c.close) {
      posted.clear();  // the loop went and dropped its tasks unrun
      handOver.reset();
    } else {
      RunPosted();
      EXPECT_EQ(handOver->WaitingCount(), 0u);
    }
    EXPECT_TRUE(taken.empty());
    EXPECT_FALSE(Exists(temp));
    EXPECT_TRUE(Exists(kept));
    ::unlink(kept.c_str());
  }
}

// Many workers at once: every result is taken once, each worker's in the order it queued them.
TEST_F(HandOverTest, ManyWorkersEveryResultTakenOnceInItsWorkersOrder) {
  constexpr int kWorkers = 8, kEach = 300;
  auto handOver = Make();
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&handOver, w] {
      for (int i = 0; i < kEach; ++i) handOver->PostUrlDone(Result(std::to_string(w) + " " + std::to_string(i)));
    });
  while (taken.size() < static_cast<std::size_t>(kWorkers * kEach)) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return !posted.empty(); });
    }
    RunPosted();
  }
  for (auto& t : workers) t.join();
  std::vector<int> next(kWorkers, 0);
  for (const std::string& url : taken) {
    const int w = std::stoi(url.substr(0, url.find(' ')));
    EXPECT_EQ(std::stoi(url.substr(url.find(' ') + 1)), next[w]++) << url;
  }
  for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(next[w], kEach);
}

}  // namespace
