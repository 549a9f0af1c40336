// Whole batch crawls: a site served by nginx on loopback, with a second server standing for
// the external sites, and the same tree read as local files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/HeadlessHost.h"
#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"
#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "platform/Profile.h"
#include "report/Outputs.h"
#include "report/Sitemap.h"

namespace {

using wexo_test::Rows;
using wexo_test::Write;

using wexo_test::ReadAll;
using wexo_test::Shell;

class Crawl : public ::testing::Test {
 protected:
  Crawl() {
    dir = std::filesystem::temp_directory_path() / ("wexo-crawl-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "run");
  }
  ~Crawl() override { std::filesystem::remove_all(dir); }

  void MakeSite(const std::string& external) {
    Write(dir / "site/index.html",
          "<html><head><title>Home</title></head><body>\n<a href=\"a.html\">A</a> <a href=\"b.html#x\">B</a>\n"
          "<img src=\"img.png\" alt=\"Picture\">\n<a href=\"" +
              external +
              "\">elsewhere</a>\n"
              "<a href=\"gone.html\">gone</a>\n</body></html>\n");
    Write(dir / "site/a.html",
          "<html><head><title>A</title></head><body><a href=\"deep/c.html\">C</a></body></html>\n");
    Write(dir / "site/b.html",
          "<html><head><title>B</title></head><body><a name=\"x\"></a><a href=\"a.html\">A</a>"
          "</body></html>\n");
    Write(dir / "site/deep/c.html",
          "<html><head><title>C</title></head><body><a href=\"d.html\">D</a></body></html>\n");
    Write(dir / "site/deep/d.html", "<html><head><title>D</title></head><body></body></html>\n");
    Write(dir / "site/img.png", "\x89PNG\r\n\x1a\n not really a picture");
  }

  int Run(const std::string& args) { return wexo_test::RunWexo(dir / "run", dir, args); }

  std::filesystem::path dir;
};

TEST_F(Crawl, HttpSiteDownToTheLevel) {
  std::filesystem::create_directories(dir / "external");
  Write(dir / "external/x.html", "<html><body><a href=\"never-followed.html\">n</a></body></html>\n");
  wexo_test::PeerProcess external, site;
  std::string error;
  ASSERT_TRUE(
      external.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", (dir / "external").string(),
                      "--host", "127.0.0.2", "--access-log", (dir / "external.log").string()},
                     std::chrono::seconds(20), &error))
      << error;
  const std::string extUrl = "http://127.0.0.2:" + std::to_string(external.Port()) + "/x.html";
  MakeSite(extUrl);
  ASSERT_TRUE(
      site.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", (dir / "site").string()},
                 std::chrono::seconds(20), &error))
      << error;
  const std::string root = "http://127.0.0.1:" + std::to_string(site.Port()) + "/";

  ASSERT_EQ(Run("-url " + root + "index.html -level 2 -export all.txt -map map.txt"), 0)
      << ReadAll(dir / "run/err.log");
  auto rows = Rows(ReadAll(dir / "run/all.txt"));
  struct Expect {
    std::string url;
    const char* status;
    const char* level;
  };
  const Expect expected[] = {
      {root + "index.html", "200", "0"},  {root + "a.html", "200", "1"}, {root + "b.html", "200", "1"},
      {root + "img.png", "200", "1"},     {extUrl, "200", "1"},          {root + "gone.html", "404", "1"},
      {root + "deep/c.html", "200", "2"},
  };
  for (const Expect& e : expected) {
    ASSERT_TRUE(rows.count(e.url)) << e.url << "\n" << ReadAll(dir / "run/all.txt");
    EXPECT_EQ(rows[e.url][1], e.status) << e.url;
    EXPECT_EQ(rows[e.url][7], e.level) << e.url;
  }
  EXPECT_EQ(rows.size(), std::size(expected)) << "a page at the last level is not parsed:\n"
                                              << ReadAll(dir / "run/all.txt");
  EXPECT_EQ(rows[root + "index.html"][5], "Home");
  EXPECT_EQ(rows[root + "a.html"][9], "2") << "linked from the root and from b";

  // External links are checked with HEAD and never followed.
  const std::string log = ReadAll(dir / "external.log");
  EXPECT_NE(log.find("\"HEAD /x.html"), std::string::npos) << log;
  EXPECT_EQ(log.find("never-followed"), std::string::npos);

  // The sitemap of the crawl is valid Sitemaps 0.9.
  ASSERT_EQ(Run("-url " + root + "index.html -google sitemap.xml"), 0) << ReadAll(dir / "run/err.log");
  EXPECT_EQ(Shell("xmllint --noout --schema '" WEXO_SOURCE_DIR "/tests/fixtures/sitemap-0.9.xsd' '" +
                  (dir / "run/sitemap.xml").string() + "' 2>/dev/null"),
            0)
      << ReadAll(dir / "run/sitemap.xml");
  EXPECT_NE(ReadAll(dir / "run/sitemap.xml").find("<loc>" + root + "deep/d.html</loc>"), std::string::npos);

  // The same crawl inside this process, then its link graph read by dot.
  {
    HeadlessHost host;
    ReportOutputs outputs;
    CWexoApp app;
    app.m_csUrl = root + "index.html";
    app.m_nLevel = 9999;
    const std::string savedIni = platform::SettingsFile();
    platform::SetSettingsFile((dir / "wexo.ini").string());
    EngineContext context;
    context.host = &host;
    context.app = &app;
    context.outputs = &outputs;
    std::vector<std::unique_ptr<CWexoDoc>> docs;
    docs.push_back(std::make_unique<CWexoDoc>(context));
    HeadlessView view(host, *docs[0]);
    ASSERT_TRUE(docs[0]->OnNewDocument(CheckStart::CommandLine));
    EXPECT_EQ(host.Run(docs), 0);
    EXPECT_TRUE(docs[0]->IsFinished());
    const std::string dot = (dir / "graph.dot").string();
    ASSERT_TRUE(ExportGraphViz(*docs[0], dot));
    EXPECT_EQ(Shell("dot -Tcanon '" + dot + "' > /dev/null 2>&1"), 0) << ReadAll(dot);
    platform::SetSettingsFile(savedIni);
  }

  const std::string map = ReadAll(dir / "run/map.txt");
  EXPECT_NE(map.find(root + "index.html\t" + root + "a.html\t200\tok\tA\t"), std::string::npos) << map;
  EXPECT_NE(map.find(root + "b.html\t" + root + "a.html\t200\tok\tA\t"), std::string::npos) << map;
  EXPECT_NE(map.find(root + "index.html\t" + root + "gone.html\t404\tnot found\t"), std::string::npos) << map;
}

// One site checked twice, each time with another page answering slowly, so the pages are
// found in other orders: the same levels, page map and site map. The slow page is the one
// that holds the short way the first time.
TEST_F(Crawl, LevelsDoNotDependOnWhichPageAnswersFirst) {
  const std::map<std::string, std::string> site = {
      {"index.html", "a.html b.html"},
      {"a.html", "c.html e.html"},
      {"b.html", "x.html e.html c.html"},
      {"c.html", "x.html"},
      {"e.html", ""},
      {"x.html", "y.html"},
      {"y.html", "z.html x.html"},
      {"z.html", "w.html"},
      {"w.html", ""},
  };
  for (const auto& [name, links] : site) {
    std::string body = "<html><head><title>" + name + "</title></head><body>\n";
    std::istringstream words(links);
    for (std::string link; words >> link;) body += "<a href=\"" + link + "\">" + link + "</a>\n";
    // Enough bytes for the slow answer to take a few seconds.
    body += "<!--" + std::string(900, '.') + "-->\n</body></html>\n";
    Write(dir / "site" / name, body);
  }
  struct Check {
    std::map<std::string, std::string> levels;
    std::multiset<std::string> pageMap;
    std::string siteMap;
  };
  std::vector<Check> checks;
  for (const char* slow : {"b.html", "a.html"}) {
    wexo_test::PeerProcess peer;
    std::string error;
    ASSERT_TRUE(
        peer.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", (dir / "site").string(),
                    "--extra", std::string("location = /") + slow + " { limit_rate 300; }"},
                   std::chrono::seconds(20), &error))
        << error;
    const std::string root = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/";
    ASSERT_EQ(Run("-url " + root + "index.html -level 4 -export all.txt -map map.txt -report report.htm"), 0)
        << ReadAll(dir / "run/err.log");
    // Without the server's address, which differs from check to check.
    const auto local = [&root](std::string text) {
      for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at))
        text.erase(at, root.size());
      return text;
    };
    Check& check = checks.emplace_back();
    for (const auto& [url, row] : Rows(ReadAll(dir / "run/all.txt"))) check.levels[local(url)] = row[7];
    std::istringstream rows(local(ReadAll(dir / "run/map.txt")));
    for (std::string row; std::getline(rows, row);) check.pageMap.insert(row);
    const std::string report = local(ReadAll(dir / "run/report.htm"));
    const std::size_t begin = report.find("<a name=\"sitemap\">");
    ASSERT_NE(begin, std::string::npos) << report;
    check.siteMap = report.substr(begin, report.find("<hr>", begin) - begin);
  }
  const std::map<std::string, std::string> levels = {
      {"index.html", "0"}, {"a.html", "1"}, {"b.html", "1"}, {"c.html", "2"},
      {"e.html", "2"},     {"x.html", "2"}, {"y.html", "3"}, {"z.html", "4"},
  };
  EXPECT_EQ(checks[0].levels, levels) << "y is found at 4 first and lies within the limit once lowered";
  EXPECT_EQ(checks[1].levels, levels);
  EXPECT_EQ(checks[0].pageMap, checks[1].pageMap);
  EXPECT_EQ(checks[0].siteMap, checks[1].siteMap);
  EXPECT_NE(checks[0].siteMap.find("<li><a href=\"z.html\">z.html</a>"), std::string::npos) << checks[0].siteMap;
}

TEST_F(Crawl, LocalTreeDownToTheLevel) {
  MakeSite("http://127.0.0.1:" + std::to_string(wexo_test::UnusedPort()) + "/nothing-listens-here.html");
  const std::string root = "file://" + (dir / "site").string() + "/";
  ASSERT_EQ(Run("-url " + root + "index.html -level 2 -export all.txt -map map.txt"), 0)
      << ReadAll(dir / "run/err.log");
  auto rows = Rows(ReadAll(dir / "run/all.txt"));
  const std::pair<std::string, const char*> expected[] = {
      {root + "index.html", "200"}, {root + "a.html", "200"},  {root + "b.html", "200"},
      {root + "img.png", "200"},    {root + "gone.html", "2"}, {root + "deep/c.html", "200"},
  };
  for (const auto& [url, status] : expected) {
    ASSERT_TRUE(rows.count(url)) << url << "\n" << ReadAll(dir / "run/all.txt");
    EXPECT_EQ(rows[url][1], status) << url;
  }
  EXPECT_FALSE(rows.count(root + "deep/d.html")) << "a page at the last level is not parsed";
  EXPECT_EQ(rows[root + "index.html"][3], "text/html");
  EXPECT_EQ(rows[root + "img.png"][4], std::to_string(std::filesystem::file_size(dir / "site/img.png")));
}

}  // namespace
