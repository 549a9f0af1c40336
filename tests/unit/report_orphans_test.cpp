// The report's orphan section over local folders made by the test: what is linked and what
// is not, names that need escapes, skipped and looping folders, the messages, and the runs
// that list nothing (abort, Cancel in the FTP dialog, an http root in a batch run).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/WexoDoc.h"
#include "platform/FileUrl.h"
#include "report/Report.h"
#include "unit/support/ScriptedHost.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kHeading =
    "<h2><a name=\"orphans\"></a>Orphan files:</h2>\n"
    "<p>Note: Links that aren't spidered (e.g. webforms and dynamically generated links) will appear as orphans in "
    "this list.</p><pre>";
constexpr const char* kAborted =
    "\n</pre><font size=\"+2\">Orphan search aborted!</font>\n<br>\n<br>\n0 orphan(s) reported (0.0 KB)\n\n\n";
constexpr const char* kEnd = "\n<p class=\"noprint\"><b><a href=\"#top\">Return to Top</a></b></p>\n<hr>\n";

void Write(const fs::path& path, std::size_t size) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

class OrphanTest : public ::testing::Test {
 protected:
  OrphanTest() {
    dir = fs::temp_directory_path() / ("wexo-orphans-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    site = (dir / "site").string() + "/";
    fs::create_directories(site);
    root = platform::FileUrlFromPath(site);
    for (const char* section : {"ReportBroken1", "ReportBroken2", "ReportRedir", "ReportFtpGopher", "ReportValid",
                                "SiteMap", "ReportBrokenLocal", "ReportStatistics"})
      ini.Set("Options", section, "0");
  }
  ~OrphanTest() override { fs::remove_all(dir); }

  std::unique_ptr<CWexoDoc> NewDoc(const std::string& rootUrl) {
    auto doc = std::make_unique<CWexoDoc>(host.Context());
    doc->SetRootUrl(rootUrl);
    return doc;
  }
  static void Add(CWexoDoc& doc, const std::string& url, std::int16_t status = 200) {
    doc.SetStatus(doc.NewLink(url, nullptr, REQUEST_GET), status);
  }

  // The orphan section of the document's report, line ends as LF.
  std::string Section(const CWexoDoc& doc) {
    const std::string path = (dir / "report.htm").string();
    EXPECT_TRUE(vCreateReport(doc, path));
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    std::erase(text, '\r');
    const std::size_t start = text.find("<h2><a name=\"orphans\">");
    if (start == std::string::npos) return text;
    return text.substr(start, text.find("<hr>\n", start) + 5 - start);
  }

  TempIni ini;
  ScriptedHost host;
  fs::path dir;
  std::string site;  // the site's folder, ending in '/'
  std::string root;  // its URL
};

TEST_F(OrphanTest, ListsWhatNoCorrectLinkReachesWithSizesInByteOrder) {
  for (const char* linked : {"a.html", "a b.html", "100%.html", "x#y.html", "case.html", "Upper.html", "sub/d.html"})
    Write(site + linked, 10);
  Write(site + "b.html", 2048);
  Write(site + "Case.html", 1024);
  Write(site + "<i>.html", 0);
  Write(site + ".svn/entries.html", 100);
  Write(site + "sub/c.html", 512);
  fs::create_directory_symlink(site, site + "sub/loop");
  fs::create_directories(site + "empty");

  auto doc = NewDoc(root);
  for (const char* url : {"", "a.html", "a%20b.html", "100%25.html", "x%23y.html", "case.html", "upper.html",
                          "sub/d.html", "gone/x.html"})
    Add(*doc, root + url);
  Add(*doc, root + "b.html", 404);
  Add(*doc, "http://elsewhere.test/Case.html");

  const std::string expected = std::string(kHeading) + "local directory '" + site +
                               "gone/' invalid\nlocal directory '" + site + "empty/' is empty\n\n" +  //
                               "<a href=\"" + root + "&lt;i&gt;.html\">file://" + site +
                               "&lt;i&gt;.html</a> (0.0 KB)\n" +                                                    //
                               "<a href=\"" + root + "Case.html\">file://" + site + "Case.html</a> (1.0 KB)\n" +    //
                               "<a href=\"" + root + "b.html\">file://" + site + "b.html</a> (2.0 KB)\n" +          //
                               "<a href=\"" + root + "sub/c.html\">file://" + site + "sub/c.html</a> (0.5 KB)\n" +  //
                               "\n</pre>4 orphan(s) reported (3.5 KB)\n\n\n" + kEnd;
  EXPECT_EQ(Section(*doc), expected);
  EXPECT_EQ(host.ftpDialogs, 0) << "a local site is never listed over FTP";
  EXPECT_EQ(host.openAbortBoxes, 0);
  ASSERT_FALSE(host.abortBoxTexts.empty());
  EXPECT_EQ(host.abortBoxTexts.front(), "caption: Searching Orphans...");
  EXPECT_NE(std::find(host.abortBoxTexts.begin(), host.abortBoxTexts.end(), "top: sub/"), host.abortBoxTexts.end())
      << "the box shows the folder below the root";
}

TEST_F(OrphanTest, AnAbortOrCancelListsNothing) {
  Write(site + "a.html", 10);
  Write(site + "b.html", 10);
  const std::string aborted = std::string(kHeading) + kAborted + kEnd;
  {
    auto doc = NewDoc(root);
    Add(*doc, root + "a.html");
    host.abortAfterPumps = 1;
    EXPECT_EQ(Section(*doc), aborted) << "abort pressed at the first step";
    host.abortAfterPumps = -1;
  }
  {
    auto doc = NewDoc("http://site.test/");
    doc->SetIncludes({root});
    Add(*doc, "http://site.test/");
    Add(*doc, root + "a.html");
    EXPECT_EQ(Section(*doc), aborted) << "Cancel in the FTP dialog";
    EXPECT_EQ(host.ftpDialogs, 1);
  }
}

TEST_F(OrphanTest, AnHttpRootInABatchRunAsksNothingAndStillListsLinkedLocalFolders) {
  Write(site + "a.html", 10);
  Write(site + "b.html", 1536);
  auto doc = NewDoc("http://site.test/");
  doc->SetBatch(true);
  doc->SetIncludes({root});
  Add(*doc, "http://site.test/");
  Add(*doc, "http://site.test/page.html");
  Add(*doc, root + "a.html");
  EXPECT_EQ(Section(*doc), std::string(kHeading) + "<a href=\"" + root + "b.html\">file://" + site +
                               "b.html</a> (1.5 KB)\n\n</pre>1 orphan(s) reported (1.5 KB)\n\n\n" + kEnd);
  EXPECT_EQ(host.ftpDialogs, 0);
}

}  // namespace
