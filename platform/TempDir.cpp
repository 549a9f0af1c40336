#include "platform/TempDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/TextFile.h"

namespace platform {

bool GetTempPath(std::string& path, std::string& error) {
  path.clear();
  error.clear();
  // A relative $TMPDIR would move with the working folder; only an absolute one counts.
  const char* env = std::getenv("TMPDIR");
  std::string base = (env && env[0] == '/') ? env : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const uid_t uid = ::geteuid();
  const std::string dir = (base == "/" ? "" : base) + "/wexo-" + std::to_string(uid);

  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    int err = errno;
    error = "cannot create " + dir + ": " + FileErrorText(err);
    errno = err;
    return false;
  }
  // Checked through a descriptor, so what is checked is what gets repaired.
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      error = dir + " is a symbolic link";
      err = ELOOP;
    } else if (err == ENOTDIR) {
      error = dir + " is not a directory";
    } else {
      error = "cannot open " + dir + ": " + FileErrorText(err);
    }
    errno = err;
    return false;
  }
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
    error = "cannot examine " + dir + ": " + FileErrorText(err);
  } else if (st.st_uid != uid) {
    err = EPERM;
    error = dir + " belongs to user " + std::to_string(st.st_uid) + ", not to us";
  } else if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
    err = errno;
    error = "cannot make " + dir + " private: " + FileErrorText(err);
  }
  ::close(fd);
  if (err != 0) {
    errno = err;
    return false;
  }
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

}  // namespace platform
