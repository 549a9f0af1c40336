#include "platform/Profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Application.h"
#include "unit/support/LocalUser.h"

namespace {

using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // These tests change the file behind the cache's back and expect to see it at once.
    platform::SetProfileRecheckInterval(std::chrono::milliseconds(0));
    char tmpl[] = "/tmp/wexo-profile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ini_ = dir_ + "/wexo.ini";
    setenv("WEXO_INI", ini_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("WEXO_INI");
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  static void Put(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  std::string ini_;
};

struct ReadCase {
  const char* file;
  const char* section;
  const char* key;
  const char* def;
  const char* expected;
};

TEST_F(ProfileTest, ReadsWithPrivateProfileSemantics) {
  const ReadCase cases[] = {
      {"[Options]\nThreads=30\n", "OPTIONS", "threads", "x", "30"},
      {"[ Options ]\n  Threads  =  30  \n", "Options", "Threads", "x", "30"},
      {"[A]\r\nk=v\r\n", "A", "k", "x", "v"},
      {"[A]\nk=\"a b\"\n", "A", "k", "x", "a b"},
      {"[A]\nk='a b'\n", "A", "k", "x", "a b"},
      {"[A]\nk=\"\"x\"\"\n", "A", "k", "x", "\"x\""},
      {"[A]\nk=\"open\n", "A", "k", "x", "\"open"},
      {"[A]\nk=\"mixed'\n", "A", "k", "x", "\"mixed'"},
      {"[A]\nk=\"\"\n", "A", "k", "x", ""},
      {"[A]\nk=\n", "A", "k", "x", ""},
      {"[A]\nk=a=b\n", "A", "k", "x", "a=b"},
      {"[A]\nk=v\n", "A", "missing", "dflt", "dflt"},
      {"[A]\nk=v\n", "B", "k", "dflt", "dflt"},
      {"[A]\nk=v\n", "A", "missing", "trail  \t", "trail"},
      {"[A]\nk=v\n", "A", "missing", nullptr, ""},
      {"[A]\n=empty name\n", "A", "", "x", "empty name"},
      {"[http://[::1]:8080/-Options]\nMaxLevel=3\n", "http://[::1]:8080/-Options", "maxlevel", "x", "3"},
      {"[a]b]\nk=v\n", "a]b", "k", "x", "v"},
      {"[A]\nk=first\nk=second\n[A]\nk=third\nj=4\n", "A", "k", "x", "first"},
      {"[A]\nk=first\n[A]\nj=4\n", "A", "j", "x", "x"},
      {"[A]\n;k=comment\n", "A", "k", "x", "x"},
      {"[A]\nk\n", "A", "k", "x", "x"},
      {"k=outside\n[A]\n", "A", "k", "x", "x"},
      {"[A\nk=v\n", "A", "k", "x", "x"},
      {"[A]\nk=last line without end", "A", "k", "x", "last line without end"},
      {"", "A", "k", "x", "x"},
  };
  for (const ReadCase& c : cases) {
    Put(ini_, c.file);
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, c.def, ini_), c.expected)
        << "file: " << c.file << " [" << c.section << "] " << c.key;
  }
  EXPECT_EQ(GetPrivateProfileString("A", "k", "gone", dir_ + "/no-such.ini"), "gone");
}

TEST_F(ProfileTest, ReadsLeadingSignedDecimal) {
  const struct {
    const char* value;
    int expected;
  } cases[] = {
      {"12x", 12},
      {"abc", 0},
      {"", 0},
      {"-1", -1},
      {"+7", 7},
      {"  -5  ", -5},
      {"\"42\"", 42},
      {"-", 0},
      {"0x10", 0},
      {"4294967295", -1},
      {"2147483647", 2147483647},
  };
  for (const auto& c : cases) {
    Put(ini_, std::string("[N]\nv=") + c.value + "\n");
    EXPECT_EQ(GetPrivateProfileInt("N", "v", 99, ini_), c.expected) << c.value;
  }
  EXPECT_EQ(GetPrivateProfileInt("N", "missing", 99, ini_), 99);
  EXPECT_EQ(GetPrivateProfileInt("Missing", "v", -3, ini_), -3);
}

