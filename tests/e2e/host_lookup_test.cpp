// Host names of web, FTP and gopher requests go through the process's name cache: one lookup
// per name for any number of concurrent requests, against dnsmasq and a DNS server that never
// answers, with the scripted HTTP server on loopback.
#include "platform/Dns.h"
#include "platform/Inet.h"
#include "platform/InetFtp.h"

#include "e2e/support/HttpPeer.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using wexo_test::HttpPeer;
using wexo_test::PeerProcess;
using wexo_test::PeerScript;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kAgent = "Tolvak-Test/1.0";
// Far beyond what any of these requests needs; only a hang reaches it.
constexpr auto kBound = std::chrono::seconds(60);

struct Outcome {
  std::uint32_t code = 0;  // the HTTP status, else the error number
  std::string message;
};

// A GET of url (http or gopher) on a session of its own, read to its end. handle, when
// given, receives the session's handle so that another thread can close it.
Outcome Get(const std::string& url, std::atomic<HINTERNET>* handle = nullptr) {
  CInternetSession s(kAgent);
  if (handle) *handle = s.GetHandle();
  Outcome out;
  try {
    auto f = s.OpenURL(url);
    if (auto* http = dynamic_cast<CHttpFile*>(f.get())) http->QueryInfoStatusCode(out.code);
    char buf[1024];
    while (f->Read(buf, sizeof buf)) {
    }
    f->Close();
  } catch (const CInternetException& e) {
    out.code = e.m_dwError;
    out.message = e.GetErrorMessage();
  }
  return out;
}

