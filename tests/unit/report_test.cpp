// The HTML report: the whole text of a fixture check compared byte for byte, then the
// switches, the edge cases and the escaping of crawled text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

#include "engine/Charset.h"
#include "engine/Fetch.h"
#include "engine/HtmlEscape.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/Report.h"
#include "unit/support/ScriptedHost.h"

namespace {

constexpr std::int64_t kPinnedTime = 1736000000;  // January 04, 2025 at 14:13:20 UTC
const BuildStamp kBuilt{"Jan  2 2025", "03:04:05"};
const std::string kOddUrl = "http://site.test/q%3Fx%23y%2Fz%25%7E.html";
const std::string kGolden = std::string(WEXO_SOURCE_DIR) + "/tests/fixtures/report/golden.htm";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The text of one section, from its heading to its closing rule.
std::string Section(const std::string& text, const std::string& anchor) {
  const std::size_t begin = text.find("<h2><a name=\"" + anchor + "\"></a>");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find("<hr>\r\n", begin) + 6 - begin);
}

Md5Digest Digest(std::uint8_t seed) {
  Md5Digest d{};
  d.fill(seed);
  return d;
}

class ReportTest : public ::testing::Test {
 protected:
  ReportTest() {
    setenv("TZ", "UTC0", 1);
    tzset();
    dir = std::filesystem::temp_directory_path() / ("wexo-report-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ini.Set("Options", "ReportOrphans", "0");  // report_orphans_test has its own
  }
  ~ReportTest() override { std::filesystem::remove_all(dir); }

  std::unique_ptr<CWexoDoc> NewDoc() {
    return std::make_unique<CWexoDoc>(host.Context(nullptr, [] { return kPinnedTime; }));
  }

  const CLinkInfo* Page(CWexoDoc& doc, const std::string& url, const CLinkInfo* parent, std::int16_t status,
                        const std::string& type = "text/html", std::int64_t size = 0) {
    const CLinkInfo* link = doc.NewLink(url, parent, REQUEST_GET);
    doc.SetStatus(link, status);
    doc.UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_csMimeType = type;
      r.m_nSize = size;
    });
    return link;
  }

  // A small check with a bit of everything the report shows.
  std::unique_ptr<CWexoDoc> Fixture() {
    auto doc = NewDoc();
    doc->SetRootUrl("http://site.test/");
    doc->SetIncludes({"http://site.test/", "http://site.test/old/", "http://nowhere.test/"});
    doc->SetExcludes({"http://site.test/private/"});
    const CLinkInfo* root = Page(*doc, "http://site.test/", nullptr, 200, "text/html", 1000);  // untitled
    doc->UpdateLink(*root, [&](CLinkInfo& r) {
      r.m_nDurationMs = 600;
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(1));
    });
    const CLinkInfo* old = Page(*doc, "http://site.test/old/", nullptr, 404, "");
    doc->UpdateLink(*old, [&](CLinkInfo& r) { r.m_csTitle = ""; });
    const CLinkInfo* a = Page(*doc, "http://site.test/a.html", root, 200, "text/html", 3000);
    doc->UpdateLink(*a, [&](CLinkInfo& r) {
      r.m_csTitle = "a<b & 'c' \xE9";
      r.m_csDescription = "Same description";
      r.m_nDurationMs = 600;
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(2));
      SetCharset(&r, "ISO-8859-1");
    });
    const CLinkInfo* b = Page(*doc, "http://site.test/b.html", root, 200, "text/html", 2000);
    doc->UpdateLink(*b, [&](CLinkInfo& r) {
      r.m_csTitle = a->m_csTitle;
      r.m_csDescription = "Same description";
      r.m_tsDuration = 1;
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(3));
      SetCharset(&r, "ISO-8859-1");
    });
    const CLinkInfo* copy = Page(*doc, "http://site.test/copy.html", a, 200, "text/html", 1000);
    doc->UpdateLink(*copy, [&](CLinkInfo& r) {
      r.m_csTitle = "Copy";
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(1));
    });
    const CLinkInfo* d = Page(*doc, "http://site.test/d.html", root, 200, "text/html", 10);
    doc->UpdateLink(*d, [&](CLinkInfo& r) { r.m_csTitle = "Only a slow link"; });
    Page(*doc, "http://site.test/style.css", root, 200, "text/css", 700);
    Page(*doc, "http://site.test/logo.png", root, 200, "image/png", 0);
    const CLinkInfo* upper = Page(*doc, "http://site.test/Missing.html", root, 404, "");
    doc->UpdateLink(*upper, [&](CLinkInfo& r) { r.m_csTitle = "Missing <page> & 'x' \xE9"; });
    doc->AddReferrer(upper, a);
    doc->AddReferrer(upper, b);
    const CLinkInfo* lower = Page(*doc, "http://site.test/missing.html", a, 410, "");
    doc->UpdateLink(*lower, [&](CLinkInfo& r) { r.m_csTitle = "lower"; });
    Page(*doc, "http://site.test/slow.html", root, 12002, "");
    doc->AddReferrer(doc->FindLink("http://site.test/slow.html"), d);
    Page(*doc, "http://site.test/hung.html", b, 12017, "");
    Page(*doc, "", root, 404, "");
    Page(*doc, "http://site.test/caf%E9.html", a, 404, "");
    Page(*doc, "http://site.test/%C3%A9t%C3%A9.html?q=%22x%22", a, 404, "");
    Page(*doc, "http://other.test/", root, 200, "text/html", 5);
    Page(*doc, "http://site.test/private/a", root, STATUS_USER_SKIP, "");
    Page(*doc, "http://site.test/private/b", root, STATUS_USER_SKIP, "");
    AddSections(*doc);
    return doc;
  }

  // What the sections after the broken links show: redirects with their chains, ftp and
  // gopher URLs, a deeper site map and page-local links.
  void AddSections(CWexoDoc& doc) {
    const CLinkInfo* root = doc.GetLink(0);
    const CLinkInfo* a = doc.FindLink("http://site.test/a.html");
    const CLinkInfo* copy = doc.FindLink("http://site.test/copy.html");
    doc.UpdateLink(*Page(doc, "http://site.test/x", root, 301), [](CLinkInfo& r) { r.m_csTitle = "Moved for good"; });
    doc.UpdateLink(*Page(doc, "http://site.test/moved", a, 302), [](CLinkInfo& r) { r.m_csTitle = "Moved for now"; });
    doc.UpdateLink(*Page(doc, "http://site.test/doc.pdf", a, 200, "application/pdf"),
                   [](CLinkInfo& r) { r.m_csTitle = "A document"; });
    doc.UpdateLink(*Page(doc, "http://site.test/deep.html", copy, 200),
                   [](CLinkInfo& r) { r.m_csTitle = "Deep <one>"; });
    Page(doc, "http://site.test/readme.txt", root, 200, "text/plain");
    Page(doc, "ftp://files.test/pub/a.txt", root, 200, "");
    Page(doc, "gopher://gopher.test/1/", root, 12007, "");
    doc.AddRedirect("http://site.test/self", "http://site.test/self", 302);
    doc.AddRedirect("http://site.test/x", "http://site.test/y", 301);
    doc.AddRedirect("http://site.test/y", "http://site.test/z", 302);
    doc.AddRedirect("http://site.test/z", "http://site.test/y", 0);
    doc.AddRedirect("http://site.test/moved", "http://site.test/Missing.html", 302);
    doc.AddRedirect("http://site.test/Gone", "http://never.test/x'\"><b>y</b>", 307);
    doc.UpdateLink(*doc.FindLink("http://site.test/d.html"), [](CLinkInfo& d) {
      d.m_saAnchors = {"a", "b", "a", "a", "x'\"<i>", "x'\"<i>"};
      d.m_saFragments = {"b", "c", "x'\"<i>"};
    });
    doc.UpdateLink(*doc.FindLink("http://other.test/"), [](CLinkInfo& l) { l.m_saFragments = {"top", "q'\"<i>"}; });
    doc.UpdateLink(*doc.FindLink("http://site.test/Missing.html"), [](CLinkInfo& l) { l.m_saFragments = {"part"}; });

    // A page whose URL holds escapes that decoded would point elsewhere, with a title of
    // character references, shared by a second page; a broken link of it with more such
    // escapes, a control byte's escape and the same references in its link text.
    const CLinkInfo* odd = Page(doc, kOddUrl, root, 200, "text/html", 20);
    doc.UpdateLink(*odd, [&](CLinkInfo& r) {
      r.m_csTitle = "Tom &amp; Jerry &eacute; &#8212;";
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(4));
      r.m_saAnchors = {"T&amp;J", "T&amp;J"};
      r.m_saFragments = {"&lt;b&gt;"};
    });
    const CLinkInfo* tom = Page(doc, "http://site.test/tom.html", root, 200, "text/html", 20);
    doc.UpdateLink(*tom, [&](CLinkInfo& r) {
      r.m_csTitle = odd->m_csTitle;
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(5));
    });
    doc.UpdateLink(*Page(doc, "http://site.test/gone%23%3f%2F%25%0a%20%C3%A9.html", odd, 404, ""),
                   [](CLinkInfo& r) { r.m_csTitle = "Tom &amp; Jerry"; });
    doc.AddRedirect("http://site.test/r%3F1", kOddUrl, 301);
  }

  std::string Report(const CWexoDoc& doc) {
    const std::string path = (dir / "report.htm").string();
    EXPECT_TRUE(vCreateReport(doc, path, kBuilt));
    return ReadAll(path);
  }

  TempIni ini;
  ScriptedHost host;
  std::filesystem::path dir;
};

