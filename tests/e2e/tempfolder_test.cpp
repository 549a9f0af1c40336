// The private temporary folder on a machine with another local user: a folder others could
// enter is never used, a folder that cannot take a body is said once and fails a batch run,
// and a run stopped by a signal, or killed outright, leaves no body behind for long.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/support/HttpPeer.h"
#include "e2e/support/WexoRun.h"
#include "unit/support/LocalUser.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::ReadAll;

// The files (not folders) below folder.
std::set<std::string> FilesBelow(const fs::path& folder) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (!it->is_directory(ec)) files.insert(it->path().string());
  return files;
}

// The body files ("QMV-....tmp") below folder.
std::set<std::string> BodiesBelow(const fs::path& folder) {
  std::set<std::string> bodies;
  for (const std::string& file : FilesBelow(folder))
    if (fs::path(file).filename().string().starts_with("QMV-") && file.ends_with(".tmp")) bodies.insert(file);
  return bodies;
}

class TempFolderTest : public ::testing::Test {
 protected:
  TempFolderTest() {
    dir = fs::temp_directory_path() / ("wexo-tempfolder-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // As /tmp is: everybody may make things in it, nobody may move another's.
    fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
    priv = dir / ("wexo-" + std::to_string(::geteuid()));
  }
  ~TempFolderTest() override { fs::remove_all(dir); }

  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "another local user and mounts need root";
    ASSERT_TRUE(wexo_test::SecondLocalUser(other)) << "no second local user could be made";
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
  }

