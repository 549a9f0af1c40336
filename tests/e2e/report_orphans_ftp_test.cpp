// The report's orphan search over FTP against pyftpdlib on loopback, with MLSD and with LIST
// only: orphans with their sizes, the default page of a linked folder, an empty and a
// refused folder, credentials sent as typed, and a failed login.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/HeadlessHost.h"
#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"
#include "engine/Application.h"
#include "engine/FtpDialogModel.h"
#include "engine/WexoDoc.h"
#include "platform/Inet.h"
#include "report/Report.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::PeerProcess;
using wexo_test::PeerScript;

constexpr const char* kRoot = "http://site.test/";
constexpr const char* kPassword = "se cr%41t";

void Write(const fs::path& path, std::size_t size) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

// Boxes are kept; the FTP dialog is filled with the peer's place and the given password.
class FtpHost : public HeadlessHost {
 public:
  BoxAnswer MessageBox(const std::string& text, BoxKind) override {
    boxes.push_back(text);
    return BoxAnswer::Ok;
  }
  bool FtpDialog(FtpDialogModel& model) override {
    ++dialogs;
    model.Load();
    model.m_csFtpHost = "127.0.0.1:" + std::to_string(port);
    model.m_csFtpUser = "alice";
    model.m_csFtpPassword = password;
    model.m_bFtpPassive = 1;
    return model.Store().empty();
  }
  int port = 0;
  std::string password = kPassword;
  int dialogs = 0;
  std::vector<std::string> boxes;
};

class OrphanFtp : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    dir = new fs::path(fs::temp_directory_path() / ("wexo-orphanftp-" + std::to_string(::getpid())));
    fs::remove_all(*dir);
    const fs::path served = *dir / "served";
    for (const char* linked : {"index.html", "a.html", "c d.html"}) Write(served / linked, 10);
    Write(served / "orphan.html", 3072);
    Write(served / "sub/b.html", 512);
    Write(served / "secret/hidden.html", 1);
    fs::create_directories(served / "empty");
    setenv("WEXO_INI", (*dir / "wexo.ini").c_str(), 1);
    for (bool mlsd : {true, false}) {
      std::vector<std::string> argv = {
          "/usr/bin/python3", PeerScript("ftp_server.py"),       "--root",       served.string(),
          "--user",           std::string("alice:") + kPassword, "--refuse-cwd", "secret"};
      if (!mlsd) argv.push_back("--no-mlsd");
      std::string error;
      peers[mlsd] = new PeerProcess;
      ASSERT_TRUE(peers[mlsd]->Start(argv, std::chrono::seconds(20), &error)) << error;
    }
  }
  static void TearDownTestSuite() {
    for (PeerProcess*& peer : peers) {
      delete peer;
      peer = nullptr;
    }
    platform::InternetShutdown();
    fs::remove_all(*dir);
    delete dir;
  }

  OrphanFtp() {
    host.port = peers[GetParam()]->Port();
    EngineContext context;
    context.host = &host;
    context.app = &app;
    doc = std::make_unique<CWexoDoc>(context);
    doc->SetRootUrl(kRoot);
    for (const char* url : {"http://site.test/", "http://site.test/a.html", "http://site.test/c%20d.html"})
      doc->SetStatus(doc->NewLink(url, nullptr, REQUEST_GET), 200);
  }

  // The orphan section of the report, line ends as LF.
  std::string Section() {
    const fs::path path = *dir / "report.htm";
    EXPECT_TRUE(vCreateReport(*doc, path.string()));
    std::string text = wexo_test::ReadAll(path);
    std::erase(text, '\r');
    const std::size_t start = text.find("<h2><a name=\"orphans\">");
    return start == std::string::npos ? text : text.substr(start, text.find("<hr>\n", start) + 5 - start);
  }

  static inline fs::path* dir = nullptr;
  static inline PeerProcess* peers[2] = {};
  CWexoApp app;
  FtpHost host;
  std::unique_ptr<CWexoDoc> doc;
};

TEST_P(OrphanFtp, ListsTheOrphansBelowTheRootWithTheirSizes) {
  const std::string text = Section();
  EXPECT_EQ(host.dialogs, 1);
  EXPECT_TRUE(host.boxes.empty()) << host.boxes.front();
  EXPECT_NE(text.find("Error 12003 while moving to remote ftp directory 'secret/': 550 "), std::string::npos) << text;
  EXPECT_NE(text.find("remote ftp directory 'empty/' is empty\n"), std::string::npos) << text;
  const std::string orphans =
      "\n\n<a href=\"http://site.test/orphan.html\">http://site.test/orphan.html</a> (3.0 KB)\n"
      "<a href=\"http://site.test/sub/b.html\">http://site.test/sub/b.html</a> (0.5 KB)\n"
      "\n</pre>2 orphan(s) reported (3.5 KB)\n\n\n";
  EXPECT_NE(text.find(orphans), std::string::npos) << text;
  EXPECT_EQ(text.find("index.html"), std::string::npos) << "the linked folder's default page is no orphan";
  EXPECT_EQ(text.find("hidden.html"), std::string::npos);
  const std::string seen = peers[GetParam()]->Output();
  EXPECT_NE(seen.find(std::string("CMD PASS ") + kPassword + "\n"), std::string::npos) << "sent as typed";
  EXPECT_NE(seen.find(GetParam() ? "CMD MLSD" : "CMD LIST"), std::string::npos) << seen;
  EXPECT_NE(seen.find("CMD PWD"), std::string::npos);
}

TEST_P(OrphanFtp, AFailedLoginIsShownAndAbortsTheSearch) {
  host.password = "wrong";
  const std::string text = Section();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_TRUE(host.boxes[0].starts_with("Ftp: ")) << host.boxes[0];
  EXPECT_NE(host.boxes[0].find("530"), std::string::npos) << "the server's reply: " << host.boxes[0];
  EXPECT_NE(text.find("<pre>\n</pre><font size=\"+2\">Orphan search aborted!</font>\n<br>\n<br>\n"
                      "0 orphan(s) reported (0.0 KB)\n"),
            std::string::npos)
      << text;
}

INSTANTIATE_TEST_SUITE_P(Listings, OrphanFtp, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mlsd" : "ListOnly"; });

}  // namespace
