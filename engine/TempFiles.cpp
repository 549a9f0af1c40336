#include "engine/TempFiles.h"

#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>

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

namespace {

std::mutex noteLock;
std::string noteReason;
bool noted = false;
bool noteTaken = false;

}  // namespace

void NoteTempFolderUnusable(const std::string& reason) {
  std::lock_guard<std::mutex> lock(noteLock);
  if (noted) return;
  noted = true;
  noteReason = reason;
}

bool TakeTempFolderNote(std::string& sentence) {
  std::lock_guard<std::mutex> lock(noteLock);
  if (!noted || noteTaken) return false;
  noteTaken = true;
  const std::string folder = platform::PrivateTempFolder();
  std::string reason = noteReason;
  // "<folder>: <why>" needs the folder only once.
  if (reason.starts_with(folder + ": ")) reason.erase(0, folder.size() + 2);
  sentence = "The temporary folder " + folder + " cannot be used (" + reason +
             "), so pages larger than 1 MiB are not checked.";
  return true;
}

bool CreateUniqueTempFile(std::string& path, std::string& error, int* osError, TempFileLife life) {
  path.clear();
  error.clear();
  auto fail = [&](int err, std::string text, const std::string& reason) {
    error = std::move(text);
    if (osError) *osError = err;
    // Out of descriptors is the process's trouble, not the folder's.
    if (life == TempFileLife::Run && err != EMFILE && err != ENFILE) NoteTempFolderUnusable(reason);
    return false;
  };

  std::string dir, why;
  std::optional<platform::RunTempFolder> run;
  if (life == TempFileLife::Run) {
    run.emplace();
    if (run->Ok()) dir = run->Path();
    why = run->Error();
    errno = run->ErrorNumber();
  } else {
    platform::GetTempPath(dir, why);
  }
  if (dir.empty()) {
    int err = errno;
    return fail(err, "The temporary folder cannot be used: " + why, why);
  }

  uuid_t uuid;
  uuid_generate(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  // Sixteen subfolders: many workers creating and removing files in one folder contend for
  // its lock.
  dir += text[0];
  if (!platform::MakePrivateFolder(dir, why)) {
    int err = errno;
    return fail(err, "The temporary folder cannot be used: " + why, why);
  }
  std::string name = dir + "/QMV-" + text + ".tmp";

  int fd = platform::CreateExclusiveFile(name);
  if (fd < 0) {
    int err = errno;
    if (err == EEXIST) return fail(err, "File " + name + " exists", name + ": " + platform::FileErrorText(err));
    std::string report = ReportFileCreateError(name, err);
    if (!report.empty() && report.back() == '\n') report.pop_back();
    return fail(err, report, name + ": " + platform::FileErrorText(err));
  }
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(name.c_str());
    std::string report = ReportFileCreateError(name, err);
    report.pop_back();
    return fail(err, report, name + ": " + platform::FileErrorText(err));
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
