// The SMTP client against a scripted byte-level server (tests/peers/smtp_script_peer.py), one
// script per case, and against aiosmtpd for the logins and a whole MIME message. Host names
// go through dnsmasq; WEXO_SMTP_PORT points the client at the peers.
#include "mail/MailSend.h"
#include "mail/SmtpConnection.h"
#include "platform/LastError.h"

#include "e2e/support/PeerProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;
using wexo_test::FromHex;
using wexo_test::OutputLines;
using wexo_test::PeerProcess;
using wexo_test::PeerScript;
using wexo_test::WaitForOutput;

namespace fs = std::filesystem;

namespace {

// --- script steps of the scripted server ---

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
std::string Send(const std::string& text) { return "[\"send\"," + Json(text) + "]"; }
std::string Sleep(int ms) { return "[\"sleep\"," + std::to_string(ms) + "]"; }
std::string Bytes(int n) { return "[\"bytes\"," + std::to_string(n) + "]"; }
const std::string Read = "[\"read\"]";
const std::string Data = "[\"data\"]";
const std::string Close = "[\"close\"]";
// Read one command and answer it.
std::string Answer(const std::string& reply) { return Read + "," + Send(reply); }

std::string HostName() {
  char name[260] = {};
  return gethostname(name, sizeof name - 1) == 0 && name[0] ? name : "localhost";
}

// A connection that keeps its diagnostic sentences.
class Connection : public CRQZSMTPConnection {
 public:
  std::vector<std::string> diagnostics;

 protected:
  void ReportDiagnostic(const std::string& text) override { diagnostics.push_back(text); }
};

class MailTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The folder first: when the DNS peer does not start, each test fails on its own.
    dir = new fs::path(fs::temp_directory_path() / ("wexo-mail-e2e-" + std::to_string(getpid())));
    fs::create_directories(*dir);
    // Every byte value, twice, and a CR LF that must not be touched.
    std::string bytes;
    for (int i = 0; i < 512; ++i) bytes += static_cast<char>(i & 0xFF);
    bytes += "\r\n.\r\n";
    attachment = new std::string(bytes);
    std::ofstream(*dir / "data.bin", std::ios::binary) << bytes;
    auto peer = std::make_unique<PeerProcess>();
    std::string error;
    ASSERT_TRUE(peer->Start({"/usr/bin/python3", PeerScript("dns_peer.py"), "--a", "mail.test,127.0.0.1"},
                            std::chrono::seconds(20), &error))
        << error;
    dns = peer.release();
    dnsServer = "127.0.0.1:" + std::to_string(dns->Port());
  }
  static void TearDownTestSuite() {
    unsetenv("WEXO_DNS_SERVER");
    unsetenv("WEXO_SMTP_PORT");
    delete dns;
    dns = nullptr;
    fs::remove_all(*dir);
    delete dir;
    delete attachment;
  }
  void SetUp() override {
    ASSERT_NE(dns, nullptr);
    setenv("WEXO_DNS_SERVER", dnsServer.c_str(), 1);
  }

  // What both callers build: sender text, subject, body text, one file, the To list.
  static void BuildMessage(CSMTPMessage& m) {
    m.m_From = CSMTPAddress("", "Wexo Sender <sender@example.org>");
    m.m_sSubject = kSubject;
    m.AddBodyText(kBody);
    m.AttachFileList((*dir / "data.bin").string());
    m.AddRecipientList("a@example.org; Bee <b@example.org>", SMTP_TO);
  }
  static constexpr const char* kSubject = "Link report \xE2\x80\x93 r\xC3\xA9sum\xC3\xA9";
  static constexpr const char* kBody = "Hello,\n.a line with a dot\nJ\xC3\xBCrgen \n";

  static PeerProcess* dns;
  static std::string dnsServer;
  static fs::path* dir;
  static std::string* attachment;
};

PeerProcess* MailTest::dns = nullptr;
std::string MailTest::dnsServer;
fs::path* MailTest::dir = nullptr;
std::string* MailTest::attachment = nullptr;

// What a case does and what it should come to.
struct ScriptCase {
  const char* name;
  std::vector<std::string> script;
  std::function<bool(Connection&)> act;  // false when the step that should fail failed
  std::vector<std::uint32_t> errors;     // any of these as last error after act; none: success
  std::string reply;                     // the last reply text after act ("*": not checked)
  std::vector<std::string> seen;         // what the server read; "DATA..." an end-marked message
  std::uint32_t timeoutMs = 10000;
  bool noConnection = false;  // the server is never reached
  bool refusedPort = false;   // WEXO_SMTP_PORT names a port nobody listens on
};