TEST_F(ProfileTest, LongValuesAreCutTo4095Bytes) {
  std::string value(5000, 'a');
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(WritePrivateProfileString("L", "k", value.c_str(), ini_));
  EXPECT_EQ(GetPrivateProfileString("L", "k", "", ini_), value.substr(0, 4095));
  // The file itself keeps the whole value.
  EXPECT_NE(Get(ini_).find(value), std::string::npos);
}

struct WriteCase {
  const char* name;
  const char* before;
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

TEST_F(ProfileTest, WritesChangeOnlyWhatTheyName) {
  const WriteCase cases[] = {
      {"new key at end of its section", "; top\n[A]\na=1\n\n[B]\nb=2\n", "a", "new", "v",
       "; top\n[A]\na=1\nnew=v\n\n[B]\nb=2\n"},
      {"new key in last section", "[A]\na=1\n[B]\nb=2", "B", "c", "3", "[A]\na=1\n[B]\nb=2\nc=3\n"},
      {"replace keeps place and spelling", "[A]\n  Key = old ; x\nz=1\n", "A", "KEY", "new", "[A]\nKey=new\nz=1\n"},
      {"new section at end", "[A]\na=1\n", "B", "b", "2", "[A]\na=1\n\n[B]\nb=2\n"},
      {"new section in empty file", "", "B", "b", "2", "[B]\nb=2\n"},
      {"CRLF file keeps CRLF", "[A]\r\na=1\r\n", "A", "b", "2", "[A]\r\na=1\r\nb=2\r\n"},
      {"null value deletes key", "[A]\na=1\nb=2\n[B]\na=3\n", "A", "a", nullptr, "[A]\nb=2\n[B]\na=3\n"},
      {"null key deletes section", "[A]\na=1\n; note\n[B]\nb=2\n[C]\nc=3\n", "b", nullptr, nullptr,
       "[A]\na=1\n; note\n[C]\nc=3\n"},
      {"CR and LF become blanks", "[A]\n", "A", "k\r\nx", "one\ntwo\rthree", "[A]\nk  x=one two three\n"},
      {"empty key name", "[A]\n", "A", "", "v", "[A]\n=v\n"},
      {"IPv6 root URL section", "[http://[::1]:8080/-Options]\nMaxLevel=3\n", "http://[::1]:8080/-Options", "MaxLevel",
       "4", "[http://[::1]:8080/-Options]\nMaxLevel=4\n"},
      {"blank names trimmed", "[A]\nk=1\n", " A ", " k ", " 2 ", "[A]\nk=2\n"},
  };
  for (const WriteCase& c : cases) {
    Put(ini_, c.before);
    EXPECT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, ini_)) << c.name;
    EXPECT_EQ(Get(ini_), c.after) << c.name;
  }
}

TEST_F(ProfileTest, WrittenValuesReadBack) {
  ASSERT_TRUE(WritePrivateProfileString("Options", "Threads", "30", ini_));
  EXPECT_EQ(GetPrivateProfileInt("options", "threads", 0, ini_), 30);
  ASSERT_TRUE(WritePrivateProfileString("Options", "Threads", "31", ini_));  // same size
  EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 0, ini_), 31);
  ASSERT_TRUE(WritePrivateProfileString("Options", "Threads", nullptr, ini_));
  EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 7, ini_), 7);
  ASSERT_TRUE(WritePrivateProfileString("Options", "x", "1", ini_));
  ASSERT_TRUE(WritePrivateProfileString("Options", nullptr, nullptr, ini_));
  EXPECT_EQ(GetPrivateProfileString("Options", "x", "none", ini_), "none");
}

TEST_F(ProfileTest, NullNamesListSectionsAndKeys) {
  Put(ini_, "[A]\nx=1\ny=2\n[B]\n");
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "", ini_), std::string("A\0B\0", 4));
  EXPECT_EQ(GetPrivateProfileString("a", nullptr, "", ini_), std::string("x\0y\0", 4));
}

