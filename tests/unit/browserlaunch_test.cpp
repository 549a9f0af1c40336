// Opening URLs and files in the browser: a stub xdg-open first on PATH records what it was
// given, so these tests see the exact argument vector, working folder and descriptors.
#include "report/BrowserLaunch.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Clock.h"
#include "engine/TempFiles.h"
#include "engine/TraceLog.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"
#include "unit/support/ScriptedHost.h"
#include "unit/support/StubLauncher.h"

namespace {

constexpr std::int64_t kNow = 1765272918;
constexpr const char* kStamp = "09.12.2025 09:35:18";
// A descriptor the test leaves open across exec; the launcher must not hand it on.
constexpr int kLeakedFd = 57;

int Zombies();

class BrowserLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("TMPDIR");
    Save("TZ");
    char tmpl[] = "/tmp/wexo-launch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    stub_ = std::make_unique<StubLauncher>(base_, kLeakedFd);
    setenv("TMPDIR", base_.c_str(), 1);
    setenv("TZ", "UTC0", 1);
    tzset();
    SetClockForTests([] { return kNow; });
    log_ = GetLogFilePath();
    ASSERT_FALSE(log_.empty());
  }

  void TearDown() override {
    // Every launch has told its outcome before the host goes.
    platform::WaitForShellLaunches();
    platform::SetShellLaunchBoundForTests(std::chrono::seconds(10));
    SetClockForTests(nullptr);
    stub_.reset();
    for (const auto& [name, value] : saved_)
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    tzset();
    ASSERT_EQ(std::system(("rm -rf '" + base_ + "'").c_str()), 0);
  }

  void Save(const char* name) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value ? value : "");
  }

  // The runs, once count of them have ended and every launch has told its outcome.
  std::vector<StubRun> WaitForRuns(std::size_t count) {
    std::vector<StubRun> runs = stub_->WaitForRuns(count);
    host_.RunPostedTasks();
    return runs;
  }

  // The trace log's lines, each checked to carry the source "Wexo"; what comes back is
  // "<number>: <message>".
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const std::string& line : TraceLogLines(log_, kStamp)) {
      EXPECT_EQ(line.rfind("Wexo, ", 0), 0u) << line;
      lines.push_back(line.substr(6));
    }
    return lines;
  }

  std::vector<std::pair<std::string, std::string>> saved_;
  std::string base_, log_;
  std::unique_ptr<StubLauncher> stub_;
  TempIni ini_;
  ScriptedHost host_;
};

TEST_F(BrowserLaunchTest, UrlIsOneArgumentNeverShellText) {
  const std::string pwned = base_ + "/pwned";
  const std::string url = "http://example.com/a b?q=$(touch " + pwned + ");`touch " + pwned + "`&x='\"";
  vLaunchURL(host_.app, host_, url, 0);

  std::vector<StubRun> runs = WaitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, std::vector<std::string>{url});
  EXPECT_FALSE(PathExists(pwned));
  EXPECT_TRUE(host_.boxes.empty());
  // UseDDE is on by default: the four keys of the http handler are logged, all empty.
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "538: vLaunchURL ('" + url + "') start",
                            "559: UseDDE = 1",
                            "579: szCmd = ''",
                            "597: szDdeExec = ''",
                            "615: szApplication = ''",
                            "633: szTopic = ''",
                            "510: ShellExecute(0x00000000,'open','" + url + "',NULL,NULL,SW_SHOWNORMAL) = 42 (ok)",
                        }));
}

TEST_F(BrowserLaunchTest, WithoutDdeOnlyStartSettingAndLaunchAreLogged) {
  ini_.Set("Options", "UseDDE", "0");
  vLaunchURL(host_.app, host_, "https://example.org/", 0);
  WaitForRuns(1);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "538: vLaunchURL ('https://example.org/') start",
                "559: UseDDE = 0",
                "510: ShellExecute(0x00000000,'open','https://example.org/',NULL,NULL,SW_SHOWNORMAL) = 42 (ok)",
            }));
}

TEST_F(BrowserLaunchTest, FileUrlOpensItsDecodedPathInItsFolder) {
  const std::string folder = base_ + "/site dir";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string path = folder + "/-report 100%#1.htm";
  std::ofstream(path) << "<html></html>";
  const std::string url = platform::FileUrlFromPath(path);
  ini_.Set("Options", "UseDDE", "0");

  LaunchUrlByShellExecute(host_, url, 0);
  std::vector<StubRun> runs = WaitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, std::vector<std::string>{path});
  EXPECT_EQ(runs[0].cwd, folder);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>{"510: ShellExecute(0x00000000,'open','" + path + "',NULL,'" + folder +
                                                 "',SW_SHOWNORMAL) = 42 (ok)"});
}