TEST_F(ReportTest, MatchesTheGoldenFileByteForByte) {
  ini.Set("Options", "SponsorName", "Example & Co");
  ini.Set("Options", "SponsorLink", "http://example.test/");
  const std::string text = Report(*Fixture());
  if (std::getenv("WEXO_UPDATE_GOLDEN")) std::ofstream(kGolden, std::ios::binary) << text;
  EXPECT_EQ(text, ReadAll(kGolden));
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ReportTest, WithoutSponsorTwoBlanksStandBeforeWith) {
  const std::string text = Report(*Fixture());
  EXPECT_NE(text.find("<h2>Created  with Wexo Link Tolvak 1.3.9 beta on January 04, 2025 at 14:13:20</h2><h2>Root"),
            std::string::npos);
  EXPECT_NE(text.find("<h2>This report has been created  with Wexo Link Tolvak 1.3.9 beta</h2>\r\n"
                      "Compile date: Jan  2 2025 03:04:05</body>\r\n</html>\r\n"),
            std::string::npos);
  ini.Set("Options", "SponsorName", "Sponsor");
  EXPECT_NE(Report(*Fixture()).find("<h2>Created by <b>Sponsor</b>  with "), std::string::npos);
}

TEST_F(ReportTest, WithoutTimeoutsNeitherSectionListsThem) {
  auto doc = Fixture();
  ChangeSettings(*doc, [](CheckSettings& s) { s.ReportTimeouts = 0; });
  const std::string text = Report(*doc);
  const std::string note = "(Timeouts are not reported, see [Options] ReportTimeouts in WEXO.INI)<br/>\r\n<pre>";
  EXPECT_NE(text.find("Broken links, ordered by link:</h2>\r\n" + note), std::string::npos);
  EXPECT_NE(text.find("Broken links, ordered by page:</h2>\r\n" + note), std::string::npos);
  const std::string broken = Section(text, "bylink") + Section(text, "bypage");
  EXPECT_EQ(broken.find("slow.html\" TARGET"), std::string::npos);
  EXPECT_EQ(broken.find("hung.html\" TARGET"), std::string::npos);
  EXPECT_EQ(broken.find("d.html\" TARGET"), std::string::npos) << "its only broken link timed out";
  const std::size_t byLink = text.find("</pre>11 broken link(s) reported");
  ASSERT_NE(byLink, std::string::npos);
  EXPECT_NE(text.find("</pre>11 broken link(s) reported", byLink + 1), std::string::npos);

  const std::string with = ReadAll(kGolden);
  EXPECT_EQ(with.find("(Timeouts are not reported"), std::string::npos);
  EXPECT_NE(with.find("http://site.test/d.html\" TARGET=_blank>http://site.test/d.html</a>\r\n\t<a href=\"http://"
                      "site.test/slow.html\""),
            std::string::npos);
}

