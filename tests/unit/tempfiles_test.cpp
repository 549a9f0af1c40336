#include "engine/TempFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/TempDir.h"

namespace {

class TempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    hadTmpdir_ = old != nullptr;
    if (old) oldTmpdir_ = old;
    char tmpl[] = "/tmp/wexo-tempfiles-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    setenv("TMPDIR", base_.c_str(), 1);
    priv_ = base_ + "/wexo-" + std::to_string(geteuid());
  }
  void TearDown() override {
    if (hadTmpdir_)
      setenv("TMPDIR", oldTmpdir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    ASSERT_EQ(std::system(("rm -rf '" + base_ + "'").c_str()), 0);
  }

  static mode_t ModeOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
  }
  static std::size_t EntriesIn(const std::string& dir) {
    std::string cmd = "test $(ls -A '" + dir + "' | wc -l) -eq 0";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
  }

  bool hadTmpdir_ = false;
  std::string oldTmpdir_;
  std::string base_;
  std::string priv_;
};

TEST_F(TempFilesTest, PrivateFolderInTmpdir) {
  EXPECT_EQ(platform::GetTempPath(), priv_ + "/");
  EXPECT_TRUE(S_ISDIR(ModeOf(priv_)));
  EXPECT_EQ(ModeOf(priv_) & 07777, 0700u);

  setenv("TMPDIR", (base_ + "//").c_str(), 1);
  EXPECT_EQ(platform::GetTempPath(), priv_ + "/");
  setenv("TMPDIR", "relative/dir", 1);
  EXPECT_EQ(platform::GetTempPath(), "/tmp/wexo-" + std::to_string(geteuid()) + "/");
}