TEST_F(BrowserLaunchTest, FailuresShowTheShellsNumberAndText) {
  struct Case {
    const char* name;
    std::string url;
    std::string path;  // PATH for the launch; "" keeps the stub's
    int result;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"option-like target", "-xyz", "", 13, "The data is invalid."},
      {"missing file", platform::FileUrlFromPath(base_ + "/gone.htm"), "", 2,
       "The system cannot find the file specified."},
      {"no xdg-open", "http://example.com/", base_ + "/empty", 2, "The system cannot find the file specified."},
  };
  ASSERT_EQ(mkdir((base_ + "/empty").c_str(), 0700), 0);
  const std::string stubPath = std::getenv("PATH");
  for (const Case& c : cases) {
    host_.boxes.clear();
    ::unlink(log_.c_str());
    if (!c.path.empty()) setenv("PATH", c.path.c_str(), 1);
    LaunchUrlByShellExecute(host_, c.url, 0);
    // The launch runs off this thread, with the PATH of its time.
    host_.RunPostedTasks();
    setenv("PATH", stubPath.c_str(), 1);
    EXPECT_EQ(host_.boxes, std::vector<std::string>{"Unable to open browser for '" + c.url + "': error " +
                                                    std::to_string(c.result) + ": " + c.text})
        << c.name;
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_NE(lines[0].find(") = " + std::to_string(c.result) + " (" + c.text + ")"), std::string::npos) << lines[0];
  }
  // None of them started the launcher; a good launch afterwards is the only run.
  vLaunchURL(host_.app, host_, "http://example.net/", 0);
  std::vector<StubRun> runs = WaitForRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, std::vector<std::string>{"http://example.net/"});
}

// Children of this process that have ended and were not reaped.
int Zombies() {
  int count = 0;
  const std::string self = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::string stat = ReadFileText(std::string("/proc/") + entry->d_name + "/stat");
    // "pid (comm) state ppid ...": the name may hold blanks, so read after its ')'.
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string state, ppid;
    fields >> state >> ppid;
    if (ppid == self && state == "Z") ++count;
  }
  closedir(proc);
  return count;
}

TEST_F(BrowserLaunchTest, LauncherGetsNoDescriptorOfOursAndIsReaped) {
  const int fd = ::open(base_.c_str(), O_RDONLY | O_DIRECTORY);  // without O_CLOEXEC
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, kLeakedFd), kLeakedFd);
  ::close(fd);
  for (int i = 0; i < 5; ++i) vLaunchURL(host_.app, host_, "http://example.com/" + std::to_string(i), 0);
  std::vector<StubRun> runs = WaitForRuns(5);
  ::close(kLeakedFd);
  for (const StubRun& run : runs) EXPECT_EQ(run.fd, "closed");

  int zombies = Zombies();
  for (int i = 0; i < 200 && zombies > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    zombies = Zombies();
  }
  EXPECT_EQ(zombies, 0);
}