TEST_F(ReportTest, EachSwitchRemovesItsSectionAndContentsLine) {
  const struct {
    std::int32_t CheckSettings::*option;
    const char* anchor;
  } cases[] = {{&CheckSettings::ReportBroken1, "bylink"},      {&CheckSettings::ReportBroken2, "bypage"},
               {&CheckSettings::ReportRedir, "redir"},         {&CheckSettings::ReportFtpGopher, "ftpgopher"},
               {&CheckSettings::ReportValid, "valid"},         {&CheckSettings::SiteMap, "sitemap"},
               {&CheckSettings::ReportBrokenLocal, "targets"}, {&CheckSettings::ReportStatistics, "stats"}};
  for (const auto& off : cases) {
    auto doc = Fixture();
    ChangeSettings(*doc, [&](CheckSettings& s) { s.*off.option = 0; });
    const std::string text = Report(*doc);
    for (const auto& other : cases) {
      const bool on = std::string_view(other.anchor) != off.anchor;
      const std::string anchor = other.anchor;
      EXPECT_EQ(text.find("<li><a href=\"#" + anchor + "\">") != std::string::npos, on) << off.anchor << " " << anchor;
      EXPECT_EQ(text.find("<a name=\"" + anchor + "\"></a>") != std::string::npos, on) << off.anchor << " " << anchor;
    }
    EXPECT_TRUE(text.ends_with("</body>\r\n</html>\r\n"));
  }
}

TEST_F(ReportTest, EmptyTableGivesAReportWithoutRootLine) {
  auto doc = NewDoc();
  const std::string text = Report(*doc);
  EXPECT_EQ(text.find("Root URL"), std::string::npos);
  EXPECT_NE(text.find("on January 04, 2025 at 14:13:20</h2><h3>Table of contents</h3>"), std::string::npos);
  EXPECT_NE(text.find("<tr><td>Total</td><td align=right>0 URLs</td><td align=right>100.00%</td><td align=right>0 "
                      "Bytes</td><td>(0 KB)</td><td align=right>100.00%</td></tr>\r\n</table>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("<pre>none found\r\n</pre>"), std::string::npos);
  EXPECT_NE(text.find("</pre>0 broken link(s) reported\r\n"), std::string::npos);
}

TEST_F(ReportTest, MimeTableEdgeCases) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200, "text/html", 0);
  doc->UpdateLink(*root, [&](CLinkInfo& r) { r.m_nDurationMs = 500; });
  doc->UpdateLink(*Page(*doc, "http://h/x", root, 200, "text/html", 0), [](CLinkInfo& r) { r.m_nDurationMs = 500; });
  Page(*doc, "http://h/y", root, 200, "text/plain", 0);
  const std::string text = Report(*doc);
  // An accumulator of exactly 1000 ms is not carried; 0 of 0 bytes is 0.00%.
  EXPECT_NE(text.find("<tr><td>text/html</td><td align=right>2 URLs</td><td align=right>66.67%</td><td "
                      "align=right>0 Bytes</td><td>(0 KB)</td><td align=right>0.00%</td>"),
            std::string::npos);
  EXPECT_NE(text.find("<td>0.000</td>\r\n</tr>"), std::string::npos);
  EXPECT_NE(text.find("(0 KB)</td><td></td>\r\n</tr>"), std::string::npos) << "no time for other types";
  EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST_F(ReportTest, DuplicateGroupsAreWrittenOnceAtTheirSecondRecord) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const struct {
    const char* url;
    std::uint8_t body;
    const char* title;
  } pages[] = {{"http://h/", 1, "T"},
               {"http://h/2", 2, "T"},
               {"http://h/3", 1, "T"},
               {"http://h/4", 1, "U"},
               {"http://h/5", 3, ""}};
  for (const auto& p : pages) {
    const CLinkInfo* link = Page(*doc, p.url, doc->GetLinkCount() ? doc->GetLink(0) : nullptr, 200);
    doc->UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_csTitle = p.title;
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(p.body));
    });
  }
  doc->UpdateLink(*Page(*doc, "http://h/no-digest", doc->GetLink(0), 200), [](CLinkInfo& r) { r.m_csTitle = "T"; });
  const std::string text = Report(*doc);
  // A page whose body repeats an earlier one starts no title group but is listed in one.
  EXPECT_NE(text.find("<pre>Duplicate title (T):\r\n<a href='http://h/'>http://h/</a>\r\n<a "
                      "href='http://h/2'>http://h/2</a>\r\n<a href='http://h/3'>http://h/3</a>\r\n\r\n"
                      "Duplicate content:\r\n<a href='http://h/'>http://h/</a>\r\n<a href='http://h/3'>http://h/3</a>"
                      "\r\n<a href='http://h/4'>http://h/4</a>\r\n\r\n</pre>"),
            std::string::npos)
      << text;
}

