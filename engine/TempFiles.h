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

// How long a temporary file is wanted: for this run only (a body waiting for the parser; it
// goes with the run, on a signal too), or beyond it (a report a browser shows later).
enum class TempFileLife { Run, Lasting };

// Creates a new, empty file "QMV-<uuid>.tmp" in the temporary folder that nobody else has: in
// the run's folder, or for a lasting file in the private folder itself. On success path is its
// full path; on failure (folder unusable, disk full, too many open files) it returns false with
// a one-line reason in error and the errno value in *osError. A run file that cannot be made
// is noted for TakeTempFolderNote.
bool CreateUniqueTempFile(std::string& path, std::string& error, int* osError = nullptr,
                          TempFileLife life = TempFileLife::Run);

// A body that could not be kept in the temporary folder: reason names what failed and why
// ("<path>: No space left on device"). Only the first note of the process is kept. Any thread.
void NoteTempFolderUnusable(const std::string& reason);
// The sentence that tells of the first note, once per process: false when there is none or
// it was taken already.
bool TakeTempFolderNote(std::string& sentence);

// The path begins with the private temporary folder.
bool IsInTempDir(const std::string& path);

// The trace log "wexolog.txt" in the temporary folder; "" when that folder cannot be used.
std::string GetLogFilePath();