TEST_F(TempFilesTest, UniqueFilesAreDistinctEmptyAndPrivate) {
  // A run's file goes in the run's folder, a lasting one in the private folder itself; both in
  // one of sixteen subfolders.
  const platform::RunTempFolder run;
  ASSERT_TRUE(run.Ok()) << run.Error();
  const std::string runDir = run.Path();
  ASSERT_EQ(runDir.rfind(priv_ + "/run-" + std::to_string(getpid()) + "-", 0), 0u) << runDir;
  ASSERT_EQ(runDir.find('/', priv_.size() + 1), runDir.size() - 1) << runDir;
  EXPECT_EQ(ModeOf(runDir) & 07777, 0700u);
  for (const auto& [life, dir] :
       {std::pair{TempFileLife::Run, runDir}, std::pair{TempFileLife::Lasting, priv_ + "/"}}) {
    SCOPED_TRACE(dir);
    std::string a, b, error;
    ASSERT_TRUE(CreateUniqueTempFile(a, error, nullptr, life)) << error;
    ASSERT_TRUE(CreateUniqueTempFile(b, error, nullptr, life)) << error;
    EXPECT_NE(a, b);
    for (const std::string& p : {a, b}) {
      ASSERT_EQ(p.compare(0, dir.size(), dir), 0) << p;
      ASSERT_EQ(p[dir.size() + 1], '/') << p;
      struct stat sub;
      ASSERT_EQ(lstat(p.substr(0, dir.size() + 1).c_str(), &sub), 0);
      EXPECT_TRUE(S_ISDIR(sub.st_mode));
      EXPECT_EQ(sub.st_mode & 07777, 0700u);
      std::string name = p.substr(dir.size() + 2);
      EXPECT_EQ(name.rfind("QMV-", 0), 0u) << name;
      EXPECT_EQ(name.size(), 4u + 36u + 4u) << name;
      EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
      struct stat st;
      ASSERT_EQ(lstat(p.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_size, 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
  }
}

TEST_F(TempFilesTest, UniqueFromManyThreads) {
  std::mutex m;
  std::set<std::string> names;
  int failures = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        std::string p, e;
        bool ok = CreateUniqueTempFile(p, e);
        std::lock_guard<std::mutex> lock(m);
        if (ok)
          names.insert(p);
        else
          ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(names.size(), 400u);
}

TEST_F(TempFilesTest, UnsafeFolderIsRefused) {
  std::string elsewhere = base_ + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);

  const struct {
    const char* name;
    void (*make)(const std::string& priv, const std::string& elsewhere);
    const char* reason;
  } cases[] = {
      {"symlink to a folder of ours",
       [](const std::string& p, const std::string& e) { ASSERT_EQ(symlink(e.c_str(), p.c_str()), 0); },
       "symbolic link"},
      {"dangling symlink",
       [](const std::string& p, const std::string& e) { ASSERT_EQ(symlink((e + "/none").c_str(), p.c_str()), 0); },
       "symbolic link"},
      {"plain file", [](const std::string& p, const std::string&) { std::ofstream(p) << "x"; }, "not a directory"},
  };
  for (const auto& c : cases) {
    c.make(priv_, elsewhere);
    std::string path = "unchanged", error;
    EXPECT_FALSE(platform::GetTempPath(path, error)) << c.name;
    EXPECT_EQ(path, "") << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;

    std::string file, why;
    int osError = 0;
    EXPECT_FALSE(CreateUniqueTempFile(file, why, &osError)) << c.name;
    EXPECT_EQ(file, "");
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_NE(osError, 0);
    EXPECT_EQ(GetLogFilePath(), "") << c.name;
    EXPECT_EQ(EntriesIn(elsewhere), 0u) << c.name;
    ASSERT_EQ(unlink(priv_.c_str()), 0);
  }
}

TEST_F(TempFilesTest, FolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a folder away needs root";
  ASSERT_EQ(mkdir(priv_.c_str(), 0700), 0);
  ASSERT_EQ(chown(priv_.c_str(), 4242, 4242), 0);
  std::string path, error;
  EXPECT_FALSE(platform::GetTempPath(path, error));
  EXPECT_NE(error.find("belongs to user 4242"), std::string::npos) << error;
  EXPECT_EQ(ModeOf(priv_) & 07777, 0700u);
}

TEST_F(TempFilesTest, AFolderOfOursNotPrivateIsRefusedAsItIs) {
  // Whoever could enter it may have left something inside: it is neither used nor repaired.
  for (const mode_t mode : {0777, 0750, 0701, 0500, 01700}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(mkdir(priv_.c_str(), 0700), 0);
    ASSERT_EQ(chmod(priv_.c_str(), mode), 0);
    std::string path = "unchanged", error;
    EXPECT_FALSE(platform::GetTempPath(path, error));
    EXPECT_EQ(path, "");
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    EXPECT_EQ(error, priv_ + " has mode " + text + ", not 0700");
    EXPECT_EQ(ModeOf(priv_) & 07777, mode);
    std::string file, why;
    EXPECT_FALSE(CreateUniqueTempFile(file, why));
    EXPECT_EQ(ModeOf(priv_) & 07777, mode);
    ASSERT_EQ(rmdir(priv_.c_str()), 0);
  }
}

TEST_F(TempFilesTest, UnsafeSubfoldersAreRefused) {
  const std::string elsewhere = base_ + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
  const bool root = geteuid() == 0;
  const struct {
    const char* name;
    bool (*make)(const std::string& sub, const std::string& elsewhere);
    const char* reason;
  } cases[] = {
      {"link to another folder",
       [](const std::string& sub, const std::string& e) { return symlink(e.c_str(), sub.c_str()) == 0; },
       " is a symbolic link"},
      {"plain file", [](const std::string& sub, const std::string&) { return bool(std::ofstream(sub) << "x"); },
       " is not a directory"},
      {"open to all",
       [](const std::string& sub, const std::string&) {
         return mkdir(sub.c_str(), 0700) == 0 && chmod(sub.c_str(), 0777) == 0;
       },
       " has mode 0777, not 0700"},
      {"another user's",
       [](const std::string& sub, const std::string&) {
         return mkdir(sub.c_str(), 0700) == 0 && chown(sub.c_str(), 4242, 4242) == 0;
       },
       " belongs to user 4242, not to us"},
  };
  const platform::RunTempFolder run;
  ASSERT_TRUE(run.Ok()) << run.Error();
  for (const auto& [life, dir] :
       {std::pair{TempFileLife::Run, run.Path()}, std::pair{TempFileLife::Lasting, priv_ + "/"}}) {
    for (const auto& c : cases) {
      if (!root && std::string(c.name) == "another user's") continue;
      SCOPED_TRACE(dir + ": " + c.name);
      // The file's subfolder follows from its random name: every one is planted.
      for (const char x : std::string("0123456789abcdef")) ASSERT_TRUE(c.make(dir + x, elsewhere));
      std::string file, error;
      int osError = 0;
      EXPECT_FALSE(CreateUniqueTempFile(file, error, &osError, life));
      EXPECT_EQ(file, "");
      EXPECT_NE(osError, 0);
      EXPECT_NE(error.find(dir), std::string::npos) << error;
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
      EXPECT_EQ(EntriesIn(elsewhere), 0u);
      for (const char x : std::string("0123456789abcdef"))
        ASSERT_EQ(std::system(("rm -rf '" + dir + x + "'").c_str()), 0);
    }
  }
}

TEST_F(TempFilesTest, DeadRunsFoldersGoLiveRunsStay) {
  std::string own, error;
  ASSERT_TRUE(CreateUniqueTempFile(own, error)) << error;
  const std::string dir = priv_ + "/";
  const auto plant = [&](const std::string& run) {
    ASSERT_EQ(mkdir((dir + run).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + run + "/a").c_str(), 0700), 0);
    std::ofstream(dir + run + "/a/QMV-body.tmp") << "body";
  };
  // Dead: a lock nobody holds. Alive: a lock held (here by another descriptor of ours, as
  // another process would). A folder without a lock, and a lock never given its name, are left
  // by a run that died half-way.
  plant("run-1-dead");
  std::ofstream(dir + "run-1-dead.lock");
  plant("run-2-live");
  std::ofstream(dir + "run-2-live.lock");
  const int held = open((dir + "run-2-live.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  plant("run-3-unlocked");
  std::ofstream(dir + ".run-4-x.new");
  std::ofstream(dir + "wexolog.txt") << "log";

  platform::RemoveDeadRunFolders();
  for (const char* gone : {"run-1-dead", "run-1-dead.lock", "run-3-unlocked", ".run-4-x.new"})
    EXPECT_NE(access((dir + gone).c_str(), F_OK), 0) << gone;
  for (const char* kept : {"run-2-live/a/QMV-body.tmp", "run-2-live.lock", "wexolog.txt"})
    EXPECT_EQ(access((dir + kept).c_str(), F_OK), 0) << kept;
  EXPECT_EQ(access(own.c_str(), F_OK), 0) << "this run's own file was taken";
  close(held);
}

TEST_F(TempFilesTest, FailuresAreReturnedWithTheirReason) {
  // $TMPDIR names a file: the folder cannot be made.
  std::string file = base_ + "/file";
  std::ofstream(file) << "x";
  setenv("TMPDIR", file.c_str(), 1);
  std::string path, error;
  int osError = 0;
  EXPECT_FALSE(CreateUniqueTempFile(path, error, &osError));
  EXPECT_EQ(osError, ENOTDIR);
  EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
  setenv("TMPDIR", base_.c_str(), 1);

  // No descriptor left: the program goes on and hears why.
  ASSERT_FALSE(platform::GetTempPath().empty());
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  int probe = dup(0);
  ASSERT_GE(probe, 0);
  close(probe);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  bool ok = CreateUniqueTempFile(path, error, &osError);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(osError, EMFILE);
  EXPECT_NE(error.find("Too many open files"), std::string::npos) << error;
}

TEST_F(TempFilesTest, ExclusiveCreation) {
  std::string dir = platform::GetTempPath();
  ASSERT_FALSE(dir.empty());
  std::string name = dir + "x.tmp";
  mode_t oldMask = umask(0277);
  int fd = platform::CreateExclusiveFile(name);
  umask(oldMask);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(ModeOf(name) & 07777, 0600u);

  errno = 0;
  EXPECT_EQ(platform::CreateExclusiveFile(name), -1);
  EXPECT_EQ(errno, EEXIST);

  std::string target = base_ + "/target";
  std::string link = dir + "link.tmp";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(platform::CreateExclusiveFile(link), -1);
  EXPECT_NE(access(target.c_str(), F_OK), 0) << "followed the link";
}

TEST_F(TempFilesTest, LogPathAndCreateErrorText) {
  EXPECT_EQ(GetLogFilePath(), priv_ + "/wexolog.txt");

  EXPECT_EQ(ReportFileCreateError("/t/QMV-1.tmp", ENOSPC),
            "File '/t/QMV-1.tmp' could not be created: No space left on device (cause=13, OsError=28)\n");
  EXPECT_EQ(ReportFileCreateError("a", EMFILE),
            "File 'a' could not be created: Too many open files (cause=4, OsError=24)\n");
  std::string longMessage(300, 'm');
  EXPECT_EQ(ReportFileCreateError("f", longMessage, 5, 13),
            "File 'f' could not be created: " + std::string(255, 'm') + " (cause=5, OsError=13)\n");

  const struct {
    int err;
    int cause;
  } causes[] = {{ENOENT, 2}, {ENOTDIR, 3}, {EMFILE, 4},  {EACCES, 5}, {EBADF, 6},
                {EIO, 10},   {ENOSPC, 13}, {EDQUOT, 13}, {EINVAL, 1}};
  for (const auto& c : causes) EXPECT_EQ(FileExceptionCauseOf(c.err), c.cause) << c.err;
}

}  // namespace
