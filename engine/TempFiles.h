// Unique temporary files for bodies, listings and reports, and the trace-log path.
#pragma once

#include <string>

// Why a file operation failed, in the numbering a record keeps as its status (status codes 2
// to 11 of a local file are these).
enum FileExceptionCause : int {
  FILE_CAUSE_NONE = 0,
  FILE_CAUSE_GENERIC = 1,
  FILE_CAUSE_NOT_FOUND = 2,
  FILE_CAUSE_BAD_PATH = 3,
  FILE_CAUSE_TOO_MANY_OPEN_FILES = 4,
  FILE_CAUSE_ACCESS_DENIED = 5,
  FILE_CAUSE_INVALID_FILE = 6,
  FILE_CAUSE_REMOVE_CURRENT_DIR = 7,
  FILE_CAUSE_DIRECTORY_FULL = 8,
  FILE_CAUSE_BAD_SEEK = 9,
  FILE_CAUSE_HARD_IO = 10,
  FILE_CAUSE_SHARING_VIOLATION = 11,
  FILE_CAUSE_LOCK_VIOLATION = 12,
  FILE_CAUSE_DISK_FULL = 13,
  FILE_CAUSE_END_OF_FILE = 14,
};

// The cause that an errno value stands for.
int FileExceptionCauseOf(int err);

// "File '<name>' could not be created: <message> (cause=<cause>, OsError=<osError>)\n";
// the message is cut to 255 characters. The caller shows it.
std::string ReportFileCreateError(const std::string& fileName, const std::string& message, int cause, long osError);
// The same for a failure with errno value err.
std::string ReportFileCreateError(const std::string& fileName, int err);

// Creates a new, empty file "QMV-<uuid>.tmp" in the temporary folder that nobody else has.
// On success path is its full path; on failure (folder unusable, disk full, too many open
// files) it returns false with a one-line reason in error and the errno value in *osError.
bool CreateUniqueTempFile(std::string& path, std::string& error, int* osError = nullptr);

// The path begins with the private temporary folder.
bool IsInTempDir(const std::string& path);

// The trace log "wexolog.txt" in the temporary folder; "" when that folder cannot be used.
std::string GetLogFilePath();
