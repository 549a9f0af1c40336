// The one writer of outputs and settings files: what stands at the path decides how it is
// written. Everything happens in a folder of the test's own; device nodes are made there.
#include "platform/OutputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "unit/support/LocalUser.h"

namespace {

namespace fs = std::filesystem;
using platform::OutputFile;
using wexo_test::AsUser;
using wexo_test::LocalUser;

// Users that own nothing else on the machine: the planter of links and a folder's owner.
constexpr uid_t kStranger = 23456;
constexpr uid_t kFolderOwner = 12345;
constexpr uid_t kNobody = 65534;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wexo-output-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }

  static void Put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  static std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool WriteAll(OutputFile& out, const std::string& text) {
    return ::write(out.Fd(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  // Opens path, writes text and commits; the errno of the first failure, 0 on success.
  static int Output(const fs::path& path, const std::string& text) {
    OutputFile out;
    if (!out.Open(path.string())) return out.ErrorNumber();
    if (!WriteAll(out, text)) return errno;
    return out.Commit() ? 0 : out.ErrorNumber();
  }
  // The names in folder, hidden ones included.
  static std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool IsRoot() { return ::geteuid() == 0; }

  fs::path dir;
};

TEST_F(OutputFileTest, AFileIsReplacedOnlyOnceTheNewOneIsComplete) {
  const fs::path path = dir / "out.txt";
  Put(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    OutputFile out;
    ASSERT_TRUE(out.Open(path.string()));
    EXPECT_FALSE(out.InPlace());
    ASSERT_TRUE(WriteAll(out, "half"));
    EXPECT_EQ(Get(path), "old");
    EXPECT_EQ(Names(dir).size(), 2u) << "a temporary file beside the target";
    // Dropped without Commit: the old file stays and the temporary file goes.
  }
  EXPECT_EQ(Get(path), "old");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.txt"});

  ASSERT_EQ(Output(path, "new"), 0);
  EXPECT_EQ(Get(path), "new");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.txt"});

  // Nothing there yet: created, with no temporary file left.
  ASSERT_EQ(Output(dir / "fresh.txt", "x"), 0);
  EXPECT_EQ(Get(dir / "fresh.txt"), "x");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"fresh.txt", "out.txt"}));
}

TEST_F(OutputFileTest, WritersOfOnePathNeverShareATemporaryFile) {
  const fs::path path = dir / "t.map";
  Put(path, "old");
  // A file of the name the program once used is the user's: left alone.
  Put(dir / "t.map.tmp", "mine");
  OutputFile a, b;
  ASSERT_TRUE(a.Open(path.string()));
  ASSERT_TRUE(b.Open(path.string()));
  ASSERT_TRUE(WriteAll(a, "aaaa"));
  ASSERT_TRUE(WriteAll(b, "bb"));
  ASSERT_TRUE(b.Commit());
  EXPECT_EQ(Get(path), "bb");
  ASSERT_TRUE(a.Commit());
  EXPECT_EQ(Get(path), "aaaa") << "the last rename wins, whole";
  EXPECT_EQ(Get(dir / "t.map.tmp"), "mine");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"t.map", "t.map.tmp"}));
}