// Runs a connection against the scripted server playing script; what the server read.
std::vector<std::string> Play(const ScriptCase& c, std::string* error) {
  PeerProcess peer;
  std::string script = "[";
  for (std::size_t i = 0; i < c.script.size(); ++i) script += (i ? "," : "") + c.script[i];
  script += "]";
  if (!peer.Start({"/usr/bin/python3", PeerScript("smtp_script_peer.py"), "--script", script}, std::chrono::seconds(20),
                  error)) {
    ADD_FAILURE() << "the scripted SMTP server did not start: " << *error;
    return {};
  }
  const int port = c.refusedPort ? wexo_test::UnusedPort() : peer.Port();
  setenv("WEXO_SMTP_PORT", std::to_string(port).c_str(), 1);
  {
    Connection conn;
    conn.SetReplyTimeout(c.timeoutMs);
    const bool ok = c.act(conn);
    const std::uint32_t lastError = platform::GetLastError();
    if (c.errors.empty()) {
      EXPECT_TRUE(ok) << ::testing::PrintToString(conn.diagnostics);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_THAT(c.errors, ::testing::Contains(lastError)) << platform::FormatMessageText(lastError);
      EXPECT_FALSE(conn.diagnostics.empty());
    }
    if (c.reply != "*") {
      EXPECT_EQ(conn.LastReplyText(), c.reply);
    }
  }
  // The server has seen the whole connection once it printed END.
  if (!c.noConnection) {
    EXPECT_TRUE(WaitForOutput(peer, "END")) << "the connection did not end";
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(peer.Output(), "") << "the server was reached";
  }
  std::vector<std::string> seen;
  for (const std::string& hex : OutputLines(peer.Output(), "GOT ")) seen.push_back(FromHex(hex));
  return seen;
}

