#include "unit/support/StubLauncher.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

StubLauncher::StubLauncher(const std::string& base, int watchedFd)
    : m_bin(base + "/bin"), m_record(base + "/record"), m_order(base + "/order") {
  const char* path = std::getenv("PATH");
  m_savedPath = path ? path : "";
  EXPECT_EQ(mkdir(m_bin.c_str(), 0700), 0);
  EXPECT_EQ(mkdir(m_record.c_str(), 0700), 0);
  const std::string stub = m_bin + "/xdg-open";
  // Each run writes its own file and renames it into place once complete, so runs side by
  // side never mix their lines and a half-written run is never read.
  std::ofstream(stub) << "#!/bin/sh\n"
                      << "out='" << m_record << "'/run-$$\n"
                      << "printf 'start %s\\n' \"$*\" >> '" << base << "/order'\n"
                      << "{\n"
                      << "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                      << "  printf 'cwd=%s\\n' \"$(pwd)\"\n"
                      << "  if [ -e /proc/$$/fd/" << watchedFd << " ]; then echo fd=open; else echo fd=closed; fi\n"
                      << "} > \"$out.part\"\n"
                      << "mv \"$out.part\" \"$out\"\n"
                      << "status='" << base << "/exit-status'\n"
                      << "s=0\n"
                      << "if [ -f \"$status\" ]; then read s t < \"$status\"; sleep \"${t:-0}\"; fi\n"
                      << "printf 'end %s\\n' \"$*\" >> '" << base << "/order'\n"
                      << "exit \"$s\"\n";
  EXPECT_EQ(chmod(stub.c_str(), 0755), 0);
  setenv("PATH", (m_bin + ":" + m_savedPath).c_str(), 1);
}

StubLauncher::~StubLauncher() { setenv("PATH", m_savedPath.c_str(), 1); }

void StubLauncher::SetExit(int status, double seconds) {
  std::ofstream(m_record + "/../exit-status") << status << " " << seconds << "\n";
}

std::vector<StubRun> StubLauncher::Runs() const {
  std::vector<StubRun> runs;
  DIR* dir = opendir(m_record.c_str());
  if (!dir) return runs;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind("run-", 0) != 0 || name.find('.') != std::string::npos) continue;
    StubRun run;
    std::istringstream in(ReadFileText(m_record + "/" + name));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("arg=", 0) == 0) run.args.push_back(line.substr(4));
      if (line.rfind("cwd=", 0) == 0) run.cwd = line.substr(4);
      if (line.rfind("fd=", 0) == 0) run.fd = line.substr(3);
    }
    runs.push_back(std::move(run));
  }
  closedir(dir);
  return runs;
}

std::vector<std::string> StubLauncher::Order() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileText(m_order));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<StubRun> StubLauncher::WaitForRuns(std::size_t count) const {
  std::vector<StubRun> runs;
  for (int i = 0; i < 600; ++i) {
    runs = Runs();
    if (runs.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(runs.size(), count);
  return runs;
}

std::vector<std::string> TraceLogLines(const std::string& logPath, const std::string& stamp) {
  std::vector<std::string> lines;
  const std::string text = ReadFileText(logPath);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << text;
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    const std::size_t tab = line.find('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    if (tab == std::string::npos) continue;
    EXPECT_EQ(line.substr(tab + 1, stamp.size() + 2), stamp + ": ") << line;
    lines.push_back(line.substr(0, tab) + ": " + line.substr(tab + 1 + stamp.size() + 2));
  }
  return lines;
}
