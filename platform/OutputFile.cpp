#include "platform/OutputFile.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <vector>

#include "platform/SignalCleanup.h"

namespace platform {
namespace {

// As many links as the kernel follows before it gives ELOOP.
constexpr int kMaxLinks = 40;
// The target's name in a temporary name is cut so the name stays within NAME_MAX.
constexpr std::size_t kMaxBaseInTemp = 200;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel's fs.protected_symlinks rule: in a sticky, world-writable folder a link is
// followed only when it is ours or the folder owner's, so nobody plants one for us there.
bool MayFollow(const std::string& folder, const struct stat& link) {
  struct stat dir;
  if (::stat(folder.c_str(), &dir) != 0) return false;
  if (!(dir.st_mode & S_ISVTX) || !(dir.st_mode & S_IWOTH)) return true;
  return link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

// /proc/<pid>/fd links stand for open files, pipes and sockets that have no name to replace.
bool IsProcFolder(const std::string& folder) {
  struct statfs fs;
  return ::statfs(folder.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// ---- temporary names the signal cleanup removes ----

int ArmTemp(const std::string& name) { return ArmOnSignal(name); }

void DisarmTemp(int& index) { DisarmOnSignal(index); }

}  // namespace

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

// A path built from folders that are no links: "" stands for the current folder.
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The folder above folder. Every part of folder is a real folder, not a link, so dropping the
// last part is what the kernel's ".." does there.
std::string Above(const std::string& folder) {
  if (folder == "/") return folder;
  const std::size_t slash = folder.rfind('/');
  const std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
  if (folder.empty() || last == "..") return Join(folder, "..");
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

// Puts the parts of text on parts, the first part last, so they come off in order. A text
// ending in '/' names a folder: it ends in "." then.
void PushParts(const std::string& text, std::vector<std::string>& parts) {
  if (!text.empty() && text.back() == '/') parts.push_back(".");
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t slash = text.rfind('/', end - 1);
    const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    if (slash == std::string::npos) break;
    end = slash;
  }
}

}  // namespace

// Walks path a part at a time, as the kernel does, so the link rule holds for every link on the
// way (a link used as a folder, and the links inside a link's text), not only for the last.
// The parts met are checked by name, not held open: a part that changes meanwhile could only be
// changed by the user who owns it, whose links the rule follows anyway.
bool ResolveOutput(const std::string& path, OutputTarget& target) {
  target = OutputTarget{};
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  std::vector<std::string> parts;
  PushParts(path, parts);
  std::string folder = path.front() == '/' ? "/" : "";
  int links = 0;
  while (!parts.empty()) {
    const std::string name = std::move(parts.back());
    parts.pop_back();
    if (name == "." || name == "..") {
      if (name == "..") folder = Above(folder);
      if (parts.empty()) {
        errno = EISDIR;
        return false;
      }
      continue;
    }
    const std::string current = Join(folder, name);
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      // Nothing there yet (or a folder on the way missing): named as given from here on.
      std::string rest = current;
      while (!parts.empty()) {
        rest += "/" + parts.back();
        parts.pop_back();
      }
      target.kind = OutputTarget::Kind::Missing;
      target.path = rest;
      return true;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) {
        errno = ELOOP;
        return false;
      }
      const std::string where = folder.empty() ? "." : folder;
      if (!MayFollow(where, st)) {
        errno = EACCES;
        return false;
      }
      if (parts.empty() && IsProcFolder(where)) {
        // Opened by this name: the kernel knows what such a link stands for.
        if (::stat(current.c_str(), &target.st) != 0) return false;
        if (S_ISDIR(target.st.st_mode)) {
          errno = EISDIR;
          return false;
        }
        target.kind = OutputTarget::Kind::Special;
        target.openFile = true;
        target.path = current;
        return true;
      }
      char link[PATH_MAX];
      const ssize_t n = ::readlink(current.c_str(), link, sizeof link);
      if (n < 0) return false;
      if (static_cast<std::size_t>(n) >= sizeof link) {
        errno = ENAMETOOLONG;
        return false;
      }
      const std::string text(link, static_cast<std::size_t>(n));
      if (text.empty()) {
        errno = ENOENT;
        return false;
      }
      if (text.front() == '/') folder.assign(1, '/');
      PushParts(text, parts);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (parts.empty()) {
        errno = EISDIR;
        return false;
      }
      folder = current;
      continue;
    }
    if (!parts.empty()) {
      errno = ENOTDIR;
      return false;
    }
    target.kind = S_ISREG(st.st_mode) ? OutputTarget::Kind::Regular : OutputTarget::Kind::Special;
    target.path = current;
    target.st = st;
    return true;
  }
  errno = EISDIR;  // not reached: the last part always decides
  return false;
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Fail(int err) {
  m_errno = err ? err : EIO;
  return false;
}

void OutputFile::Discard() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temp.empty()) ::unlink(m_temp.c_str());
  m_temp.clear();
  DisarmTemp(m_slot);
  m_inPlace = m_sync = false;
}