TEST_F(MailTest, ScriptedServer) {
  const std::string helo = "HELO " + HostName() + "\r\n";
  const std::string ehlo = "EHLO " + HostName() + "\r\n";
  const std::string greet = Send("220 scripted ESMTP\r\n");
  const std::string ok = "250 ok\r\n";
  const std::string bye = Answer("221 bye\r\n");
  auto send = [](const std::function<void(CSMTPMessage&)>& edit, const std::string& host = "mail.test") {
    return [edit, host](Connection& c) {
      if (!c.Connect(host)) return false;
      CSMTPMessage m;
      BuildMessage(m);
      if (edit) edit(m);
      if (!c.SendMessage(m)) return false;
      return c.Disconnect(true);
    };
  };
  auto connect = [](int method = SMTP_LOGIN_NONE, std::string user = {}, std::string password = {}) {
    return [=](Connection& c) {
      if (!c.Connect("127.0.0.1", method, user, password)) return false;
      return c.Disconnect(true);
    };
  };
  // The greeting's reply survives its clean-up QUIT: the reply seen after Connect.
  auto connectOnly = [](Connection& c) { return c.Connect("127.0.0.1"); };

  const ScriptCase cases[] = {
      {"the whole transaction, the host name through the DNS server",
       {greet, Answer(ok), Answer(ok), Answer(ok), Answer(ok), Answer(ok), Answer(ok), Answer("354 go on\r\n"), Data,
        Send("250 queued\r\n"), bye},
       send([](CSMTPMessage& m) {
         m.AddRecipientList("Cee <c@example.org>", SMTP_CC);
         m.AddRecipientList("d@example.org", SMTP_BCC);
       }),
       {},
       "221 bye",
       {helo, "MAIL FROM:<sender@example.org>\r\n", "RCPT TO:<a@example.org>\r\n", "RCPT TO:<b@example.org>\r\n",
        "RCPT TO:<c@example.org>\r\n", "RCPT TO:<d@example.org>\r\n", "DATA\r\n",
        "DATA From: Wexo Sender <sender@example.org>\r\nTo: a@example.org,Bee <b@example.org>\r\nCc: Cee "
        "<c@example.org>\r\nSubject: ",
        "QUIT\r\n"}},
      {"a three-line reply in three reads",
       {greet, Read, Send("250-first\r\n"), Sleep(150), Send("250-second\r\n"), Sleep(150), Send("250 third\r\n"), bye},
       [](Connection& c) {
         const bool ok = c.Connect("127.0.0.1");
         EXPECT_EQ(c.LastReplyText(), "250-first\r\n250-second\r\n250 third");
         EXPECT_EQ(c.LastReplyCode(), 250);
         return ok && c.Disconnect(true);
       },
       {},
       "221 bye",
       {helo, "QUIT\r\n"}},
      {"a bare code is a whole reply",
       {greet, Answer("250\r\n"), Answer("221\r\n")},
       connect(),
       {},
       "221",
       {helo, "QUIT\r\n"}},
      {"a greeting of 554: QUIT, then closed",
       {Send("554 no service here\r\n"), bye},
       connectOnly,
       {platform::WSAEPROTONOSUPPORT},
       "554 no service here",
       {"QUIT\r\n"}},
      {"a reply without CR LF times out, and no QUIT follows",
       {Send("220 never ends")},
       connectOnly,
       {platform::WSAETIMEDOUT},
       "220 never ends",
       {},
       300},
      {"a reply trickled byte by byte has one deadline",
       {Send("2"), Sleep(150), Send("2"), Sleep(150), Send("0"), Sleep(150), Send(" "), Sleep(150), Send("h"),
        Sleep(150), Send("i"), Sleep(150), Send("\r\n")},
       connectOnly,
       {platform::WSAETIMEDOUT},
       "*",
       {},
       500},
      {"a reply longer than 64 KiB",
       {Send("220-" + std::string(70000, 'x'))},
       connectOnly,
       {platform::WSAEMSGSIZE},
       "*",
       {}},
      {"the second recipient refused: no Cc, no DATA",
       {greet, Answer(ok), Answer(ok), Answer(ok), Answer("550 no such user\r\n"), bye},
       send([](CSMTPMessage& m) {
         m.AddRecipientList("third@example.org", SMTP_TO);
         m.AddRecipientList("c@example.org", SMTP_CC);
       }),
       {platform::ERROR_BAD_COMMAND},
       "550 no such user",
       {helo, "MAIL FROM:<sender@example.org>\r\n", "RCPT TO:<a@example.org>\r\n", "RCPT TO:<b@example.org>\r\n",
        "QUIT\r\n"}},
      {"a host name that does not resolve: no connection",
       {greet, bye},
       [](Connection& c) { return c.Connect("nowhere.test"); },
       {platform::WSAEINVAL},
       "",
       {},
       10000,
       true},
      {"a port nobody listens on", {greet}, connectOnly, {platform::WSAECONNREFUSED}, "", {}, 10000, true, true},
      {"the server closes in the middle of the message",
       {greet, Answer(ok), Answer(ok), Answer(ok), Answer(ok), Answer("354 go on\r\n"), Bytes(40), Close},
       [&](Connection& c) {
         const bool sent = send({})(c);
         EXPECT_FALSE(c.IsConnected());
         return sent;
       },
       {platform::WSAECONNRESET, platform::WSAECONNABORTED, platform::WSAEDISCON},
       "*",
       {helo, "MAIL FROM:<sender@example.org>\r\n", "RCPT TO:<a@example.org>\r\n", "RCPT TO:<b@example.org>\r\n",
        "DATA\r\n", "From: Wexo Sender <sender@example.org>\r\nTo: "}},
      {"a refused message: QUIT after the end marker's reply",
       {greet, Answer(ok), Answer(ok), Answer(ok), Answer(ok), Answer("354 go on\r\n"), Data, Send("554 rejected\r\n"),
        bye},
       send({}),
       {platform::ERROR_BAD_COMMAND},
       "554 rejected",
       {helo, "MAIL FROM:<sender@example.org>\r\n", "RCPT TO:<a@example.org>\r\n", "RCPT TO:<b@example.org>\r\n",
        "DATA\r\n", "DATA From: ", "QUIT\r\n"}},
      {"a line break in the subject is refused before MAIL",
       {greet, Answer(ok), bye},
       send([](CSMTPMessage& m) { m.m_sSubject = "Report\r\nBcc: victim@example.org"; }),
       {platform::ERROR_INVALID_DATA},
       "The subject holds a line break or NUL character",
       {helo, "QUIT\r\n"}},
      {"a line break in the user name is refused before connecting",
       {greet},
       connect(SMTP_LOGIN_AUTH_PLAIN, "user\r\nRCPT TO:<x@y>", "pw"),
       {platform::ERROR_INVALID_DATA},
       "The user name holds a line break or NUL character",
       {},
       10000,
       true},
      {"CRAM-MD5 with the challenge of RFC 2195",
       {greet, Answer("250-scripted\r\n250 AUTH CRAM-MD5\r\n"),
        Answer("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"), Answer("235 welcome\r\n"), bye},
       connect(SMTP_LOGIN_CRAM_MD5, "tim", "tanstaaftanstaaf"),
       {},
       "221 bye",
       {ehlo, "AUTH CRAM-MD5\r\n", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n", "QUIT\r\n"}},
      {"AUTH answered with 504: no user name sent",
       {greet, Answer(ok), Answer("504 unrecognized\r\n"), bye},
       connect(SMTP_LOGIN_AUTH, "user", "pw"),
       {platform::WSAEPROTONOSUPPORT},
       "504 unrecognized",
       {ehlo, "AUTH LOGIN\r\n", "QUIT\r\n"}},
      {"an unknown login method sends EHLO only",
       {greet, Answer(ok), bye},
       [](Connection& c) { return !c.Connect("127.0.0.1", 4, "user", "pw"); },
       {},
       "250 ok",
       {ehlo, "QUIT\r\n"}},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const std::vector<std::string> seen = Play(c, &error);
    ASSERT_EQ(seen.size(), c.seen.size()) << ::testing::PrintToString(seen);
    for (std::size_t i = 0; i < seen.size(); ++i) {
      if (c.seen[i].rfind("DATA ", 0) == 0) {
        EXPECT_EQ(seen[i].rfind(c.seen[i].substr(5), 0), 0u) << seen[i].substr(0, 200);
        EXPECT_TRUE(seen[i].size() > 5 && seen[i].substr(seen[i].size() - 5) == "\r\n.\r\n");
      } else if (c.seen[i].rfind("From: ", 0) == 0) {
        EXPECT_EQ(seen[i], std::string(c.seen[i].substr(0, seen[i].size())));
      } else {
        EXPECT_EQ(seen[i], c.seen[i]);
      }
    }
  }
}

// aiosmtpd: the logins, and a whole message read back by Python's email package.
class AiosmtpdTest : public MailTest {
 protected:
  void SetUp() override {
    MailTest::SetUp();
    saved = *dir / ("saved-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(saved);
    std::string error;
    ASSERT_TRUE(peer.Start({"/usr/bin/python3", PeerScript("smtp_auth_peer.py"), "--user", "wexo", "--password",
                            "p\xC3\xA4ss word", "--dir", saved.string()},
                           std::chrono::seconds(30), &error))
        << "aiosmtpd did not start: " << error;
    setenv("WEXO_SMTP_PORT", std::to_string(peer.Port()).c_str(), 1);
  }
  PeerProcess peer;
  fs::path saved;
};

TEST_F(AiosmtpdTest, Logins) {
  struct Case {
    int method;
    std::string password;
    bool ok;
    std::uint32_t error;
    std::string heard;  // what the server printed about the login
  } cases[] = {
      {SMTP_LOGIN_AUTH, "p\xC3\xA4ss word", true, 0, "LOGIN ok"},
      {SMTP_LOGIN_AUTH, "wrong", false, platform::WSAEPROTONOSUPPORT, "LOGIN refused"},
      {SMTP_LOGIN_CRAM_MD5, "p\xC3\xA4ss word", true, 0, "CRAM-MD5 ok"},
      {SMTP_LOGIN_CRAM_MD5, "wrong", false, platform::WSAEPROTONOSUPPORT, "CRAM-MD5 refused"},
      // "LOGIN PLAIN" is no mechanism: the server cannot decode "PLAIN" as a first answer.
      {SMTP_LOGIN_AUTH_PLAIN, "p\xC3\xA4ss word", false, platform::WSAEPROTONOSUPPORT, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + " " + c.password);
    const std::size_t before = OutputLines(peer.Output(), "AUTH ").size();
    Connection conn;
    conn.SetReplyTimeout(20000);
    EXPECT_EQ(conn.Connect("mail.test", c.method, "wexo", c.password), c.ok);
    if (c.ok) {
      EXPECT_TRUE(conn.Disconnect(true));
    } else {
      EXPECT_EQ(platform::GetLastError(), c.error);
    }
    if (c.method == SMTP_LOGIN_AUTH_PLAIN) {
      EXPECT_EQ(conn.LastReplyCode(), 501);
      EXPECT_THAT(conn.LastReplyText(), HasSubstr("base64"));
    }
    // The server prints after it answered: wait for its line before reading the output.
    std::vector<std::string> heard = OutputLines(peer.Output(), "AUTH ");
    for (int i = 0; i < 1000 && !c.heard.empty() && heard.size() <= before; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      heard = OutputLines(peer.Output(), "AUTH ");
    }
    if (c.heard.empty()) {
      EXPECT_EQ(heard.size(), before);
    } else {
      ASSERT_EQ(heard.size(), before + 1);
      EXPECT_EQ(heard.back(), c.heard);
    }
  }
}

TEST_F(AiosmtpdTest, TextAndBinaryAttachmentArriveIntact) {
  Connection conn;
  conn.SetReplyTimeout(20000);
  ASSERT_TRUE(conn.Connect("mail.test")) << ::testing::PrintToString(conn.diagnostics);
  CSMTPMessage m;
  BuildMessage(m);
  m.AddRecipientList("Carl <c@example.org>", SMTP_CC);
  m.AddRecipientList("hidden@example.org", SMTP_BCC);
  ASSERT_TRUE(conn.SendMessage(m)) << conn.LastReplyText();
  EXPECT_TRUE(conn.Disconnect(true));
  ASSERT_TRUE(WaitForOutput(peer, "DONE"));

  const std::string out = peer.Output();
  EXPECT_EQ(OutputLines(out, "MAIL "), std::vector<std::string>{"sender@example.org"});
  EXPECT_EQ(OutputLines(out, "RCPT "),
            (std::vector<std::string>{"a@example.org", "b@example.org", "c@example.org", "hidden@example.org"}));
  ASSERT_EQ(OutputLines(out, "FROM ").size(), 1u);
  EXPECT_EQ(FromHex(OutputLines(out, "FROM ")[0]), "Wexo Sender <sender@example.org>");
  // Latin-1 has no en dash: the subject goes in UTF-8, whole.
  EXPECT_EQ(FromHex(OutputLines(out, "SUBJECT ")[0]), kSubject);

  const std::vector<std::string> parts = OutputLines(out, "PART ");
  ASSERT_EQ(parts.size(), 2u) << out;
  const std::string textPrefix = "text/plain - ";
  ASSERT_EQ(parts[0].rfind(textPrefix, 0), 0u) << parts[0];
  std::string text = FromHex(parts[0].substr(textPrefix.size()));
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  // The part ends with the blank line before the next boundary.
  EXPECT_EQ(text, std::string(kBody) + "\n");
  const std::string filePrefix = "application/octet-stream data.bin ";
  ASSERT_EQ(parts[1].rfind(filePrefix, 0), 0u) << parts[1];
  EXPECT_EQ(FromHex(parts[1].substr(filePrefix.size())), *attachment);
}

// What the peer printed about the last message it took.
std::string LastMessage(const std::string& out) {
  const std::size_t done = out.rfind("DONE");
  const std::size_t before = done == std::string::npos ? std::string::npos : out.rfind("DONE", done - 1);
  return out.substr(before == std::string::npos ? 0 : before + 4, done == std::string::npos ? 0 : done - before);
}

// The header lines of a saved message, without their CR LF.
std::vector<std::string> SavedHeaderLines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

// Where an encoded word of a header line does not stand apart ("" when all do): each must have
// white space or a list's comma on both sides and none inside, or a reader that holds to the
// rules shows it as it is.
std::string GluedWord(std::string line) {
  for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;) line.erase(at, 2);
  static const std::regex word(R"(=\?[^?\s]+\?[QqBb]\?[^?\s]*\?=)");
  auto apart = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  for (std::size_t at = line.find("=?"); at != std::string::npos; at = line.find("=?", at + 2)) {
    std::smatch m;
    const std::string rest = line.substr(at);
    const bool whole = std::regex_search(rest, m, word, std::regex_constants::match_continuous);
    const std::size_t end = at + (whole ? m.length(0) : 2);
    if (!whole || at == 0 || !apart(line[at - 1]) || (end < line.size() && !apart(line[end])))
      return line.substr(at > 10 ? at - 10 : 0, 40);
    at = end - 2;
  }
  return "";
}

// Names and subjects outside Latin-1, a sender's name, a long list and a long subject, quoted
// names with a comma, specials inside Latin-1 names, a subject whose encoded words follow
// plain text and each other, each read back by Python's email package both strictly (its
// header registry) and leniently (compat32 and getaddresses, as address books do).
TEST_F(AiosmtpdTest, HeaderTextsArriveWhole) {
  std::string longSubject;
  for (int i = 0; longSubject.size() < 1500; ++i) longSubject += "Link report part " + std::to_string(i) + " ";
  longSubject.resize(1500);
  longSubject.back() = 'x';
  std::string fortyTo;
  std::vector<std::string> fortyRcpt, fortySeen;
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    fortyTo += (i ? ", " : "") + std::string("Recipient Number ") + n + " <recipient" + n + "@example.org>";
    fortyRcpt.push_back("recipient" + n + "@example.org");
    fortySeen.push_back("recipient" + n + "@example.org " + Hex("Recipient Number " + n));
  }
  const std::string otdel = "\xD0\x9E\xD1\x82\xD0\xB4\xD0\xB5\xD0\xBB";  // Отдел
  const std::string cyrillicSubject =
      "Bericht f\xC3\xBCr M\xC3\xBCller \xE2\x80\x94 \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB8";
  const std::string joerg =
      "J\xC3\xB6rg Pr\xC3\xBC"
      "fer";
  const std::string mueller = "M\xC3\xBCller, J\xC3\xB6rg";
  const std::string chef = "\xC3\x84rger; [1]: a@b.";
  // 70 bytes of ASCII first: the cut of the Latin-1 text falls right before the colon.
  const std::string checked =
      "Links of www.example.org, every page and every image, all were checked"
      ": Pr\xC3\xBC"
      "fung\tder Verweise";
  std::string dashes;
  for (int i = 0; i < 12; ++i) dashes += "Bericht \xE2\x80\x93 Teil " + std::to_string(i) + " ";
  const struct {
    const char* name;
    std::string from, to, subject;
    std::string rawFrom;  // how the From line starts on the wire
    std::string fromSeen;
    std::vector<std::string> toSeen;  // "<address> <hex of the name>"
    std::vector<std::string> rcpt;
    std::string lenientFrom;  // the From the lenient reader shows, when not fromSeen
  } cases[] = {
      {"outside Latin-1",
       "Wexo <wexo@example.org>",
       otdel + " <otdel@example.org>, J\xC3\xBCrgen Gro\xC3\x9F <jg@example.org>",
       cyrillicSubject,
       "From: Wexo <wexo@example.org>",
       "Wexo <wexo@example.org>",
       {"otdel@example.org " + Hex(otdel), "jg@example.org " + Hex("J\xC3\xBCrgen Gro\xC3\x9F")},
       {"otdel@example.org", "jg@example.org"},
       ""},
      {"a sender's name with umlauts",
       joerg + " <joerg@example.org>",
       "a@example.org",
       "Pr\xC3\xBC"
       "fung der Verweise",
       "From: =?iso-8859-1?q?J=F6rg_Pr=FCfer?= <joerg@example.org>",
       joerg + " <joerg@example.org>",
       {"a@example.org "},
       {"a@example.org"},
       ""},
      {"40 named recipients and a 1,500-character subject", "wexo@example.org", fortyTo, longSubject,
       "From: wexo@example.org", "wexo@example.org", fortySeen, fortyRcpt, ""},
      {"a quoted name with a comma",
       "wexo@example.org",
       "\"Smith, John\" <js@example.org>",
       "Quoted",
       "From: wexo@example.org",
       "wexo@example.org",
       {"js@example.org " + Hex("Smith, John")},
       {"js@example.org"},
       ""},
      {"specials inside Latin-1 names",
       "\"Pr\xC3\xBC"
       "fer, J\xC3\xB6rg\" <joerg@example.org>",
       "\"" + mueller + "\" <jm@example.org>; J\xC3\xB6rg (Pr\xC3\xBC" + "fer) <jp@example.org>, \"" + chef +
           "\" <chef@example.org>",
       "Names",
       "From: =?iso-8859-1?q?Pr=FCfer=2C_J=F6rg?= <joerg@example.org>",
       "\"Pr\xC3\xBC"
       "fer, J\xC3\xB6rg\" <joerg@example.org>",
       {"jm@example.org " + Hex(mueller), "jp@example.org " + Hex("J\xC3\xB6rg (Pr\xC3\xBC" + std::string("fer)")),
        "chef@example.org " + Hex(chef)},
       {"jm@example.org", "jp@example.org", "chef@example.org"},
       "Pr\xC3\xBC"
       "fer, J\xC3\xB6rg <joerg@example.org>"},
      {"encoded words after plain text and after each other, a tab in one",
       "wexo@example.org",
       "a@example.org",
       checked,
       "From: wexo@example.org",
       "wexo@example.org",
       {"a@example.org "},
       {"a@example.org"},
       ""},
      {"UTF-8 words after each other",
       "wexo@example.org",
       "a@example.org",
       dashes,
       "From: wexo@example.org",
       "wexo@example.org",
       {"a@example.org "},
       {"a@example.org"},
       ""},
  };
  int sent = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Connection conn;
    conn.SetReplyTimeout(20000);
    ASSERT_TRUE(conn.Connect("mail.test")) << ::testing::PrintToString(conn.diagnostics);
    CSMTPMessage m;
    m.m_From = CSMTPAddress("", c.from);
    m.m_sSubject = c.subject;
    m.AddBodyText(kBody);
    m.AddRecipientList(c.to, SMTP_TO);
    ASSERT_TRUE(conn.SendMessage(m)) << conn.LastReplyText();
    EXPECT_TRUE(conn.Disconnect(true));
    ++sent;
    for (int i = 0; i < 1000 && static_cast<int>(OutputLines(peer.Output(), "DONE").size()) < sent; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string out = LastMessage(peer.Output());
    ASSERT_EQ(static_cast<int>(OutputLines(peer.Output(), "DONE").size()), sent) << peer.Output();

    EXPECT_EQ(OutputLines(out, "RCPT "), c.rcpt);
    EXPECT_EQ(OutputLines(out, "TO "), c.toSeen);
    EXPECT_EQ(OutputLines(out, "LTO "), c.toSeen);
    ASSERT_EQ(OutputLines(out, "FROM ").size(), 1u) << out;
    EXPECT_EQ(FromHex(OutputLines(out, "FROM ")[0]), c.fromSeen);
    ASSERT_EQ(OutputLines(out, "LFROM ").size(), 1u) << out;
    EXPECT_EQ(FromHex(OutputLines(out, "LFROM ")[0]), c.lenientFrom.empty() ? c.fromSeen : c.lenientFrom);
    for (const char* subject : {"SUBJECT ", "LSUBJECT "}) {
      ASSERT_EQ(OutputLines(out, subject).size(), 1u) << out;
      EXPECT_EQ(FromHex(OutputLines(out, subject)[0]), c.subject) << subject;
    }

    const std::string file = (saved / ("msg-" + std::to_string(sent) + ".eml")).string();
    const std::vector<std::string> header = SavedHeaderLines(file);
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(header[0].rfind(c.rawFrom, 0), 0u) << header[0];
    for (const std::string& line : header) EXPECT_LE(line.size(), 998u) << line.substr(0, 100);
    // Folded lines unfolded: each header field whole.
    std::vector<std::string> fields;
    for (const std::string& line : header) {
      if (!fields.empty() && (line[0] == ' ' || line[0] == '\t'))
        fields.back() += line;
      else
        fields.push_back(line);
    }
    for (const std::string& field : fields) EXPECT_EQ(GluedWord(field), "") << field.substr(0, 200);
  }
}

// The routine both program mails use: its text and file arrive, and a file that cannot be
// attached is left out or, with a failure text, stops the mail before MAIL FROM.
TEST_F(AiosmtpdTest, SendMailWithOrWithoutItsFile) {
  MailSettings settings;
  settings.EMailSmtpServer = "mail.test";
  settings.EMailFrom = "Wexo Sender <sender@example.org>";
  settings.EMailTo = "a@example.org; Bee <b@example.org>";
  settings.EMailSubject = kSubject;
  const std::string missing = (*dir / "missing.htm").string();
  const struct {
    std::string file;
    std::string attachFailure;
    std::vector<std::string> notices;  // empty: sent
    std::vector<std::string> partTypes;
  } cases[] = {
      {(*dir / "data.bin").string(), "not attached", {}, {"text/plain", "application/octet-stream"}},
      {missing, "", {}, {"text/plain"}},
      {missing, "not attached", {"not attached"}, {}},
  };
  int sent = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " / " + c.attachFailure);
    std::vector<std::string> notices;
    EXPECT_EQ(SendMail(settings, {kBody, c.file, c.attachFailure}, [&](const std::string& t) { notices.push_back(t); }),
              c.notices.empty());
    EXPECT_EQ(notices, c.notices);
    if (!c.notices.empty()) continue;
    ++sent;
    for (int i = 0; i < 200 && OutputLines(peer.Output(), "DONE").size() < static_cast<std::size_t>(sent); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string out = LastMessage(peer.Output());
    EXPECT_EQ(OutputLines(out, "RCPT "), (std::vector<std::string>{"a@example.org", "b@example.org"}));
    ASSERT_EQ(OutputLines(out, "SUBJECT ").size(), 1u) << out;
    EXPECT_EQ(FromHex(OutputLines(out, "SUBJECT ")[0]), kSubject);
    std::vector<std::string> types;
    for (const std::string& part : OutputLines(out, "PART ")) types.push_back(part.substr(0, part.find(' ')));
    EXPECT_EQ(types, c.partTypes) << out;
  }
  EXPECT_EQ(OutputLines(peer.Output(), "MAIL ").size(), 2u) << peer.Output();
}

