// The program's private temporary folder, this run's folder inside it, and exclusive creation
// of files in them.
#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>

namespace platform {

// "wexo-<uid>" inside $TMPDIR (or /tmp), without its trailing '/': the folder GetTempPath
// makes or checks, named whether or not it can be used.
std::string PrivateTempFolder();

// PrivateTempFolder() with its trailing '/'. The folder is created mode 0700 when missing; one
// that is there already is used only when it is a real directory of ours with mode 0700.
// Anything else is refused, never repaired: whoever could enter it may have left something
// inside. False with the reason in error (and errno set) otherwise.
bool GetTempPath(std::string& path, std::string& error);

// The same, "" when the folder cannot be used.
std::string GetTempPath();

// Makes path (no trailing '/') a folder of ours, mode 0700, inside a folder that only we can
// write; a folder already there is used on the same terms as the private folder itself. False
// with the reason in error and errno set.
bool MakePrivateFolder(const std::string& path, std::string& error);

// Creates path as a new file (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600) and returns its
// descriptor, open for writing; -1 with errno set when the name exists or cannot be made.
int CreateExclusiveFile(const std::string& path);

// This run's own folder in the private folder, "run-<pid>-<n>/", for the files that go with
// the run (bodies waiting to be parsed). It is made at first use beside "run-<pid>-<n>.lock",
// a file the run keeps locked (flock) for its whole life: a run that finds such a lock free
// knows its run is dead and removes what it left. Files are made in it only while a
// RunTempFolder is held, so that once the folder is removed (RemoveRunTempFolder) nothing new
// appears in it.
class RunTempFolder {
 public:
  RunTempFolder();
  RunTempFolder(const RunTempFolder&) = delete;
  RunTempFolder& operator=(const RunTempFolder&) = delete;

  // False with Error() and errno set when the folder cannot be used.
  bool Ok() const { return !m_path.empty(); }
  // The folder with its trailing '/'.
  const std::string& Path() const { return m_path; }
  const std::string& Error() const { return m_error; }
  int ErrorNumber() const { return m_errno; }

 private:
  std::shared_lock<std::shared_mutex> m_use;
  std::string m_path;
  std::string m_error;
  int m_errno = 0;
};

// Removes this run's folder with everything in it; no file is made in it afterwards. Called at
// the end of the run (also from exit) and by the signal cleanup; a forked child never removes
// its parent's folder.
void RemoveRunTempFolder();

// Removes the folders (and their lock files) of runs of ours that ended without removing them:
// killed, or cut off by a power failure. Runs still alive keep theirs.
void RemoveDeadRunFolders();

}  // namespace platform