TEST_F(OutputFileTest, ALinkStaysAndItsTargetIsReplaced) {
  fs::create_directories(dir / "real");
  struct Case {
    const char* name;
    const char* link;  // the link at dir/<name>
    const char* hop;   // a second link dir/hop -> real/<name>.txt, or nullptr
    bool existing;     // the final target exists before
  } cases[] = {
      {"relative", "real/relative.txt", nullptr, true},
      {"absolute", nullptr, nullptr, true},
      {"chain", "hop-chain", "real/chain.txt", true},
      {"dangling", "real/dangling.txt", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = dir / "real" / (std::string(c.name) + ".txt");
    if (c.existing) Put(target, "old");
    const fs::path link = dir / c.name;
    const std::string to = c.link ? c.link : target.string();
    ASSERT_EQ(::symlink(to.c_str(), link.c_str()), 0);
    if (c.hop) ASSERT_EQ(::symlink(c.hop, (dir / c.link).c_str()), 0);
    ASSERT_EQ(Output(link, "new"), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(target), "new");
    EXPECT_EQ(Names(dir / "real").size(), static_cast<std::size_t>(&c - cases + 1)) << "no temporary file";
  }
}

// In a sticky, world-writable folder (as /tmp) only a link of ours or of the folder's owner is
// followed, whatever fs.protected_symlinks says on this machine.
TEST_F(OutputFileTest, LinksInAStickyFolderAreFollowedOnlyWhenNobodyCouldPlantThem) {
  if (!IsRoot()) GTEST_SKIP() << "links of other users need root";
  const fs::path victim = dir / "victim";
  struct Case {
    const char* name;
    mode_t folderMode;
    uid_t linkOwner;
    bool followed;
  } cases[] = {
      {"ours", 01777, 0, true},
      {"the folder owner's", 01777, kFolderOwner, true},
      {"a stranger's", 01777, kStranger, false},
      {"a stranger's, folder not sticky", 0777, kStranger, true},
      {"a stranger's, folder sticky but not world-writable", 01775, kStranger, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = dir / "shared";
    fs::remove_all(folder);
    ASSERT_TRUE(fs::create_directory(folder));
    ASSERT_EQ(::chown(folder.c_str(), kFolderOwner, kFolderOwner), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
    Put(victim, "precious");
    const fs::path link = folder / "report.htm";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
    EXPECT_EQ(Output(link, "report"), c.followed ? 0 : EACCES);
    EXPECT_EQ(Get(victim), c.followed ? "report" : "precious");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"report.htm"});
  }
}

// The same rule for every link the path leads through, not just its last part: another user's
// link used as a folder (/tmp/dl -> their choice, then /tmp/dl/victim.txt), or met inside the
// text of a link of ours. The other user is a real account that plants its links itself.
TEST_F(OutputFileTest, EveryLinkOnThePathKeepsTheStickyFolderRule) {
  LocalUser other;
  if (!IsRoot() || !wexo_test::SecondLocalUser(other)) GTEST_SKIP() << "a second user needs root";
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const fs::path victim = dir / "victim";  // root's folder that the links lead to
  fs::create_directories(victim);
  // Shared folders: sticky and world-writable, root's and the other user's; one open to all.
  for (const char* name : {"shared", "theirs", "open"}) {
    ASSERT_TRUE(fs::create_directory(dir / name));
    ASSERT_EQ(::chmod((dir / name).c_str(), std::string(name) == "open" ? 0777 : 01777), 0);
  }
  ASSERT_EQ(::chown((dir / "theirs").c_str(), other.uid, other.gid), 0);
  const auto plant = [&](const std::string& to, const fs::path& at) {
    return AsUser(other, [&] { return ::symlink(to.c_str(), at.c_str()) == 0; });
  };
  for (const char* name : {"shared", "theirs", "open"}) ASSERT_EQ(plant(victim.string(), dir / name / "dl"), 0);
  ASSERT_EQ(plant("../victim", dir / "shared" / "rel"), 0);
  // Links of ours: one in the sticky folder, two elsewhere whose texts pass through theirs.
  ASSERT_EQ(::symlink(victim.c_str(), (dir / "shared" / "ours").c_str()), 0);
  ASSERT_EQ(::symlink("shared/dl/via-text.txt", (dir / "via-text").c_str()), 0);
  ASSERT_EQ(::symlink("shared/dl", (dir / "via-folder").c_str()), 0);
  ASSERT_EQ(::symlink("../shared/./rel/", (dir / "open" / "dotted").c_str()), 0);

  struct Case {
    const char* path;   // under dir
    const char* lands;  // the file written in victim, or nullptr when the output must fail
  } cases[] = {
      {"shared/dl/victim.txt", nullptr},
      {"shared/rel/relative.txt", nullptr},
      {"via-text", nullptr},
      {"via-folder/chained.txt", nullptr},
      {"open/dotted/dotted.txt", nullptr},
      {"shared/ours/ours.txt", "ours.txt"},
      {"theirs/dl/folder-owner.txt", "folder-owner.txt"},
      {"open/dl/not-sticky.txt", "not-sticky.txt"},
  };
  std::vector<std::string> written;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Output(dir / c.path, "out"), c.lands ? 0 : EACCES);
    if (c.lands) written.push_back(c.lands);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(Names(victim), written);
  }
  EXPECT_EQ(Names(dir / "shared"), (std::vector<std::string>{"dl", "ours", "rel"}));
}

TEST_F(OutputFileTest, AFifoIsWrittenInPlaceAndWithoutAReaderFailsAtOnce) {
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Output(fifo, "lost"), ENXIO);

  // A reader that is there before the writer opens.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OutputFile out;
  ASSERT_TRUE(out.Open(fifo.string()));
  EXPECT_TRUE(out.InPlace());
  ASSERT_TRUE(WriteAll(out, "bytes"));
  ASSERT_TRUE(out.Commit());
  char buffer[16] = {};
  EXPECT_EQ(::read(reader, buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer), "bytes");
  ::close(reader);
  struct stat st;
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"fifo"});
}

TEST_F(OutputFileTest, ADeviceIsWrittenInPlaceAlsoThroughALink) {
  if (!IsRoot()) GTEST_SKIP() << "mknod needs root";
  const fs::path null = dir / "null";
  ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);  // the numbers of /dev/null
  ASSERT_EQ(::symlink("null", (dir / "to-null").c_str()), 0);
  for (const char* name : {"null", "to-null"}) {
    SCOPED_TRACE(name);
    OutputFile out;
    ASSERT_TRUE(out.Open((dir / name).string()));
    EXPECT_TRUE(out.InPlace());
    EXPECT_TRUE(WriteAll(out, std::string(100000, 'x')));
    EXPECT_TRUE(out.Commit());
  }
  struct stat st;
  ASSERT_EQ(::lstat(null.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
  EXPECT_TRUE(fs::is_symlink(dir / "to-null"));
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"null", "to-null"}));
}

