// The fetch worker's FTP, gopher and mailto handlers against real peers on loopback: pyftpdlib,
// a small gopher server and dnsmasq.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/support/FetchHarness.h"
#include "e2e/support/PeerProcess.h"
#include "platform/Dns.h"
#include "platform/Inet.h"

using namespace wexo_test;

namespace {

constexpr std::int64_t kPinnedTime = 1577934245;  // 2020-01-02 03:04:05 UTC

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::filesystem::path MakeTree(const char* name) {
  const auto dir =
      std::filesystem::temp_directory_path() / (std::string("wexo-") + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// Waits until the peer echoed text (it echoes every command before it answers).
bool PeerSaw(const PeerProcess& peer, const std::string& text) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (peer.Output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

FetchRun Fetch(const std::string& url, const FetchSettings& settings, std::uint16_t kind = REQUEST_GET) {
  CLinkInfo link;
  FetchRequest request = MakeFetchRequest(link, nullptr, url, kind);
  request.settings = settings;
  FetchRun run = RunFetch(link, std::move(request));
  EXPECT_EQ(run.handOvers, 1);
  EXPECT_EQ(link.m_hInternet.load(), 0u) << "the record still holds the session";
  EXPECT_TRUE(run.result.csBodyFile.empty()) << "these handlers keep no body";
  return run;
}

// ---- FTP ----

class FetchFtpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
    UsePrivateTempDir();
    platform::InternetInitialize();
    root = new std::filesystem::path(MakeTree("ftp"));
    WriteFile(*root / "pub/file.txt", "hello world\n");
    WriteFile(*root / "pub/odd name #1.txt", "odd");
    WriteFile(*root / "pub/empty.txt", "");
    WriteFile(*root / "pub/refused.txt", "the server never sends this");
    WriteFile(*root / "pub/marker.txt", "m");
    std::filesystem::create_directories(*root / "pub/sub");
    utimbuf times{static_cast<time_t>(kPinnedTime), static_cast<time_t>(kPinnedTime)};
    ASSERT_EQ(utime((*root / "pub/file.txt").c_str(), &times), 0);
    peer = new PeerProcess;
    std::string error;
    ASSERT_TRUE(peer->Start({"/usr/bin/python3", PeerScript("ftp_server.py"), "--root", root->string(), "--anonymous",
                             "--user", "alice:secret", "--refuse", "refused.txt", "--refuse-user", "mallory"},
                            std::chrono::seconds(20), &error))
        << error;
  }
  static void TearDownTestSuite() {
    delete peer;
    peer = nullptr;
    platform::InternetShutdown();
    if (root) std::filesystem::remove_all(*root);
    delete root;
    root = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(peer, nullptr);
    baseHandles = platform::InternetOpenHandleCount();
  }
  void TearDown() override { EXPECT_EQ(platform::InternetOpenHandleCount(), baseHandles) << "a session stayed open"; }

  static std::string Url(const std::string& path, const std::string& login = std::string()) {
    return "ftp://" + login + "127.0.0.1:" + std::to_string(peer->Port()) + path;
  }

  static PeerProcess* peer;
  static std::filesystem::path* root;
  std::size_t baseHandles = 0;
};

PeerProcess* FetchFtpTest::peer = nullptr;
std::filesystem::path* FetchFtpTest::root = nullptr;

TEST_F(FetchFtpTest, FoldersFilesAndRefusals) {
  struct Case {
    std::string url;
    int status;
    std::string text;
    std::int64_t size;  // -1: none reported
    bool dated;
  } cases[] = {
      {Url("/"), 200, "", -1, false},
      {Url("/pub"), 200, "", -1, false},
      {Url("/pub/sub/"), 200, "", -1, false},
      {Url("/pub/file.txt"), 200, "", 12, true},
      {Url("/pub/file.txt", "alice:secret@"), 200, "", 12, true},
      {Url("/pub/odd%20name%20%231.txt"), 200, "", 3, false},
      {Url("/pub/empty.txt"), 200, "", 0, false},
      {Url("/pub/missing.txt"), 12003, "550 No such file or directory.", -1, false},
      {Url("/pub/refused.txt"), 12003, "550 Not enough privileges.", -1, false},
      {Url("/pub/missing/"), 12003, "550 No such file or directory.", -1, false},
      {Url("/pub/file.txt", "alice:wrong@"), 12014, "The password was not accepted: 530 Authentication failed.", -1,
       false},
      {Url("/pub/file.txt", "mallory:x@"), 12013,
       "The user name was not accepted: 530 User mallory is not allowed here.", -1, false},
      {"ftp://127.0.0.1:" + std::to_string(UnusedPort()) + "/pub/file.txt", 12029,
       platform::InternetErrorMessage(12029), -1, false},
  };
  for (bool passive : {true, false}) {
    FetchSettings settings = DefaultFetchSettings();
    settings.PassiveFtp = passive;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.url + (passive ? " passive" : " active"));
      FetchRun run = Fetch(c.url, settings);
      const FetchOutcome& o = run.Out();
      EXPECT_EQ(o.status, c.status);
      EXPECT_EQ(o.statusText, c.text);
      EXPECT_TRUE(o.setDuration);
      EXPECT_EQ(o.setSize, c.size >= 0);
      if (c.size >= 0) {
        EXPECT_EQ(o.size, c.size);
      }
      EXPECT_EQ(o.setDate && o.dateKnown == 1, c.status == 200 && c.size >= 0);
      if (c.dated) {
        EXPECT_EQ(o.date, kPinnedTime);
      }
    }
  }
  // Both kinds of data connection were used, and the refused file was really asked for.
  const std::string log = peer->Output();
  EXPECT_NE(log.find("CMD EPSV"), std::string::npos) << log;
  EXPECT_NE(log.find("CMD EPRT"), std::string::npos) << log;
  EXPECT_NE(log.find("CMD RETR /pub/refused.txt"), std::string::npos) << log;
}

