// The E-Mail end of a batch check, run as the program itself: the report mailed to aiosmtpd
// (WEXO_SMTP_PORT), and the failures that show their box, ask the report question and exit 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"
#include "platform/LastError.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::FromHex;
using wexo_test::OutputLines;
using wexo_test::PeerProcess;
using wexo_test::PeerScript;
using wexo_test::ReadAll;

class ReportMailRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("wexo-reportmail-" + std::to_string(::getpid()));
    fs::create_directories(dir / "saved");
    std::string error;
    ASSERT_TRUE(wexo_test::StartMailPeer(smtp, (dir / "saved").string(), &error))
        << "aiosmtpd did not start: " << error;
    ASSERT_TRUE(dns.Start({"/usr/bin/python3", PeerScript("dns_peer.py"), "--a", "mail.test,127.0.0.1"},
                          std::chrono::seconds(20), &error))
        << error;
    setenv("WEXO_DNS_SERVER", ("127.0.0.1:" + std::to_string(dns.Port())).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("WEXO_SMTP_PORT");
    unsetenv("WEXO_DNS_SERVER");
    fs::remove_all(dir);
  }

  // A batch check with these mail settings, mailing only when something is broken; of a root
  // nobody serves (one broken link) unless url is given.
  int Check(const std::string& server, const std::string& to, std::string url = "",
            const std::string& subject = "Broken links") {
    wexo_test::Write(dir / "wexo.ini", "[Options]\r\nE-Mail=1\r\nE-MailOnlyIfBroken=1\r\nE-Mail-SMTP-Server=" + server +
                                           "\r\nE-Mail-From=Wexo <wexo@example.org>\r\nE-Mail-To=" + to +
                                           "\r\nE-Mail-Subject=" + subject + "\r\n");
    if (url.empty()) url = "http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/";
    return wexo_test::RunWexo(dir, dir, "-url " + url);
  }

  fs::path dir;
  PeerProcess smtp;
  PeerProcess dns;
};

TEST_F(ReportMailRun, ReportIsMailedAsItWasWritten) {
  ASSERT_EQ(Check("mail.test", "a@example.org; Bee <b@example.org>"), 0) << ReadAll(dir / "err.log");
  EXPECT_EQ(ReadAll(dir / "err.log").find("Do you want a report?"), std::string::npos) << ReadAll(dir / "err.log");
  ASSERT_TRUE(wexo_test::WaitForOutput(smtp, "DONE")) << smtp.Output();
  const std::string out = smtp.Output();
  EXPECT_EQ(OutputLines(out, "MAIL "), std::vector<std::string>{"wexo@example.org"});
  EXPECT_EQ(OutputLines(out, "RCPT "), (std::vector<std::string>{"a@example.org", "b@example.org"}));
  const std::vector<std::string> subject = OutputLines(out, "SUBJECT ");
  ASSERT_EQ(subject.size(), 1u) << out;
  EXPECT_EQ(FromHex(subject[0]), "Broken links");

  const std::vector<std::string> parts = OutputLines(out, "PART ");
  ASSERT_EQ(parts.size(), 2u) << out;
  EXPECT_EQ(parts[0].rfind("text/plain - ", 0), 0u);
  EXPECT_NE(FromHex(parts[0].substr(13)).find("Attached is the report from Wexo's Link Tolvak:"), std::string::npos);
  // "application/octet-stream QMV-<uuid>.htm <hex>": the file it was made from is still there.
  std::istringstream attachment(parts[1]);
  std::string type, name, hex;
  attachment >> type >> name >> hex;
  EXPECT_EQ(type, "application/octet-stream");
  ASSERT_EQ(name.size(), 44u) << name;
  const fs::path report = dir / ("wexo-" + std::to_string(::getuid())) / name.substr(4, 1) / name;
  const std::string written = ReadAll(report);
  EXPECT_TRUE(written.starts_with("<!DOCTYPE HTML PUBLIC")) << report;
  EXPECT_EQ(FromHex(hex), written);
}

