// What an output path may be, with the program itself: a file, a link, a FIFO, a device,
// /dev/stdout; and what happens when several runs write one path, when the disk is full and
// when a run is stopped while it writes. Everything lives in a folder of the test's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/HeadlessHost.h"
#include "e2e/support/WexoRun.h"
#include "engine/Application.h"
#include "engine/DocumentFile.h"
#include "engine/WexoDoc.h"
#include "unit/support/LocalUser.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::ReadAll;
using wexo_test::Write;

constexpr uid_t kStranger = 23456;
constexpr uid_t kFolderOwner = 12345;

// Each output switch with the first bytes of what it writes.
struct Output {
  const char* flag;
  const char* begins;
};
constexpr Output kOutputs[] = {
    {"-export", "Address\tStatus-Code"},
    {"-map", "OriginPage\tLinkToPage"},
    {"-report", "<!DOCTYPE HTML PUBLIC"},
    {"-google", "<?xml"},
    {"-save", "\x02\x00"},
};

class OutputPaths : public ::testing::Test {
 protected:
  OutputPaths() {
    dir = fs::temp_directory_path() / ("wexo-outputs-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    Write(dir / "site" / "index.html", "<html><body><a href=\"a.html\">a</a></body></html>");
    Write(dir / "site" / "a.html", "<html><head><title>A</title></head><body>a</body></html>");
    root = "file://" + (dir / "site" / "index.html").string();
  }
  ~OutputPaths() override { fs::remove_all(dir); }

  int Run(const std::string& args) { return wexo_test::RunWexo(dir, dir, args); }
  std::string Err() const { return ReadAll(dir / "err.log"); }

  // Temporary files left in folder: hidden names, and names ending in ".tmp".
  static std::vector<std::string> Temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(".") || name.ends_with(".tmp")) found.push_back(name);
    }
    return found;
  }

  // A saved check of a site with pages pages, all found; its page map beside it as <name>.map.
  void SavedSite(const std::string& name, int pages) {
    const fs::path site = dir / name;
    std::string index = "<html><body>";
    for (int i = 0; i < pages; ++i) {
      const std::string page = "p" + std::to_string(i) + ".html";
      index += "<a href=\"" + page + "\">" + page + "</a>\n";
      Write(site / page, "<html><head><title>" + name + " " + page + "</title></head></html>");
    }
    Write(site / "index.html", index + "</body></html>");
    ASSERT_EQ(Run("-url file://" + (site / "index.html").string() + " -save " + name + ".wxo -map " + name + ".map"), 0)
        << Err();
  }

  fs::path dir;
  std::string root;
};

TEST_F(OutputPaths, AnOutputOntoALinkReplacesItsTargetAndKeepsTheLink) {
  fs::create_directories(dir / "real");
  for (const Output& output : kOutputs) {
    SCOPED_TRACE(output.flag);
    const std::string name = std::string(output.flag + 1) + ".out";
    Write(dir / "real" / name, "old");
    ASSERT_EQ(::symlink(("real/" + name).c_str(), (dir / name).c_str()), 0);
    ASSERT_EQ(Run("-url " + root + " " + output.flag + " " + name), 0) << Err();
    EXPECT_TRUE(fs::is_symlink(dir / name));
    EXPECT_TRUE(ReadAll(dir / "real" / name).starts_with(output.begins)) << ReadAll(dir / "real" / name);
  }
  EXPECT_EQ(Temporaries(dir / "real"), std::vector<std::string>{});
  EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
}

