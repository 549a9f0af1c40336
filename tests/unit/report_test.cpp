// The HTML report: the whole text of a fixture check compared byte for byte, then the
// switches, the edge cases and the escaping of crawled text.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/Charset.h"
#include "engine/WexoDoc.h"
#include "report/HtmlEscape.h"
#include "report/Report.h"
#include "unit/support/ScriptedHost.h"

namespace {

constexpr std::int64_t kPinnedTime = 1736000000;  // January 04, 2025 at 14:13:20 UTC
const BuildStamp kBuilt{"Jan  2 2025", "03:04:05"};
const std::string kGolden = std::string(WEXO_SOURCE_DIR) + "/tests/fixtures/report/golden.htm";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
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

  CLinkInfo* Page(CWexoDoc& doc, const std::string& url, CLinkInfo* parent, std::int16_t status,
                  const std::string& type = "text/html", std::int64_t size = 0) {
    CLinkInfo* link = doc.NewLink(url, parent, REQUEST_GET);
    doc.SetStatus(link, status);
    link->m_csMimeType = type;
    link->m_nSize = size;
    return link;
  }

  // A small check with a bit of everything the report shows.
  std::unique_ptr<CWexoDoc> Fixture() {
    auto doc = NewDoc();
    doc->SetRootUrl("http://site.test/");
    doc->Includes() = {"http://site.test/", "http://site.test/old/", "http://nowhere.test/"};
    doc->Excludes() = {"http://site.test/private/"};
    CLinkInfo* root = Page(*doc, "http://site.test/", nullptr, 200, "text/html", 1000);
    root->m_csTitle = "Home";
    root->m_nDurationMs = 600;
    root->m_pDigest = std::make_unique<Md5Digest>(Digest(1));
    CLinkInfo* old = Page(*doc, "http://site.test/old/", nullptr, 404, "");
    old->m_csTitle = "";
    CLinkInfo* a = Page(*doc, "http://site.test/a.html", root, 200, "text/html", 3000);
    a->m_csTitle = "a<b & 'c' \xE9";
    a->m_csDescription = "Same description";
    a->m_nDurationMs = 600;
    a->m_pDigest = std::make_unique<Md5Digest>(Digest(2));
    SetCharset(a, "ISO-8859-1");
    CLinkInfo* b = Page(*doc, "http://site.test/b.html", root, 200, "text/html", 2000);
    b->m_csTitle = a->m_csTitle;
    b->m_csDescription = "Same description";
    b->m_tsDuration = 1;
    b->m_pDigest = std::make_unique<Md5Digest>(Digest(3));
    SetCharset(b, "ISO-8859-1");
    CLinkInfo* copy = Page(*doc, "http://site.test/copy.html", a, 200, "text/html", 1000);
    copy->m_csTitle = "Copy";
    copy->m_pDigest = std::make_unique<Md5Digest>(Digest(1));
    CLinkInfo* d = Page(*doc, "http://site.test/d.html", root, 200, "text/html", 10);
    d->m_csTitle = "Only a slow link";
    Page(*doc, "http://site.test/style.css", root, 200, "text/css", 700);
    Page(*doc, "http://site.test/logo.png", root, 200, "image/png", 0);
    CLinkInfo* upper = Page(*doc, "http://site.test/Missing.html", root, 404, "");
    upper->m_csTitle = "Missing <page> & 'x' \xE9";
    doc->AddReferrer(upper, a);
    doc->AddReferrer(upper, b);
    CLinkInfo* lower = Page(*doc, "http://site.test/missing.html", a, 410, "");
    lower->m_csTitle = "lower";
    Page(*doc, "http://site.test/slow.html", root, 12002, "");
    doc->AddReferrer(doc->FindLink("http://site.test/slow.html"), d);
    Page(*doc, "http://site.test/hung.html", b, 12017, "");
    Page(*doc, "", root, 404, "");
    Page(*doc, "http://site.test/caf%E9.html", a, 404, "");
    Page(*doc, "http://site.test/%C3%A9t%C3%A9.html?q=%22x%22", a, 404, "");
    Page(*doc, "http://other.test/", root, 200, "text/html", 5);
    Page(*doc, "http://site.test/private/a", root, STATUS_USER_SKIP, "");
    Page(*doc, "http://site.test/private/b", root, STATUS_USER_SKIP, "");
    return doc;
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
  doc->MutableSettings().ReportTimeouts = 0;
  const std::string text = Report(*doc);
  const std::string note = "(Timeouts are not reported, see [Options] ReportTimeouts in WEXO.INI)<br/>\r\n<pre>";
  EXPECT_NE(text.find("Broken links, ordered by link:</h2>\r\n" + note), std::string::npos);
  EXPECT_NE(text.find("Broken links, ordered by page:</h2>\r\n" + note), std::string::npos);
  EXPECT_EQ(text.find("slow.html\" TARGET"), std::string::npos);
  EXPECT_EQ(text.find("hung.html\" TARGET"), std::string::npos);
  EXPECT_EQ(text.find("d.html\" TARGET"), std::string::npos) << "its only broken link timed out";
  const std::size_t byLink = text.find("</pre>7 broken link(s) reported");
  ASSERT_NE(byLink, std::string::npos);
  EXPECT_NE(text.find("</pre>7 broken link(s) reported", byLink + 1), std::string::npos);

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
  } cases[] = {{&CheckSettings::ReportBroken1, "bylink"},
               {&CheckSettings::ReportBroken2, "bypage"},
               {&CheckSettings::ReportStatistics, "stats"}};
  for (const auto& off : cases) {
    auto doc = Fixture();
    doc->MutableSettings().*off.option = 0;
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
  CLinkInfo* root = Page(*doc, "http://h/", nullptr, 200, "text/html", 0);
  root->m_nDurationMs = 500;
  Page(*doc, "http://h/x", root, 200, "text/html", 0)->m_nDurationMs = 500;
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
    CLinkInfo* link = Page(*doc, p.url, doc->GetLinkCount() ? doc->GetLink(0) : nullptr, 200);
    link->m_csTitle = p.title;
    link->m_pDigest = std::make_unique<Md5Digest>(Digest(p.body));
  }
  Page(*doc, "http://h/no-digest", doc->GetLink(0), 200)->m_csTitle = "T";
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
  EXPECT_NE(text.find("<td align=right>71.43%</td>"), std::string::npos);
  EXPECT_NE(text.find("<td>0.400</td>"), std::string::npos);
}

TEST_F(ReportTest, AFileThatCannotBeCreatedIsShownAndFails) {
  auto doc = Fixture();
  const std::string path = (dir / "no-such-folder" / "r.htm").string();
  EXPECT_FALSE(vCreateReport(*doc, path, kBuilt));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "Could not create file '" + path + "' for report, errno 2: No such file or directory");
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

}  // namespace
