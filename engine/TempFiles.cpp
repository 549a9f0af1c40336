#include "engine/TempFiles.h"

#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>
#include <cstring>

#include <cerrno>
#include <cstdio>

#include "platform/TempDir.h"
#include "platform/TextFile.h"

int FileExceptionCauseOf(int err) {
  switch (err) {
    case 0: return FILE_CAUSE_NONE;
    case ENOENT: return FILE_CAUSE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return FILE_CAUSE_BAD_PATH;
    case EMFILE:
    case ENFILE: return FILE_CAUSE_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EEXIST:
    case EISDIR: return FILE_CAUSE_ACCESS_DENIED;
    case EBADF: return FILE_CAUSE_INVALID_FILE;
    case ESPIPE: return FILE_CAUSE_BAD_SEEK;
    case EIO: return FILE_CAUSE_HARD_IO;
    case ETXTBSY:
    case EBUSY: return FILE_CAUSE_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT: return FILE_CAUSE_DISK_FULL;
    default: return FILE_CAUSE_GENERIC;
  }
}

std::string ReportFileCreateError(const std::string& fileName, const std::string& message, int cause, long osError) {
  std::string text = message.substr(0, 255);
  int n = std::snprintf(nullptr, 0, "File '%s' could not be created: %s (cause=%d, OsError=%ld)\n", fileName.c_str(),
                        text.c_str(), cause, osError);
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), "File '%s' could not be created: %s (cause=%d, OsError=%ld)\n",
                fileName.c_str(), text.c_str(), cause, osError);
  out.pop_back();
  return out;
}

std::string ReportFileCreateError(const std::string& fileName, int err) {
  return ReportFileCreateError(fileName, platform::FileErrorText(err), FileExceptionCauseOf(err), err);
}

bool CreateUniqueTempFile(std::string& path, std::string& error, int* osError) {
  path.clear();
  error.clear();
  auto fail = [&](int err, std::string text) {
    error = std::move(text);
    if (osError) *osError = err;
    return false;
  };

  std::string dir, why;
  if (!platform::GetTempPath(dir, why)) {
    int err = errno;
    return fail(err, "The temporary folder cannot be used: " + why);
  }

  uuid_t uuid;
  uuid_generate(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  // Sixteen subfolders: many workers creating and removing files in one folder contend for
  // its lock. Only we can create inside the private folder, so the subfolders are ours too.
  dir += text[0];
  dir += '/';
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    int err = errno;
    return fail(err, "The temporary folder cannot be used: " + dir + ": " + std::strerror(err));
  }
  std::string name = dir + "QMV-" + text + ".tmp";

  int fd = platform::CreateExclusiveFile(name);
  if (fd < 0) {
    int err = errno;
    if (err == EEXIST) return fail(err, "File " + name + " exists");
    std::string report = ReportFileCreateError(name, err);
    if (!report.empty() && report.back() == '\n') report.pop_back();
    return fail(err, report);
  }
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(name.c_str());
    std::string report = ReportFileCreateError(name, err);
    report.pop_back();
    return fail(err, report);
  }
  if (osError) *osError = 0;
  path = std::move(name);
  return true;
}

std::string GetLogFilePath() {
  // The folder already ends in '/': one separator, not the doubled one of a plain append.
  std::string dir = platform::GetTempPath();
  return dir.empty() ? std::string() : dir + "wexolog.txt";
}
