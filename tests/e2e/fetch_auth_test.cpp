// Credentials, certificate errors and cookies in the HTTP handler, against the scripted server
// (plain and HTTPS with certificates made by the test) and a small forward proxy.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/support/DialogHost.h"
#include "e2e/support/FetchHarness.h"
#include "e2e/support/HttpPeer.h"
#include "engine/Application.h"
#include "engine/FetchWorker.h"
#include "engine/FileRemoval.h"
#include "engine/SchemeHandlers.h"
#include "engine/WexoDoc.h"
#include "platform/Inet.h"
#include "platform/Profile.h"
#include "platform/TempDir.h"

using namespace wexo_test;

namespace {

const char* const kUser = "wexo";
const char* const kPassword = "s3cret";

class FetchAuthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* v :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
      unsetenv(v);
    UsePrivateTempDir();
    platform::InternetInitialize();
    certs = new std::filesystem::path(std::filesystem::path(getenv("TMPDIR")) / "certs");
    const std::string make =
        std::string(WEXO_PYTHON) + " '" + PeerScript("make_certs.py") + "' '" + certs->string() + "'";
    const int rc = std::system(make.c_str());
    ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << make;
    setenv("WEXO_CA_FILE", (*certs / "ca.pem").c_str(), 1);

    peer = new HttpPeer;
    std::string error;
    ASSERT_TRUE(peer->Start(&error)) << error;
    for (const char* name : {"good", "expired", "wrongname", "unknown"}) {
      auto tls = std::make_unique<PeerProcess>();
      ASSERT_TRUE(tls->Start(
          {WEXO_PYTHON, PeerScript("http_server.py"), "--cert", (*certs / (std::string(name) + ".pem")).string(),
           "--key", (*certs / (std::string(name) + ".key")).string()},
          std::chrono::seconds(15), &error))
          << error;
      tlsPeers.push_back(tls.release());
    }
    proxy = new PeerProcess;
    ASSERT_TRUE(proxy->Start({WEXO_PYTHON, PeerScript("http_proxy.py")}, std::chrono::seconds(15), &error)) << error;
  }
  static void TearDownTestSuite() {
    delete proxy;
    proxy = nullptr;
    for (PeerProcess* p : tlsPeers) delete p;
    tlsPeers.clear();
    delete peer;
    peer = nullptr;
    unsetenv("WEXO_CA_FILE");
    std::filesystem::remove_all(*certs);
    delete certs;
    platform::InternetShutdown();
  }
  void SetUp() override {
    ASSERT_NE(peer, nullptr);
    peer->ClearLog();
    // Every case starts without what earlier ones left in the process.
    platform::InternetForgetCredentials();
    platform::InternetClearCookies();
    ForgetAcceptedCertificates();
    // Fetches use a fresh connection pool, so a kept connection never hides a handshake.
    platform::InternetShutdown();
    baseHandles = platform::InternetOpenHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(platform::InternetOpenHandleCount(), baseHandles) << "a session stayed open";
    // The lock's file stays; nothing else may. Parsed bodies are removed in the background,
    // and an orderly quit waits for that, as this does.
    FlushFileRemovals();
    std::vector<std::string> files = TempFolderFiles();
    std::erase_if(files, [](const std::string& f) { return f.ends_with("/Wexo_Auth") || f == "Wexo_Auth"; });
    EXPECT_TRUE(files.empty()) << "the worker left a file in the temporary folder: " << files.front();
  }

  static FetchSettings Settings(bool askPassword, bool batch = false, bool cookies = false) {
    FetchSettings s = DefaultFetchSettings();
    s.AskPassword = askPassword;
    s.batch = batch;
    s.AllowCookies = cookies;
    return s;
  }

  // One fetch of url on this thread; a body file is removed.
  static FetchRun Fetch(const std::string& url, const FetchSettings& settings, std::uint16_t kind = REQUEST_GET,
                        const std::string& post = std::string()) {
    CLinkInfo link;
    FetchRequest request = MakeFetchRequest(link, nullptr, url, kind);
    request.settings = settings;
    request.postData = post;
    FetchRun run = RunFetch(link, std::move(request));
    EXPECT_EQ(run.handOvers, 1);
    if (!run.result.csBodyFile.empty()) std::remove(run.result.csBodyFile.c_str());
    return run;
  }

  static std::string Tls(const char* name, const std::string& target) {
    static const char* const names[] = {"good", "expired", "wrongname", "unknown"};
    for (std::size_t i = 0; i < std::size(names); ++i)
      if (std::string(names[i]) == name) return "https://127.0.0.1:" + std::to_string(tlsPeers[i]->Port()) + target;
    return std::string();
  }

  std::vector<LoggedRequest> LoggedFor(const std::string& target) const {
    std::vector<LoggedRequest> out;
    for (LoggedRequest& r : peer->Log())
      if (r.target == target) out.push_back(std::move(r));
    return out;
  }

  static HttpPeer* peer;
  static std::vector<PeerProcess*> tlsPeers;
  static PeerProcess* proxy;
  static std::filesystem::path* certs;
  std::size_t baseHandles = 0;
};