// A server's reply reaches the failure's text with its control characters and the bytes that
// are no UTF-8 escaped, its lines one below the other: nothing it sends can steer a terminal.
TEST_F(MailTest, ServerRepliesReachTheBoxEscaped) {
  const std::string script = "[" + Send("220 scripted\r\n") + "," + Answer("250 ok\r\n") + "," + Answer("250 ok\r\n") +
                             "," + Answer("550-\x1B]0;owned\x07\x1B[2J\r\n550 no\x08\x08\xFF\xFE\xC2\x9B user\r\n") +
                             "," + Answer("221 bye\r\n") + "]";
  PeerProcess peer;
  std::string error;
  ASSERT_TRUE(wexo_test::StartScriptedMailPeer(peer, script, &error)) << error;
  MailSettings settings;
  settings.EMailSmtpServer = "127.0.0.1";
  settings.EMailFrom = "wexo@example.org";
  settings.EMailTo = "a@example.org";
  settings.EMailSubject = "Report";
  std::vector<std::string> notices;
  EXPECT_FALSE(SendMail(settings, {kBody, "", ""}, [&](const std::string& t) { notices.push_back(t); }));
  EXPECT_EQ(notices, std::vector<std::string>{"Failed to send e-mail message: 550-\\x1B]0;owned\\x07\\x1B[2J\n"
                                              "550 no\\x08\\x08\\xFF\\xFE\\xC2\\x9B user"});
  EXPECT_TRUE(WaitForOutput(peer, "END"));
}