TEST_F(ReportTest, NumbersKeepDecimalPointsUnderAGermanLocale) {
  ini.Set("Options", "SponsorName", "Example & Co");
  ini.Set("Options", "SponsorLink", "http://example.test/");
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 is not installed";
  const std::string text = Report(*Fixture());
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(text, ReadAll(kGolden));
  EXPECT_NE(text.find("<td align=right>66.67%</td>"), std::string::npos);
  EXPECT_NE(text.find("<td>0.250</td>"), std::string::npos);
}

TEST_F(ReportTest, AFileThatCannotBeCreatedIsShownAndFails) {
  auto doc = Fixture();
  const std::string path = (dir / "no-such-folder" / "r.htm").string();
  EXPECT_FALSE(vCreateReport(*doc, path, kBuilt));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "Could not create file '" + path + "' for report, errno 2: No such file or directory");

  // A folder at the path, or a FIFO nobody reads, cannot be opened for the report either.
  const std::filesystem::path folder = dir / "folder.htm";
  std::filesystem::create_directories(folder / "keep");
  EXPECT_FALSE(vCreateReport(*doc, folder.string(), kBuilt));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1], "Could not create file '" + folder.string() + "' for report, errno 21: Is a directory");
  EXPECT_TRUE(std::filesystem::exists(folder / "keep"));
  const std::string fifo = (dir / "fifo.htm").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(vCreateReport(*doc, fifo, kBuilt));
  ASSERT_EQ(host.boxes.size(), 3u);
  EXPECT_EQ(host.boxes[2], "Could not create file '" + fifo + "' for report, errno 6: No such device or address");
}

TEST_F(ReportTest, EmptyRedirectListWritesTheFrameOnly) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  Page(*doc, "http://h/", nullptr, 200);
  const std::string text = Report(*doc);
  EXPECT_EQ(Section(text, "redir"),
            "<h2><a name=\"redir\"></a>List of redirected URLs</h2>\r\n<pre>\r\n</pre>\r\n<p class=\"noprint\"><b><a "
            "href=\"#top\">Return to Top</a></b></p>\r\n<hr>\r\n");
  EXPECT_EQ(text.find("ftpgopher"), std::string::npos) << "no ftp or gopher URL: neither line nor section";
  EXPECT_NE(text.find("<pre>\r\n</pre>0 bad local link(s) reported\r\n"), std::string::npos);
}

// A cycle of 2,000 redirects, each of its URLs linked from the root: every entry with its
// loop line, its first 20 chain lines and one line for the rest.
TEST_F(ReportTest, ALongRedirectCycleKeepsItsReportSmall) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200);
  constexpr int kCycle = 2000;
  const auto url = [](int i) { return "http://h/r" + std::to_string(i % kCycle); };
  for (int i = 0; i < kCycle; ++i) {
    Page(*doc, url(i), root, 301);
    doc->AddRedirect(url(i), url(i + 1), 301);
  }
  const std::string text = Report(*doc);
  EXPECT_LT(text.size(), 10'000'000u);
  const std::string redirects = Section(text, "redir");
  const auto count = [&redirects](const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = redirects.find(line, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count("<b>This URL is part of a redirection loop:</b>\r\n"), 2000u);
  EXPECT_EQ(count("\t... and 1981 more\r\n"), 2000u);
  std::string first =
      "<a href=\"http://h/r0\" TARGET=_blank>http://h/r0</a>\r\n"
      "redirected to: <a href=\"http://h/r1\" TARGET=_blank>http://h/r1</a>\r\n"
      "status code: 301 (object permanently moved)\r\n"
      "<b>This URL is part of a redirection loop:</b>\r\n";
  for (int i = 0; i < 20; ++i) first += "\t<a href=\"" + url(i) + "\" TARGET=_blank>" + url(i) + "</a>\r\n";
  first +=
      "\t... and 1981 more\r\n<b>The redirection target URL is broken!</b>\r\nlinked from page(s):\r\n\t<a "
      "href=\"http://h/\" TARGET=_blank>http://h/</a>\r\n\r\n";
  EXPECT_NE(redirects.find("<pre>" + first), std::string::npos) << redirects.substr(0, 3000);
}

