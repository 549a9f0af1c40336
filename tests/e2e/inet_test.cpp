// The internet classes against the scripted HTTP server on loopback.
#include "platform/Inet.h"

#include "e2e/support/HttpPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

using namespace platform;
using wexo_test::HttpPeer;
using wexo_test::LoggedRequest;

namespace {

const std::string kAgent = "Tolvak-Test/1.0";

class InetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback only: a proxy from the environment must not take these requests.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    InternetInitialize();
    peer = new HttpPeer;
    std::string error;
    ASSERT_TRUE(peer->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    delete peer;
    peer = nullptr;
    InternetShutdown();
  }
  void SetUp() override {
    ASSERT_NE(peer, nullptr);
    peer->ClearLog();
    baseHandles = InternetOpenHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(InternetOpenHandleCount(), baseHandles) << "a session handle stayed in the table";
  }

  std::unique_ptr<CHttpFile> Open(CInternetSession& s, int verb, const std::string& object,
                                  const std::string& referer = {}) {
    auto conn = s.GetHttpConnection("127.0.0.1", static_cast<std::uint16_t>(peer->Port()));
    return conn->OpenRequest(verb, object, referer,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE |
                                 INTERNET_FLAG_NO_AUTO_REDIRECT);
  }

  static std::string ReadAll(CInternetFile& f, std::size_t* largestRead = nullptr) {
    std::string body;
    char buf[2048];
    while (std::size_t n = f.Read(buf, sizeof buf)) {
      if (largestRead) *largestRead = std::max(*largestRead, n);
      body.append(buf, n);
    }
    return body;
  }

  // The error number of a GET of object (0 when it succeeded), the body read.
  std::uint32_t FetchError(CInternetSession& s, const std::string& object, std::string* message = nullptr) {
    try {
      auto f = Open(s, HTTP_VERB_GET, object);
      f->SendRequest();
      ReadAll(*f);
      return 0;
    } catch (const CInternetException& e) {
      if (message) *message = e.GetErrorMessage();
      return e.m_dwError;
    }
  }

  static const LoggedRequest* Find(const std::vector<LoggedRequest>& log, const std::string& target) {
    for (const auto& r : log)
      if (r.target == target) return &r;
    return nullptr;
  }

  static HttpPeer* peer;
  std::size_t baseHandles = 0;
};

HttpPeer* InetTest::peer = nullptr;

TEST_F(InetTest, StatusAndRawHeaderBlockOfTheFinalResponse) {
  for (int code : {200, 204, 301, 404, 500}) {
    SCOPED_TRACE(code);
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_GET, "/status/" + std::to_string(code));
    ASSERT_TRUE(f->SendRequest());
    std::uint32_t status = 0;
    ASSERT_TRUE(f->QueryInfoStatusCode(status));
    EXPECT_EQ(status, static_cast<std::uint32_t>(code));

    std::string raw;
    ASSERT_TRUE(f->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw));
    EXPECT_EQ(raw.rfind("HTTP/1.1 " + std::to_string(code) + " ", 0), 0u) << raw;
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
    for (std::size_t i = raw.find('\n'); i != std::string::npos; i = raw.find('\n', i + 1))
      EXPECT_EQ(raw[i - 1], '\r') << "bare LF at " << i;
    // Case as the server sent it.
    EXPECT_NE(raw.find("\r\nX-Mixed-Case: MiXeD value\r\n"), std::string::npos) << raw;
    f->Close();
  }
}

TEST_F(InetTest, NamedHeadersIgnoreCase) {
  CInternetSession s(kAgent);
  auto f = Open(s, HTTP_VERB_GET, "/redirect/302?to=/there&form=location");
  f->SendRequest();
  std::string a, b, c;
  EXPECT_TRUE(f->QueryInfo(HTTP_QUERY_LOCATION, a));  // sent as "location: "
  EXPECT_EQ(a, "/there");
  EXPECT_TRUE(f->QueryInfo("LOCATION", b));
  EXPECT_EQ(b, "/there");
  EXPECT_TRUE(f->QueryInfo(HTTP_QUERY_CONTENT_TYPE, c));
  EXPECT_EQ(c, "text/html");
  std::string server, length;
  EXPECT_TRUE(f->QueryInfo(HTTP_QUERY_SERVER, server));
  EXPECT_EQ(server, "WexoTestServer/1.0");
  EXPECT_TRUE(f->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length));
  EXPECT_EQ(length, "6");
  std::string raw;
  f->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw);
  EXPECT_NE(raw.find("\r\nlocation: /there\r\n"), std::string::npos) << raw;

  std::string missing = "unchanged";
  EXPECT_FALSE(f->QueryInfo(HTTP_QUERY_CONTENT_ENCODING, missing));
  EXPECT_EQ(InternetGetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_FALSE(f->QueryInfo("X-Not-There", missing));
  EXPECT_EQ(missing, "unchanged");
}