TEST_F(FetchFtpTest, PathsWithLineBreaksAreNeverSent) {
  const FetchSettings settings = DefaultFetchSettings();
  for (const std::string path :
       {"/pub/file.txt%0D%0ADELE%20/pub/file.txt", "/pub/x%0ADELE%20y", "/pub/x%00y", "/pub%0D/file.txt"}) {
    SCOPED_TRACE(path);
    FetchRun run = Fetch(Url(path), settings);
    EXPECT_EQ(run.Out().status, 404);
    EXPECT_EQ(run.Out().statusText, "Could not parse URL");
  }
  // A later check shows up in the server's log; nothing of the refused ones came before it.
  EXPECT_EQ(Fetch(Url("/pub/marker.txt"), settings).Out().status, 200);
  ASSERT_TRUE(PeerSaw(*peer, "CMD RETR /pub/marker.txt"));
  const std::string log = peer->Output();
  EXPECT_EQ(log.find("DELE"), std::string::npos) << log;
  EXPECT_EQ(log.find("/pub/x"), std::string::npos) << log;
  EXPECT_TRUE(std::filesystem::exists(*root / "pub/file.txt"));
}

TEST_F(FetchFtpTest, AFolderCheckLeavesItsLoginForTheNext) {
  const FetchSettings settings = DefaultFetchSettings();
  ASSERT_EQ(Fetch(Url("/pub/sub"), settings).Out().status, 200);
  ASSERT_TRUE(PeerSaw(*peer, "CMD CWD /pub/sub"));
  const std::size_t logins = Count(peer->Output(), "CMD USER");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Fetch(Url("/pub"), settings).Out().status, 200);
  EXPECT_EQ(Fetch(Url("/pub/marker.txt"), settings).Out().status, 200);
  ASSERT_TRUE(PeerSaw(*peer, "CMD RETR /pub/marker.txt"));
  // The pooled login serves the folders and the file's RETR; only the size and date after
  // the abandoned RETR need a new one.
  EXPECT_LE(Count(peer->Output(), "CMD USER"), logins + 1) << peer->Output();
}

