// The program's batch command line, run as a separate process without a display.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"

namespace {

using wexo_test::ReadAll;

class BatchRun : public ::testing::Test {
 protected:
  BatchRun() {
    dir = std::filesystem::temp_directory_path() / ("wexo-batch-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~BatchRun() override { std::filesystem::remove_all(dir); }

  int Run(const std::string& args) { return wexo_test::RunWexo(dir, dir, args); }

  std::filesystem::path dir;
};

TEST_F(BatchRun, WritesTheExportsAndQuits) {
  const std::string url = "http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/";
  ASSERT_EQ(Run("-url " + url + " -export all.txt -map map.txt"), 0) << ReadAll(dir / "err.log");
  const std::string all = ReadAll(dir / "all.txt");
  EXPECT_TRUE(all.starts_with("Address\tStatus-Code\t")) << all;
  EXPECT_NE(all.find("\r\n" + url + "\t"), std::string::npos) << all;
  EXPECT_EQ(ReadAll(dir / "map.txt"),
            "OriginPage\tLinkToPage\tLinkToPageStatusCode\tLinkToPageStatusText\tLinkToPageTitle\tOriginPageDate"
            "\tOriginPageTitle\r\n");
}

TEST_F(BatchRun, EndsWithoutOutputsAndReportsWhatIsMissing) {
  const std::string url = "http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/";
  EXPECT_EQ(Run("-url " + url), 0);
  EXPECT_NE(ReadAll(dir / "err.log").find("Link tolvak finished. Do you want a report? No"), std::string::npos);
  EXPECT_EQ(Run("-url " + url + " -report report.html"), 0) << ReadAll(dir / "err.log");
  EXPECT_TRUE(ReadAll(dir / "report.html").starts_with("<!DOCTYPE HTML PUBLIC"));
  EXPECT_EQ(Run("-url " + url + " -report no-such-folder/report.html"), 1) << "a report that cannot be written fails";
  EXPECT_NE(ReadAll(dir / "err.log").find("Could not create file '"), std::string::npos) << ReadAll(dir / "err.log");
  EXPECT_EQ(Run("-url " + url + " -google sitemap.xml"), 0) << ReadAll(dir / "err.log");
  EXPECT_TRUE(ReadAll(dir / "sitemap.xml").starts_with("<?xml"));
}

// A FIFO as the settings file is never opened: the run uses the defaults and does not wait.
TEST_F(BatchRun, ASettingsFileThatIsAFifoGivesTheDefaults) {
  ASSERT_EQ(::mkfifo((dir / "wexo.ini").c_str(), 0600), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/";
  ASSERT_EQ(Run("-url " + url + " -export all.txt"), 0) << ReadAll(dir / "err.log");
  EXPECT_TRUE(ReadAll(dir / "all.txt").starts_with("Address\tStatus-Code\t"));
  struct stat st;
  ASSERT_EQ(::lstat((dir / "wexo.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(BatchRun, WithoutADisplayNoWindowLibraryIsLoaded) {
  // A server that takes the connection and never answers keeps the check running.
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(server, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(server, 4), 0);
  ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&at), &length), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/";
  const std::string ini = (dir / "wexo.ini").string();
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("WEXO_INI", ini.c_str(), 1);
    ::setenv("TMPDIR", dir.c_str(), 1);
    ::execl(WEXO_EXE, WEXO_EXE, "-url", url.c_str(), "-export", (dir / "all.txt").c_str(), nullptr);
    ::_exit(127);
  }
  pollfd waiting{server, POLLIN, 0};
  const bool connected = ::poll(&waiting, 1, 30000) == 1;
  const std::string maps = ReadAll("/proc/" + std::to_string(pid) + "/maps");
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(server);
  ASSERT_TRUE(connected) << "the check did not reach its server";
  EXPECT_NE(maps.find("libcurl"), std::string::npos) << maps;
  for (const char* library : {"libwx_", "libgtk", "libgdk", "wexo-window"})
    EXPECT_EQ(maps.find(library), std::string::npos) << library << " is mapped";
}

// Which failure gives which exit code: each output that cannot be written, a document that
// cannot be opened and a mail that fails give 1, each with its message; what the other outputs
// write is still written.
TEST_F(BatchRun, ExitCodeOfEachFailure) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/";
  wexo_test::Write(dir / "site" / "index.html", "<html><body>No links</body></html>");
  const std::string clean = "file://" + (dir / "site" / "index.html").string();
  wexo_test::Write(dir / "not-a-document.wxo", "plain text");
  const std::string mail =
      "[Options]\r\nE-Mail=1\r\nE-Mail-SMTP-Server=127.0.0.1\r\nE-Mail-From=w@example.org\r\n"
      "E-Mail-To=a@example.org\r\n";
  const std::string smtpRefused = std::to_string(wexo_test::UnusedPort());
  const struct {
    const char* name;
    std::string args;
    std::string ini;
    std::string smtpPort;  // WEXO_SMTP_PORT; "" for none
    int exitCode;
    std::string message;  // in the error output; "" for none
    const char* written;  // an output that is there afterwards; "" for none
  } cases[] = {
      {"outputs written", "-url " + refused + " -export all.txt -report report.html", "", "", 0, "", "report.html"},
      {"export", "-url " + refused + " -export no/all.txt", "", "", 1,
       "Could not open file 'no/all.txt.tmp' for writing", ""},
      {"map", "-url " + refused + " -map no/map.txt", "", "", 1, "Could not open file 'no/map.txt.tmp' for writing",
       ""},
      {"report", "-url " + refused + " -report no/report.html", "", "", 1, "Could not create file 'no/report.html'",
       ""},
      {"save", "-url " + refused + " -save no/check.wxo", "", "", 1, "File 'no/check.wxo' could not be saved: ", ""},
      {"google", "-url " + refused + " -google no/sitemap.xml", "", "", 1,
       "Could not open file 'no/sitemap.xml.tmp' for writing", ""},
      {"a failed output, a later one written", "-url " + refused + " -export no/all.txt -google sitemap.xml", "", "", 1,
       "Could not open file 'no/all.txt.tmp' for writing", "sitemap.xml"},
      {"document missing", "missing.wxo -export all.txt", "", "", 1, "File 'missing.wxo' could not be opened: ", ""},
      {"no document file", "not-a-document.wxo -export all.txt", "", "", 1,
       "File 'not-a-document.wxo' is not a valid document file: ", ""},
      {"mail refused", "-url " + refused, mail, smtpRefused, 1, "Failed to connect to SMTP server 127.0.0.1: ", ""},
      {"mail port no number", "-url " + refused, mail, "abc", 1, "WEXO_SMTP_PORT is not a port number: abc", ""},
      {"nothing broken, no mail, an output failed", "-url " + clean + " -export no/all.txt",
       mail + "E-MailOnlyIfBroken=1\r\n", smtpRefused, 1, "Could not open file 'no/all.txt.tmp' for writing", ""},
      {"nothing broken, no mail", "-url " + clean + " -export all.txt", mail + "E-MailOnlyIfBroken=1\r\n", smtpRefused,
       0, "", "all.txt"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir / "wexo.ini");
    std::filesystem::remove(dir / "all.txt");
    std::filesystem::remove(dir / "report.html");
    std::filesystem::remove(dir / "sitemap.xml");
    if (!c.ini.empty()) wexo_test::Write(dir / "wexo.ini", c.ini);
    if (c.smtpPort.empty())
      unsetenv("WEXO_SMTP_PORT");
    else
      setenv("WEXO_SMTP_PORT", c.smtpPort.c_str(), 1);
    EXPECT_EQ(Run(c.args), c.exitCode) << c.name << ": " << ReadAll(dir / "err.log");
    const std::string err = ReadAll(dir / "err.log");
    if (c.message.empty())
      EXPECT_EQ(err.find("wexo: Could not"), std::string::npos) << c.name << ": " << err;
    else
      EXPECT_NE(err.find("wexo: " + c.message), std::string::npos) << c.name << ": " << err;
    if (*c.written) EXPECT_TRUE(std::filesystem::exists(dir / c.written)) << c.name;
  }
  unsetenv("WEXO_SMTP_PORT");
}

TEST_F(BatchRun, WithoutSwitchesPrintsUsage) {
  EXPECT_EQ(Run(""), 2);
  EXPECT_NE(ReadAll(dir / "err.log").find("usage: wexo"), std::string::npos);
}

}  // namespace