TEST_F(ProfileTest, CreatesMissingFileAndFolders) {
  std::string nested = dir_ + "/config/wexo/wexo.ini";
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", nested));
  EXPECT_EQ(Get(nested), "[S]\nk=v\n");
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir_ + "/config/wexo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Deleting from a file that does not exist succeeds and creates nothing.
  std::string absent = dir_ + "/absent.ini";
  EXPECT_TRUE(WritePrivateProfileString("S", "k", nullptr, absent));
  EXPECT_TRUE(WritePrivateProfileString("S", nullptr, nullptr, absent));
  EXPECT_NE(access(absent.c_str(), F_OK), 0);
}

TEST_F(ProfileTest, UnwritablePlaceFails) {
  Put(dir_ + "/plain", "x");
  std::string bad = dir_ + "/plain/wexo.ini";  // its folder is a file
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", bad));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "def", bad), "def");
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", ""));
}

// A FIFO (or a folder) as the settings file is never opened: reads give the defaults at once
// and writes fail quietly, whether or not anything reads the other end.
TEST_F(ProfileTest, ASettingsFileThatIsNoFileReadsAsMissing) {
  const std::string fifo = dir_ + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir_ + "/folder.ini";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {fifo, folder}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 30, path), 30);
    EXPECT_EQ(GetPrivateProfileString("Options", "Tolvak", "def", path), "def");
    EXPECT_FALSE(WritePrivateProfileString("Options", "Threads", "5", path));
    EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 30, path), 30);
  }
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The settings writer follows links by the outputs' rule: another user's link in a sticky,
// world-writable folder is not followed, also where it stands for a folder on the way. A file
// of the other user's own in a folder it may not write to is rewritten in place.
TEST_F(ProfileTest, WritesKeepTheOutputsRulesForLinksAndReadOnlyFolders) {
  wexo_test::LocalUser other;
  if (geteuid() != 0 || !wexo_test::SecondLocalUser(other)) GTEST_SKIP() << "a second user needs root";
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const std::string shared = dir_ + "/shared", victim = dir_ + "/victim";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(victim.c_str(), 0755), 0);
  Put(victim + "/wexo.ini", "[A]\na=1\n");
  ASSERT_EQ(wexo_test::AsUser(other, [&] { return symlink(victim.c_str(), (shared + "/dl").c_str()) == 0; }), 0);
  EXPECT_FALSE(WritePrivateProfileString("A", "b", "2", shared + "/dl/wexo.ini"));
  EXPECT_FALSE(WritePrivateProfileString("A", "b", "2", shared + "/dl/new.ini"));
  EXPECT_EQ(Get(victim + "/wexo.ini"), "[A]\na=1\n");
  EXPECT_EQ(std::system(("test $(ls -A '" + victim + "' | wc -l) -eq 1").c_str()), 0);

  ASSERT_EQ(chown((victim + "/wexo.ini").c_str(), other.uid, other.gid), 0);
  EXPECT_EQ(wexo_test::AsUser(other, [&] { return WritePrivateProfileString("A", "b", "2", victim + "/wexo.ini"); }),
            0);
  EXPECT_EQ(Get(victim + "/wexo.ini"), "[A]\na=1\nb=2\n");
}