// Titles and names as the pages showed them: character references decoded once (in the
// page's code page converted to UTF-8), then escaped; link texts keep their own escaping.
TEST_F(ReportTest, TitlesAndNamesShowTheirReferencesDecodedAndEscapedOnce) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200);
  const char* title = "Caf\xE9 &eacute; &lt;b&gt; &amp;amp; &#x263A; &bogus;";
  const char* shown = "Caf\xC3\xA9 \xC3\xA9 &lt;b&gt; &amp;amp; \xE2\x98\xBA &amp;bogus;";
  for (std::uint8_t body : {1, 2}) {
    const CLinkInfo* page = Page(*doc, "http://h/" + std::to_string(body), root, 200);
    doc->UpdateLink(*page, [&](CLinkInfo& r) {
      SetCharset(&r, "ISO-8859-1");
      r.m_csTitle = title;
      r.m_csDescription = "A &amp; B";
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(body));
      r.m_saAnchors = {"&lt;i&gt;", "&lt;i&gt;"};
      r.m_saFragments = {"&quot;x&#39;"};
    });
  }
  doc->UpdateLink(*Page(*doc, "http://h/gone", root, 404), [](CLinkInfo& r) { r.m_csTitle = "&lt;b&gt; &eacute;"; });
  const std::string text = Report(*doc);
  EXPECT_NE(Section(text, "sitemap").find("<li><a href=\"http://h/1\">" + std::string(shown) + "</a>\r\n"),
            std::string::npos)
      << Section(text, "sitemap");
  EXPECT_NE(text.find("Duplicate title (" + std::string(shown) + "):\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Duplicate description (A &amp; B):\r\n"), std::string::npos) << text;
  EXPECT_NE(Section(text, "targets")
                .find("<a href='http://h/1#&lt;i&gt;'>http://h/1#&lt;i&gt;</a> anchor occurs "
                      "multiple times\r\n<a href='http://h/1#&quot;x&#39;'>http://h/1#&quot;x&#39;"
                      "</a> not found\r\n"),
            std::string::npos)
      << Section(text, "targets");
  EXPECT_NE(Section(text, "bylink").find("link text: &amp;lt;b&amp;gt; &amp;eacute;\r\n"), std::string::npos)
      << Section(text, "bylink");
}

// Control bytes of link texts are no characters of an HTML page: they are written as escapes,
// as the bytes of 0x80 and above are.
TEST_F(ReportTest, LinkTextsKeepNoControlBytes) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200);
  static constexpr char kTitle[] =
      "a\0b\x01"
      "c\x1B[1m\td\r\ne\x7F\xE9";
  doc->UpdateLink(*Page(*doc, "http://h/gone", root, 404),
                  [](CLinkInfo& r) { r.m_csTitle = std::string(kTitle, sizeof kTitle - 1); });
  const std::string text = Report(*doc);
  const std::string escaped = "link text: a%00b%01c%1B[1m%09d%0D%0Ae%7F%E9\r\n";
  EXPECT_NE(Section(text, "bylink").find(escaped), std::string::npos) << Section(text, "bylink");
  EXPECT_NE(Section(text, "bypage").find("\t" + escaped), std::string::npos) << Section(text, "bypage");
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 || u == '\t' || u == '\r' || u == '\n') << static_cast<int>(u);
    EXPECT_NE(u, 0x7F);
  }
}

// Every link of every section opens the URL that was checked: its href is the stored URL, only
// escaped as markup, while its text shows the escapes decoded. Decoded, "%26" would split a
// query's value, "%3D" and "%2B" change it, and a blank at the end would be dropped.
TEST_F(ReportTest, HrefsAreTheStoredUrls) {
  const struct {
    std::string stored, href, text;
  } cases[] = {
      {"http://h/page?a=b%26c", "http://h/page?a=b%26c", "http://h/page?a=b&amp;c"},
      {"http://h/q?x=%3D%2B%3d%2b", "http://h/q?x=%3D%2B%3d%2b", "http://h/q?x==+=+"},
      {"http://h/end%20", "http://h/end%20", "http://h/end "},
      {"http://h/caf%C3%A9%7e", "http://h/caf%C3%A9%7e", "http://h/caf\xC3\xA9~"},
      {"http://h/%23%3F%2F%25%5C", "http://h/%23%3F%2F%25%5C", "http://h/#?/%\\"},
      {"http://h/x?q=\"a\"&b=1", "http://h/x?q=&quot;a&quot;&amp;b=1", "http://h/x?q=&quot;a&quot;&amp;b=1"},
  };
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200, "text/html", 10);
  std::set<std::string> stored{"http://h/"};
  std::uint8_t body = 0;
  for (const auto& c : cases) {
    const CLinkInfo* page = Page(*doc, c.stored, root, 200, "text/html", 10 + body);
    doc->UpdateLink(*page, [&](CLinkInfo& r) {
      r.m_csTitle = "same";
      r.m_pDigest = std::make_unique<Md5Digest>(Digest(++body));
      r.m_saAnchors = {"a", "a"};
      r.m_saFragments = {"f"};
    });
    const CLinkInfo* gone = Page(*doc, c.stored + "gone%20", page, 404);
    doc->AddReferrer(gone, root);
    doc->AddRedirect(c.stored + "gone%20", c.stored, 302);
    stored.insert({c.stored, c.stored + "gone%20"});
  }
  const std::string text = Report(*doc);

  for (const auto& c : cases) {
    EXPECT_NE(Section(text, "valid").find("<a href=\"" + c.href + "\" TARGET=_blank>" + c.text + "</a>\r\n"),
              std::string::npos)
        << c.stored << "\n"
        << Section(text, "valid");
    EXPECT_NE(Section(text, "sitemap").find("<li><a href=\"" + c.href + "\">same</a>"), std::string::npos) << c.stored;
    EXPECT_NE(Section(text, "redir").find("redirected to: <a href=\"" + c.href + "\" TARGET=_blank>" + c.text),
              std::string::npos)
        << c.stored;
  }
  // Whatever section a link stands in, its href names a stored URL (page-local links after
  // their '#').
  const std::regex href("href=(\"([^\"]*)\"|'([^']*)')");
  std::size_t links = 0;
  for (auto at = std::sregex_iterator(text.begin(), text.end(), href); at != std::sregex_iterator(); ++at) {
    std::string url = (*at)[2].matched ? (*at)[2].str() : (*at)[3].str();
    if (url.starts_with('#')) continue;  // the report's own anchors
    if ((*at)[3].matched) url = url.substr(0, url.find('#'));
    for (const auto& [entity, byte] :
         {std::pair{"&quot;", "\""}, std::pair{"&#39;", "'"}, std::pair{"&lt;", "<"}, std::pair{"&gt;", ">"}})
      for (std::size_t p; (p = url.find(entity)) != std::string::npos;) url.replace(p, std::strlen(entity), byte);
    for (std::size_t p = 0; (p = url.find("&amp;", p)) != std::string::npos; ++p) url.replace(p, 5, "&");
    EXPECT_TRUE(stored.contains(url)) << (*at)[0].str();
    ++links;
  }
  EXPECT_GT(links, 8 * std::size(cases)) << text;
}

