#include "platform/TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/TextFile.h"

namespace platform {
namespace {

bool Fail(std::string& error, int err, std::string text) {
  error = std::move(text);
  errno = err;
  return false;
}

std::string ModeText(mode_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

constexpr char kRunPrefix[] = "run-";
constexpr char kLockSuffix[] = ".lock";
// A lock file being made: it gets its final name only once it is locked.
constexpr char kNewPrefix[] = ".run-";
constexpr char kNewSuffix[] = ".new";

// Never destroyed: exit and the signal cleanup may use it while the program ends.
struct RunState {
  std::atomic<bool> closing{false};  // set before the folder is removed: no new user waits for it
  std::shared_mutex use;             // shared while a file is made in the folder, exclusive to remove it
  std::mutex make;                   // guards what follows
  std::string base;                  // the private folder the run's folder is in, with its '/'
  std::string name;                  // "run-<pid>-<n>"
  int lockFd = -1;
  pid_t owner = 0;
  bool closed = false;  // removed for good
  bool atExit = false;
};

RunState& Run() {
  static RunState* state = new RunState;
  return *state;
}

void RemoveAtExit() { RemoveRunTempFolder(); }

// Opens name (a lock file in folder) and takes its lock when nobody holds it; -1 otherwise.
int TakeFreeLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A new lock file of this run, locked, under its final name; -1 with error set.
int MakeRunLock(const std::string& base, std::string& name, std::string& error) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    char id[64];
    std::snprintf(id, sizeof id, "%ld-%x%06llx", static_cast<long>(::getpid()), serial.fetch_add(1),
                  static_cast<unsigned long long>(stamp) & 0xFFFFFFull);
    const std::string made = base + kNewPrefix + id + kNewSuffix;
    const int fd = CreateExclusiveFile(made);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      Fail(error, errno, made + ": " + FileErrorText(errno));
      return -1;
    }
    // Another run's sweep may have taken the new file for a dead run's: then it is gone, or
    // locked by that run, and another name is tried.
    const std::string final = base + kRunPrefix + id + kLockSuffix;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::rename(made.c_str(), final.c_str()) == 0) {
      name = std::string(kRunPrefix) + id;
      return fd;
    }
    ::close(fd);
  }
  Fail(error, EEXIST, base + ": no unused name for the run's folder");
  return -1;
}

bool EndsWith(const std::string& s, const char* suffix) {
  const std::size_t n = std::char_traits<char>::length(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

std::string PrivateTempFolder() {
  // A relative $TMPDIR would move with the working folder; only an absolute one counts.
  const char* env = std::getenv("TMPDIR");
  std::string base = (env && env[0] == '/') ? env : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return (base == "/" ? "" : base) + "/wexo-" + std::to_string(::geteuid());
}

bool MakePrivateFolder(const std::string& dir, std::string& error) {
  error.clear();
  const bool made = ::mkdir(dir.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return Fail(error, errno, dir + ": " + FileErrorText(errno));
  // Checked through a descriptor, so what is checked is what is used.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return Fail(error, ELOOP, dir + " is a symbolic link");
    if (err == ENOTDIR) return Fail(error, err, dir + " is not a directory");
    return Fail(error, err, dir + ": " + FileErrorText(err));
  }
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
    error = dir + ": " + FileErrorText(err);
  } else if (st.st_uid != ::geteuid()) {
    err = EPERM;
    error = dir + " belongs to user " + std::to_string(st.st_uid) + ", not to us";
  } else if ((st.st_mode & 07777) != 0700 && (!made || (st.st_mode & 077) != 0 || ::fchmod(fd, 0700) != 0)) {
    // Only the mode of a folder just made (which a umask may have cut) is set; one found open
    // to others, or one we made that others can enter, is not ours alone.
    err = EPERM;
    error = dir + " has mode " + ModeText(st.st_mode) + ", not 0700";
  }
  ::close(fd);
  if (err != 0) return Fail(error, err, error);
  return true;
}

bool GetTempPath(std::string& path, std::string& error) {
  path.clear();
  const std::string dir = PrivateTempFolder();
  if (!MakePrivateFolder(dir, error)) return false;
  path = dir + "/";
  return true;
}

std::string GetTempPath() {
  std::string path, error;
  GetTempPath(path, error);
  return path;
}

int CreateExclusiveFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // A restrictive umask must not leave the file unreadable to its owner.
  if (::fchmod(fd, 0600) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = err;
    return -1;
  }
  return fd;
}

RunTempFolder::RunTempFolder() {
  RunState& run = Run();
  std::string base;
  if (!GetTempPath(base, m_error)) {
    m_errno = errno;
    return;
  }
  if (!run.closing.load()) m_use = std::shared_lock<std::shared_mutex>(run.use);
  std::lock_guard<std::mutex> lock(run.make);
  if (run.closed || !m_use.owns_lock()) {
    m_errno = ECANCELED;
    m_error = base + ": the run is ending";
    errno = m_errno;
    return;
  }
  if (run.lockFd >= 0 && run.base == base && run.owner == ::getpid()) {
    struct stat st;
    // Another $TMPDIR, or a folder removed behind our back, gets a run folder of its own.
    if (::lstat((base + run.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      m_path = base + run.name + "/";
      return;
    }
  }
  // A folder left elsewhere is a dead run's from now on: a later run removes it.
  if (run.lockFd >= 0) ::close(run.lockFd);
  run.lockFd = -1;
  std::string name;
  const int fd = MakeRunLock(base, name, m_error);
  if (fd < 0) {
    m_errno = errno;
    return;
  }
  if (!MakePrivateFolder(base + name, m_error)) {
    m_errno = errno;
    ::unlink((base + name + kLockSuffix).c_str());
    ::close(fd);
    errno = m_errno;
    return;
  }
  run.base = base;
  run.name = name;
  run.lockFd = fd;
  run.owner = ::getpid();
  if (!run.atExit) run.atExit = std::atexit(RemoveAtExit) == 0;
  m_path = base + name + "/";
}

void RemoveRunTempFolder() {
  RunState& run = Run();
  run.closing.store(true);
  // Waits for files being made; none is made afterwards.
  std::unique_lock<std::shared_mutex> use(run.use);
  std::lock_guard<std::mutex> lock(run.make);
  run.closed = true;
  if (run.lockFd < 0 || run.owner != ::getpid()) return;
  std::error_code ec;
  std::filesystem::remove_all(run.base + run.name, ec);
  ::unlink((run.base + run.name + kLockSuffix).c_str());
  ::close(run.lockFd);
  run.lockFd = -1;
}

void RemoveDeadRunFolders() {
  std::string base, error;
  if (!GetTempPath(base, error)) return;
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(base.c_str())) {
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
  }
  std::error_code ec;
  for (const std::string& name : names) {
    const bool lock = name.starts_with(kRunPrefix) && EndsWith(name, kLockSuffix);
    const bool made = name.starts_with(kNewPrefix) && EndsWith(name, kNewSuffix);
    if (lock || made) {
      const int fd = TakeFreeLock(base + name);
      if (fd < 0) continue;  // a run still alive, or gone meanwhile
      // The folder goes before its lock, so a folder without a lock is never a live run's.
      if (lock) std::filesystem::remove_all(base + name.substr(0, name.size() - (sizeof kLockSuffix - 1)), ec);
      ::unlink((base + name).c_str());
      ::close(fd);
    } else if (name.starts_with(kRunPrefix)) {
      struct stat st;
      if (::lstat((base + name + kLockSuffix).c_str(), &st) != 0 && errno == ENOENT)
        std::filesystem::remove_all(base + name, ec);
    }
  }
}

}  // namespace platform