TEST_F(ReportMailRun, FailuresShowTheirBoxAndExitOne) {
  const struct {
    const char* name;
    std::string server;
    std::string to;
    std::string box;
  } cases[] = {
      {"unresolvable server", "nowhere.test", "a@example.org",
       "Failed to connect to SMTP server nowhere.test: " + platform::FormatMessageText(platform::WSAEINVAL)},
      {"refused recipient", "127.0.0.1", "a@example.org, nobody@example.org",
       "Failed to send e-mail message: 550 5.1.1 <nobody@example.org>: Recipient address rejected"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(c.server, c.to), 1) << c.name;
    const std::string err = ReadAll(dir / "err.log");
    // The failure falls back to the report question, which a batch run answers No.
    EXPECT_NE(err.find("wexo: " + c.box + "\n"), std::string::npos) << c.name << ": " << err;
    EXPECT_NE(err.find("Link tolvak finished. Do you want a report? No"), std::string::npos) << c.name << ": " << err;
  }
  EXPECT_TRUE(OutputLines(smtp.Output(), "DONE").empty()) << smtp.Output();
  // Why the server refused is in the trace log, with what was said before.
  const std::string log = ReadAll(dir / ("wexo-" + std::to_string(::getuid())) / "wexolog.txt");
  EXPECT_NE(log.find("SMTP sent: RCPT TO:<nobody@example.org>\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("SMTP received: 550 5.1.1 <nobody@example.org>: Recipient address rejected\r\n"),
            std::string::npos)
      << log;
}

// What a server answers reaches standard error escaped: a refusal carrying terminal controls
// and bytes that are no UTF-8 shows them as "\xNN".
TEST_F(ReportMailRun, ServerRepliesReachStandardErrorEscaped) {
  const std::string reply = "550 \\u001b]0;owned\\u0007\\u001b[2J no\\u0008\\u00ff user\\r\\n";
  const std::string script = R"([["send","220 scripted\r\n"],["read"],["send","250 ok\r\n"],["read"],)"
                             R"(["send","250 ok\r\n"],["read"],["send",")" +
                             reply + R"("],["read"],["send","221 bye\r\n"]])";
  PeerProcess peer;
  std::string error;
  ASSERT_TRUE(wexo_test::StartScriptedMailPeer(peer, script, &error)) << error;
  EXPECT_EQ(Check("127.0.0.1", "a@example.org"), 1);
  const std::string err = ReadAll(dir / "err.log");
  EXPECT_NE(err.find("wexo: Failed to send e-mail message: 550 \\x1B]0;owned\\x07\\x1B[2J no\\x08\\xFF user\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find_first_of("\x1B\x07\x08\xFF"), std::string::npos) << err;
}

// The settings file's UTF-8 texts arrive as they were written, Latin-1 or not.
TEST_F(ReportMailRun, TextsOutsideLatin1ArriveWhole) {
  const std::string subject =
      "Bericht f\xC3\xBCr M\xC3\xBCller \xE2\x80\x94 \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB8";
  const std::string otdel = "\xD0\x9E\xD1\x82\xD0\xB4\xD0\xB5\xD0\xBB";
  ASSERT_EQ(Check("mail.test", otdel + " <otdel@example.org>; \"Smith, John\" <js@example.org>", "", subject), 0)
      << ReadAll(dir / "err.log");
  ASSERT_TRUE(wexo_test::WaitForOutput(smtp, "DONE")) << smtp.Output();
  const std::string out = smtp.Output();
  EXPECT_EQ(OutputLines(out, "RCPT "), (std::vector<std::string>{"otdel@example.org", "js@example.org"}));
  const std::vector<std::string> to = OutputLines(out, "TO ");
  ASSERT_EQ(to.size(), 2u) << out;
  EXPECT_EQ(FromHex(to[0].substr(to[0].find(' ') + 1)), otdel);
  EXPECT_EQ(FromHex(to[1].substr(to[1].find(' ') + 1)), "Smith, John");
  ASSERT_EQ(OutputLines(out, "SUBJECT ").size(), 1u) << out;
  EXPECT_EQ(FromHex(OutputLines(out, "SUBJECT ")[0]), subject);
}

// A WEXO_SMTP_PORT that is no port number sends nothing, to no server, and says why.
TEST_F(ReportMailRun, PortSettingThatIsNoPortSendsNothing) {
  for (const char* port : {"abc", "0", "70000", "2525x"}) {
    setenv("WEXO_SMTP_PORT", port, 1);
    EXPECT_EQ(Check("127.0.0.1", "a@example.org"), 1) << port;
    const std::string err = ReadAll(dir / "err.log");
    EXPECT_NE(err.find(std::string("wexo: WEXO_SMTP_PORT is not a port number: ") + port + "\n"), std::string::npos)
        << port << ": " << err;
    EXPECT_EQ(err.find("Failed to connect"), std::string::npos) << err;
  }
  EXPECT_EQ(smtp.Output(), "");
}

TEST_F(ReportMailRun, NothingBrokenIsNotMailed) {
  wexo_test::Write(dir / "site" / "index.html", "<html><body>No links</body></html>");
  EXPECT_EQ(Check("nowhere.test", "a@example.org", "file://" + (dir / "site" / "index.html").string()), 0)
      << ReadAll(dir / "err.log");
  EXPECT_EQ(ReadAll(dir / "err.log"), "");
  EXPECT_TRUE(OutputLines(smtp.Output(), "MAIL ").empty());
}

}  // namespace