HttpPeer* FetchAuthTest::peer = nullptr;
std::vector<PeerProcess*> FetchAuthTest::tlsPeers;
PeerProcess* FetchAuthTest::proxy = nullptr;
std::filesystem::path* FetchAuthTest::certs = nullptr;

TEST_F(FetchAuthTest, ServerCredentials) {
  const std::string withUrlCredentials = "http://" + std::string(kUser) + ":" + kPassword +
                                         "@127.0.0.1:" + std::to_string(peer->Port()) + "/auth/basic/url.html";
  const std::string wrongUrlCredentials =
      "http://" + std::string(kUser) + ":nope@127.0.0.1:" + std::to_string(peer->Port()) + "/auth/basic/url.html";
  using C = DialogHost::Credentials;
  struct Case {
    std::string name;
    std::string url;
    FetchSettings settings;
    bool windows;
    std::deque<C> answers;
    int status;
    int dialogs;
    bool authenticated;
  } cases[] = {
      {"no password question",
       peer->Url("/auth/basic/a.html"),
       Settings(false),
       true,
       {C{true, kUser, kPassword}},
       401,
       0,
       false},
      {"no windows",
       peer->Url("/auth/basic/a.html"),
       Settings(true),
       false,
       {C{true, kUser, kPassword}},
       401,
       0,
       false},
      {"batch",
       peer->Url("/auth/basic/a.html"),
       Settings(true, true),
       true,
       {C{true, kUser, kPassword}},
       401,
       0,
       false},
      {"cancelled", peer->Url("/auth/basic/a.html"), Settings(true), true, {C{false, "", ""}}, 401, 1, false},
      {"wrong password",
       peer->Url("/auth/basic/a.html"),
       Settings(true),
       true,
       {C{true, kUser, "nope"}},
       401,
       1,
       false},
      {"dialog", peer->Url("/auth/basic/a.html"), Settings(true), true, {C{true, kUser, kPassword}}, 200, 1, true},
      {"URL", withUrlCredentials, Settings(false), true, {}, 200, 0, false},
      {"wrong URL", wrongUrlCredentials, Settings(false), true, {}, 401, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::InternetForgetCredentials();
    DialogHost host;
    host.showDialogs = c.windows;
    host.ScriptCredentials(c.answers);
    FetchRun run = Fetch(c.url, c.settings);
    EXPECT_EQ(run.Out().status, c.status) << run.Out().statusText;
    EXPECT_EQ(run.result.bAuthenticated, c.authenticated);
    const auto prompts = host.CredentialPrompts();
    ASSERT_EQ(prompts.size(), static_cast<std::size_t>(c.dialogs));
    if (c.dialogs) {
      EXPECT_EQ(prompts[0].realm, "Wexo Test Realm");
      EXPECT_FALSE(prompts[0].proxy);
      EXPECT_EQ(prompts[0].url, c.url);
      EXPECT_EQ(prompts[0].server, "http://127.0.0.1:" + std::to_string(peer->Port()));
    }
    // Credentials that got in are kept for the server: another page asks nobody.
    FetchRun again = Fetch(peer->Url("/auth/basic/other.html"), Settings(false));
    EXPECT_EQ(again.Out().status, c.status == 200 ? 200 : 401);
    EXPECT_EQ(host.CredentialPrompts().size(), static_cast<std::size_t>(c.dialogs));
  }
}

TEST_F(FetchAuthTest, PostIsSentAgainWithItsBody) {
  DialogHost host;
  host.ScriptCredentials({{true, kUser, kPassword}});
  FetchRun run = Fetch(peer->Url("/auth/basic/form"), Settings(true), REQUEST_POST, "a=1&b=two+words");
  EXPECT_EQ(run.Out().status, 200);
  EXPECT_TRUE(run.result.bAuthenticated);
  const auto sent = LoggedFor("/auth/basic/form");
  ASSERT_GE(sent.size(), 2u);
  for (const LoggedRequest& r : sent) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, "a=1&b=two+words");
  }
  EXPECT_FALSE(sent.front().HasHeader("Authorization"));
  EXPECT_TRUE(sent.back().HasHeader("Authorization"));
}

