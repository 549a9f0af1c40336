#include "platform/ShellLaunch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// Owns the spawn attributes and file actions for one launch.
class SpawnSetup {
 public:
  SpawnSetup() {
    okActions_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    okAttr_ = ::posix_spawnattr_init(&attr_) == 0;
  }
  ~SpawnSetup() {
    if (okActions_) ::posix_spawn_file_actions_destroy(&actions_);
    if (okAttr_) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // 0, or the errno value of the step that failed.
  int Prepare(const std::string& folder) {
    if (!okActions_ || !okAttr_) return ENOMEM;
    // A browser must not read our input, and must not hold our files, sockets or the
    // lock of a document (that would block the next check) for as long as it runs.
    if (int err = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0)) return err;
    if (int err = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3)) return err;
    if (!folder.empty())
      if (int err = ::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str())) return err;
    // We ignore SIGPIPE and threads may block signals; an exec keeps both, so undo them.
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (int err = ::posix_spawnattr_setsigmask(&attr_, &none)) return err;
    if (int err = ::posix_spawnattr_setsigdefault(&attr_, &pipe)) return err;
    return ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }

  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool okActions_ = false;
  bool okAttr_ = false;
};

void Reap(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

std::atomic<long long> launchBoundMs{10000};

// A launcher still running after its bound has opened its target; it goes when it ends.
void ReapLater(pid_t pid) {
  try {
    std::thread(Reap, pid).detach();
  } catch (const std::system_error&) {
    // No thread to spare: one zombie until we exit is better than blocking the caller.
  }
}

// Waits for the child to end, at most bound; true with its wait status when it ended.
bool WaitBounded(pid_t pid, std::chrono::milliseconds bound, int& status) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + bound;
  // A process descriptor becomes readable when the child ends; without one, look every 10 ms.
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) {
      if (fd >= 0) ::close(fd);
      return got == pid;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
    }
  }
  if (fd >= 0) ::close(fd);
  return false;
}

// Starts argv (argv[0] found on PATH) under the conditions ShellRun describes; 0 with its pid,
// or the errno value of the step that failed.
int Spawn(const std::vector<std::string>& argv, const std::string& folder, pid_t& pid) {
  if (argv.empty() || argv[0].empty()) return EINVAL;
  SpawnSetup setup;
  if (int err = setup.Prepare(folder)) return err;
  std::vector<std::string> words = argv;
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return ::posix_spawnp(&pid, pointers[0], setup.Actions(), setup.Attr(), pointers.data(), environ);
}

// The launch steps waiting or running. Never destroyed: its thread may still be leaving while
// the process exits.
struct LaunchQueue {
  std::mutex lock;
  std::condition_variable idle;
  std::deque<std::function<void()>> steps;
  bool working = false;  // a thread runs the steps
  int unfinished = 0;    // steps queued or running
};
LaunchQueue& Launches() {
  static LaunchQueue* const queue = new LaunchQueue;
  return *queue;
}

// Runs the steps until none is left.
void WorkLaunches() {
  LaunchQueue& queue = Launches();
  std::unique_lock<std::mutex> lock(queue.lock);
  while (!queue.steps.empty()) {
    std::function<void()> step = std::move(queue.steps.front());
    queue.steps.pop_front();
    lock.unlock();
    try {
      step();
    } catch (...) {
      // A step that failed must not keep the others from running.
    }
    // What the step holds goes before it counts as done.
    step = nullptr;
    lock.lock();
    if (--queue.unfinished == 0) queue.idle.notify_all();
  }
  queue.working = false;
}

}  // namespace

int ShellOpen(const std::string& target, const std::string& folder) {
  if (target.empty() || target[0] == '-') return EINVAL;
  return ShellRun({"xdg-open", target}, folder);
}

int ShellOpenAndWait(const std::string& target, const std::string& folder, int& result) {
  if (target.empty() || target[0] == '-') return EINVAL;
  pid_t pid;
  if (int err = Spawn({"xdg-open", target}, folder, pid)) return err;
  int status = 0;
  if (WaitBounded(pid, ShellLaunchBound(), status)) {
    result = ShellExecuteResultOfExit(status);
    return 0;
  }
  ReapLater(pid);
  result = SHELL_EXECUTE_OK;
  return 0;
}