TEST_F(OutputFileTest, AFolderIsAnOpenFailure) {
  fs::create_directories(dir / "folder" / "keep");
  ASSERT_EQ(::symlink("folder", (dir / "to-folder").c_str()), 0);
  EXPECT_EQ(Output(dir / "folder", "x"), EISDIR);
  EXPECT_EQ(Output(dir / "to-folder", "x"), EISDIR);
  EXPECT_EQ(Output(dir / "no-such-folder" / "x", "x"), ENOENT);
  EXPECT_TRUE(fs::exists(dir / "folder" / "keep"));
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"folder", "to-folder"}));
}

// /dev/stdout and /dev/fd/N lead to a process's open file: a pipe gets the bytes, a file that
// stdout was sent to is added to, never replaced.
TEST_F(OutputFileTest, AProcessOpenFileIsWrittenThroughItsDescriptor) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_EQ(Output("/proc/self/fd/" + std::to_string(ends[1]), "piped"), 0);
  ::close(ends[1]);
  char buffer[16] = {};
  EXPECT_EQ(::read(ends[0], buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer), "piped");
  ::close(ends[0]);

  const fs::path log = dir / "log";
  Put(log, "earlier\n");
  const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Output("/dev/fd/" + std::to_string(fd), "added"), 0);
  ::close(fd);
  EXPECT_EQ(Get(log), "earlier\nadded");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"log"});
}

// A user's writable file in a folder the user may not write to is rewritten in place: no
// temporary file can be made beside it.
TEST_F(OutputFileTest, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
  if (!IsRoot()) GTEST_SKIP() << "becoming another user needs root";
  const fs::path folder = dir / "readonly";
  fs::create_directories(folder);
  const fs::path path = folder / "out.txt";
  Put(path, "old and longer");
  ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);  // root's folder: nobody may not add a name
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    ::_exit(Output(path, "new") == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Get(path), "new");
  EXPECT_EQ(Names(folder), std::vector<std::string>{"out.txt"});
}

// Whether pid waits for a file lock (a "->" line of /proc/locks).
bool WaitsForALock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  const std::string mark = " " + std::to_string(pid) + " ";
  for (std::string line; std::getline(locks, line);)
    if (line.find("->") != std::string::npos && line.find(mark) != std::string::npos) return true;
  return false;
}

// Two runs rewriting one such file at once take turns: the second waits for the first's lock
// and then writes its own output whole, never into the middle of the first one's.
TEST_F(OutputFileTest, RewritesInPlaceOfOneFileTakeTurns) {
  LocalUser other;
  if (!IsRoot() || !wexo_test::SecondLocalUser(other)) GTEST_SKIP() << "a second user needs root";
  const fs::path folder = dir / "readonly";
  fs::create_directories(folder);
  const fs::path path = folder / "out.txt";
  Put(path, "old");
  ASSERT_EQ(::chown(path.c_str(), other.uid, other.gid), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);  // root's folder: the other user may not add a name
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);

  int started[2], resume[2];
  ASSERT_EQ(::pipe(started), 0);
  ASSERT_EQ(::pipe(resume), 0);
  // The first run stops half way through its output until told to go on.
  const pid_t first = wexo_test::StartAsUser(other, [&] {
    OutputFile out;
    char go = 0;
    const bool ok = out.Open(path.string()) && out.InPlace() && WriteAll(out, "first half, ") &&
                    ::write(started[1], "s", 1) == 1 && ::read(resume[0], &go, 1) == 1 &&
                    WriteAll(out, "second half") && out.Commit();
    return ok;
  });
  ASSERT_GT(first, 0);
  char mark = 0;
  ASSERT_EQ(::read(started[0], &mark, 1), 1);
  // The file is locked while the first run writes it.
  const int probe = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(probe, 0);
  EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0);
  ::close(probe);

  const pid_t second = wexo_test::StartAsUser(other, [&] { return Output(path, "second run") == 0; });
  ASSERT_GT(second, 0);
  // The second run either waits for the lock or, without one, has written already.
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 600000 && !ended && !WaitsForALock(second); ++i) {
    ended = ::waitpid(second, &status, WNOHANG) == second;
    if (!ended) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  ASSERT_EQ(::write(resume[1], "g", 1), 1);
  EXPECT_EQ(wexo_test::ExitCode(first), 0);
  if (!ended) {
    EXPECT_EQ(wexo_test::ExitCode(second), 0);
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int fd : {started[0], started[1], resume[0], resume[1]}) ::close(fd);
  EXPECT_EQ(Get(path), "second run");
  EXPECT_EQ(Names(folder), std::vector<std::string>{"out.txt"});
}

}  // namespace