// Runs a GET of each url on a thread of its own, all at once.
std::vector<Outcome> GetAll(const std::vector<std::string>& urls) {
  std::vector<std::future<Outcome>> running;
  for (const std::string& url : urls) running.push_back(std::async(std::launch::async, [url] { return Get(url); }));
  std::vector<Outcome> out;
  for (auto& r : running) {
    EXPECT_EQ(r.wait_for(kBound), std::future_status::ready) << "a request hangs";
    out.push_back(r.get());
  }
  return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

template <class Pred>
bool WaitFor(Pred pred) {
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class HostLookupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A proxy from the environment would take the names out of the cache's hands.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY",
                          "gopher_proxy", "GOPHER_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    InternetInitialize();
    dns = new PeerProcess;
    std::string error;
    ASSERT_TRUE(dns->Start({"/usr/bin/python3", PeerScript("dns_peer.py"), "--a", "known.test,127.0.0.1", "--a",
                            "dual.test,127.0.0.1,::1", "--log-queries"},
                           std::chrono::seconds(20), &error))
        << error;
    dnsServer = "127.0.0.1:" + std::to_string(dns->Port());
    http = new HttpPeer;
    ASSERT_TRUE(http->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    unsetenv("WEXO_DNS_SERVER");
    unsetenv("RES_OPTIONS");
    delete http;
    http = nullptr;
    delete dns;
    dns = nullptr;
    InternetShutdown();
  }
  void SetUp() override {
    ASSERT_NE(dns, nullptr);
    ASSERT_NE(http, nullptr);
    setenv("WEXO_DNS_SERVER", dnsServer.c_str(), 1);
  }

  static std::string Url(const std::string& host, const std::string& target = "/status/200") {
    return "http://" + host + ":" + std::to_string(http->Port()) + target;
  }

  static PeerProcess* dns;
  static std::string dnsServer;
  static HttpPeer* http;
};

PeerProcess* HostLookupTest::dns = nullptr;
std::string HostLookupTest::dnsServer;
HttpPeer* HostLookupTest::http = nullptr;

// A DNS server on loopback that reads the questions and never answers them.
class SilentDns {
 public:
  SilentDns() {
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_socket >= 0 && bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      m_port = ntohs(addr.sin_port);
    m_reader = std::thread([this] {
      while (!m_stop.load()) {
        pollfd p{m_socket, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[1500];
        if (recv(m_socket, buf, sizeof buf, 0) > 0) ++m_questions;
      }
    });
  }
  ~SilentDns() {
    m_stop = true;
    m_reader.join();
    if (m_socket >= 0) close(m_socket);
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(m_port); }
  int Port() const { return m_port; }
  int Questions() const { return m_questions.load(); }

 private:
  int m_socket = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_questions{0};
  std::thread m_reader;
};

TEST_F(HostLookupTest, ConcurrentRequestsAskEachNameOnce) {
  // dual.test has an IPv6 address too (where the server does not listen).
  const std::vector<std::string> hosts = {"known.test", "dual.test", "missing.test"};
  std::vector<std::string> urls;
  for (int i = 0; i < 20; ++i)
    for (const std::string& host : hosts) urls.push_back(Url(host));
  const std::vector<Outcome> outcomes = GetAll(urls);
  for (std::size_t i = 0; i < urls.size(); ++i) {
    SCOPED_TRACE(urls[i]);
    const bool missing = urls[i].find("missing") != std::string::npos;
    EXPECT_EQ(outcomes[i].code, missing ? ERROR_INTERNET_NAME_NOT_RESOLVED : 200u);
    EXPECT_EQ(outcomes[i].message, missing ? InternetErrorMessage(ERROR_INTERNET_NAME_NOT_RESOLVED) : "");
  }

  // Later requests by name keep reusing their pooled connection.
  http->ClearLog();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Get(Url("known.test")).code, 200u);
  const auto log = http->Log();
  ASSERT_EQ(log.size(), 3u);
  for (const auto& r : log) EXPECT_EQ(r.conn, log[0].conn);

  // FTP and gopher hosts come from the same answers: the name is found (the system's
  // resolver does not know it), and the refused connect is what fails.
  const int closed = wexo_test::UnusedPort();
  EXPECT_EQ(Get("gopher://known.test:" + std::to_string(closed) + "/").code, ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_EQ(Get("gopher://missing.test:" + std::to_string(closed) + "/").code, ERROR_INTERNET_NAME_NOT_RESOLVED);
  for (const char* host : {"known.test", "missing.test"}) {
    SCOPED_TRACE(host);
    CInternetSession s(kAgent);
    std::uint32_t error = 0;
    try {
      s.GetFtpConnection(host, {}, {}, static_cast<std::uint16_t>(closed), true);
    } catch (const CInternetException& e) {
      error = e.m_dwError;
    }
    EXPECT_EQ(error,
              std::string(host) == "known.test" ? ERROR_INTERNET_CANNOT_CONNECT : ERROR_INTERNET_NAME_NOT_RESOLVED);
  }

  // Mail lookups: many links name one domain, and each question goes out once.
  std::vector<std::future<std::pair<long, std::size_t>>> mail;
  for (int i = 0; i < 10; ++i)
    for (const char* domain : {i % 2 ? "Known.test" : "known.test", "missing.test"})
      mail.push_back(std::async(std::launch::async, [domain] {
        std::vector<DnsRecord> found;
        const long rc = DnsQuery(domain, DNS_TYPE_A, DNS_QUERY_STANDARD, found);
        return std::make_pair(rc, found.size());
      }));
  for (std::size_t i = 0; i < mail.size(); ++i) {
    const auto [rc, count] = mail[i].get();
    EXPECT_EQ(rc, i % 2 == 0 ? DNS_QUERY_OK : DNS_ERROR_RCODE_NAME_ERROR) << i;
    EXPECT_EQ(count, i % 2 == 0 ? 1u : 0u) << i;
  }

  // dnsmasq logs in order: once a last question is in the log, all earlier ones are.
  std::vector<DnsRecord> records;
  DnsQuery("sentinel.test", DNS_TYPE_A, DNS_QUERY_STANDARD, records);
  ASSERT_TRUE(WaitFor([] { return dns->Output().find("query[A] sentinel.test ") != std::string::npos; }))
      << dns->Output();
  const std::string queries = dns->Output();
  // A name that does not exist is asked for its IPv4 address only. The mail lookups of
  // known.test (in either case) and missing.test asked once more each.
  for (const std::string& host : hosts)
    for (const char* type : {"A", "AAAA"}) {
      const std::string line = std::string("query[") + type + "] " + host + " ";
      std::size_t expected = host == "missing.test" && std::string(type) == "AAAA" ? 0u : 1u;
      std::size_t count = Count(queries, line);
      if (host != "dual.test" && std::string(type) == "A") {
        ++expected;
        if (host == "known.test") count += Count(queries, "query[A] Known.test ");
      }
      EXPECT_EQ(count, expected) << line << "\n" << queries;
    }
}

TEST_F(HostLookupTest, ConcurrentRequestsShareOneLookupOfASilentServer) {
  setenv("RES_OPTIONS", "timeout:1 attempts:1", 1);
  SilentDns silent;
  ASSERT_NE(silent.Port(), 0);
  setenv("WEXO_DNS_SERVER", silent.Server().c_str(), 1);

  // What one lookup sends.
  EXPECT_EQ(Get(Url("first.test")).code, ERROR_INTERNET_NAME_NOT_RESOLVED);
  const int one = silent.Questions();
  ASSERT_GT(one, 0);

  const auto outcomes = GetAll(std::vector<std::string>(8, Url("second.test")));
  for (const Outcome& o : outcomes) {
    EXPECT_EQ(o.code, ERROR_INTERNET_NAME_NOT_RESOLVED);
    EXPECT_EQ(o.message, InternetErrorMessage(ERROR_INTERNET_NAME_NOT_RESOLVED));
  }
  EXPECT_EQ(silent.Questions(), 2 * one);
  // The time-out is kept as an answer.
  EXPECT_EQ(Get(Url("second.test")).code, ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_EQ(silent.Questions(), 2 * one);

  // Each of the resolver's attempts asks once more, for its IPv4 address only; so do mail
  // lookups.
  setenv("RES_OPTIONS", "timeout:1 attempts:3", 1);
  EXPECT_EQ(Get(Url("third.test")).code, ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_EQ(silent.Questions(), 2 * one + 3);
  std::vector<DnsRecord> records;
  EXPECT_EQ(DnsQuery("third.test", DNS_TYPE_MX, DNS_QUERY_STANDARD, records), DNS_ERROR_TIMEOUT);
  EXPECT_EQ(silent.Questions(), 2 * one + 6);
}

TEST_F(HostLookupTest, ClosingASessionEndsItsWaitForAName) {
  // Far longer than the test waits for anything.
  setenv("RES_OPTIONS", "timeout:30 attempts:1", 1);
  SilentDns silent;
  ASSERT_NE(silent.Port(), 0);
  setenv("WEXO_DNS_SERVER", silent.Server().c_str(), 1);

  // The first request asks; the two others, for the same name, wait for its answer.
  std::atomic<HINTERNET> handles[3] = {0, 0, 0};
  std::future<Outcome> requests[3];
  auto start = [&](int i) {
    requests[i] = std::async(std::launch::async, [&, i] { return Get(Url("slow.test"), &handles[i]); });
    ASSERT_TRUE(WaitFor([&] { return handles[i].load() != 0; }));
  };
  start(0);
  ASSERT_TRUE(WaitFor([&] { return silent.Questions() > 0; }));
  start(1);
  start(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int asked = silent.Questions();

  auto closeAndWait = [&](int i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(InternetCloseHandle(handles[i].load()));
    ASSERT_EQ(requests[i].wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const Outcome o = requests[i].get();
    EXPECT_EQ(o.code, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(o.message, InternetErrorMessage(ERROR_INTERNET_OPERATION_CANCELLED));
  };
  closeAndWait(1);  // a waiter
  EXPECT_EQ(silent.Questions(), asked);
  closeAndWait(0);  // the one asking: its lookup is dropped, not kept, and the waiter asks anew
  EXPECT_TRUE(WaitFor([&] { return silent.Questions() > asked; }));
  closeAndWait(2);
}

}  // namespace