// A fragment finds its name as a browser looks for it: as written, then percent-decoded and
// read as UTF-8.
TEST_F(ReportTest, FragmentsAreComparedPercentDecoded) {
  const struct {
    const char* charset;
    std::vector<std::string> anchors;
    const char* fragment;
    bool found;
  } cases[] = {
      {"", {"a b"}, "a%20b", true},
      {"", {"a%20b"}, "a%20b", true},  // as written first
      {"", {"a b"}, "a b", true},
      {"", {"a b"}, "a%2520b", false},  // decoded once only
      {"", {"a_b"}, "a%20b", false},
      {"UTF-8", {"caf\xC3\xA9"}, "caf%C3%A9", true},
      {"ISO-8859-1", {"caf\xE9"}, "caf%C3%A9", true},
      {"ISO-8859-1", {"caf\xE9"}, "caf\xE9", true},
      {"ISO-8859-1", {"cafe"}, "caf%C3%A9", false},
  };
  for (const auto& c : cases) {
    auto doc = NewDoc();
    doc->SetRootUrl("http://h/");
    const CLinkInfo* page = Page(*doc, "http://h/", nullptr, 200);
    doc->UpdateLink(*page, [&](CLinkInfo& r) {
      SetCharset(&r, c.charset);
      r.m_saAnchors = c.anchors;
      r.m_saFragments = {c.fragment};
    });
    const std::string section = Section(Report(*doc), "targets");
    EXPECT_EQ(section.find(" not found\r\n") == std::string::npos, c.found) << c.fragment << "\n" << section;
  }
}

TEST_F(ReportTest, SiteMapListsAPageOncePerReferrerEntryAndEndsAtTheDeepestLevel) {
  auto doc = NewDoc();
  doc->SetRootUrl("http://h/");
  const CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200);
  const CLinkInfo* child = Page(*doc, "http://h/c", root, 200);
  doc->UpdateLink(*child, [&](CLinkInfo& r) {
    r.m_csTitle = "C";
    r.m_dwaReferrers.push_back(0);  // as a document file may hold it
  });
  doc->AddReferrer(root, child);
  EXPECT_NE(
      Report(*doc).find("<a href=\"http://h/\">http://h/</a>\r\n<ul>\r\n"
                        "<li><a href=\"http://h/c\">C</a>\r\n</li>\r\n<li><a href=\"http://h/c\">C</a>\r\n</li>\r\n"
                        "</ul>\r\n\r\n\r\n<p class"),
      std::string::npos);
  // A page at the deepest level: the level below it is beyond every record's depth.
  doc->UpdateLink(*root, [](CLinkInfo& r) {
    r.m_csTitle = "R";
    r.m_nLevel = 32767;
  });
  doc->UpdateLink(*child, [](CLinkInfo& r) { r.m_nLevel = 32767; });
  EXPECT_NE(Report(*doc).find("<a href=\"http://h/\">R</a>\r\n\r\n\r\n<p class"), std::string::npos);
}

// An abort during the site map: every opened list is closed, the report goes on, and another
// document's result handed over meanwhile waits until the pass is over.
TEST_F(ReportTest, AbortedSiteMapClosesItsListsAndHoldsOtherDocuments) {
  std::vector<FetchRequest> started;
  auto other = std::make_unique<CWexoDoc>(host.Context([&started](FetchRequest&& r) {
    started.push_back(std::move(r));
    return true;
  }));
  ScriptedView view;
  view.Attach(*other);
  other->SetRootUrl("http://o/");
  other->NewLink("http://o/", nullptr, REQUEST_GET);
  other->MarkRunning();
  other->ScheduleFetches();
  ASSERT_EQ(started.size(), 1u);

  bool heldDuringPass = false;
  host.abortAfterPumps = 1;  // the pass pumps at its first step
  host.onPump = [&] {
    if (host.pumps != 1) return;
    FetchResult result;
    result.pLink = started[0].pLink;
    result.csUrl = started[0].url;
    result.outcome = std::make_unique<FetchOutcome>();
    result.outcome->status = 200;
    other->OnUrlDone(result);
    other->ProcessFinishedFetches();
    other->ScheduleFetches();
    heldDuringPass = other->WaitingResultCount() == 1 && !other->IsFinished() && host.boxes.empty();
  };
  const std::string text = Report(*Fixture());
  EXPECT_GE(host.pumps, 1);
  EXPECT_EQ(host.openAbortBoxes, 0);
  EXPECT_EQ(host.abortBoxTexts, std::vector<std::string>{"caption: Creating sitemap..."});
  EXPECT_NE(text.find("<a href=\"http://site.test/\">http://site.test/</a>\r\n"
                      "<ul>\r\n<li><a href=\"http://site.test/a.html\">a&lt;b &amp; 'c' \xC3\xA9</a>\r\n"
                      "<ul>\r\n<li><a href=\"http://site.test/copy.html\">Copy</a>\r\n"
                      "<ul>\r\n<li><a href=\"http://site.test/deep.html\">Deep &lt;one&gt;</a>\r\n</li>\r\n</ul>\r\n"
                      "</li>\r\n</ul>\r\n</li>\r\n</ul>\r\n"
                      "\r\n<font size=\"+2\">Sitemap creation aborted!</font>\r\n\r\n\r\n\r\n<p class=\"noprint\">"),
            std::string::npos)
      << Section(text, "sitemap");
  EXPECT_NE(text.find("<h2><a name=\"targets\"></a>"), std::string::npos) << "the report goes on";
  EXPECT_TRUE(text.ends_with("</html>\r\n"));

  EXPECT_TRUE(heldDuringPass);
  EXPECT_FALSE(host.app.InLongPass());
  other->ProcessFinishedFetches();
  EXPECT_EQ(other->WaitingResultCount(), 0u);
  other->ScheduleFetches();
  EXPECT_TRUE(other->IsFinished());
  EXPECT_EQ(host.boxes, std::vector<std::string>{"Link tolvak finished. Do you want a report?"});
}