bool OutputFile::Open(const std::string& path) {
  Discard();
  m_errno = 0;
  if (path.empty()) return Fail(ENOENT);
  OutputTarget target;
  if (!ResolveOutput(path, target)) return Fail(errno);
  return Open(target);
}

bool OutputFile::Open(const OutputTarget& target, mode_t newMode) {
  Discard();
  m_errno = 0;
  if (target.kind == OutputTarget::Kind::Special) return OpenInPlace(target);
  return OpenReplacing(target, newMode);
}

bool OutputFile::OpenReplacing(const OutputTarget& target, mode_t newMode) {
  std::string base = BaseName(target.path);
  if (base.empty() || base == "." || base == "..") return Fail(EISDIR);
  if (base.size() > kMaxBaseInTemp) base.resize(kMaxBaseInTemp);
  const std::string prefix = ParentFolder(target.path) + "/." + base;
  const bool replacing = target.kind == OutputTarget::Kind::Regular;
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.%llx.tmp", static_cast<long>(::getpid()), serial.fetch_add(1),
                  static_cast<unsigned long long>(stamp) & 0xFFFFFFull);
    const std::string temp = prefix + suffix;
    // Armed before it exists, so a signal right after the open still finds it.
    m_slot = ArmTemp(temp);
    // A replacement starts private and gets the old file's mode once it is ours alone.
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, replacing ? 0600 : newMode);
    if (fd < 0) {
      const int err = errno;
      DisarmTemp(m_slot);
      if (err == EEXIST) continue;
      // A folder we may not write in, holding a file we may: that file is rewritten in place.
      // Only where the folder's permissions refuse us, never where the file system has no
      // room for names of ours (/proc, /sys as root).
      if (replacing && err == EACCES &&
          ::faccessat(AT_FDCWD, ParentFolder(target.path).c_str(), W_OK, AT_EACCESS) != 0 && OpenRewriting(target))
        return true;
      return Fail(err);
    }
    m_fd = fd;
    m_temp = temp;
    m_target = target.path;
    m_sync = true;
    if (replacing) {
      const struct stat& old = target.st;
      if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        // Only root may give a file away; otherwise the new file is the writer's own.
        [[maybe_unused]] const int given = ::fchown(fd, old.st_uid, old.st_gid);
      }
      ::fchmod(fd, old.st_mode & 07777);
    }
    return true;
  }
  return Fail(EEXIST);
}

bool OutputFile::OpenRewriting(const OutputTarget& target) {
  const int fd = ::open(target.path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Held until the output is complete, so runs rewriting one file take turns instead of
  // writing into each other's output; the settings writer locks the same way.
  int locked = target.locked ? 0 : -1;
  while (locked != 0) {
    locked = ::flock(fd, LOCK_EX);
    if (locked != 0 && errno != EINTR) break;
  }
  struct stat st;
  if (locked != 0 || ::fstat(fd, &st) != 0 || st.st_dev != target.st.st_dev || st.st_ino != target.st.st_ino ||
      ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  m_fd = fd;
  m_inPlace = true;
  m_sync = true;
  return true;
}

bool OutputFile::OpenInPlace(const OutputTarget& target) {
  // Non-blocking, so a FIFO without a reader fails at once (ENXIO) instead of waiting.
  int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (!target.openFile) flags |= O_NOFOLLOW;
  const int fd = ::open(target.path.c_str(), flags);
  if (fd < 0) return Fail(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Fail(err);
  }
  if (S_ISREG(st.st_mode) && !target.openFile) {
    // A file took the place of the device meanwhile: not to be written over in place.
    ::close(fd);
    return Fail(EAGAIN);
  }
  // A process's open file (stdout sent to a file) is added to, as the shell's >> or > left it.
  const int append = S_ISREG(st.st_mode) ? O_APPEND : 0;
  ::fcntl(fd, F_SETFL, (::fcntl(fd, F_GETFL) & ~O_NONBLOCK) | append);
  m_fd = fd;
  m_inPlace = true;
  return true;
}

bool OutputFile::Commit() {
  if (m_fd < 0) return Fail(EBADF);
  if (m_sync && ::fsync(m_fd) != 0) {
    const int err = errno;
    Discard();
    return Fail(err);
  }
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    Discard();
    return Fail(err);
  }
  if (!m_temp.empty() && ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
    const int err = errno;
    Discard();
    return Fail(err);
  }
  m_temp.clear();
  Discard();
  return true;
}

}  // namespace platform