// A refused login frees the pooled transfer whose idle login it could not use; closing that
// login sends QUIT. A server that never answers it holds the worker for a moment only (curl
// alone would wait two minutes).
TEST_F(FetchFtpTest, AServerThatNeverAnswersQuitHoldsNoWorker) {
  PeerProcess deaf;
  std::string error;
  ASSERT_TRUE(deaf.Start({"/usr/bin/python3", PeerScript("ftp_server.py"), "--root", root->string(), "--user",
                          "alice:secret", "--deaf-quit"},
                         std::chrono::seconds(20), &error))
      << error;
  const std::string base = "ftp://alice:";
  const std::string place = "@127.0.0.1:" + std::to_string(deaf.Port()) + "/pub";
  const FetchSettings settings = DefaultFetchSettings();
  ASSERT_EQ(Fetch(base + "secret" + place, settings).Out().status, 200);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch(base + "wrong" + place, settings).Out().status, 12014);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(PeerSaw(deaf, "CMD QUIT")) << deaf.Output();
}

// ---- gopher ----

class FetchGopherTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UsePrivateTempDir();
    platform::InternetInitialize();
    root = new std::filesystem::path(MakeTree("gopher"));
    WriteFile(*root / "hello.txt", "hello gopher\r\n");
    WriteFile(*root / "docs/a.txt", "a\r\n");
    peer = new PeerProcess;
    std::string error;
    ASSERT_TRUE(peer->Start({"/usr/bin/python3", PeerScript("gopher_server.py"), "--root", root->string()},
                            std::chrono::seconds(20), &error))
        << error;
  }
  static void TearDownTestSuite() {
    delete peer;
    peer = nullptr;
    platform::InternetShutdown();
    if (root) std::filesystem::remove_all(*root);
    delete root;
    root = nullptr;
  }
  static std::string Url(const std::string& path) {
    return "gopher://127.0.0.1:" + std::to_string(peer->Port()) + path;
  }
  static PeerProcess* peer;
  static std::filesystem::path* root;
};

PeerProcess* FetchGopherTest::peer = nullptr;
std::filesystem::path* FetchGopherTest::root = nullptr;

TEST_F(FetchGopherTest, SelectorsAndRefusals) {
  struct Case {
    std::string url;
    int status;
    std::string text;
    std::string selector;  // as the server logs it; "" when nothing may be sent
  } cases[] = {
      {Url("/"), 200, "", "SEL \n"},
      {Url("/0/hello.txt"), 200, "", "SEL /hello.txt\n"},
      {Url("/1/docs"), 200, "", "SEL /docs\n"},
      {Url("/0/with%20blank"), 200, "", "SEL /with blank\n"},
      {Url("/0/x%0D%0Aevil"), 404, "Could not parse URL", ""},
      {Url("/0/x%0Aevil"), 404, "Could not parse URL", ""},
      {Url("/0/x%00evil"), 404, "Could not parse URL", ""},
      {"gopher://127.0.0.1:" + std::to_string(UnusedPort()) + "/0/x", 12029, platform::InternetErrorMessage(12029), ""},
  };
  const FetchSettings settings = DefaultFetchSettings();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    FetchRun run = Fetch(c.url, settings);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_EQ(run.Out().statusText, c.text);
    EXPECT_EQ(run.Out().setDuration, c.status != 404) << "a refused selector is never asked for";
    EXPECT_FALSE(run.Out().setSize);
    if (!c.selector.empty()) {
      EXPECT_TRUE(PeerSaw(*peer, c.selector)) << peer->Output();
    }
  }
  EXPECT_EQ(Fetch(Url("/0/marker"), settings).Out().status, 200);
  ASSERT_TRUE(PeerSaw(*peer, "SEL /marker\n"));
  EXPECT_EQ(peer->Output().find("evil"), std::string::npos) << peer->Output();
}

// ---- mailto and the resolver ----

class FetchMailtoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UsePrivateTempDir();
    peer = new PeerProcess;
    std::string error;
    ASSERT_TRUE(
        peer->Start({"/usr/bin/python3", PeerScript("dns_peer.py"), "--mx", "mxonly.test,mail.mxonly.test", "--a",
                     "aonly.test,127.0.0.2", "--a", "both.test,127.0.0.3", "--mx", "both.test,mx.both.test"},
                    std::chrono::seconds(20), &error))
        << error;
    server = "127.0.0.1:" + std::to_string(peer->Port());
    setenv("WEXO_DNS_SERVER", server.c_str(), 1);
  }
  static void TearDownTestSuite() {
    unsetenv("WEXO_DNS_SERVER");
    delete peer;
    peer = nullptr;
  }
  static PeerProcess* peer;
  static std::string server;
};

