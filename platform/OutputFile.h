// The one way every output and settings file is written: whatever stands at the path is
// treated as what it is, never just renamed over.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform {

// What an output path leads to, symbolic links followed as the kernel follows them for this
// user (in a sticky, world-writable folder only a link of ours or of the folder's owner).
struct OutputTarget {
  enum class Kind {
    Missing,  // nothing there yet: created
    Regular,  // a file: replaced atomically
    Special,  // a device, FIFO or a process's open file (/dev/stdout): written in place
  };
  Kind kind = Kind::Missing;
  // The file really written: the end of the links; for a process's open file the /proc link,
  // which only the kernel can follow.
  std::string path;
  bool openFile = false;  // path is such a /proc link
  struct stat st {};      // of what path leads to, when it exists
  // The caller holds the file's exclusive flock already (the settings writer does): a rewrite
  // in place does not take it again.
  bool locked = false;
};

// Resolves path a part at a time; false with errno set (EISDIR for a folder, EACCES for a
// link on the way that the kernel's rule would not follow, ELOOP, ENOTDIR, ...).
bool ResolveOutput(const std::string& path, OutputTarget& target);

// An output being written. A regular file (or nothing yet) at the path gets a unique
// temporary file beside it, renamed over it by Commit once complete, so a failure or a
// concurrent writer never leaves a mixed or partial file; the new file keeps the old one's
// mode and, where we may set it, its owner. A device or FIFO is written in place, and a FIFO
// without a reader fails to open rather than wait. A file of ours in a folder we may not write
// to is rewritten in place under an exclusive flock, waited for, so runs take turns; such a
// rewrite cannot keep the old file when it fails half way. Without Commit nothing is replaced
// and the temporary file is removed.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False with ErrorNumber() set: the path cannot be written (a folder, a FIFO without a
  // reader, a link not to be followed, no such folder, ...).
  bool Open(const std::string& path);
  // Opens what ResolveOutput gave; newMode is the mode of a file that did not exist yet
  // (less the umask).
  bool Open(const OutputTarget& target, mode_t newMode = 0666);
  int Fd() const { return m_fd; }
  bool InPlace() const { return m_inPlace; }
  // Completes the output: synced and renamed over the target (a regular file), or closed.
  // False with ErrorNumber() set; the old file is then as it was.
  bool Commit();
  // Drops the output: the temporary file goes, the target stays as it was.
  void Discard();
  int ErrorNumber() const { return m_errno; }

 private:
  bool Fail(int err);
  bool OpenReplacing(const OutputTarget& target, mode_t newMode);
  bool OpenInPlace(const OutputTarget& target);
  bool OpenRewriting(const OutputTarget& target);

  int m_fd = -1;
  int m_errno = 0;
  bool m_inPlace = false;
  bool m_sync = false;  // a regular file: synced before it counts as written
  int m_slot = -1;      // the temporary name kept for the signal cleanup
  std::string m_target;
  std::string m_temp;
};

// The folder part of path: "." without one, "/" for a file in the root.
std::string ParentFolder(const std::string& path);

}  // namespace platform