TEST_F(OutputPaths, ALinkPlantedByAnotherUserInAStickyFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "links of other users need root";
  const fs::path shared = dir / "shared";
  fs::create_directories(shared);
  ASSERT_EQ(::chown(shared.c_str(), kFolderOwner, kFolderOwner), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  Write(dir / "victim", "precious");
  const fs::path link = shared / "r.htm";
  ASSERT_EQ(::symlink((dir / "victim").c_str(), link.c_str()), 0);
  ASSERT_EQ(::lchown(link.c_str(), kStranger, kStranger), 0);
  EXPECT_EQ(Run("-url " + root + " -report " + link.string()), 1);
  EXPECT_NE(Err().find("Could not create file '" + link.string() + "' for report, errno 13: Permission denied"),
            std::string::npos)
      << Err();
  EXPECT_EQ(Run("-url " + root + " -export " + link.string()), 1);
  EXPECT_NE(Err().find("Could not open file '" + link.string() + ".tmp' for writing"), std::string::npos) << Err();
  EXPECT_EQ(ReadAll(dir / "victim"), "precious");
  EXPECT_TRUE(fs::is_symlink(link));
}

// Another user's link used as a folder of the path (/tmp/dl -> their choice, then
// -export /tmp/dl/victim.txt) steers nothing: every output fails and the folder it leads to
// stays as it was. The other user plants the link itself.
TEST_F(OutputPaths, AnotherUsersLinkInAStickyFolderIsNotFollowedAsAFolderEither) {
  wexo_test::LocalUser other;
  if (::geteuid() != 0 || !wexo_test::SecondLocalUser(other)) GTEST_SKIP() << "a second user needs root";
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const fs::path shared = dir / "shared", victim = dir / "victim";
  fs::create_directories(shared);
  fs::create_directories(victim);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  Write(victim / "victim.txt", "precious");
  ASSERT_EQ(wexo_test::AsUser(other, [&] { return ::symlink(victim.c_str(), (shared / "dl").c_str()) == 0; }), 0);
  for (const Output& output : kOutputs) {
    SCOPED_TRACE(output.flag);
    const std::string path = (shared / "dl" / "victim.txt").string();
    EXPECT_EQ(Run("-url " + root + " " + output.flag + " " + path), 1);
    if (std::string(output.flag) == "-report")
      EXPECT_NE(Err().find("Could not create file '" + path + "' for report, errno 13: Permission denied"),
                std::string::npos)
          << Err();
    if (std::string(output.flag) == "-export")
      EXPECT_NE(Err().find("Could not open file '" + path + ".tmp' for writing"), std::string::npos) << Err();
  }
  EXPECT_EQ(ReadAll(victim / "victim.txt"), "precious");
  EXPECT_EQ(Temporaries(victim), std::vector<std::string>{});
  EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator()), 1);
}

TEST_F(OutputPaths, AFifoGetsTheBytesInPlaceAndWithoutAReaderFailsAtOnce) {
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Run("-url " + root + " -map fifo"), 1) << "no reader: an open failure, no wait";
  EXPECT_NE(Err().find("Could not open file 'fifo.tmp' for writing"), std::string::npos) << Err();

  for (const Output& output : kOutputs) {
    SCOPED_TRACE(output.flag);
    // The reader is there first; the outputs are small enough for the pipe's buffer.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(Run("-url " + root + " " + output.flag + " fifo"), 0) << Err();
    std::string got(65536, '\0');
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    ASSERT_GT(n, 0);
    got.resize(static_cast<std::size_t>(n));
    EXPECT_TRUE(got.starts_with(output.begins)) << got;
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  }
  EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
}

