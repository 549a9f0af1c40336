// Worker threads: one fetch at a time each. A thread that finished its fetch stays for the
// next one while checks run, so a check pays for its threads once.
//
// Waking a thread costs the waker a system call; the user-interface thread, which launches
// every fetch, pays as little of it as it can. Requests wait in one queue. A thread that is
// awake (just past a fetch, or woken already) takes the next request before it sleeps, so a
// request that such a thread will take wakes nobody. Otherwise the launcher wakes one sleeping
// thread, unless one is being woken already; each thread that takes a request wakes one more
// while requests are left that no waking thread will take. A burst of launches thus costs the
// launcher one wake-up, and the workers wake each other.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/FetchWorker.h"

namespace {

// A sleeping thread that no check needed for this long ends by itself (the document of a
// stopped check was closed, and no check has ended since).
constexpr auto kIdleLifetime = std::chrono::seconds(60);

// Where a sleeping thread is woken. Owned by the pool and reused, never freed: a late wake-up
// may reach a slot whose thread has gone, harmlessly.
struct Slot {
  std::condition_variable wake;
  bool woken = false;  // told to look at the queue
  bool leave = false;  // told to end
};

struct WorkerPool {
  std::mutex lock;
  std::condition_variable changed;  // a fetch ended or a thread left
  std::deque<FetchRequest> queue;
  std::vector<Slot*> sleeping;  // the thread that slept last is woken first
  std::vector<Slot*> spare;
  std::vector<std::unique_ptr<Slot>> slots;
  int threads = 0;        // alive
  int busy = 0;           // threads running a fetch
  int waking = 0;         // threads woken that have not looked at the queue yet
  int running = 0;        // fetches queued or running
  int started = 0;        // threads started, ever
  unsigned releases = 0;  // times the idle threads were ended
  bool shutdown = false;

  // Threads that look at the queue before they sleep: past a fetch, or woken.
  int Awake() const { return threads - busy - static_cast<int>(sleeping.size()); }
  // Wakes one sleeping thread when requests are left that no awake thread will take. The
  // slot is notified by the caller once the lock is released.
  Slot* WakeOneIfNeeded() {
    if (sleeping.empty() || static_cast<int>(queue.size()) <= Awake()) return nullptr;
    Slot* slot = sleeping.back();
    sleeping.pop_back();
    slot->woken = true;
    ++waking;
    return slot;
  }
};

// Never destroyed: threads may still be leaving while the program exits.
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

void Notify(Slot* slot) {
  if (slot) slot->wake.notify_one();
}

void WorkerLoop(FetchRequest first, Slot* slot) {
  WorkerPool& pool = Pool();
  RunOne(std::move(first));
  std::unique_lock<std::mutex> lock(pool.lock);
  --pool.busy;
  if (--pool.running == 0) pool.changed.notify_all();
  for (;;) {
    // Counted as awake until it sleeps or ends, a thread told to end still takes what waits.
    if (!pool.queue.empty()) {
      FetchRequest request = std::move(pool.queue.front());
      pool.queue.pop_front();
      slot->leave = false;
      ++pool.busy;
      Slot* next = pool.WakeOneIfNeeded();
      lock.unlock();
      Notify(next);
      RunOne(std::move(request));
      lock.lock();
      --pool.busy;
      if (--pool.running == 0) pool.changed.notify_all();
      continue;
    }
    if (pool.shutdown || slot->leave) break;
    pool.sleeping.push_back(slot);
    const unsigned sleptAt = pool.releases;
    const bool woken = slot->wake.wait_for(lock, kIdleLifetime, [slot] { return slot->woken || slot->leave; });
    if (slot->woken) {
      slot->woken = false;
      --pool.waking;
      // Woken for a request that another thread took, while the idle threads were ended.
      if (pool.queue.empty() && sleptAt != pool.releases) slot->leave = true;
    }
    if (!woken) {
      pool.sleeping.erase(std::find(pool.sleeping.begin(), pool.sleeping.end(), slot));
      slot->leave = true;
    }
  }
  slot->leave = false;
  pool.spare.push_back(slot);
  --pool.threads;
  pool.changed.notify_all();
}

}  // namespace

bool LaunchFetchWorker(FetchRequest&& request) {
  WorkerPool& pool = Pool();
  std::unique_lock<std::mutex> lock(pool.lock);
  ++pool.running;
  if (static_cast<int>(pool.queue.size()) < pool.Awake() || !pool.sleeping.empty()) {
    pool.queue.push_back(std::move(request));
    // A thread being woken wakes the next one itself.
    Slot* slot = pool.waking == 0 ? pool.WakeOneIfNeeded() : nullptr;
    lock.unlock();
    Notify(slot);
    return true;
  }
  if (pool.spare.empty()) {
    pool.slots.push_back(std::make_unique<Slot>());
    pool.spare.push_back(pool.slots.back().get());
  }
  Slot* slot = pool.spare.back();
  pool.spare.pop_back();
  ++pool.threads;
  ++pool.busy;
  ++pool.started;
  lock.unlock();
  try {
    std::thread(WorkerLoop, std::move(request), slot).detach();
  } catch (const std::system_error&) {
    lock.lock();
    pool.spare.push_back(slot);
    --pool.threads;
    --pool.busy;
    --pool.started;
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

WorkerThreadCounts GetWorkerThreadCounts() {
  WorkerPool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.lock);
  return {pool.threads, pool.started};
}

namespace {

// Under the pool's lock: every sleeping thread is told to end.
void EndSleepingThreads(WorkerPool& pool) {
  for (Slot* slot : pool.sleeping) {
    slot->leave = true;
    slot->wake.notify_one();
  }
  pool.sleeping.clear();
}

}  // namespace

void ReleaseIdleWorkerThreads() {
  WorkerPool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.lock);
  // Queued requests are taken by the threads awake, so the sleeping ones are not needed.
  if (static_cast<int>(pool.queue.size()) > pool.Awake()) return;
  ++pool.releases;
  EndSleepingThreads(pool);
}

void ShutdownWorkerThreads() {
  WorkerPool& pool = Pool();
  std::unique_lock<std::mutex> lock(pool.lock);
  pool.changed.wait(lock, [&] { return pool.running == 0; });
  // From now on a thread that finds nothing to do ends instead of sleeping.
  pool.shutdown = true;
  EndSleepingThreads(pool);
  pool.changed.wait(lock, [&] { return pool.threads == 0; });
  pool.shutdown = false;
}