// An editor's UTF-8 byte-order mark in front of the first section hides nothing, and a write
// keeps it where it was.
TEST_F(ProfileTest, AByteOrderMarkIsNoPartOfTheFirstLine) {
  const std::string bom = "\xEF\xBB\xBF";
  Put(ini_, bom + "[Options]\r\nThreads=7\r\n[B]\r\nk=v\r\n");
  EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 30, ini_), 7);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "", ini_), std::string("Options\0B\0", 10));
  ASSERT_TRUE(WritePrivateProfileString("Options", "Threads", "9", ini_));
  ASSERT_TRUE(WritePrivateProfileString("Options", "Tolvak", "x", ini_));
  EXPECT_EQ(Get(ini_), bom + "[Options]\r\nThreads=9\r\nTolvak=x\r\n[B]\r\nk=v\r\n");
  ASSERT_TRUE(WritePrivateProfileString("Options", nullptr, nullptr, ini_));
  EXPECT_EQ(Get(ini_), bom + "[B]\r\nk=v\r\n");
  // A mark alone is an empty file; a mark elsewhere is text of its line.
  Put(ini_, bom);
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", ini_));
  EXPECT_EQ(Get(ini_), bom + "[S]\nk=v\n");
  Put(ini_, "[A]\n" + bom + "[B]\nk=v\n");
  EXPECT_EQ(GetPrivateProfileString("B", "k", "def", ini_), "def");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "def", ini_), "v");
}

// A settings file larger than any real one is never read whole: reads give the defaults, as
// for a file that cannot be read, and a write fails and leaves the file as it was.
TEST_F(ProfileTest, AFileTooLargeForSettingsReadsAsUnreadable) {
  const std::string head = "[Options]\nThreads=7\n";
  std::string text = head + std::string(platform::kMaxSettingsFileSize - head.size() - 1, ';') + "\n";
  ASSERT_EQ(text.size(), platform::kMaxSettingsFileSize);
  Put(ini_, text);
  EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 30, ini_), 7) << "the largest file allowed";
  text.insert(head.size(), ";");
  Put(ini_, text);
  EXPECT_EQ(GetPrivateProfileInt("Options", "Threads", 30, ini_), 30);
  EXPECT_EQ(GetPrivateProfileString("Options", "Threads", "def", ini_), "def");
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "", ini_), "");
  EXPECT_FALSE(WritePrivateProfileString("Options", "Threads", "5", ini_));
  EXPECT_FALSE(WritePrivateProfileString("Options", nullptr, nullptr, ini_));
  EXPECT_EQ(Get(ini_), text);
}

TEST_F(ProfileTest, RewriteKeepsModeAndFollowsSymlink) {
  std::string real = dir_ + "/real.ini";
  Put(real, "[A]\na=1\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  std::string link = dir_ + "/link.ini";
  ASSERT_EQ(symlink("real.ini", link.c_str()), 0);

  ASSERT_TRUE(WritePrivateProfileString("A", "b", "2", link));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Get(real), "[A]\na=1\nb=2\n");
  EXPECT_EQ(GetPrivateProfileString("A", "b", "", link), "2");

  // No temporary file is left beside it.
  EXPECT_EQ(std::system(("test $(ls -A '" + dir_ + "' | wc -l) -eq 2").c_str()), 0);
}

TEST_F(ProfileTest, ChangesByOthersAreSeenAfterTheRecheckInterval) {
  Put(ini_, "[A]\nk=1\n");
  platform::SetProfileRecheckInterval(std::chrono::minutes(10));
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "1");
  Put(ini_, "[A]\nk=22\n");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "1") << "looked at again only after the interval";
  ASSERT_TRUE(WritePrivateProfileString("A", "j", "3", ini_));
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "22") << "our own write re-reads the file";
  EXPECT_EQ(GetPrivateProfileString("A", "j", "", ini_), "3");
  platform::SetProfileRecheckInterval(std::chrono::milliseconds(0));
}

TEST_F(ProfileTest, CachedFileIsReReadWhenItChanges) {
  Put(ini_, "[A]\nk=1\n");
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "1");

  // Changed in place by someone else: same size and inode, only the modification time moves.
  struct stat st;
  ASSERT_EQ(stat(ini_.c_str(), &st), 0);
  {
    std::fstream f(ini_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(6);
    f.put('2');
  }
  timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
  ASSERT_EQ(utimensat(AT_FDCWD, ini_.c_str(), times, 0), 0);
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "2");

  // Grown, with the old modification time put back.
  ASSERT_EQ(stat(ini_.c_str(), &st), 0);
  Put(ini_, "[A]\nk=333\n");
  timespec same[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, ini_.c_str(), same, 0), 0);
  EXPECT_EQ(GetPrivateProfileString("A", "k", "", ini_), "333");
}