PeerProcess* FetchMailtoTest::peer = nullptr;
std::string FetchMailtoTest::server;

TEST_F(FetchMailtoTest, MxThenA) {
  struct Case {
    std::string url;
    int status;
    std::string text;
  } cases[] = {
      {"mailto:someone@mxonly.test", -6, ""},
      {"mailto:someone@aonly.test", -6, ""},
      {"mailto:someone@both.test", -6, ""},
      {"mailto:someone@MXONLY.test?subject=hello", -6, ""},
      {"mailto:someone@none.test", 12007, "no MX or A record found for domain 'none.test'"},
      {"mailto:someone@elsewhere.example", 12007, "no MX or A record found for domain 'elsewhere.example'"},
      // The domain is the text after the last '@', cut at the first ',' or ';'.
      {"mailto:a@none.test,b@mxonly.test", 12007, "no MX or A record found for domain 'none.test'"},
      {"mailto:a@mxonly.test;b@none.test", -6, ""},
      {"mailto:\"a@b\"@aonly.test", -6, ""},
      {"mailto:nobody", 12007, "no MX or A record found for domain ''"},
  };
  const FetchSettings settings = DefaultFetchSettings();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    FetchRun run = Fetch(c.url, settings);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_EQ(run.Out().statusText, c.text);
    EXPECT_FALSE(run.Out().setDuration);
  }
}

TEST_F(FetchMailtoTest, ResolverAnswers) {
  std::vector<platform::DnsRecord> records;
  ASSERT_EQ(platform::DnsQuery("mxonly.test", platform::DNS_TYPE_MX, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_QUERY_OK);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, platform::DNS_TYPE_MX);
  EXPECT_EQ(records[0].data, "mail.mxonly.test");
  ASSERT_EQ(platform::DnsQuery("aonly.test", platform::DNS_TYPE_A, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_QUERY_OK);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, platform::DNS_TYPE_A);
  EXPECT_EQ(records[0].data, "127.0.0.2");
  EXPECT_EQ(platform::DnsQuery("aonly.test", platform::DNS_TYPE_MX, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_INFO_NO_RECORDS);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(platform::DnsQuery("none.test", platform::DNS_TYPE_A, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_ERROR_RCODE_NAME_ERROR);
  // A name the server refuses to answer for.
  EXPECT_NE(platform::DnsQuery("elsewhere.example", platform::DNS_TYPE_A, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_QUERY_OK);
  EXPECT_TRUE(records.empty());
}

TEST_F(FetchMailtoTest, AQueryToASilentServerEndsWhenCancelled) {
  // A server that takes the question and never answers.
  const int silent = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string silentServer = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  setenv("WEXO_DNS_SERVER", silentServer.c_str(), 1);

  std::atomic<bool> stop{false};
  std::atomic<int> polls{0};
  std::thread stopper([&] {
    // Cancel once the query has been waiting for a while.
    while (polls.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
  });
  std::vector<platform::DnsRecord> records;
  const long rc = platform::DnsQuery("mxonly.test", platform::DNS_TYPE_MX, platform::DNS_QUERY_STANDARD, records, [&] {
    ++polls;
    return stop.load();
  });
  stopper.join();
  close(silent);
  setenv("WEXO_DNS_SERVER", server.c_str(), 1);
  EXPECT_EQ(rc, platform::DNS_ERROR_CANCELLED);
  EXPECT_TRUE(records.empty());

  setenv("WEXO_DNS_SERVER", "not a server", 1);
  EXPECT_EQ(platform::DnsQuery("mxonly.test", platform::DNS_TYPE_MX, platform::DNS_QUERY_STANDARD, records),
            platform::DNS_ERROR_INVALID_PARAMETER);
  setenv("WEXO_DNS_SERVER", server.c_str(), 1);
}

}  // namespace
