// Worker threads: one fetch at a time each. A thread that finished its fetch waits a while
// for the next one, so a crawl does not pay for a new thread per URL.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/FetchWorker.h"

namespace {

constexpr auto kIdleLifetime = std::chrono::seconds(5);

struct WorkerPool {
  std::mutex lock;
  std::condition_variable work;     // a request is queued, or the pool shuts down
  std::condition_variable changed;  // a fetch ended or a thread left
  std::deque<FetchRequest> queue;
  int idle = 0;     // threads waiting for a request
  int threads = 0;  // threads alive
  int running = 0;  // fetches queued or running
  bool shutdown = false;
};

// Never destroyed: parked threads may still wait on it while the program exits.
WorkerPool& Pool() {
  static WorkerPool* pool = new WorkerPool;
  return *pool;
}

void RunOne(FetchRequest request) {
  auto state = request.thread;
  try {
    FetchWorker(std::move(request));
  } catch (...) {
    // A worker never takes the program down.
  }
  if (state) state->SetExitCode(0);
}

void WorkerLoop(FetchRequest first) {
  WorkerPool& pool = Pool();
  RunOne(std::move(first));
  std::unique_lock<std::mutex> lock(pool.lock);
  for (;;) {
    if (--pool.running == 0) pool.changed.notify_all();
    ++pool.idle;
    const bool got = pool.work.wait_for(lock, kIdleLifetime, [&] { return !pool.queue.empty() || pool.shutdown; });
    --pool.idle;
    if (!got || pool.queue.empty()) break;
    FetchRequest next = std::move(pool.queue.front());
    pool.queue.pop_front();
    lock.unlock();
    RunOne(std::move(next));
    lock.lock();
  }
  --pool.threads;
  pool.changed.notify_all();
}

}  // namespace

bool LaunchFetchWorker(FetchRequest&& request) {
  WorkerPool& pool = Pool();
  std::unique_lock<std::mutex> lock(pool.lock);
  ++pool.running;
  if (pool.idle > static_cast<int>(pool.queue.size())) {
    pool.queue.push_back(std::move(request));
    pool.work.notify_one();
    return true;
  }
  ++pool.threads;
  lock.unlock();
  try {
    std::thread(WorkerLoop, std::move(request)).detach();
  } catch (const std::system_error&) {
    lock.lock();
    --pool.threads;
    --pool.running;
    pool.changed.notify_all();
    return false;
  }
  return true;
}

int RunningWorkerCount() {
  WorkerPool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.lock);
  return pool.running;
}

void ShutdownWorkerThreads() {
  WorkerPool& pool = Pool();
  std::unique_lock<std::mutex> lock(pool.lock);
  pool.changed.wait(lock, [&] { return pool.running == 0; });
  pool.shutdown = true;
  pool.work.notify_all();
  pool.changed.wait(lock, [&] { return pool.threads == 0; });
  pool.shutdown = false;
}