TEST_F(BrowserLaunchTest, TraceLogIsPrivateAndNeverWrittenThroughALink) {
  WriteTraceLog("WexoDoc", 5412, "vLaunchReport () start\n");
  struct stat st;
  ASSERT_EQ(lstat(log_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFileText(log_), std::string("WexoDoc, 5412\t") + kStamp + ": vLaunchReport () start\r\n");

  // A log left readable by others is made private by the next line.
  ASSERT_EQ(chmod(log_.c_str(), 0644), 0);
  WriteTraceLog("Wexo", 858, "vLaunchURL() done\n");
  ASSERT_EQ(lstat(log_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFileText(log_), std::string("WexoDoc, 5412\t") + kStamp + ": vLaunchReport () start\r\n" +
                                    "Wexo, 858\t" + kStamp + ": vLaunchURL() done\r\n");

  // A link at the log's name is neither followed nor replaced; its lines are lost.
  const std::string target = base_ + "/elsewhere";
  std::ofstream(target) << "untouched";
  ASSERT_EQ(unlink(log_.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), log_.c_str()), 0);
  vLaunchURL(host_.app, host_, "http://example.com/", 0);
  WaitForRuns(1);
  EXPECT_EQ(ReadFileText(target), "untouched");
  ASSERT_EQ(lstat(log_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(BrowserLaunchTest, TheLaunchersExitStatusIsTheResult) {
  ini_.Set("Options", "UseDDE", "0");
  const struct {
    int status;
    int result;
    std::string text;
  } cases[] = {
      {0, 42, "ok"},
      {1, 13, "The data is invalid."},
      {2, 2, "The system cannot find the file specified."},
      {3, 31, "No application is associated with the specified file for this operation."},
      {4, 4, "The system cannot open the file."},
      {9, 4, "The system cannot open the file."},
  };
  std::size_t runs = 0;
  for (const auto& c : cases) {
    host_.boxes.clear();
    ::unlink(log_.c_str());
    stub_->SetExit(c.status);
    const std::string url = "http://example.com/" + std::to_string(c.status);
    // The outcome comes once the launcher has ended.
    LaunchUrlByShellExecute(host_, url, 0);
    WaitForRuns(++runs);
    if (c.result > 32)
      EXPECT_TRUE(host_.boxes.empty()) << c.status;
    else
      EXPECT_EQ(host_.boxes, std::vector<std::string>{"Unable to open browser for '" + url + "': error " +
                                                      std::to_string(c.result) + ": " + c.text})
          << c.status;
    EXPECT_EQ(LogLines(), std::vector<std::string>{"510: ShellExecute(0x00000000,'open','" + url +
                                                   "',NULL,NULL,SW_SHOWNORMAL) = " + std::to_string(c.result) + " (" +
                                                   c.text + ")"});
  }
}

TEST_F(BrowserLaunchTest, ALauncherStillRunningAfterTheBoundHasOpenedIt) {
  ini_.Set("Options", "UseDDE", "0");
  platform::SetShellLaunchBoundForTests(std::chrono::milliseconds(200));
  // It would fail, but only after the bound: taken as started.
  stub_->SetExit(3, 2);
  const auto start = std::chrono::steady_clock::now();
  LaunchUrlByShellExecute(host_, "http://example.com/slow", 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "the caller never waits";
  WaitForRuns(1);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "510: ShellExecute(0x00000000,'open','http://example.com/slow',NULL,NULL,SW_SHOWNORMAL) "
                            "= 42 (ok)"});
  // The launcher is reaped once it ends.
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  int zombies = Zombies();
  for (int i = 0; i < 100 && zombies > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    zombies = Zombies();
  }
  EXPECT_EQ(zombies, 0);
}

// Launches made one right after the other (Show Backlinks opens three services) reach the
// browser in the order they were made: each launcher starts once the one before it has
// ended, and the trace log tells each launch whole before the next begins.
TEST_F(BrowserLaunchTest, LaunchesRunOneAfterAnotherInTheirOrder) {
  ini_.Set("Options", "UseDDE", "0");
  stub_->SetExit(0, 0.3);
  const std::vector<std::string> urls = {"http://one.example/", "http://two.example/", "http://three.example/"};
  for (const std::string& url : urls) vLaunchURL(host_.app, host_, url, 0);
  WaitForRuns(urls.size());
  std::vector<std::string> order, log;
  for (const std::string& url : urls) {
    order.push_back("start " + url);
    order.push_back("end " + url);
    log.push_back("538: vLaunchURL ('" + url + "') start");
    log.push_back("559: UseDDE = 0");
    log.push_back("510: ShellExecute(0x00000000,'open','" + url + "',NULL,NULL,SW_SHOWNORMAL) = 42 (ok)");
  }
  EXPECT_EQ(stub_->Order(), order);
  EXPECT_EQ(LogLines(), log);
  EXPECT_TRUE(host_.boxes.empty());
}

TEST(ShellExecuteResultTest, ErrnoValuesAsTheShellReportsThem) {
  const struct {
    int err;
    int result;
    const char* text;
  } cases[] = {
      {0, 42, "ok"},
      {ENOENT, 2, "The system cannot find the file specified."},
      {ENOTDIR, 3, "The system cannot find the path specified."},
      {EMFILE, 4, "The system cannot open the file."},
      {EACCES, 5, "Access is denied."},
      {EAGAIN, 8, "Not enough memory resources are available to process this command."},
      {ENOEXEC, 11, "An attempt was made to load a program with an incorrect format."},
      {EINVAL, 13, "The data is invalid."},
      {EIO, 13, "The data is invalid."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ShellExecuteResult(c.err), c.result) << c.err;
    EXPECT_EQ(platform::ShellExecuteResultText(c.result), c.text) << c.err;
  }
  EXPECT_EQ(platform::ShellOpen(""), EINVAL);
  EXPECT_EQ(platform::ShellOpen("--help"), EINVAL);
}

}  // namespace