int ShellExecuteResultOfExit(int waitStatus) {
  if (!WIFEXITED(waitStatus)) return 4;
  switch (WEXITSTATUS(waitStatus)) {
    case 0: return SHELL_EXECUTE_OK;
    case 1: return 13;
    case 2: return 2;
    case 3: return 31;
    default: return 4;
  }
}

std::chrono::milliseconds ShellLaunchBound() { return std::chrono::milliseconds(launchBoundMs.load()); }

void SetShellLaunchBoundForTests(std::chrono::milliseconds bound) { launchBoundMs.store(bound.count()); }

void QueueLaunchStep(std::function<void()> step) {
  LaunchQueue& queue = Launches();
  {
    std::lock_guard<std::mutex> lock(queue.lock);
    ++queue.unfinished;
    queue.steps.push_back(std::move(step));
    if (queue.working) return;
    queue.working = true;
  }
  try {
    std::thread(WorkLaunches).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the caller works the queue, bounded by the launches' own bounds.
    WorkLaunches();
  }
}

void WaitForShellLaunches() {
  LaunchQueue& queue = Launches();
  std::unique_lock<std::mutex> lock(queue.lock);
  queue.idle.wait(lock, [&] { return queue.unfinished == 0; });
}

int ShellRun(const std::vector<std::string>& argv, const std::string& folder) {
  pid_t pid;
  if (int err = Spawn(argv, folder, pid)) return err;
  // The program may stay as long as the window it opened; the caller never waits for it.
  ReapLater(pid);
  return 0;
}

int ShellRun(const std::vector<std::string>& argv, const std::string& folder, std::function<void(int result)> done) {
  pid_t pid;
  if (int err = Spawn(argv, folder, pid)) return err;
  // Watched beside the launch queue, not in it: a program that stays open must not hold back
  // the launches after it. It counts as unfinished, so the program waits for done at exit.
  LaunchQueue& queue = Launches();
  {
    std::lock_guard<std::mutex> lock(queue.lock);
    ++queue.unfinished;
  }
  auto watch = [pid, done = std::move(done)] {
    int status = 0;
    const bool ended = WaitBounded(pid, ShellLaunchBound(), status);
    try {
      done(ended ? ShellExecuteResultOfExit(status) : SHELL_EXECUTE_OK);
    } catch (...) {
      // What became of the program is only told; a teller that failed changes nothing.
    }
    // Still running after the bound: it opened the file; it goes when it ends.
    if (!ended) Reap(pid);
    LaunchQueue& queue = Launches();
    std::lock_guard<std::mutex> lock(queue.lock);
    if (--queue.unfinished == 0) queue.idle.notify_all();
  };
  try {
    std::thread(std::move(watch)).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the program started, which is all that is known.
    ReapLater(pid);
    std::lock_guard<std::mutex> lock(queue.lock);
    if (--queue.unfinished == 0) queue.idle.notify_all();
  }
  return 0;
}

std::vector<std::string> SplitCommandLine(std::string_view command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      const std::size_t end = command.find('\'', i + 1);
      const std::size_t stop = end == std::string_view::npos ? command.size() : end;
      word.append(command.substr(i + 1, stop - i - 1));
      i = stop;
    } else if (c == '"') {
      for (++i; i < command.size() && command[i] != '"'; ++i) {
        if (command[i] == '\\' && i + 1 < command.size() &&
            std::string_view("\"\\$`").find(command[i + 1]) != std::string_view::npos)
          ++i;
        word += command[i];
      }
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

int ShellExecuteResult(int err) {
  switch (err) {
    case 0: return SHELL_EXECUTE_OK;
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM:
    case EAGAIN: return 8;
    case ENOEXEC: return 11;
    default: return 13;
  }
}

std::string ShellExecuteResultText(int result) {
  switch (result) {
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 4: return "The system cannot open the file.";
    case 5: return "Access is denied.";
    case 8: return "Not enough memory resources are available to process this command.";
    case 11: return "An attempt was made to load a program with an incorrect format.";
    case 13: return "The data is invalid.";
    case 31: return "No application is associated with the specified file for this operation.";
    default: return result > 32 ? "ok" : "Error " + std::to_string(result);
  }
}

}  // namespace platform
