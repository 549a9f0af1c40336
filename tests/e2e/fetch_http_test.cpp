// The fetch worker's HTTP handler against the scripted server on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "algorithms/Md5.h"
#include "e2e/support/FetchHarness.h"
#include "e2e/support/HttpPeer.h"
#include "engine/Charset.h"
#include "engine/FetchWorker.h"
#include "platform/Inet.h"

using namespace wexo_test;

namespace {

std::string GzipPage() {
  std::string page = "<html><head><title>gz</title></head><body>";
  for (int i = 0; i < 200; ++i) page += "<p>gzip body line</p>\n";
  return page + "</body></html>\n";
}

Md5Digest DigestOf(const std::string& bytes) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, bytes.data(), bytes.size());
  Md5Digest d;
  Md5Final(d.data(), ctx);
  return d;
}

class FetchHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    UsePrivateTempDir();
    platform::InternetInitialize();
    peer = new HttpPeer;
    std::string error;
    ASSERT_TRUE(peer->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    delete peer;
    peer = nullptr;
    platform::InternetShutdown();
  }
  void SetUp() override {
    ASSERT_NE(peer, nullptr);
    peer->ClearLog();
    baseHandles = platform::InternetOpenHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(platform::InternetOpenHandleCount(), baseHandles) << "a session stayed open";
    EXPECT_TRUE(TempFolderFiles().empty()) << "the worker left a file in the temporary folder";
  }

  // Fetches target from the peer; the body file (if any) is read into body and removed.
  FetchRun Fetch(const std::string& target, std::uint16_t kind = REQUEST_GET, std::uint16_t attempts = 1,
                 const FetchSettings* settings = nullptr, std::string* body = nullptr,
                 const std::string& mimeType = std::string()) {
    CLinkInfo link;
    FetchRequest request = MakeFetchRequest(link, nullptr, peer->Url(target), kind, attempts);
    request.mimeType = mimeType;
    if (settings) request.settings = *settings;
    FetchRun run = RunFetch(link, std::move(request));
    EXPECT_EQ(run.handOvers, 1);
    EXPECT_EQ(link.m_hInternet.load(), 0u) << "the record still holds the session";
    if (run.result.body && body) *body = *run.result.body;
    if (!run.result.csBodyFile.empty()) {
      EXPECT_TRUE(run.result.bBodyIsTemp);
      if (body) *body = ReadWholeFile(run.result.csBodyFile);
      std::remove(run.result.csBodyFile.c_str());
    }
    return run;
  }

  const LoggedRequest* Logged(const std::string& target) {
    log = peer->Log();
    for (const LoggedRequest& r : log)
      if (r.target == target) return &r;
    return nullptr;
  }

  static HttpPeer* peer;
  std::size_t baseHandles = 0;
  std::vector<LoggedRequest> log;
};

HttpPeer* FetchHttpTest::peer = nullptr;

TEST_F(FetchHttpTest, ParsablePageIsKeptWithSizeDigestAndServer) {
  std::string body;
  FetchRun run = Fetch("/page?size=5000", REQUEST_GET, 1, nullptr, &body);
  const FetchOutcome& o = run.Out();
  EXPECT_EQ(o.status, 200);
  EXPECT_EQ(o.statusText, "");
  EXPECT_TRUE(run.result.body) << "a small body stays in memory";
  EXPECT_EQ(body, PageBytes(5000));
  EXPECT_TRUE(o.setSize);
  EXPECT_EQ(o.size, 5000);
  ASSERT_TRUE(o.setDigest && o.digest);
  EXPECT_EQ(*o.digest, DigestOf(PageBytes(5000)));
  EXPECT_EQ(o.mimeType, "text/html");
  ASSERT_NE(o.server, nullptr);
  EXPECT_EQ(*o.server, "WexoTestServer/1.0");
  EXPECT_TRUE(o.setDuration);
  EXPECT_EQ(run.result.csUrl, peer->Url("/page?size=5000"));
}