// A whole check: the dialog for the first protected page is cancelled, the second one's
// succeeds; the first is then fetched again, and no page asks a third time.
TEST_F(FetchAuthTest, SuccessfulDialogRequeuesTheServersOtherRecords) {
  const std::filesystem::path ini = std::filesystem::path(getenv("TMPDIR")) / "auth-check.ini";
  const std::string savedIni = platform::SettingsFile();
  platform::SetSettingsFile(ini.string());
  {
    DialogHost host;
    host.ScriptCredentials({{false, "", ""}, {true, kUser, kPassword}});
    CWexoApp app;
    EngineContext context;
    context.host = &host;
    context.app = &app;
    auto doc = std::make_unique<CWexoDoc>(context);
    HeadlessView view(host, *doc);
    CheckSettings settings = doc->Settings();
    settings.AskPassword = 1;
    doc->SetSettings(settings);
    doc->SetBatch(false);
    const std::string root = peer->Url("/links?to=/auth/basic/p1.html&to=/auth/basic/p2.html&to=/auth/basic/p3.html");
    doc->NewLink(root, nullptr, REQUEST_GET);
    doc->SetRootUrl(peer->Url("/"));
    view.PostSchedule();
    std::vector<std::unique_ptr<CWexoDoc>> docs;
    docs.push_back(std::move(doc));
    host.Run(docs);
    ShutdownWorkerThreads();

    CWexoDoc& d = *docs[0];
    ASSERT_EQ(d.GetLinkCount(), 4u);
    for (std::size_t i = 0; i < d.GetLinkCount(); ++i) {
      SCOPED_TRACE(d.GetLink(i)->GetUrl());
      EXPECT_EQ(d.GetLink(i)->m_nStatus, 200);
    }
    const auto prompts = host.CredentialPrompts();
    EXPECT_EQ(prompts.size(), 2u);
    // The cancelled page went again, with the credentials of the other one's dialog.
    int authorized = 0, refused = 0;
    for (const LoggedRequest& r : peer->Log()) {
      if (r.target.rfind("/auth/basic/", 0) != 0) continue;
      (r.HasHeader("Authorization") ? authorized : refused)++;
    }
    EXPECT_EQ(authorized, 3) << "every protected page got in once";
    // The two pages whose dialogs were shown were refused first; the third may be asked for
    // only after the credentials are known, and then goes with them at once.
    EXPECT_GE(refused, 2);
    docs.clear();
  }
  platform::SetSettingsFile(savedIni);
  std::filesystem::remove(ini);
}

