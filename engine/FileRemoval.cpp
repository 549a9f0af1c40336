#include "engine/FileRemoval.h"

#include <unistd.h>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace {

struct Removals {
  std::mutex lock;
  std::condition_variable queued;
  std::condition_variable drained;
  std::deque<std::string> paths;
  bool busy = false;
  bool started = false;
};

// Never destroyed: the remover thread may still wait on it while the program exits.
Removals& State() {
  static Removals* state = new Removals;
  return *state;
}

void Remover() {
  Removals& s = State();
  std::unique_lock<std::mutex> lock(s.lock);
  for (;;) {
    s.queued.wait(lock, [&] { return !s.paths.empty(); });
    std::string path = std::move(s.paths.front());
    s.paths.pop_front();
    s.busy = true;
    lock.unlock();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      std::fprintf(stderr, "File '%s' could not be deleted, errno = %d\n", path.c_str(), errno);
    lock.lock();
    s.busy = false;
    if (s.paths.empty()) s.drained.notify_all();
  }
}

}  // namespace

void RemoveFileLater(const std::string& path) {
  Removals& s = State();
  std::lock_guard<std::mutex> lock(s.lock);
  if (!s.started) {
    try {
      std::thread(Remover).detach();
      s.started = true;
    } catch (const std::system_error&) {
      ::unlink(path.c_str());
      return;
    }
  }
  s.paths.push_back(path);
  s.queued.notify_one();
}

void FlushFileRemovals() {
  Removals& s = State();
  std::unique_lock<std::mutex> lock(s.lock);
  s.drained.wait(lock, [&] { return s.paths.empty() && !s.busy; });
}
