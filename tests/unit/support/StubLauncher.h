// A stub xdg-open first on PATH that records what each run was given, so tests see the exact
// argument vector, working folder and descriptors of a launch; and the trace log read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One run of the stub: its arguments, working folder and whether the watched descriptor was
// open ("open" or "closed").
struct StubRun {
  std::vector<std::string> args;
  std::string cwd;
  std::string fd;
};

class StubLauncher {
 public:
  // Writes the stub into <base>/bin and puts that folder first on PATH (restored by the
  // destructor); runs are recorded in <base>/record.
  explicit StubLauncher(const std::string& base, int watchedFd = 57);
  ~StubLauncher();
  StubLauncher(const StubLauncher&) = delete;
  StubLauncher& operator=(const StubLauncher&) = delete;

  // The runs that have ended so far, in no particular order.
  std::vector<StubRun> Runs() const;
  // The runs, once count of them have ended (a launch does not wait for its run); a test
  // failure when another count came.
  std::vector<StubRun> WaitForRuns(std::size_t count) const;
  // "start <args>" as each run began and "end <args>" just before it exited, in the order they
  // happened (the arguments joined by blanks).
  std::vector<std::string> Order() const;
  // Later runs exit with status after waiting seconds (at first: 0 at once).
  void SetExit(int status, double seconds = 0);
  // The folder with the stub; PATH set to it alone finds no launcher.
  const std::string& BinDir() const { return m_bin; }

 private:
  std::string m_bin;
  std::string m_record;
  std::string m_order;
  std::string m_savedPath;
};

// The trace log's lines as "<source>, <number>: <message>", each checked to end in CR LF and to
// carry the time stamp.
std::vector<std::string> TraceLogLines(const std::string& logPath, const std::string& stamp);

// Whether anything (a dangling link too) is at path.
bool PathExists(const std::string& path);

// The whole file; "" when it cannot be read.
std::string ReadFileText(const std::string& path);