  // Starts a run whose one page sends more than 1 MiB and then waits; returns once the run
  // has put the body in a file (which it names in body), or fails.
  pid_t StartSpillingRun(std::string& body) {
    const std::set<std::string> before = BodiesBelow(priv);
    const pid_t pid =
        wexo_test::SpawnWexo(dir, {"-url", peer.Url("/hang-body?first=2000000&length=4000000"), "-export", "all.txt"});
    EXPECT_GT(pid, 0);
    for (int i = 0; pid > 0 && i < 3000; ++i) {
      for (const std::string& file : BodiesBelow(priv))
        if (!before.count(file)) {
          body = file;
          return pid;
        }
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "the run kept no body in a file: " << ReadAll(dir / "err.log");
    return pid;
  }

  wexo_test::LocalUser other;
  wexo_test::HttpPeer peer;
  fs::path dir;
  fs::path priv;
};

std::string Sentence(const std::string& folder, const std::string& reason) {
  return "wexo: The temporary folder " + folder + " cannot be used (" + reason +
         "), so pages larger than 1 MiB are not checked.\n";
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST_F(TempFolderTest, AFolderOthersCouldEnterIsNeitherRepairedNorUsed) {
  // Our folder open to all: the other user has put links to a folder of theirs where the
  // bodies would go.
  ASSERT_EQ(::mkdir(priv.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(priv.c_str(), 0777), 0);
  const fs::path theirs = dir / "theirs";
  ASSERT_EQ(wexo_test::AsUser(other,
                              [&] {
                                ::umask(0);
                                if (::mkdir(theirs.c_str(), 0777) != 0) return false;
                                for (const char c : std::string("0123456789abcdef"))
                                  if (::symlink(theirs.c_str(), (priv / std::string(1, c)).c_str()) != 0) return false;
                                return true;
                              }),
            0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, theirs.c_str(), IN_CREATE | IN_MOVED_TO), 0);

  const int rc = wexo_test::RunWexo(
      dir, dir, "-url '" + peer.Url("/big?size=3000000&type=text/html&tag=planted") + "' -export all.txt");
  const std::string err = ReadAll(dir / "err.log");
  EXPECT_EQ(rc, 1) << err;
  EXPECT_NE(err.find(Sentence(priv.string(), priv.string() + " has mode 0777, not 0700")), std::string::npos) << err;
  struct stat st;
  ASSERT_EQ(::lstat(priv.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u) << "the folder was made private and trusted";
  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "a file was made in the other user's folder";
  ::close(watch);
  EXPECT_TRUE(fs::is_empty(theirs));
}

TEST_F(TempFolderTest, AFolderThatCannotTakeABodyIsSaidOnceAndFailsTheRun) {
  const fs::path mnt = dir / "mnt";
  // Two pages over 1 MiB (relative links: a '/' in the query would move the check's root).
  const std::string pages = "/links?to=long-line%3Fsize%3D2000000&to=long-line%3Fsize%3D3000000";
  const fs::path elsewhere = dir / "elsewhere";
  fs::create_directories(elsewhere);
  const struct {
    const char* name;
    fs::path home;      // $TMPDIR of the run
    std::string mount;  // tmpfs options for home, mounted for the run alone; "" for none
    std::function<void()> prepare;
    std::string reason;  // as the sentence gives it
  } cases[] = {
      {"missing", dir / "none", "", [] {}, "No such file or directory"},
      {"read-only", mnt, "ro", [] {}, "Read-only file system"},
      {"full", mnt, "size=256k", [] {}, "No space left on device"},
      {"refused", dir / "home", "",
       [&] {
         fs::create_directories(dir / "home");
         fs::create_directory_symlink(elsewhere, dir / "home" / ("wexo-" + std::to_string(::geteuid())));
       },
       (dir / "home" / ("wexo-" + std::to_string(::geteuid()))).string() + " is a symbolic link"},
  };
  fs::create_directories(mnt);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    const std::string run =
        wexo_test::WexoCommand(c.home, "-url '" + peer.Url(pages) + "' -export '" + (dir / "all.txt").string() + "'");
    const std::string command = c.mount.empty() ? run
                                                : "unshare -m sh -c \"mount -t tmpfs -o " + c.mount + " tmpfs '" +
                                                      c.home.string() + "' && " + run + "\"";
    const int rc = wexo_test::Shell("cd '" + dir.string() + "' && " + command + " > out.log 2> err.log");
    const std::string err = ReadAll(dir / "err.log");
    EXPECT_EQ(rc, 1) << err;
    EXPECT_EQ(Count(err, "wexo: The temporary folder "), 1u) << err;
    const std::string folder = (c.home / ("wexo-" + std::to_string(::geteuid()))).string();
    EXPECT_NE(err.find("wexo: The temporary folder " + folder + " cannot be used ("), std::string::npos) << err;
    EXPECT_NE(err.find(c.reason + "), so pages larger than 1 MiB are not checked.\n"), std::string::npos) << err;
    const auto rows = wexo_test::Rows(ReadAll(dir / "all.txt"));
    int broken = 0;
    for (const auto& [url, fields] : rows)
      if (url.find("/long-line?") != std::string::npos && fields[1] != "200") ++broken;
    EXPECT_EQ(broken, 2) << ReadAll(dir / "all.txt");
    EXPECT_TRUE(fs::is_empty(elsewhere));
  }
}

TEST_F(TempFolderTest, ASignalDuringASpillLeavesNoBody) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    std::string body;
    const pid_t pid = StartSpillingRun(body);
    ASSERT_FALSE(body.empty());
    ASSERT_EQ(::kill(pid, sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
    EXPECT_EQ(FilesBelow(priv), std::set<std::string>{}) << ReadAll(dir / "err.log");
  }
}

TEST_F(TempFolderTest, WhatAKilledRunLeftGoesWithTheNextRunNotWhatALiveRunHas) {
  std::string dead;
  const pid_t killed = StartSpillingRun(dead);
  ASSERT_FALSE(dead.empty());
  ASSERT_EQ(::kill(killed, SIGKILL), 0);
  ASSERT_EQ(::waitpid(killed, nullptr, 0), killed);
  ASSERT_TRUE(fs::exists(dead)) << "a killed run cannot remove anything itself";

  std::string alive;
  const pid_t running = StartSpillingRun(alive);
  ASSERT_FALSE(alive.empty());
  EXPECT_EQ(wexo_test::RunWexo(dir, dir, "-url '" + peer.Url("/status/404") + "' -export quick.txt"), 0)
      << ReadAll(dir / "err.log");
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(alive)) << "a live run's body was taken";
  const std::set<std::string> left = FilesBelow(priv);
  EXPECT_EQ(left.count(dead), 0u);

  ASSERT_EQ(::kill(running, SIGTERM), 0);
  ASSERT_EQ(::waitpid(running, nullptr, 0), running);
  EXPECT_EQ(FilesBelow(priv), std::set<std::string>{});
}

}  // namespace