TEST_F(InetTest, ContentLocationStaysAHeaderOfItsOwn) {
  CInternetSession s(kAgent);
  auto f = Open(s, HTTP_VERB_GET, "/redirect/301?to=/target&form=content-first");
  f->SendRequest();
  std::string location, contentLocation, raw;
  ASSERT_TRUE(f->QueryInfo(HTTP_QUERY_LOCATION, location));
  EXPECT_EQ(location, "/target");
  ASSERT_TRUE(f->QueryInfo("content-location", contentLocation));
  EXPECT_EQ(contentLocation, "/content-location");
  f->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw);
  EXPECT_LT(raw.find("Content-Location: "), raw.find("\r\nLocation: ")) << raw;
}

TEST_F(InetTest, LastModifiedIsParsedAsUtcWithItsYearKept) {
  struct Case {
    int year;
    std::int64_t unix;
  } cases[] = {{2030, 1909139445}, {2031, 1940675445}};  // 1 July, 12:30:45 UTC
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year);
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_HEAD, "/lastmod/" + std::to_string(c.year));
    f->SendRequest();
    SYSTEMTIME t;
    ASSERT_TRUE(f->QueryInfo(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, t));
    EXPECT_EQ(t.wYear, c.year);
    EXPECT_EQ(t.wMonth, 7);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour, 12);
    EXPECT_EQ(SystemTimeToUnixTime(t), c.unix);
  }
}

TEST_F(InetTest, BodyIsReadInChunksOfAtMostTheBufferSize) {
  CInternetSession s(kAgent);
  auto f = Open(s, HTTP_VERB_GET, "/page?size=300001");
  f->SendRequest();
  std::size_t largest = 0;
  const std::string body = ReadAll(*f, &largest);
  EXPECT_EQ(body.size(), 300001u);
  EXPECT_TRUE(body == wexo_test::PageBytes(300001)) << "body differs";
  EXPECT_LE(largest, 2048u);
  EXPECT_EQ(f->Read(nullptr, 0), 0u);
}

TEST_F(InetTest, GzipBodyArrivesUndecoded) {
  CInternetSession s(kAgent);
  auto f = Open(s, HTTP_VERB_GET, "/gzip");
  f->AddRequestHeaders("Accept-Encoding: gzip\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  f->SendRequest();
  std::string encoding, length;
  ASSERT_TRUE(f->QueryInfo(HTTP_QUERY_CONTENT_ENCODING, encoding));
  EXPECT_EQ(encoding, "gzip");
  ASSERT_TRUE(f->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length));
  const std::string body = ReadAll(*f);
  EXPECT_EQ(std::to_string(body.size()), length);
  ASSERT_GE(body.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(body[0]), 0x1f);
  EXPECT_EQ(static_cast<unsigned char>(body[1]), 0x8b);
}