TEST_F(FetchHttpTest, RedirectForms) {
  struct Case {
    std::string target;
    bool redirectIsError;
    int status;
    int code;
    std::string location;
  } cases[] = {
      {"/redirect/301?to=/moved/a.html", false, 200, 301, "/moved/a.html"},
      {"/redirect/302?to=../rel/b.html%3Fq%3D1&form=location", false, 200, 302, "../rel/b.html?q=1"},
      {"/redirect/303?to=/c.html&form=content-first", false, 200, 303, "/c.html"},
      {"/redirect/307?to=http://other.example/d&form=nospace", false, 200, 307, "http://other.example/d"},
      {"/redirect/308?to=/e.html", false, 308, 0, ""},
      {"/redirect/302?to=/f.html", true, 302, 0, ""},
      {"/redirect/301?to=/g.html", true, 301, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    FetchSettings s = DefaultFetchSettings();
    s.RedirectIsError = c.redirectIsError;
    FetchRun run = Fetch(c.target, REQUEST_GET, 1, &s);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_EQ(run.Out().statusText, "");
    EXPECT_EQ(run.result.wRedirectCode, c.code);
    EXPECT_EQ(run.result.csRedirectTarget, c.location);
    EXPECT_FALSE(run.result.HasBody()) << "a redirect's body was kept";
  }
}

TEST_F(FetchHttpTest, ChecksBeforeConnecting) {
  const std::string backslash = "'\\' is always an error when checking remote URLs";
  const std::string twoSlashes = "'//' is always an error when checking remote URLs";
  struct Case {
    std::string target;
    bool checkDoubleSlash;
    std::string text;  // "" when the request must reach the server
  } cases[] = {
      {"/dir\\page?x=1", true, backslash},
      {"/dir\\page", true, backslash},
      {"/page?x=a\\b", true, ""},
      {"/dir//page", true, twoSlashes},
      {"/dir//page?x=1", true, twoSlashes},
      {"/dir//page", false, ""},
      {"/page?u=a//b", true, ""},
      {"/go/http://other.example/", true, ""},
      {"/../page", true, "URL begins with '/../'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    peer->ClearLog();
    FetchSettings s = DefaultFetchSettings();
    s.CheckDoubleSlash = c.checkDoubleSlash;
    FetchRun run = Fetch(c.target, REQUEST_HEAD, 1, &s);
    const bool reached = !peer->Log().empty();
    if (c.text.empty()) {
      EXPECT_TRUE(reached);
      EXPECT_TRUE(run.Out().status == 200 || run.Out().status == 404) << run.Out().status;
      EXPECT_EQ(run.Out().statusText, "");
    } else {
      EXPECT_FALSE(reached);
      EXPECT_EQ(run.Out().status, 404);
      EXPECT_EQ(run.Out().statusText, c.text);
    }
  }
}

TEST_F(FetchHttpTest, EncodingsAndEmptyBodies) {
  const std::string page = GzipPage();
  struct Case {
    std::string target;
    int status;
    std::string text;  // prefix of the status text
    bool kept;
  } cases[] = {
      {"/gzip", 200, "", true},
      {"/gzip-truncated", 204, "gunzip error: ", false},
      {"/gzip-badcrc", 204, "gunzip error: ", false},
      {"/gzip-empty", 204, "file has zero length", false},
      {"/deflate404", 204, "'Content-Encoding: deflate' is not supported", false},
      {"/empty", 204, "file has zero length", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    std::string body;
    FetchRun run = Fetch(c.target, REQUEST_GET, 1, nullptr, &body);
    const FetchOutcome& o = run.Out();
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.statusText.substr(0, c.text.size()), c.text) << o.statusText;
    if (c.text.empty()) {
      EXPECT_EQ(o.statusText, "");
    }
    EXPECT_EQ(run.result.HasBody(), c.kept);
    if (c.kept) {
      EXPECT_EQ(body, page);
      EXPECT_EQ(o.size, static_cast<std::int64_t>(page.size()));
      ASSERT_TRUE(o.setDigest && o.digest);
      EXPECT_EQ(*o.digest, DigestOf(page));
    }
    if (c.text.starts_with("gunzip")) {
      EXPECT_TRUE(o.setDigest);
      EXPECT_FALSE(o.digest) << "a body that did not decode whole has a digest";
      EXPECT_TRUE(o.setSize);
      EXPECT_EQ(o.size, 0);
    }
  }
}

TEST_F(FetchHttpTest, LastModifiedYearRange) {
  struct Case {
    int year;
    bool known;
  } cases[] = {{1979, false}, {1980, true}, {2030, true}, {2031, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.year);
    FetchRun run = Fetch("/lastmod/" + std::to_string(c.year), REQUEST_HEAD);
    const FetchOutcome& o = run.Out();
    EXPECT_EQ(o.status, 200);
    ASSERT_TRUE(o.setDate);
    EXPECT_EQ(o.dateKnown, c.known ? 1 : 0);
    if (c.known) {
      platform::SYSTEMTIME t;
      t.wYear = static_cast<std::uint16_t>(c.year);
      t.wMonth = 7;
      t.wDay = 1;
      t.wHour = 12;
      t.wMinute = 30;
      t.wSecond = 45;
      EXPECT_EQ(o.date, platform::SystemTimeToUnixTime(t));
    }
  }
}

TEST_F(FetchHttpTest, ContentTypeAndCharset) {
  struct Case {
    std::string value;  // url-encoded Content-Type
    std::uint16_t kind;
    std::string mime;
    bool charsetSet;
    std::string charset;
  } cases[] = {
      {"text/html;%20charset=%22UTF-8%22", REQUEST_GET, "text/html", true, "utf-8"},
      {"text/html;charset=ISO-8859-1", REQUEST_GET, "text/html", true, "iso-8859-1"},
      {"Text/CSS", REQUEST_GET, "Text/CSS", false, ""},
      {"text/css", REQUEST_GET, "text/css", true, ""},
      {"image/png;%20charset=utf-8", REQUEST_GET, "image/png", false, ""},
      {"text/html;%20charset=utf-8", REQUEST_HEAD, "text/html", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    FetchRun run = Fetch("/ctype?v=" + c.value, c.kind);
    const FetchOutcome& o = run.Out();
    EXPECT_EQ(o.status, 200);
    EXPECT_TRUE(o.setMimeType);
    EXPECT_EQ(o.mimeType, c.mime);
    EXPECT_EQ(o.setCharset, c.charsetSet);
    if (c.charsetSet) {
      ASSERT_NE(o.charset, nullptr);
      EXPECT_EQ(o.charset->m_csName, c.charset);
    }
  }
}

TEST_F(FetchHttpTest, RequestHeadersAndVerbs) {
  FetchSettings s = DefaultFetchSettings();
  s.language = "de-CH";
  s.IfModifiedSince = "Sat, 01 Jan 2000 00:00:00 GMT";
  s.Accept = "text/html, */*";
  {
    CLinkInfo link;
    FetchRequest r = MakeFetchRequest(link, nullptr, peer->Url("/status/200?h=1"), REQUEST_HEAD);
    r.settings = s;
    r.referrerUrl = "http://ref.example/from.html";
    EXPECT_EQ(RunFetch(link, std::move(r)).Out().status, 200);
  }
  const LoggedRequest* q = Logged("/status/200?h=1");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->method, "HEAD");
  EXPECT_EQ(q->Header("Accept"), "text/html, */*");
  EXPECT_EQ(q->Header("Accept-Language"), "de-CH");
  EXPECT_EQ(q->Header("Accept-Encoding"), "gzip");
  EXPECT_EQ(q->Header("If-Modified-Since"), "Sat, 01 Jan 2000 00:00:00 GMT");
  EXPECT_EQ(q->Header("Referer"), "http://ref.example/from.html");
  EXPECT_EQ(q->Header("User-Agent"), "Tolvak-Test/1.0");

  // Without the language switch or the Referer option those headers are not sent.
  s = DefaultFetchSettings();
  s.Referer = false;
  {
    CLinkInfo link;
    FetchRequest r = MakeFetchRequest(link, nullptr, peer->Url("/status/200?h=2"), REQUEST_HEAD);
    r.settings = s;
    r.referrerUrl = "http://ref.example/from.html";
    RunFetch(link, std::move(r));
  }
  q = Logged("/status/200?h=2");
  ASSERT_NE(q, nullptr);
  EXPECT_FALSE(q->HasHeader("Accept-Language"));
  EXPECT_FALSE(q->HasHeader("Referer"));
  EXPECT_FALSE(q->HasHeader("If-Modified-Since"));

  struct Verb {
    std::uint16_t kind;
    std::uint16_t attempts;
    const char* method;
  } verbs[] = {{REQUEST_HEAD, 1, "HEAD"},
               {REQUEST_HEAD, 2, "GET"},
               {REQUEST_HEAD, 3, "GET"},
               {REQUEST_GET, 1, "GET"},
               {REQUEST_GET, 2, "GET"}};
  for (const Verb& v : verbs) {
    const std::string target = "/status/200?k=" + std::to_string(v.kind) + "&a=" + std::to_string(v.attempts);
    SCOPED_TRACE(target);
    FetchRun run = Fetch(target, v.kind, v.attempts);
    EXPECT_EQ(run.Out().status, 200);
    EXPECT_EQ(!run.result.HasBody(), v.kind == REQUEST_HEAD) << "only a GET record keeps a body";
    q = Logged(target);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->method, v.method);
  }

  CLinkInfo link;
  FetchRequest r = MakeFetchRequest(link, nullptr, peer->Url("/echo?post=1"), REQUEST_POST);
  r.postData = "a=1&b=two+words";
  FetchRun run = RunFetch(link, std::move(r));
  EXPECT_EQ(run.Out().status, 200);
  q = Logged("/echo?post=1");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->method, "POST");
  EXPECT_EQ(q->Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(q->body, "a=1&b=two+words");
}

TEST_F(FetchHttpTest, ServerSideImageMapIsRequestedAgain) {
  std::string body;
  FetchRun run = Fetch("/img/nav.map", REQUEST_GET, 1, nullptr, &body);
  EXPECT_EQ(run.Out().status, 200);
  EXPECT_EQ(body, "<html>map</html>\n");
  log = peer->Log();
  std::vector<std::string> targets;
  for (const LoggedRequest& r : log) targets.push_back(r.target);
  EXPECT_EQ(targets, (std::vector<std::string>{"/img/nav.map", "/img/nav.map?1,1", "/img/nav.map?10,10"}));
  for (std::size_t i = 1; i < log.size(); ++i) {
    EXPECT_EQ(log[i].method, "GET");
    EXPECT_FALSE(log[i].HasHeader("Accept-Encoding")) << "the re-requests carry no added headers";
  }
  // Only a path ending in ".map" is asked again.
  peer->ClearLog();
  EXPECT_EQ(Fetch("/status/400").Out().status, 400);
  EXPECT_EQ(peer->Log().size(), 1u);
}

TEST_F(FetchHttpTest, BodiesThatAreNotWantedAreNotDownloaded) {
  constexpr std::int64_t size = 64LL << 20;
  struct Case {
    std::string tag;
    std::string query;
    int status;
  } cases[] = {
      {"nf", "code=404&type=text/html", 404},
      {"bin", "type=application/octet-stream", 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    FetchRun run = Fetch("/big?tag=" + c.tag + "&" + c.query);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_FALSE(run.result.HasBody());
    EXPECT_EQ(run.Out().size, size) << "the size comes from Content-Length";
    EXPECT_LT(peer->SentBytes(c.tag), size / 4) << "the body was downloaded";
  }
  // A .jar archive is downloaded whatever its type.
  std::string body;
  FetchRun run = Fetch("/page?size=3000&type=application/java-archive&name=lib.jar", REQUEST_GET, 1, nullptr, &body);
  EXPECT_EQ(run.Out().status, 200);
  EXPECT_EQ(body, PageBytes(3000));
}

TEST_F(FetchHttpTest, UnusableTemporaryFolderIsTheUrlsFileError) {
  const std::string saved = getenv("TMPDIR");
  const std::string blocker = saved + "/not-a-folder";
  { std::ofstream(blocker) << "x"; }
  setenv("TMPDIR", blocker.c_str(), 1);
  // Large enough to need a file; a small body stays in memory.
  FetchRun run = Fetch("/page?size=" + std::to_string(kMemoryBodyLimit + 1));
  setenv("TMPDIR", saved.c_str(), 1);
  std::remove(blocker.c_str());
  EXPECT_GT(run.Out().status, 0);
  EXPECT_NE(run.Out().status, 200);
  EXPECT_FALSE(run.Out().statusText.empty());
  EXPECT_FALSE(run.result.HasBody());
}

TEST_F(FetchHttpTest, BodiesInMemoryStayWithinTheirBound) {
  // Results waiting for the parser keep their bodies; once those fill the bound, the next
  // bodies go to files, whole, until memory is given back.
  ASSERT_EQ(BodyBytesInMemory(), 0u);
  const std::string target = "/page?size=" + std::to_string(kMemoryBodyLimit);
  const std::size_t fit = kMemoryBodiesLimit / kMemoryBodyLimit;
  std::vector<FetchRun> waiting;
  for (std::size_t i = 0; i < fit + 2; ++i) {
    std::string body;
    waiting.push_back(Fetch(target, REQUEST_GET, 1, nullptr, &body));
    EXPECT_EQ(body, PageBytes(kMemoryBodyLimit)) << i;
    EXPECT_EQ(waiting.back().result.body != nullptr, i < fit) << i;
    EXPECT_EQ(waiting.back().result.csBodyFile.empty(), i < fit) << i;
  }
  EXPECT_EQ(BodyBytesInMemory(), fit * kMemoryBodyLimit);
  FetchResult copy = waiting.front().result;
  waiting.clear();
  EXPECT_EQ(BodyBytesInMemory(), kMemoryBodyLimit) << "a copy of a result keeps its body";
  copy = FetchResult();
  EXPECT_EQ(BodyBytesInMemory(), 0u);
  EXPECT_TRUE(Fetch(target).result.body) << "memory given back serves the next body";
  EXPECT_EQ(BodyBytesInMemory(), 0u);
}

TEST_F(FetchHttpTest, ConnectionFailures) {
  struct Case {
    std::string url;
    int status;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(UnusedPort()) + "/page", 12029},
      {"http://no-such-host.invalid/page", 12007},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    CLinkInfo link;
    FetchRun run = RunFetch(link, MakeFetchRequest(link, nullptr, c.url));
    EXPECT_EQ(run.handOvers, 1);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_FALSE(run.Out().statusText.empty());
  }
}

// Closes the record's session from another thread, as the stop command does.
bool CloseFromOutside(CLinkInfo& link) {
  const platform::HINTERNET h = link.TakeInternetHandle();
  return h != 0 && platform::InternetCloseHandle(h);
}

TEST_F(FetchHttpTest, StopDuringHangingReplyAbortsOnce) {
  struct Case {
    std::string target;
    std::string text;
  } cases[] = {
      {"/hang", "SendRequest() aborted"},
      {"/hang-body", platform::InternetErrorMessage(platform::ERROR_INTERNET_OPERATION_CANCELLED)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    peer->ClearLog();
    CLinkInfo link;
    RecordingView view;
    std::thread worker(FetchWorker, MakeFetchRequest(link, &view, peer->Url(c.target)));
    ASSERT_TRUE(peer->WaitForRequest(c.target));
    // Let the worker reach its blocking call; the abort must end it wherever it waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(CloseFromOutside(link));
    worker.join();
    std::vector<FetchResult> results = view.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome->status, 12017);
    EXPECT_EQ(results[0].outcome->statusText, c.text);
    EXPECT_FALSE(results[0].HasBody());
    EXPECT_FALSE(CloseFromOutside(link)) << "the handle could be closed twice";
  }
}

TEST_F(FetchHttpTest, StressManyThreadsWithRandomCancels) {
  constexpr int kFetches = 200;
  constexpr int kThreads = 30;
  const std::string targets[] = {"/page?size=3000", "/page?size=200&type=image/png", "/gzip",
                                 "/status/404",     "/slow?gap=0.05&chunks=3",       "/lastmod/2020"};
  std::mt19937 rng(12345);
  std::vector<std::unique_ptr<CLinkInfo>> links;
  std::vector<FetchRequest> requests;
  std::vector<bool> cancel(kFetches);
  std::vector<int> cancelAfterMs(kFetches);
  RecordingView view;
  for (int i = 0; i < kFetches; ++i) {
    links.push_back(std::make_unique<CLinkInfo>());
    const std::string& t = targets[rng() % std::size(targets)];
    const std::uint16_t kind = rng() % 3 == 0 ? REQUEST_HEAD : REQUEST_GET;
    requests.push_back(MakeFetchRequest(
        *links.back(), &view, peer->Url(t + (t.find('?') == std::string::npos ? "?" : "&") + "n=" + std::to_string(i)),
        kind));
    cancel[i] = rng() % 2 == 0;
    cancelAfterMs[i] = static_cast<int>(rng() % 60);
  }

  std::atomic<int> next{0};
  std::atomic<int> cancelled{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      for (int i = next++; i < kFetches; i = next++) {
        std::thread canceller;
        if (cancel[i]) {
          canceller = std::thread([&, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs[i]));
            if (CloseFromOutside(*links[i])) ++cancelled;
          });
        }
        FetchWorker(requests[i]);
        if (canceller.joinable()) canceller.join();
      }
    });
  }
  for (std::thread& w : workers) w.join();

  std::vector<FetchResult> results = view.Results();
  ASSERT_EQ(results.size(), static_cast<std::size_t>(kFetches));
  for (int i = 0; i < kFetches; ++i) {
    EXPECT_EQ(view.CountFor(links[i].get()), 1) << "record " << i;
    EXPECT_EQ(links[i]->m_hInternet.load(), 0u);
  }
  const std::set<int> allowed = {200, 204, 404, 12017};
  int aborted = 0;
  for (const FetchResult& r : results) {
    EXPECT_TRUE(allowed.count(r.outcome->status))
        << r.csUrl << " " << r.outcome->status << " " << r.outcome->statusText;
    aborted += r.outcome->status == 12017;
    if (r.outcome->status != 200) {
      EXPECT_FALSE(r.HasBody()) << r.csUrl;
    }
    if (!r.csBodyFile.empty()) std::remove(r.csBodyFile.c_str());
  }
  EXPECT_LE(aborted, cancelled.load()) << "a fetch nobody stopped ended as aborted";
  EXPECT_GT(cancelled.load(), 0);

  // Connections were reused: far fewer connections than requests.
  log = peer->Log();
  std::set<int> connections;
  for (const LoggedRequest& r : log) connections.insert(r.conn);
  EXPECT_LT(connections.size(), log.size() * 3 / 4) << log.size() << " requests";
}

}  // namespace