TEST_F(FetchAuthTest, ProxyCredentials) {
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy->Port())).c_str(), 1);
  using C = DialogHost::Credentials;
  struct Case {
    std::string name;
    bool windows;
    std::deque<C> answers;
    int status;
    int dialogs;
  } cases[] = {
      {"no windows", false, {}, 407, 0},
      {"cancelled", true, {C{false, "", ""}}, 407, 1},
      {"dialog", true, {C{true, "wexo-proxy", "pr0xy"}}, 200, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::InternetForgetCredentials();
    peer->ClearLog();
    DialogHost host;
    host.showDialogs = c.windows;
    host.ScriptCredentials(c.answers);
    // A 407 goes to the credential dialog even when the password question is off.
    FetchRun run = Fetch(peer->Url("/status/200?via=proxy"), Settings(false));
    EXPECT_EQ(run.Out().status, c.status) << run.Out().statusText;
    const auto prompts = host.CredentialPrompts();
    ASSERT_EQ(prompts.size(), static_cast<std::size_t>(c.dialogs));
    if (c.dialogs) {
      EXPECT_TRUE(prompts[0].proxy);
      EXPECT_EQ(prompts[0].realm, "Wexo Proxy");
    }
    EXPECT_EQ(LoggedFor("/status/200?via=proxy").size(), c.status == 200 ? 1u : 0u) << "reached the server";
    // The proxy's credentials are kept too; without them the next request asks again.
    EXPECT_EQ(Fetch(peer->Url("/status/200?via=proxy2"), Settings(false)).Out().status, c.status);
    EXPECT_EQ(host.CredentialPrompts().size(), static_cast<std::size_t>(c.status == 200 ? 1 : 2 * c.dialogs));
  }
  unsetenv("http_proxy");
}

TEST_F(FetchAuthTest, CertificateErrors) {
  struct Case {
    const char* server;
    int code;
  } cases[] = {{"expired", 12037}, {"wrongname", 12038}, {"unknown", 12045}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    DialogHost host;
    // Without the question, with a cancelled dialog, and in a batch run the error stays.
    EXPECT_EQ(Fetch(Tls(c.server, "/page?n=1"), Settings(false)).Out().status, c.code);
    EXPECT_TRUE(host.CertificatePrompts().empty());
    EXPECT_EQ(Fetch(Tls(c.server, "/page?n=1"), Settings(true, true)).Out().status, c.code);
    EXPECT_TRUE(host.CertificatePrompts().empty());
    host.ScriptCertificates({false});
    FetchRun cancelled = Fetch(Tls(c.server, "/page?n=2"), Settings(true));
    EXPECT_EQ(cancelled.Out().status, c.code);
    EXPECT_FALSE(cancelled.Out().statusText.empty());
    ASSERT_EQ(host.CertificatePrompts().size(), 1u);
    EXPECT_EQ(host.CertificatePrompts()[0].error, static_cast<std::uint32_t>(c.code));

    // Accepted once, the certificate is good for the server's other URLs, and a POST
    // goes again with its body.
    host.ScriptCertificates({true});
    EXPECT_EQ(Fetch(Tls(c.server, "/page?n=3"), Settings(true)).Out().status, 200);
    EXPECT_EQ(Fetch(Tls(c.server, "/echo"), Settings(false), REQUEST_POST, "x=1").Out().status, 200);
    EXPECT_EQ(Fetch(Tls(c.server, "/page?n=4"), Settings(true)).Out().status, 200);
    EXPECT_EQ(host.CertificatePrompts().size(), 2u) << "one dialog per server";
    // The other servers' errors are not forgiven by it.
    for (const Case& other : cases) {
      if (other.code == c.code) continue;
      EXPECT_EQ(Fetch(Tls(other.server, "/page?n=5"), Settings(false)).Out().status, other.code) << other.server;
    }
    // Forgotten, the certificate fails again: no kept connection or TLS session of the
    // forgiving requests serves a strict one.
    ForgetAcceptedCertificates();
    EXPECT_EQ(Fetch(Tls(c.server, "/page?n=7"), Settings(false)).Out().status, c.code);
  }
  // A good certificate of the trusted test authority needs no dialog.
  DialogHost host;
  EXPECT_EQ(Fetch(Tls("good", "/page?n=6"), Settings(true)).Out().status, 200);
  EXPECT_TRUE(host.CertificatePrompts().empty());
}