TEST_F(ReportTest, SiteMapStopsAtTheStepThatReadsAborted) {
  auto doc = Fixture();
  const std::string path = (dir / "map.htm").string();
  platform::TextFileWriter out;
  ASSERT_TRUE(out.Open(path));
  host.abortAfterPumps = 3;
  auto box = host.CreateAbortBox("Creating sitemap...");
  WriteSiteMap(*doc, *doc->GetLink(0), out, 1, *box, std::chrono::milliseconds(0));
  ASSERT_TRUE(out.Close());
  EXPECT_TRUE(box->IsAborted());
  EXPECT_EQ(ReadAll(path),
            "<ul>\r\n<li><a href=\"http://site.test/a.html\">a&lt;b &amp; 'c' \xC3\xA9</a>\r\n"
            "<ul>\r\n<li><a href=\"http://site.test/copy.html\">Copy</a>\r\n"
            "<ul>\r\n<li><a href=\"http://site.test/deep.html\">Deep &lt;one&gt;</a>\r\n</li>\r\n</ul>\r\n"
            "</li>\r\n<li><a href=\"http://site.test/doc.pdf\">A document</a>\r\n</li>\r\n</ul>\r\n"
            "</li>\r\n</ul>\r\n");
}

TEST(RedirectLoopCheck, ChainsAndLoops) {
  const struct {
    std::vector<std::pair<std::string, std::string>> redirects;
    std::size_t entry;
    std::vector<std::string> chain;
    bool loop;
  } cases[] = {
      {{{"x", "x"}}, 0, {"x", "x"}, true},
      {{{"x", "y"}, {"y", "z"}, {"z", "y"}}, 0, {"x", "y", "z", "y"}, true},
      {{{"x", "y"}, {"y", "z"}, {"z", "y"}}, 2, {"z", "y", "z"}, true},
      {{{"a", "b"}, {"b", "c"}}, 0, {"a", "b", "c"}, false},
      {{{"u", "v"}, {"u", "t"}, {"t", "u"}}, 1, {"u", "t", "u"}, true},   // back to its source
      {{{"q", "a"}, {"a", "b"}, {"a", "q"}}, 0, {"q", "a", "b"}, false},  // the first entry of a counts
      {{{"A", "a"}}, 0, {"A", "a"}, false},                               // exact comparison
  };
  ScriptedHost host;
  for (const auto& c : cases) {
    CWexoDoc doc(host.Context());
    for (const auto& [from, to] : c.redirects) doc.AddRedirect(from, to, 301);
    RedirectLoopCheck check(doc);
    const RedirectChain& chain = check(c.entry);
    std::vector<std::string> urls;
    for (const std::string* url : chain.urls) urls.push_back(*url);
    EXPECT_EQ(urls, c.chain) << c.chain.front();
    EXPECT_EQ(chain.length, c.chain.size()) << c.chain.front();
    EXPECT_EQ(chain.loop, c.loop) << c.chain.front();
  }
}

// Every chain of random redirect lists over a few URLs, as walking it step by step gives it.
TEST(RedirectLoopCheck, AgreesWithWalkingEveryChain) {
  std::mt19937 random(37);
  ScriptedHost host;
  for (int round = 0; round < 2000; ++round) {
    const unsigned urls = 1 + random() % 7, entries = 1 + random() % 10;
    CWexoDoc doc(host.Context());
    for (unsigned e = 0; e < entries; ++e)
      doc.AddRedirect("u" + std::to_string(random() % urls), "u" + std::to_string(random() % urls), 301);
    const std::vector<std::string>& sources = doc.GetRedirectSources();
    const std::vector<std::string>& targets = doc.GetRedirectTargets();
    RedirectLoopCheck check(doc);
    for (std::size_t e = 0; e < entries; ++e) {
      std::vector<std::string> walked{sources[e], targets[e]};
      bool loop = sources[e] == targets[e];
      while (!loop) {
        const auto next = std::find(sources.begin(), sources.end(), walked.back());
        if (next == sources.end()) break;
        const std::string& target = targets[next - sources.begin()];
        loop = std::find(walked.begin(), walked.end(), target) != walked.end();
        walked.push_back(target);
      }
      std::string lists;
      for (unsigned k = 0; k < entries; ++k) lists += sources[k] + ">" + targets[k] + " ";
      const RedirectChain& chain = check(e);
      std::vector<std::string> got;
      for (const std::string* url : chain.urls) got.push_back(*url);
      EXPECT_EQ(got, walked) << lists << "entry " << e;
      EXPECT_EQ(chain.length, walked.size()) << lists << "entry " << e;
      EXPECT_EQ(chain.loop, loop) << lists << "entry " << e;
      const RedirectChain& cut = check(e, 3);
      EXPECT_EQ(cut.urls.size(), std::min<std::size_t>(3, walked.size()));
      EXPECT_EQ(cut.length, walked.size());
    }
  }
}