TEST_F(ProfileTest, ApplicationProfileOperations) {
  const std::string previous = platform::SettingsFile();
  platform::SetSettingsFile(ini_);
  CWexoApp app;
  ASSERT_TRUE(app.WriteProfileInt("Options", "MaxLevel", -1));
  EXPECT_EQ(Get(ini_), "[Options]\nMaxLevel=-1\n");
  EXPECT_EQ(app.GetProfileInt("Options", "MaxLevel", 5), -1);
  EXPECT_EQ(app.GetProfileString("Options", "Missing", nullptr), "");
  ASSERT_TRUE(app.WriteProfileString("Options", nullptr, nullptr));
  EXPECT_EQ(app.GetProfileInt("Options", "MaxLevel", 5), 5);
  platform::SetSettingsFile(previous);
}

TEST_F(ProfileTest, IniPathChoice) {
  EXPECT_EQ(platform::DefaultIniPath(), ini_);
  unsetenv("WEXO_INI");
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  std::string saved = oldXdg ? oldXdg : "";
  setenv("XDG_CONFIG_HOME", (dir_ + "/xdg/").c_str(), 1);
  EXPECT_EQ(platform::DefaultIniPath(), dir_ + "/xdg/wexo/wexo.ini");
  setenv("XDG_CONFIG_HOME", "relative", 1);
  const char* home = std::getenv("HOME");
  if (home && *home) {
    EXPECT_EQ(platform::DefaultIniPath(), std::string(home) + "/.config/wexo/wexo.ini");
  }
  if (oldXdg)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");

  EXPECT_EQ(platform::StateIniPath("/home/u/.config/wexo/wexo.ini"), "/home/u/.config/wexo/state.ini");
  EXPECT_EQ(platform::StateIniPath("wexo.ini"), "state.ini");
}

constexpr int kKeysPerWriter = 150;

bool WriteKeys(const std::string& path, const std::string& prefix) {
  for (int i = 0; i < kKeysPerWriter; ++i) {
    std::string key = prefix + std::to_string(i);
    if (!WritePrivateProfileString("Shared", key.c_str(), key.c_str(), path)) return false;
  }
  return true;
}

void ExpectAllKeys(const std::string& path, const std::vector<std::string>& prefixes) {
  for (const std::string& prefix : prefixes)
    for (int i = 0; i < kKeysPerWriter; ++i) {
      std::string key = prefix + std::to_string(i);
      EXPECT_EQ(GetPrivateProfileString("Shared", key.c_str(), "lost", path), key);
    }
}

TEST_F(ProfileTest, ConcurrentThreadsLoseNoKey) {
  bool okA = false, okB = false;
  std::atomic<bool> done{false};
  int badReads = 0;
  std::thread reader([&] {
    // Reads while the file is replaced see either nothing yet or the written value.
    while (!done) {
      std::string v = GetPrivateProfileString("Shared", "a0", "", ini_);
      if (!v.empty() && v != "a0") ++badReads;
    }
  });
  std::thread a([&] { okA = WriteKeys(ini_, "a"); });
  std::thread b([&] { okB = WriteKeys(ini_, "b"); });
  a.join();
  b.join();
  done = true;
  reader.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
  EXPECT_EQ(badReads, 0);
  ExpectAllKeys(ini_, {"a", "b"});
}

TEST_F(ProfileTest, ConcurrentProcessesLoseNoKey) {
  ASSERT_TRUE(WritePrivateProfileString("Other", "keep", "1", ini_));
  std::vector<pid_t> children;
  for (const char* prefix : {"p", "q"}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(WriteKeys(ini_, prefix) ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectAllKeys(ini_, {"p", "q"});
  EXPECT_EQ(GetPrivateProfileString("Other", "keep", "", ini_), "1");
}

}  // namespace