TEST_F(InetTest, RequestCarriesExactlyItsHeadersOneLineEach) {
  {
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_GET, "/status/../status/200?q=a b\\c", "http://referrer.example/page");
    EXPECT_TRUE(f->AddRequestHeaders("Accept: */*\r\nAccept-Language: de\r\nAccept-Encoding: gzip\r\n",
                                     HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_TRUE(f->AddRequestHeaders("Accept: text/plain\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_TRUE(f->AddRequestHeader("X-Inject", "a\r\nX-Evil: 1"));
    EXPECT_FALSE(f->AddRequestHeaders("no colon here"));
    f->SendRequest();
    f->Close();
  }
  {
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_HEAD, "/status/200?bare");
    f->SendRequest();
  }
  const auto log = peer->Log();
  const LoggedRequest* r = Find(log, "/status/../status/200?q=a%20b\\c");
  ASSERT_NE(r, nullptr) << "path not sent as it was";
  EXPECT_EQ(r->method, "GET");
  EXPECT_EQ(r->version, "HTTP/1.1");
  EXPECT_EQ(r->Header("User-Agent"), kAgent);
  EXPECT_EQ(r->Header("Referer"), "http://referrer.example/page");
  EXPECT_EQ(r->Header("Accept"), "*/*");
  EXPECT_EQ(r->Header("Accept-Language"), "de");
  EXPECT_EQ(r->Header("Accept-Encoding"), "gzip");
  EXPECT_EQ(r->Header("X-Inject"), "a  X-Evil: 1");
  EXPECT_FALSE(r->HasHeader("X-Evil"));
  EXPECT_FALSE(r->HasHeader("Expect"));
  int accepts = 0;
  for (const auto& h : r->headers) accepts += h.first == "Accept";
  EXPECT_EQ(accepts, 1);

  const LoggedRequest* bare = Find(log, "/status/200?bare");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->method, "HEAD");
  EXPECT_FALSE(bare->HasHeader("Accept")) << "a header nobody added";
  EXPECT_FALSE(bare->HasHeader("Referer"));
}

TEST_F(InetTest, PostSendsItsBodyWithoutExpect) {
  const std::string body(1100000, 'a');  // beyond the size where curl would send "Expect:"
  CInternetSession s(kAgent);
  auto f = Open(s, HTTP_VERB_POST, "/echo");
  f->SendRequest("Content-Type: application/x-www-form-urlencoded", "x=" + body);
  std::uint32_t status = 0;
  f->QueryInfoStatusCode(status);
  EXPECT_EQ(status, 200u);
  ReadAll(*f);
  const auto log = peer->Log();
  const LoggedRequest* r = Find(log, "/echo");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->method, "POST");
  EXPECT_EQ(r->body, "x=" + body);
  EXPECT_EQ(r->Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_FALSE(r->HasHeader("Expect"));
}

TEST_F(InetTest, UnreadLargeBodyIsNotDownloadedAndItsConnectionNotReused) {
  constexpr std::int64_t kSize = 200LL << 20;
  struct Case {
    const char* tag;
    const char* query;
  } cases[] = {{"nf", "code=404&type=text/html"}, {"bin", "code=200&type=application/octet-stream"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    peer->ClearLog();
    const std::string target = "/big?size=" + std::to_string(kSize) + "&tag=" + c.tag + "&" + c.query;
    {
      CInternetSession s(kAgent);
      auto f = Open(s, HTTP_VERB_GET, target);
      f->SendRequest();
      std::uint32_t status = 0;
      f->QueryInfoStatusCode(status);
      EXPECT_EQ(status, std::string(c.query).find("404") != std::string::npos ? 404u : 200u);
      f->Close();
    }
    const std::int64_t sent = peer->SentBytes(c.tag);
    EXPECT_GE(sent, 0);
    EXPECT_LT(sent, kSize / 8) << "the body was downloaded";
    {
      CInternetSession s(kAgent);
      EXPECT_EQ(FetchError(s, "/status/200?after"), 0u);
    }
    const auto log = peer->Log();
    const LoggedRequest* big = Find(log, target);
    const LoggedRequest* after = Find(log, "/status/200?after");
    ASSERT_TRUE(big && after);
    EXPECT_NE(big->conn, after->conn) << "an abandoned connection was reused";
  }
}

TEST_F(InetTest, ConnectionsAreReusedAcrossSessions) {
  // Like workers one after another: a body read whole, a HEAD, an answer without
  // a body that nobody reads.
  {
    CInternetSession s(kAgent);
    EXPECT_EQ(FetchError(s, "/page?size=5000&n=1"), 0u);
  }
  {
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_HEAD, "/page?size=5000&n=2");
    f->SendRequest();
  }
  {
    CInternetSession s(kAgent);
    auto f = Open(s, HTTP_VERB_GET, "/status/204?n=3");
    f->SendRequest();
  }
  {
    CInternetSession s(kAgent);
    EXPECT_EQ(FetchError(s, "/status/200?n=4"), 0u);
  }
  const auto log = peer->Log();
  ASSERT_EQ(log.size(), 4u);
  for (const auto& r : log) EXPECT_EQ(r.conn, log[0].conn) << r.target;
}

TEST_F(InetTest, CloseFromAnotherThreadCancelsAHangingSend) {
  for (const char* target : {"/hang", "/hang-body"}) {
    SCOPED_TRACE(target);
    peer->ClearLog();
    std::atomic<HINTERNET> handle{0};
    std::optional<std::uint32_t> error;
    std::string message;
    std::thread worker([&] {
      CInternetSession s(kAgent);
      handle = s.GetHandle();
      try {
        auto f = Open(s, HTTP_VERB_GET, target);
        f->SendRequest();
        ReadAll(*f);  // /hang-body: the read blocks
        error = 0;
      } catch (const CInternetException& e) {
        error = e.m_dwError;
        message = e.GetErrorMessage();
      }
      // The worker's own end: the handle is gone already, so it closes nothing.
      if (HINTERNET h = handle.exchange(0)) InternetCloseHandle(h);
      s.Close();
    });
    ASSERT_TRUE(peer->WaitForRequest(target));
    HINTERNET h = 0;
    while ((h = handle.exchange(0)) == 0) std::this_thread::yield();
    EXPECT_TRUE(InternetCloseHandle(h));
    EXPECT_FALSE(InternetCloseHandle(h)) << "closed twice";
    worker.join();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(message, InternetErrorMessage(ERROR_INTERNET_OPERATION_CANCELLED));
    EXPECT_EQ(InternetOpenHandleCount(), baseHandles);
  }
}

TEST_F(InetTest, ClosedSessionRefusesNewRequests) {
  CInternetSession s(kAgent);
  auto conn = s.GetHttpConnection("127.0.0.1", static_cast<std::uint16_t>(peer->Port()));
  auto f = conn->OpenRequest(HTTP_VERB_GET, "/status/200");
  ASSERT_TRUE(InternetCloseHandle(s.GetHandle()));
  EXPECT_TRUE(s.IsCancelled());
  try {
    f->SendRequest();
    FAIL() << "sent on a closed session";
  } catch (const CInternetException& e) {
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_OPERATION_CANCELLED);
  }
  EXPECT_THROW(conn->OpenRequest(HTTP_VERB_GET, "/"), CInternetException);
  EXPECT_TRUE(peer->Log().empty()) << "a request reached the server";
}