TEST(ReportHelpers, CompareUrlsFoldsAsciiOnly) {
  EXPECT_EQ(CompareUrls("http://h/A", "http://h/a"), 0);
  EXPECT_LT(CompareUrls("http://h/_", "http://h/Z"), 0) << "letters fold to lower case before comparing";
  EXPECT_LT(CompareUrls("http://h/a", "http://h/ab"), 0);
  EXPECT_NE(CompareUrls("http://h/\xC3\x89", "http://h/\xC3\xA9"), 0) << "no case folding beyond ASCII";
}

TEST(ReportHelpers, BrokenStatuses) {
  const struct {
    std::int16_t status;
    bool with, without;
  } cases[] = {{0, false, false},    {-1, false, false},   {200, false, false}, {404, true, true},
               {12002, true, false}, {12017, true, false}, {301, true, true},   {12007, true, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsReportedBroken(c.status, true), c.with) << c.status;
    EXPECT_EQ(IsReportedBroken(c.status, false), c.without) << c.status;
  }
}

TEST(AppendHtmlText, EscapesMarkupAndKeepsTheTextValidUtf8) {
  const struct {
    const char* in;
    HtmlQuote quote;
    const char* out;
  } cases[] = {
      {"a<b & 'c' \"d\">", HtmlQuote::None, "a&lt;b &amp; 'c' &quot;d&quot;&gt;"},
      {"it's", HtmlQuote::Single, "it&#39;s"},
      {"it's", HtmlQuote::Double, "it's"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", HtmlQuote::None, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"caf\xE9", HtmlQuote::None, "caf%E9"},
      {"\xC0\xAF", HtmlQuote::None, "%C0%AF"},                // overlong '/'
      {"\xED\xA0\x80", HtmlQuote::None, "%ED%A0%80"},         // a surrogate
      {"\xF4\x90\x80\x80", HtmlQuote::None, "%F4%90%80%80"},  // beyond U+10FFFF
      {"\xE2\x82", HtmlQuote::None, "%E2%82"},                // cut short
      {"a\tb\nc\x7F", HtmlQuote::Double, "a%09b%0Ac%7F"},
      {"\xC2\x85", HtmlQuote::None, "%C2%85"},  // a C1 control
      {"\xC2\xA0", HtmlQuote::None, "\xC2\xA0"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    AppendHtmlText(out, c.in, c.quote);
    EXPECT_EQ(out, std::string("x") + c.out) << c.in;
  }
}

// One escaper serves every output; each output's rule set keeps its own rules. The same text
// goes through each: markup characters, the apostrophe, a blank, a tab, DEL, valid UTF-8, a C1
// control in UTF-8, a byte that is no UTF-8, and an entity that must not be read again.
TEST(AppendHtmlEscaped, EachOutputKeepsItsRules) {
  const std::string in = "a&<>\"' \t\x7F\xC3\xA9\xC2\x85\xE9&amp;";
  const struct {
    const char* name;
    const HtmlEscapeRules& rules;
    std::string out;
  } cases[] = {
      {"EscapeHtml", kEscapeHtmlRules, "a&amp;&lt;&gt;&quot;&apos; %09%7F%C3%A9%C2%85%E9&amp;amp;"},
      {"sitemap loc", kSitemapLocRules, "a&amp;&lt;&gt;&quot;&apos;%20%09%7F%C3%A9%C2%85%E9&amp;amp;"},
      {"report text", kHtmlTextRules, "a&amp;&lt;&gt;&quot;' %09%7F\xC3\xA9%C2%85%E9&amp;amp;"},
      {"report single-quoted", kHtmlSingleQuotedRules, "a&amp;&lt;&gt;&quot;&#39; %09%7F\xC3\xA9%C2%85%E9&amp;amp;"},
      {"folder listing", kFolderListingRules, "a&amp;&lt;&gt;&quot;' \t\x7F\xC3\xA9\xC2\x85\xE9&amp;amp;"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    AppendHtmlEscaped(out, in, c.rules);
    EXPECT_EQ(out, "x" + c.out) << c.name;
  }
  std::string inPlace = in;
  EscapeHtml(inPlace);
  EXPECT_EQ(inPlace, cases[0].out);
  for (const auto& [quote, rules] :
       {std::pair{HtmlQuote::None, &kHtmlTextRules}, std::pair{HtmlQuote::Double, &kHtmlTextRules},
        std::pair{HtmlQuote::Single, &kHtmlSingleQuotedRules}}) {
    std::string text, escaped;
    AppendHtmlText(text, in, quote);
    AppendHtmlEscaped(escaped, in, *rules);
    EXPECT_EQ(text, escaped) << static_cast<int>(quote);
  }
}

}  // namespace