// Closes the record's session from another thread, as the stop command does.
bool CloseFromOutside(CLinkInfo& link) {
  const platform::HINTERNET h = link.TakeInternetHandle();
  return h != 0 && platform::InternetCloseHandle(h);
}

TEST_F(FetchAuthTest, StopWhileWaitingForTheLockOrTheDialog) {
  struct Case {
    std::string name;
    bool holdLock;      // another instance of the program shows a dialog meanwhile
    bool stopInDialog;  // the stop comes while the dialog is open
    std::string target;
    std::size_t credentialDialogs;
    std::size_t certificateDialogs;
  } cases[] = {
      {"lock, credentials", true, false, "/auth/basic/wait.html", 0, 0},
      {"dialog, credentials", false, true, "/auth/basic/wait.html", 1, 0},
      {"lock, certificate", true, false, "", 0, 0},
      {"dialog, certificate", false, true, "", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    peer->ClearLog();
    DialogHost host;
    host.ScriptCredentials({{true, kUser, kPassword}});
    host.ScriptCertificates({true});
    CLinkInfo link;
    if (c.stopInDialog) host.whileShown = [&link] { CloseFromOutside(link); };
    int fd = -1;
    if (c.holdLock) {
      fd = ::open((platform::GetTempPath() + "Wexo_Auth").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    }
    RecordingView view;
    const std::string url = c.target.empty() ? Tls("expired", "/page?wait=1") : peer->Url(c.target);
    FetchRequest request = MakeFetchRequest(link, &view, url);
    request.settings = Settings(true);
    std::thread worker(FetchWorker, std::move(request));
    if (c.holdLock) {
      if (!c.target.empty()) {
        ASSERT_TRUE(peer->WaitForRequest(c.target));
      }
      // The worker now waits for the lock, which it never gets.
      std::this_thread::sleep_for(std::chrono::milliseconds(c.target.empty() ? 1000 : 500));
      EXPECT_TRUE(CloseFromOutside(link));
    }
    worker.join();
    if (fd >= 0) ::close(fd);
    const std::vector<FetchResult> results = view.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome->status, 12017);
    EXPECT_EQ(results[0].outcome->statusText, "ErrorDlg() aborted");
    EXPECT_EQ(host.CredentialPrompts().size(), c.credentialDialogs);
    EXPECT_EQ(host.CertificatePrompts().size(), c.certificateDialogs);
    EXPECT_FALSE(results[0].bAuthenticated);
  }
}

TEST_F(FetchAuthTest, CookiesRoundTripOnlyWhenAllowed) {
  struct Case {
    bool allow;
    int status;
  } cases[] = {{false, 403}, {true, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allow);
    peer->ClearLog();
    platform::InternetClearCookies();
    const FetchSettings s = Settings(false, false, c.allow);
    EXPECT_EQ(Fetch(peer->Url("/cookie/set?name=wexo&value=abc"), s).Out().status, 200);
    EXPECT_EQ(platform::InternetCookieLines().size(), c.allow ? 1u : 0u);
    EXPECT_EQ(Fetch(peer->Url("/cookie/need?name=wexo&value=abc"), s, REQUEST_HEAD).Out().status, c.status);
    const auto need = LoggedFor("/cookie/need?name=wexo&value=abc");
    ASSERT_EQ(need.size(), 1u);
    EXPECT_EQ(need[0].Header("Cookie"), c.allow ? "wexo=abc" : "");
  }
  // A request that does not allow cookies sends none of the jar's either.
  EXPECT_EQ(Fetch(peer->Url("/cookie/need?name=wexo&value=abc&n=2"), Settings(false), REQUEST_HEAD).Out().status, 403);
  // A cookie the server deletes leaves the jar.
  EXPECT_EQ(Fetch(peer->Url("/cookie/set?name=wexo&value=x;%20Max-Age=0"), Settings(false, false, true)).Out().status,
            200);
  EXPECT_TRUE(platform::InternetCookieLines().empty()) << ::testing::PrintToString(platform::InternetCookieLines());
}

}  // namespace