TEST_F(InetTest, TransportFailuresMapToTheLibraryNumbers) {
  struct Case {
    std::string server;
    int port;
    std::string object;
    std::uint32_t error;
  } cases[] = {
      {"127.0.0.1", wexo_test::UnusedPort(), "/", ERROR_INTERNET_CANNOT_CONNECT},
      {"no-such-host.invalid", peer->Port(), "/", ERROR_INTERNET_NAME_NOT_RESOLVED},
      {"127.0.0.1", peer->Port(), "/reset", ERROR_INTERNET_CONNECTION_RESET},
      {"127.0.0.1", peer->Port(), "/nothing", ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"127.0.0.1", peer->Port(), "/garbage", ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"127.0.0.1", peer->Port(), "/short", ERROR_INTERNET_CONNECTION_ABORTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + ":" + std::to_string(c.port) + c.object);
    CInternetSession s(kAgent);
    std::uint32_t error = 0;
    std::string message;
    try {
      auto conn = s.GetHttpConnection(c.server, static_cast<std::uint16_t>(c.port));
      auto f = conn->OpenRequest(HTTP_VERB_GET, c.object);
      f->SendRequest();
      ReadAll(*f);
    } catch (const CInternetException& e) {
      error = e.m_dwError;
      message = e.GetErrorMessage();
    }
    EXPECT_EQ(error, c.error) << message;
    EXPECT_EQ(message, InternetErrorMessage(c.error));
    EXPECT_EQ(message.find("internet error"), std::string::npos) << "a number without its text";
  }
}

TEST_F(InetTest, ReceiveTimeoutEndsASilentReply) {
  CInternetSession s(kAgent);
  ASSERT_TRUE(s.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1000));
  EXPECT_EQ(FetchError(s, "/hang?limit=30"), ERROR_INTERNET_TIMEOUT);
}

TEST_F(InetTest, OpenUrlGetsAWholeUrl) {
  CInternetSession s(kAgent);
  auto f = s.OpenURL(peer->Url("/page?size=777"));
  auto* http = dynamic_cast<CHttpFile*>(f.get());
  ASSERT_NE(http, nullptr);
  std::uint32_t status = 0;
  http->QueryInfoStatusCode(status);
  EXPECT_EQ(status, 200u);
  EXPECT_TRUE(ReadAll(*f) == wexo_test::PageBytes(777));
  try {
    s.OpenURL("nntp://127.0.0.1/x");
    FAIL() << "an unknown scheme opened";
  } catch (const CInternetException& e) {
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  }
}

