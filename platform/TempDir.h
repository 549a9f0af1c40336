// The program's private temporary folder and exclusive creation of files in it.
#pragma once

#include <string>

namespace platform {

// "wexo-<uid>/" inside $TMPDIR (or /tmp), with its trailing '/'. The folder is created mode
// 0700 when missing and must be a real directory owned by us; one of ours that others may
// enter is made private again. False with the reason in error (and errno set) otherwise.
bool GetTempPath(std::string& path, std::string& error);

// The same, "" when the folder cannot be used.
std::string GetTempPath();

// Creates path as a new file (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600) and returns its
// descriptor, open for writing; -1 with errno set when the name exists or cannot be made.
int CreateExclusiveFile(const std::string& path);

}  // namespace platform