TEST_F(OutputPaths, ADeviceAndStandardOutputAreWrittenInPlace) {
  ASSERT_EQ(Run("-url " + root + " -export /dev/stdout"), 0) << Err();
  EXPECT_TRUE(ReadAll(dir / "out.log").starts_with("Address\tStatus-Code")) << ReadAll(dir / "out.log");
  ASSERT_EQ(Run("-url " + root + " -report /dev/stderr"), 0);
  EXPECT_NE(Err().find("<!DOCTYPE HTML PUBLIC"), std::string::npos) << Err();

  if (::geteuid() != 0) GTEST_SKIP() << "mknod needs root";
  const fs::path null = dir / "null";
  ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);  // the numbers of /dev/null
  ASSERT_EQ(Run("-url " + root + " -export null -map null -report null -google null -save null"), 0) << Err();
  struct stat st;
  ASSERT_EQ(::lstat(null.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
}

TEST_F(OutputPaths, TwentyRunsWritingOnePathLeaveOneRunsWholeOutput) {
  SavedSite("big", 2000);
  SavedSite("small", 300);
  const std::string big = ReadAll(dir / "big.map"), small = ReadAll(dir / "small.map");
  ASSERT_GT(big.size(), 100000u);
  // All twenty at once; the command fails when any run does.
  std::string command = "cd '" + dir.string() + "' && pids= && for i in $(seq 10); do ";
  for (const char* doc : {"big", "small"})
    command += wexo_test::WexoCommand(dir, std::string(doc) + ".wxo -map t.map") +
               " > /dev/null 2>> runs.log & pids=\"$pids $!\"; ";
  command += "done; failed=0; for p in $pids; do wait $p || failed=1; done; exit $failed";
  EXPECT_EQ(wexo_test::Shell(command), 0) << ReadAll(dir / "runs.log");
  const std::string result = ReadAll(dir / "t.map");
  EXPECT_TRUE(result == big || result == small) << result.size() << " bytes";
  EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
}

TEST_F(OutputPaths, AFullDiskKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small file system of our own needs root";
  SavedSite("big", 2000);
  fs::create_directories(dir / "small");
  // A file system of 64 KiB in a mount namespace of its own: the map does not fit.
  const std::string command =
      "cd '" + dir.string() +
      "' && unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs small && printf old > small/t.map"
      " && " +
      wexo_test::WexoCommand(dir, "big.wxo -map small/t.map") +
      " 2> err.log; rc=$?; cat small/t.map > kept.txt; ls -A small > left.txt; exit $rc'";
  EXPECT_EQ(wexo_test::Shell(command), 1);
  EXPECT_NE(Err().find("No space left on device"), std::string::npos) << Err();
  EXPECT_EQ(ReadAll(dir / "kept.txt"), "old");
  EXPECT_EQ(ReadAll(dir / "left.txt"), "t.map\n");
}

// A check whose report takes a while to write: many pages, every one in the site map.
void SaveLargeCheck(const fs::path& path, int pages) {
  HeadlessHost host;
  CWexoApp app;
  EngineContext context;
  context.host = &host;
  context.app = &app;
  CWexoDoc doc{context};
  doc.SetRootUrl("http://127.0.0.1:1/");
  const CLinkInfo* top = doc.NewLink("http://127.0.0.1:1/", nullptr, REQUEST_GET);
  doc.SetStatus(top, 200, "OK");
  doc.UpdateLink(*top, [&](CLinkInfo& r) {
    r.m_csMimeType = "text/html";
    r.m_csTitle = "Top";
  });
  for (int i = 0; i < pages; ++i) {
    const CLinkInfo* page = doc.NewLink("http://127.0.0.1:1/page" + std::to_string(i) + ".html", top, REQUEST_GET);
    doc.SetStatus(page, 200, "OK");
    doc.UpdateLink(*page, [&](CLinkInfo& r) {
      r.m_csMimeType = "text/html";
      r.m_csTitle = "Page " + std::to_string(i);
    });
  }
  std::string error;
  ASSERT_TRUE(SaveDocumentFile(doc, path.string(), error)) << error;
}

// Whether folder holds a temporary file of output (a hidden name beginning ".<output>.").
bool HasTemporaryOf(const fs::path& folder, const std::string& output) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with("." + output + ".")) return true;
  return false;
}

TEST_F(OutputPaths, AStoppedRunLeavesNoTemporaryOutput) {
  SaveLargeCheck(dir / "large.wxo", 300000);
  struct Case {
    int signal;
    const char* flag;
    const char* output;
  } cases[] = {{SIGTERM, "-report", "r.htm"},
               {SIGINT, "-report", "r.htm"},
               {SIGHUP, "-report", "r.htm"},
               {SIGTERM, "-save", "copy.wxo"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.flag) + " " + strsignal(c.signal));
    const pid_t pid = wexo_test::SpawnWexo(dir, {"large.wxo", c.flag, c.output});
    ASSERT_GT(pid, 0);
    bool seen = false;
    int status = 0;
    for (int i = 0; i < 600000 && !seen; ++i) {
      seen = HasTemporaryOf(dir, c.output);
      if (!seen && ::waitpid(pid, &status, WNOHANG) == pid) break;
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(seen) << "the run ended before its output was seen being written: " << ReadAll(dir / "err.log");
    ASSERT_EQ(::kill(pid, c.signal), 0);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    EXPECT_FALSE(HasTemporaryOf(dir, c.output));
    EXPECT_FALSE(fs::exists(dir / c.output));
  }
}

}  // namespace