TEST(InetGopher, OpenUrlSendsTheSelectorAndReadsToTheEnd) {
  // A one-file gopher peer: answers each selector with a line naming it.
  const char* script = R"(
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept()
    sel = b""
    while not sel.endswith(b"\r\n"):
        d = c.recv(100)
        if not d:
            break
        sel += d
    c.sendall(b"iselector=" + sel.strip() + b"\r\n.\r\n")
    c.close()
)";
  wexo_test::PeerProcess gopher;
  std::string error;
  ASSERT_TRUE(gopher.Start({"/usr/bin/python3", "-c", script}, std::chrono::seconds(15), &error)) << error;
  CInternetSession s(kAgent);
  for (int round = 0; round < 2; ++round) {
    auto f = s.OpenURL("gopher://127.0.0.1:" + std::to_string(gopher.Port()) + "/1/docs/readme",
                       INTERNET_FLAG_TRANSFER_ASCII);
    std::string body;
    char buf[2048];
    while (std::size_t n = f->Read(buf, sizeof buf)) body.append(buf, n);
    EXPECT_EQ(body, "iselector=/docs/readme\r\n.\r\n");
  }
}

// Many workers at once, about half of them closed from another thread at random
// moments. Every fetch ends exactly once, either whole or with 12017.
TEST_F(InetTest, StressManyWorkersWithRandomCancels) {
  constexpr int kThreads = 30;
  constexpr int kFetches = 200;
  const char* targets[] = {"/page?size=20000", "/status/404", "/slow?chunks=3&gap=0.02", "/page?size=700",
                           "/status/200"};

  struct Slot {
    std::atomic<HINTERNET> handle{0};
    std::atomic<bool> cancelMe{false};
    std::atomic<std::int64_t> cancelAtUs{0};
  };
  std::vector<Slot> slots(kThreads);
  std::atomic<int> next{0}, finished{0}, whole{0}, cancelled{0}, other{0}, closedByCanceller{0};
  std::atomic<bool> stop{false};
  const auto t0 = std::chrono::steady_clock::now();
  auto nowUs = [&] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  };

  std::thread canceller([&] {
    std::mt19937 rng(7);
    while (!stop.load()) {
      for (auto& slot : slots) {
        if (slot.cancelMe.load() && nowUs() >= slot.cancelAtUs.load()) {
          if (HINTERNET h = slot.handle.exchange(0)) {
            slot.cancelMe = false;
            if (InternetCloseHandle(h)) ++closedByCanceller;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
    }
  });

  std::vector<std::thread> workers;
  for (int w = 0; w < kThreads; ++w) {
    workers.emplace_back([&, w] {
      std::mt19937 rng(1000 + w);
      for (int i = next++; i < kFetches; i = next++) {
        const std::string target = std::string(targets[i % 5]) +
                                   (std::string(targets[i % 5]).find('?') == std::string::npos ? "?i=" : "&i=") +
                                   std::to_string(i);
        CInternetSession s(kAgent);
        Slot& slot = slots[w];
        slot.cancelAtUs = nowUs() + static_cast<std::int64_t>(rng() % 60000);
        slot.cancelMe = rng() % 2 == 0;
        slot.handle = s.GetHandle();
        std::uint32_t error = 0;
        std::string body;
        try {
          auto f = Open(s, HTTP_VERB_GET, target);
          f->AddRequestHeaders("Accept: */*\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
          f->SendRequest();
          body = ReadAll(*f);
          f->Close();
        } catch (const CInternetException& e) {
          error = e.m_dwError;
        }
        slot.cancelMe = false;
        if (HINTERNET h = slot.handle.exchange(0)) InternetCloseHandle(h);
        s.Close();
        if (error == 0) {
          const std::size_t expect = target.rfind("/page?size=20000", 0) == 0 ? 20000
                                     : target.rfind("/page?size=700", 0) == 0 ? 700
                                     : target.rfind("/slow", 0) == 0          ? 768
                                                                              : 11;
          if (body.size() == expect)
            ++whole;
          else
            ++other;
        } else if (error == ERROR_INTERNET_OPERATION_CANCELLED) {
          ++cancelled;
        } else {
          ++other;
          ADD_FAILURE() << target << ": error " << error;
        }
        ++finished;
      }
    });
  }
  for (auto& t : workers) t.join();
  stop = true;
  canceller.join();

  EXPECT_EQ(finished.load(), kFetches);
  EXPECT_EQ(whole.load() + cancelled.load(), kFetches);
  EXPECT_EQ(other.load(), 0);
  EXPECT_GT(cancelled.load(), 0);
  EXPECT_GT(whole.load(), 0);
  EXPECT_LE(cancelled.load(), closedByCanceller.load());
  EXPECT_EQ(InternetOpenHandleCount(), baseHandles);

  const auto log = peer->Log();
  std::set<int> conns;
  for (const auto& r : log) conns.insert(r.conn);
  EXPECT_LT(conns.size(), log.size()) << "no connection was reused";
}

}  // namespace
