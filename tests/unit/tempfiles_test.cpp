#include "engine/TempFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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
  std::string a, b, error;
  ASSERT_TRUE(CreateUniqueTempFile(a, error)) << error;
  ASSERT_TRUE(CreateUniqueTempFile(b, error)) << error;
  EXPECT_NE(a, b);
  for (const std::string& p : {a, b}) {
    // Inside the private folder, in one of its sixteen subfolders.
    const std::string dir = priv_ + "/";
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

TEST_F(TempFilesTest, OpenFolderOfOursIsMadePrivate) {
  ASSERT_EQ(mkdir(priv_.c_str(), 0700), 0);
  ASSERT_EQ(chmod(priv_.c_str(), 0777), 0);
  EXPECT_EQ(platform::GetTempPath(), priv_ + "/");
  EXPECT_EQ(ModeOf(priv_) & 07777, 0700u);
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
