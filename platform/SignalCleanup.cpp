#include "platform/SignalCleanup.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/TempDir.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Never destroyed: the cleanup thread may use it while the program exits.
struct Armed {
  std::mutex lock;
  std::unordered_map<int, std::string> paths;
  int next = 0;
};

Armed& Paths() {
  static Armed* armed = new Armed;
  return *armed;
}

int wakeFd = -1;  // the write end of the pipe the handler writes the signal to

// Async-signal-safe: one write(2).
void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(wakeFd, &byte, 1);
  errno = saved;
}

[[noreturn]] void CleanUpAndDie(int sig) {
  Armed& armed = Paths();
  // Kept locked: an output that has not made its file yet never makes it.
  armed.lock.lock();
  for (const auto& [slot, path] : armed.paths) ::unlink(path.c_str());
  RemoveRunTempFolder();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

void Watch(int readFd) {
  for (;;) {
    unsigned char sig = 0;
    const ssize_t n = ::read(readFd, &sig, 1);
    if (n == 1) CleanUpAndDie(sig);
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace

void CleanUpOnSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    // A burst of signals must not block the handler: only the first one counts.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    wakeFd = fds[1];
    try {
      // The signals stay deliverable to the other threads only: the cleanup thread raises
      // its signal itself once it has removed everything.
      sigset_t all, old;
      ::sigfillset(&all);
      ::pthread_sigmask(SIG_BLOCK, &all, &old);
      std::thread(Watch, fds[0]).detach();
      ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    } catch (const std::system_error&) {
      ::close(fds[0]);
      ::close(fds[1]);
      wakeFd = -1;
      return;
    }
    for (const int sig : kSignals) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = OnSignal;
      ::sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESTART;
      ::sigaction(sig, &action, nullptr);
    }
  });
}

int ArmOnSignal(const std::string& path) {
  Armed& armed = Paths();
  std::lock_guard<std::mutex> lock(armed.lock);
  const int slot = armed.next++;
  armed.paths.emplace(slot, path);
  return slot;
}

void DisarmOnSignal(int& slot) {
  if (slot < 0) return;
  Armed& armed = Paths();
  std::lock_guard<std::mutex> lock(armed.lock);
  armed.paths.erase(slot);
  slot = -1;
}

}  // namespace platform