// The trace log holds every command and reply, and no login data.
TEST_F(MailTest, TraceLogHoldsTheDialogue) {
  const fs::path temp = *dir / "trace";
  fs::create_directories(temp);
  const char* oldTemp = std::getenv("TMPDIR");
  const std::string savedTemp = oldTemp ? oldTemp : "";
  setenv("TMPDIR", temp.c_str(), 1);
  const fs::path log = temp / ("wexo-" + std::to_string(getuid())) / "wexolog.txt";
  auto logText = [&] {
    std::ifstream in(log, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };

  const std::string greet = Send("220 scripted ESMTP\r\n");
  const std::string refused = "553 5.7.1 <sender@example.org>: Sender address rejected: not owned by user";
  const ScriptCase mailFrom{"a refused MAIL FROM",
                            {greet, Answer("250 ok\r\n"), Answer(refused + "\r\n"), Answer("221 bye\r\n")},
                            [](Connection& c) {
                              if (!c.Connect("127.0.0.1")) return false;
                              CSMTPMessage m;
                              BuildMessage(m);
                              return c.SendMessage(m);
                            },
                            {platform::ERROR_BAD_COMMAND},
                            refused,
                            {}};
  std::string error;
  Play(mailFrom, &error);
  std::string text = logText();
  EXPECT_THAT(text, HasSubstr("SMTP sent: MAIL FROM:<sender@example.org>\r\n")) << text;
  EXPECT_THAT(text, HasSubstr("SMTP received: " + refused + "\r\n")) << text;
  EXPECT_THAT(text, HasSubstr("SMTP received: 220 scripted ESMTP\r\n"));
  EXPECT_THAT(text, HasSubstr("SMTP sent: QUIT\r\n"));
  EXPECT_THAT(text, HasSubstr("SmtpConnection, "));

  fs::remove(log);
  const ScriptCase login{
      "a login",
      {greet, Answer("250-scripted\r\n250 AUTH LOGIN\r\n"), Answer("334 VXNlcm5hbWU6\r\n"),
       Answer("334 UGFzc3dvcmQ6\r\n"), Answer("535 5.7.8 credentials invalid\r\n"), Answer("221 bye\r\n")},
      [](Connection& c) { return c.Connect("127.0.0.1", SMTP_LOGIN_AUTH, "wexo", "s3cret"); },
      {platform::WSAEPROTONOSUPPORT},
      "535 5.7.8 credentials invalid",
      {}};
  Play(login, &error);
  text = logText();
  EXPECT_THAT(text, HasSubstr("SMTP sent: AUTH LOGIN\r\n"));
  EXPECT_THAT(text, HasSubstr("SMTP sent: (login data, not shown)\r\n"));
  EXPECT_THAT(text, HasSubstr("SMTP received: 535 5.7.8 credentials invalid\r\n"));
  EXPECT_THAT(text, Not(HasSubstr("czNjcmV0")));  // the password in Base64
  EXPECT_THAT(text, Not(HasSubstr("d2V4bw")));    // the user name in Base64
  if (oldTemp)
    setenv("TMPDIR", savedTemp.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace
