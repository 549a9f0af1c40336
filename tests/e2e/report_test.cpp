// Reports of real checks, run as the batch program writes them: valid HTML 4.01 (onsgmls
// with the W3C DTDs, tidy), crawled text shown as text in a real browser, and the same
// numbers under a German locale.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "e2e/support/HttpPeer.h"
#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"

namespace {

using wexo_test::ReadAll;
using wexo_test::Shell;

constexpr const char* kCatalog = "/usr/share/xml/w3c-sgml-lib/schema/dtd/sgml.soc";

// The text of one section of a report, from its heading to its closing rule.
std::string Section(const std::string& text, const std::string& anchor) {
  const std::size_t begin = text.find("<h2><a name=\"" + anchor + "\"></a>");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find("<hr>\r\n", begin) + 6 - begin);
}

class ReportRun : public ::testing::Test {
 protected:
  ReportRun() {
    dir = std::filesystem::temp_directory_path() / ("wexo-reportrun-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~ReportRun() override { std::filesystem::remove_all(dir); }

  // Checks the site from url in batch mode and gives the report's text; locale, when given,
  // is the program's LANG and LC_ALL.
  std::string Check(const std::string& url, const char* locale = nullptr) {
    const std::string report = (dir / "report.htm").string();
    std::filesystem::remove(report);
    if (locale) {
      setenv("LANG", locale, 1);
      setenv("LC_ALL", locale, 1);
    }
    const int rc = wexo_test::RunWexo(dir, dir, "-url '" + url + "' -report '" + report + "'");
    if (locale) {
      unsetenv("LANG");
      unsetenv("LC_ALL");
    }
    EXPECT_EQ(rc, 0) << ReadAll(dir / "err.log");
    return ReadAll(report);
  }

  // The validator's error lines, except those about &apos; (no entity of HTML 4.01, but
  // what the link texts have always been escaped with).
  std::string SgmlErrors() {
    const std::string errors = (dir / "sgml.log").string();
    Shell("SP_CHARSET_FIXED=YES SP_ENCODING=UTF-8 onsgmls -s -c " + std::string(kCatalog) + " '" +
          (dir / "report.htm").string() + "' 2> '" + errors + "'");
    std::istringstream in(ReadAll(errors));
    std::string line, other;
    while (std::getline(in, line))
      if (line.find("\"apos\"") == std::string::npos && line.find("entity was defined here") == std::string::npos)
        other += line + "\n";
    return other;
  }

  int Tidy() { return Shell("tidy -e -q '" + (dir / "report.htm").string() + "' 2> /dev/null"); }

  // The DOM that headless Chromium builds from the report (or another page of the folder).
  std::string Dom(const std::string& page = "report.htm") {
    const std::string profile = (dir / "chromium-profile").string();
    const std::string dom = (dir / "dom.html").string();
    Shell(
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --user-data-dir='" +
        profile + "' --dump-dom 'file://" + (dir / page).string() + "' > '" + dom + "' 2> /dev/null");
    return ReadAll(dom);
  }

  std::filesystem::path dir;
};

TEST_F(ReportRun, ExampleSiteReportIsValidHtml) {
  const std::string site = std::string(WEXO_SOURCE_DIR) + "/examples/site/index.html";
  const std::string text = Check("file://" + site);
  ASSERT_TRUE(text.starts_with("<!DOCTYPE HTML PUBLIC")) << text;
  EXPECT_NE(text.find("missing.html\" TARGET=_blank>"), std::string::npos);
  EXPECT_EQ(SgmlErrors(), "");
  EXPECT_LT(Tidy(), 2);
}

TEST_F(ReportRun, GermanLocaleKeepsDecimalPoints) {
  const std::string site = std::string(WEXO_SOURCE_DIR) + "/examples/site/index.html";
  const std::string text = Check("file://" + site, "de_DE.UTF-8");
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(>[0-9]+\.[0-9]{2}%<)"))) << text;
  EXPECT_FALSE(std::regex_search(text, std::regex(R"([0-9],[0-9]{2}%)"))) << text;
}

TEST_F(ReportRun, PostgresDocsReportIsValidHtml) {
  const std::string docs = "/usr/share/doc/postgresql-doc-15/html";
  ASSERT_TRUE(std::filesystem::exists(docs + "/index.html")) << "postgresql-doc-15 is not installed";
  wexo_test::PeerProcess nginx;
  std::string error;
  ASSERT_TRUE(
      nginx.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", docs, "--lifetime", "600"},
                  std::chrono::seconds(20), &error))
      << error;
  const std::string text = Check("http://127.0.0.1:" + std::to_string(nginx.Port()) + "/index.html");
  ASSERT_TRUE(text.starts_with("<!DOCTYPE HTML PUBLIC")) << text.substr(0, 500);
  EXPECT_NE(text.find("<h3>All pages, by result type:</h3>"), std::string::npos);
  for (const char* anchor : {"bylink", "bypage", "redir", "valid", "sitemap", "targets", "stats"})
    EXPECT_NE(text.find("<h2><a name=\"" + std::string(anchor) + "\"></a>"), std::string::npos) << anchor;
  EXPECT_NE(text.find("<ul>\r\n<li><a href=\""), std::string::npos) << "a site map below the root";
  EXPECT_EQ(SgmlErrors(), "");
  EXPECT_LT(Tidy(), 2);
}

// Titles, link texts and URLs of a hostile site reach the report as text, never as markup.
TEST_F(ReportRun, CrawledMarkupStaysText) {
  const std::filesystem::path site = dir / "site";
  const std::string evilTitle = "<script>alert(1)</script>\"><img src=x onerror=alert(2)>";
  const std::string body = "<html><head><title>" + evilTitle + "</title></head><body>twin</body></html>";
  wexo_test::Write(site / "index.html",
                   "<html><head><title>" + evilTitle +
                       "</title></head><body>\n"
                       "<a href=\"gone&quot;&gt;&lt;img src=x onerror=alert(3)&gt;&lt;script&gt;alert(4)&lt;/script&gt;"
                       ".html\"><script>alert(5)</script>\"><img src=x onerror=alert(5)></a>\n"
                       "<a href=\"twin.html\">twin</a>\n"
                       "<a href=\"x&#39;&quot;&gt;&lt;img src=x onerror=alert(6)&gt;.html\">copy</a>\n"
                       "<a href=\"jump\">jump</a>\n"
                       "<a name=\"n&#39;&quot;&gt;&lt;img src=x onerror=alert(8)&gt;\"></a>\n"
                       "<a name=\"n&#39;&quot;&gt;&lt;img src=x onerror=alert(8)&gt;\"></a>\n"
                       "<a href=\"#f&#39;&quot;&gt;&lt;img src=x onerror=alert(9)&gt;\">fragment</a>\n"
                       "</body></html>\n");
  wexo_test::Write(site / "twin.html", body);
  wexo_test::Write(site / "x'\"><img src=x onerror=alert(6)>.html", body);
  wexo_test::PeerProcess nginx;
  std::string error;
  ASSERT_TRUE(
      nginx.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", site.string(), "--lifetime",
                   "300", "--extra", "location = /jump { return 302 \"/to'\\\"><img src=x onerror=alert(7)>\"; }"},
                  std::chrono::seconds(20), &error))
      << error;
  const std::string text = Check("http://127.0.0.1:" + std::to_string(nginx.Port()) + "/index.html");
  ASSERT_NE(text.find("Duplicate title ("), std::string::npos) << text;
  ASSERT_NE(text.find("Duplicate content:"), std::string::npos) << text;
  ASSERT_NE(text.find("onerror=alert(3)"), std::string::npos) << text;
  ASSERT_NE(Section(text, "redir").find("onerror=alert(7)"), std::string::npos) << text;
  ASSERT_NE(Section(text, "targets").find("onerror=alert(8)&gt;</a> anchor occurs multiple times"), std::string::npos)
      << text;
  ASSERT_NE(Section(text, "targets").find("onerror=alert(9)&gt;</a> not found"), std::string::npos) << text;

  const std::string dom = Dom();
  ASSERT_NE(dom.find("<h1>Broken link report</h1>"), std::string::npos) << "no DOM from chromium: " << dom;
  EXPECT_EQ(dom.find("<img"), std::string::npos) << dom;
  EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
  for (const char* shown :
       {"alert(1)", "alert(2)", "alert(3)", "alert(4)", "alert(5)", "alert(6)", "alert(7)", "alert(8)", "alert(9)"})
    EXPECT_NE(dom.find(shown), std::string::npos) << shown;
  EXPECT_NE(dom.find("Duplicate title (&lt;script&gt;alert(1)&lt;/script&gt;\"&gt;&lt;img src=x onerror=alert(2)&gt;)"),
            std::string::npos)
      << dom;
  EXPECT_EQ(SgmlErrors(), "");
}

// A site whose file names hold '#', '?', '/' and '%' (linked by their escapes) and whose
// titles are character references: every link of the report opens the page that was checked,
// and the titles read as the browser showed them on the pages.
TEST_F(ReportRun, LinksOpenTheCheckedPagesAndTitlesReadAsShown) {
  const std::filesystem::path site = dir / "site";
  const std::string title = "<title>Tom &amp; Jerry &eacute; &#8212;</title>";
  const std::string head = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">";
  wexo_test::Write(site / "index.html", head + title +
                                            "</head><body>\n"
                                            "<a href=\"hash%23x.html\">1</a> <a href=\"q%3Fx.html\">2</a>\n"
                                            "<a href=\"sl%2Fx.html\">3</a> <a href=\"pct%25.html\">4</a>\n"
                                            "<a href=\"twin.html\">5</a> <a href=\"gone%23%25.html\">6</a>\n"
                                            "<a href=\"back%5Cx.html\">7</a>\n"
                                            "</body></html>\n");
  wexo_test::Write(site / "twin.html", head + title + "</head><body>twin</body></html>\n");
  for (const char* name : {"hash#x.html", "q?x.html", "sl/x.html", "pct%.html", "back\\x.html"})
    wexo_test::Write(site / name, head + "<title>" + name + "</title></head><body>" + name + "</body></html>\n");
  wexo_test::PeerProcess nginx;
  std::string error;
  ASSERT_TRUE(nginx.Start(
      {"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", site.string(), "--lifetime", "300"},
      std::chrono::seconds(20), &error))
      << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/";
  const std::string text = Check(base + "index.html");

  const std::string valid = Section(text, "valid");
  const std::pair<const char*, const char*> names[] = {{"hash%23x.html", "hash#x.html"},
                                                       {"q%3Fx.html", "q?x.html"},
                                                       {"sl%2Fx.html", "sl/x.html"},
                                                       {"pct%25.html", "pct%.html"},
                                                       {"back%5Cx.html", "back\\x.html"}};
  for (const auto& [linked, name] : names)
    EXPECT_NE(valid.find("<a href=\"" + base + linked + "\" TARGET=_blank>" + base + name + "</a>\r\n"),
              std::string::npos)
        << linked << "\n"
        << valid;
  EXPECT_NE(Section(text, "bylink")
                .find("<a href=\"" + base + "gone%23%25.html\" TARGET=_blank>" + base + "gone#%.html</a>\r\n"),
            std::string::npos)
      << Section(text, "bylink");
  // Every link of the valid list, as a browser sends it, reaches its page.
  std::size_t links = 0;
  const std::regex href("<a href=\"([^\"]*)\" TARGET=_blank>");
  for (auto at = std::sregex_iterator(valid.begin(), valid.end(), href); at != std::sregex_iterator(); ++at, ++links)
    EXPECT_EQ(Shell("curl -sfg -o /dev/null '" + (*at)[1].str() + "'"), 0) << (*at)[1].str();
  EXPECT_EQ(links, 7u) << valid;

  const std::string shown = "Tom &amp; Jerry \xC3\xA9 \xE2\x80\x94";
  EXPECT_NE(Section(text, "sitemap").find("<a href=\"" + base + "index.html\">" + shown + "</a>\r\n<ul>\r\n"),
            std::string::npos)
      << Section(text, "sitemap");
  EXPECT_NE(Section(text, "sitemap").find("<li><a href=\"" + base + "twin.html\">" + shown + "</a>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Duplicate title (" + shown + "):\r\n"), std::string::npos) << Section(text, "stats");
  EXPECT_EQ(text.find("&amp;amp;"), std::string::npos);
  EXPECT_EQ(text.find("&amp;eacute;"), std::string::npos);
  EXPECT_EQ(text.find("&amp;#8212;"), std::string::npos);
  EXPECT_EQ(SgmlErrors(), "");
  EXPECT_LT(Tidy(), 2);

  const std::string dom = Dom();
  ASSERT_NE(dom.find("<h1>Broken link report</h1>"), std::string::npos) << "no DOM from chromium: " << dom;
  EXPECT_NE(dom.find("<a href=\"" + base + "hash%23x.html\" target=\"_blank\">" + base + "hash#x.html</a>"),
            std::string::npos)
      << dom;
  EXPECT_NE(dom.find("Duplicate title (Tom &amp; Jerry \xC3\xA9 \xE2\x80\x94):"), std::string::npos) << dom;

  // The same site as local files, whose URLs hold the names unescaped: each link of the site
  // map, decoded once as a browser decodes a file URL, names a file of the site.
  const std::string local = Check("file://" + (site / "index.html").string());
  const std::string map = Section(local, "sitemap");
  std::size_t files = 0;
  const std::regex fileHref("<a href=\"file://([^\"]*)\">");
  for (auto at = std::sregex_iterator(map.begin(), map.end(), fileHref); at != std::sregex_iterator(); ++at, ++files) {
    const std::string href = (*at)[1].str();
    std::string path;
    for (std::size_t i = 0; i < href.size(); ++i) {
      if (href[i] == '%' && i + 2 < href.size()) {
        path += static_cast<char>(std::stoi(href.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        path += href[i];
      }
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << href;
  }
  EXPECT_EQ(files, 7u) << map;
  EXPECT_NE(map.find("hash%23x.html\">hash#x.html</a>"), std::string::npos) << map;
}

// A query and a path as the server wrote them into its links, and redirects whose targets
// hold '<', '>' and '"'. Opened from the report in a browser, every link asks the server for
// the URL that was checked; the redirect targets are recorded, checked and reported whole.
TEST_F(ReportRun, LinksAskTheServerForTheCheckedUrlsAndRedirectTargetsStayWhole) {
  const std::filesystem::path site = dir / "site";
  wexo_test::Write(site / "index.html",
                   "<html><head><title>links</title></head><body>\n"
                   "<a href=\"page.txt?a=b%26c\">1</a> <a href=\"page.txt?x=%3D%2B\">2</a>\n"
                   "<a href=\"end%20\">3</a> <a href=\"r1\">4</a> <a href=\"r2\">5</a>\n"
                   "</body></html>\n");
  wexo_test::Write(site / "page.txt", "text\n");
  const std::string log = (dir / "access.log").string();
  wexo_test::PeerProcess nginx;
  std::string error;
  ASSERT_TRUE(nginx.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", site.string(),
                           "--lifetime", "300", "--access-log", log, "--extra",
                           "location = /r1 { return 302 \"/t.html?a=1&b=<2>\"; } "
                           "location = /r2 { return 302 \"/page.txt?q=\\\"y\\\"\"; }"},
                          std::chrono::seconds(20), &error))
      << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());
  // The request targets the server has logged since the given size of its log.
  const auto requests = [&log](std::size_t from) {
    const std::string text = ReadAll(log);
    std::set<std::string> targets;
    const std::string tail = text.substr(std::min(from, text.size()));
    const std::regex line("\"(GET|HEAD) ([^ ]*) HTTP/1\\.[01]\"");
    for (auto at = std::sregex_iterator(tail.begin(), tail.end(), line); at != std::sregex_iterator(); ++at)
      targets.insert((*at)[2].str());
    return targets;
  };

  const std::string report = (dir / "report.htm").string();
  ASSERT_EQ(wexo_test::RunWexo(dir, dir, "-url '" + base + "/index.html' -report '" + report + "' -export all.txt"), 0)
      << ReadAll(dir / "err.log");
  const std::string text = ReadAll(report);
  const auto rows = wexo_test::Rows(ReadAll(dir / "all.txt"));

  // The redirect targets as the server sent them: records, checked, and in the report.
  const std::string target = base + "/t.html?a=1&b=<2>";
  const std::string quoted = base + "/page.txt?q=\"y\"";
  ASSERT_TRUE(rows.contains(target)) << ReadAll(dir / "all.txt");
  EXPECT_EQ(rows.at(target)[1], "404");
  ASSERT_TRUE(rows.contains(quoted)) << ReadAll(dir / "all.txt");
  EXPECT_EQ(rows.at(quoted)[1], "200");
  EXPECT_FALSE(rows.contains(base + "/t.html?a=1&b=<2")) << ReadAll(dir / "all.txt");
  EXPECT_FALSE(rows.contains(base + "/page.txt?q=")) << ReadAll(dir / "all.txt");
  const std::string redir = Section(text, "redir");
  const std::string shown = base + "/t.html?a=1&amp;b=&lt;2&gt;";
  EXPECT_NE(redir.find("redirected to: <a href=\"" + shown + "\" TARGET=_blank>" + shown +
                       "</a>\r\nstatus code: 302 (object temporarily moved)\r\n"
                       "<b>The redirection target URL is broken!</b>\r\n"),
            std::string::npos)
      << redir;
  EXPECT_NE(redir.find("redirected to: <a href=\"" + base + "/page.txt?q=&quot;y&quot;\""), std::string::npos) << redir;
  const std::set<std::string> checked = requests(0);
  EXPECT_TRUE(checked.contains("/t.html?a=1&b=<2>") || checked.contains("/t.html?a=1&b=%3C2%3E"))
      << "the whole redirect target was not checked";
  EXPECT_NE(Section(text, "valid")
                .find("<a href=\"" + base + "/page.txt?a=b%26c\" TARGET=_blank>" + base + "/page.txt?a=b&amp;c</a>"),
            std::string::npos)
      << Section(text, "valid");

  // The report opened in Chromium, each of its links to the server followed in a frame of its
  // own, as a click on it navigates.
  const std::string follow =
      "<script>for (const a of Array.from(document.querySelectorAll('a[href]'))) if (a.href.startsWith('" + base +
      "/')) { const f = document.createElement('iframe'); f.src = a.href; document.body.appendChild(f); }</script>";
  std::string opened = text;
  opened.insert(opened.rfind("</body>"), follow);
  wexo_test::Write(dir / "follow.htm", opened);
  const std::size_t before = ReadAll(log).size();
  ASSERT_NE(Dom("follow.htm").find("<h1>Broken link report</h1>"), std::string::npos) << "no DOM from chromium";
  const std::set<std::string> asked = requests(before);
  for (const char* url : {"/page.txt?a=b%26c", "/page.txt?x=%3D%2B", "/end%20", "/r1", "/r2"})
    EXPECT_TRUE(asked.contains(url)) << url;
  for (const char* other : {"/page.txt?a=b&c", "/page.txt?x==+", "/end"}) EXPECT_FALSE(asked.contains(other)) << other;
  // Every checked URL that a browser sends as it stands.
  for (const auto& [url, fields] : rows) {
    if (!url.starts_with(base + "/") || url.find_first_of("<>\" ") != std::string::npos) continue;
    EXPECT_TRUE(asked.contains(url.substr(base.size()))) << url;
  }
}

// Control bytes in titles, link texts and file names, and a Latin-1 page among UTF-8 ones: the
// report stays valid HTML and the TAB exports read as UTF-8, one row per record.
TEST_F(ReportRun, ControlBytesAndLatin1TextsLeaveReportAndExportsReadable) {
  const std::filesystem::path site = dir / "site";
  wexo_test::Write(site / "index.html",
                   "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
                   "<title>Caf\xE9 \x01 start \x1B[1m</title>"
                   "<meta name=\"description\" content=\"D\xE9j\xE0 \x02 vu\"></head><body>\n"
                   "<a href=\"gone.html\">gone \x1B[31m \x01 text \x7F</a>\n"
                   "<a href=\"ctl%01name.html\">file</a>\n"
                   "<a href=\"utf8.html\">utf8</a>\n"
                   "</body></html>\n");
  wexo_test::Write(site / "ctl\x01name.html", "<html><head><title>bell \x07 title</title></head></html>\n");
  wexo_test::Write(site / "utf8.html",
                   "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                   "<title>Caf\xC3\xA9 \xC2\x9B</title></head></html>\n");
  const std::string report = (dir / "report.htm").string();
  ASSERT_EQ(wexo_test::RunWexo(dir, dir,
                               "-url 'file://" + (site / "index.html").string() + "' -report '" + report +
                                   "' -export all.txt -map map.txt"),
            0)
      << ReadAll(dir / "err.log");
  const std::string text = ReadAll(report);
  ASSERT_NE(text.find("link text: gone %1B[31m %01 text %7F\r\n"), std::string::npos) << Section(text, "bylink");
  EXPECT_EQ(SgmlErrors(), "");

  // Python reads each export as UTF-8 (failing on anything else) and counts rows and fields.
  const std::string script = (dir / "read.py").string();
  wexo_test::Write(script,
                   "import csv, sys\n"
                   "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', errors='strict', newline=''),"
                   " delimiter='\\t'))\n"
                   "bad = [c for r in rows for f in r for c in f if ord(c) < 32 or 127 <= ord(c) < 160]\n"
                   "print(len(rows), sorted(set(len(r) for r in rows)), len(bad))\n"
                   "for r in rows: print('|'.join(r))\n");
  for (const auto& [file, shape] : {std::pair{"all.txt", "5 [16] 0\n"}, std::pair{"map.txt", "4 [7] 0\n"}}) {
    ASSERT_EQ(Shell("/usr/bin/python3 '" + script + "' '" + (dir / file).string() + "' > '" +
                    (dir / "read.out").string() + "' 2>&1"),
              0)
        << file << ": " << ReadAll(dir / "read.out");
    const std::string read = ReadAll(dir / "read.out");
    EXPECT_TRUE(read.starts_with(shape)) << file << ": " << read;
    EXPECT_NE(read.find("|Caf\xC3\xA9   start  [1m"), std::string::npos) << file << ": " << read;
  }
  const auto rows = wexo_test::Rows(ReadAll(dir / "all.txt"));
  const auto index = rows.find("file://" + (site / "index.html").string());
  ASSERT_NE(index, rows.end());
  EXPECT_EQ(index->second[14], "D\xC3\xA9j\xC3\xA0   vu");
  const auto named = rows.find("file://" + (site / "ctl%01name.html").string());
  ASSERT_NE(named, rows.end()) << ReadAll(dir / "all.txt");
  EXPECT_EQ(named->second[1], "200");
  EXPECT_EQ(named->second[5], "bell   title");
  const auto utf8 = rows.find("file://" + (site / "utf8.html").string());
  ASSERT_NE(utf8, rows.end());
  EXPECT_EQ(utf8->second[5], "Caf\xC3\xA9  ");
}

}  // namespace
