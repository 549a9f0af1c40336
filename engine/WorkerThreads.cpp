#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/FetchWorker.h"

namespace {

std::mutex liveLock;
std::condition_variable liveChanged;
int liveWorkers = 0;

WorkerLauncher& CurrentLauncher() {
  static WorkerLauncher launcher;
  return launcher;
}

}  // namespace

bool LaunchFetchWorker(FetchRequest&& request) {
  {
    std::lock_guard<std::mutex> lock(liveLock);
    ++liveWorkers;
  }
  try {
    std::thread([request = std::move(request)]() mutable {
      auto state = request.thread;
      try {
        FetchWorker(std::move(request));
      } catch (...) {
        // A worker never takes the program down; its record was handed over or stays busy.
      }
      if (state) state->SetExitCode(0);
      std::lock_guard<std::mutex> lock(liveLock);
      if (--liveWorkers == 0) liveChanged.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(liveLock);
    if (--liveWorkers == 0) liveChanged.notify_all();
    return false;
  }
  return true;
}

void SetWorkerLauncher(WorkerLauncher launcher) { CurrentLauncher() = std::move(launcher); }

const WorkerLauncher& GetWorkerLauncher() {
  static const WorkerLauncher real = [](FetchRequest&& r) { return LaunchFetchWorker(std::move(r)); };
  const WorkerLauncher& current = CurrentLauncher();
  return current ? current : real;
}

void WaitForAllWorkers() {
  std::unique_lock<std::mutex> lock(liveLock);
  liveChanged.wait(lock, [] { return liveWorkers == 0; });
}

int RunningWorkerCount() {
  std::lock_guard<std::mutex> lock(liveLock);
  return liveWorkers;
}
