// The fetch worker's local-file handler in a temporary tree, and the schemes it skips.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/support/FetchHarness.h"
#include "platform/FileUrl.h"

using namespace wexo_test;

namespace {

class FetchLocalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UsePrivateTempDir(); }

  void SetUp() override {
    char pattern[] = "/tmp/wexo-local-tree-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(realpath(pattern, real), nullptr);
    root_ = real;
    Write("index.html", "<html><body>index</body></html>\n");
    Write("empty.html", "");
    Write("data.bin", "0123456789");
    Write("lib.jar", "PK fake archive");
    Write("a%41.html", "<html>percent</html>");
    Write(kOdd, "<html>odd</html>");
    Mkdir("sub");
    Write("sub/page.html", "<html>sub</html>");
    ASSERT_EQ(symlink("..", (root_ + "/sub/up").c_str()), 0);
    Mkdir("x.jar");
    ASSERT_EQ(symlink("index.html", (root_ + "/link.html").c_str()), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(TempFolderFiles().empty()) << "the worker left a file in the temporary folder";
    const std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(root_ + "/" + name, std::ios::binary) << bytes;
  }
  void Mkdir(const std::string& name) { ASSERT_EQ(mkdir((root_ + "/" + name).c_str(), 0755), 0); }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  std::string Url(const std::string& name) const { return platform::FileUrlFromPath(Path(name)); }

  FetchSettings Settings(bool listings) const {
    FetchSettings s = DefaultFetchSettings();
    s.ListLocalDirectories = listings;
    return s;
  }

  // One fetch of url as a record with the given type; a temporary body is read and removed.
  FetchRun Fetch(const std::string& url, std::uint16_t kind, const FetchSettings& settings, const std::string& mimeType,
                 std::string* listing = nullptr, const std::string& rootUrl = std::string()) {
    CLinkInfo link;
    FetchRequest request = MakeFetchRequest(link, nullptr, url, kind);
    request.settings = settings;
    request.mimeType = mimeType;
    request.rootUrl = rootUrl.empty() ? platform::FileUrlFromPath(root_ + "/") : rootUrl;
    FetchRun run = RunFetch(link, std::move(request));
    EXPECT_EQ(run.handOvers, 1);
    EXPECT_EQ(link.m_hInternet.load(), 0u);
    if (!run.result.csBodyFile.empty() && run.result.bBodyIsTemp) {
      if (listing) *listing = ReadWholeFile(run.result.csBodyFile);
      std::remove(run.result.csBodyFile.c_str());
    }
    return run;
  }

  static constexpr const char* kOdd = "odd #%&\"<?name .html";
  std::string root_;
};

TEST_F(FetchLocalTest, FileTest) {
  struct Case {
    std::string name;  // as the URL writes it
    std::uint16_t kind;
    std::string mime;
    bool listings;
    int status;
    std::string text;
    bool handedOn;  // the file itself goes to the parser
  } cases[] = {
      {"missing.html", REQUEST_GET, "text/html", false, 2,
       "could not check file " + Path("missing.html") + ": No such file or directory", false},
      {"empty.html", REQUEST_GET, "text/html", false, 204, "file has zero length", false},
      {"index.html", REQUEST_GET, "text/html", false, 200, "", true},
      {"index.html", REQUEST_HEAD, "text/html", false, 200, "", false},
      {"link.html", REQUEST_GET, "text/html", false, 200, "", true},
      {"data.bin", REQUEST_GET, "application/octet-stream", false, 200, "", false},
      {"lib.jar", REQUEST_GET, "application/java-archive", false, 200, "", true},
      {"a%2541.html", REQUEST_GET, "text/html", false, 200, "", true},
      {"sub", REQUEST_GET, "", false, 204, "file has zero length", false},
      {"x.jar", REQUEST_GET, "", false, 204, "file has zero length", false},
      {"x.jar", REQUEST_GET, "", true, 200, "", false},
  };
  for (const Case& c : cases) {
    const std::string url = platform::FileUrlFromPath(root_) + "/" + c.name;
    SCOPED_TRACE(url);
    std::string listing;
    FetchRun run = Fetch(url, c.kind, Settings(c.listings), c.mime, &listing);
    const FetchOutcome& o = run.Out();
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.statusText, c.text);
    const std::string decoded = platform::DecodeFileObject(Path(c.name));
    if (c.handedOn) {
      EXPECT_EQ(run.result.csBodyFile, decoded);
      EXPECT_FALSE(run.result.bBodyIsTemp);
    } else if (!c.listings) {
      EXPECT_TRUE(run.result.csBodyFile.empty());
    }
    if (c.status == 200 && !c.listings) {
      struct stat st;
      ASSERT_EQ(stat(decoded.c_str(), &st), 0);
      EXPECT_TRUE(o.setSize);
      EXPECT_EQ(o.size, st.st_size);
      EXPECT_EQ(o.dateKnown, 1);
      EXPECT_EQ(o.date, st.st_mtime);
    }
  }
}

TEST_F(FetchLocalTest, FolderListing) {
  std::string listing;
  const std::string url = Url("sub");
  FetchRun run = Fetch(url, REQUEST_GET, Settings(true), "", &listing);
  const FetchOutcome& o = run.Out();
  EXPECT_EQ(o.status, 200);
  EXPECT_EQ(o.statusText, "");
  EXPECT_TRUE(run.result.bBodyIsTemp);
  EXPECT_EQ(o.mimeType, "text/html");
  EXPECT_EQ(o.dateKnown, 0);
  EXPECT_EQ(o.size, static_cast<std::int64_t>(listing.size()));
  const std::string expected =
      "<html>\r\n<head>\r\n<title>Directory " + Path("sub") +
      "</title>\r\n</head>\r\n<META http-equiv=Content-Type content=\"text/html; charset=utf-8\">\r\n"
      "<body>\r\n<base href=\"" +
      url +
      "/\">\r\n"
      "<a href=\"./\">.</a><p>\r\n"
      "<a href=\"../\">..</a><p>\r\n"
      "<a href=\"page.html\">page.html</a><p>\r\n"
      // a link to an ancestor points at the real folder: no endless chain of URLs
      "<a href=\"" +
      platform::FileUrlFromPath(root_ + "/") +
      "\">up</a><p>\r\n"
      "</body></html>\r\n";
  EXPECT_EQ(listing, expected);

  // A HEAD for a folder, and a folder with listings off.
  run = Fetch(url, REQUEST_HEAD, Settings(true), "");
  EXPECT_EQ(run.Out().status, 200);
  EXPECT_EQ(run.Out().size, 1);
  EXPECT_EQ(run.Out().mimeType, "text/html");
  EXPECT_TRUE(run.result.csBodyFile.empty());
  run = Fetch(url, REQUEST_GET, Settings(false), "");
  EXPECT_EQ(run.Out().status, 204);
  EXPECT_EQ(run.Out().statusText, "file has zero length");
}

TEST_F(FetchLocalTest, ListingEntriesLinkToThemselves) {
  std::string listing;
  FetchRun run = Fetch(platform::FileUrlFromPath(root_ + "/"), REQUEST_GET, Settings(true), "", &listing);
  ASSERT_EQ(run.Out().status, 200);
  EXPECT_EQ(listing.find("<base"), std::string::npos) << "a path ending in '/' needs no base";
  const std::string odd =
      "<a href=\"odd%20%23%25%26%22%3C%3Fname%20.html\">odd #%&amp;&quot;&lt;?name .html</a><p>\r\n";
  EXPECT_NE(listing.find(odd), std::string::npos) << listing;
  // Fixed order: "." and ".." first, then by name.
  const char* order[] = {"\">.</a>",          "\">..</a>",         "\">a%41.html</a>", "\">data.bin</a>",
                         "\">empty.html</a>", "\">index.html</a>", "\">lib.jar</a>",   "\">link.html</a>",
                         "\">odd ",           "\">sub</a>",        "\">x.jar</a>"};
  std::size_t at = 0;
  for (const char* item : order) {
    const std::size_t next = listing.find(item, at);
    EXPECT_NE(next, std::string::npos) << item;
    if (next != std::string::npos) at = next;
  }
  EXPECT_NE(listing.find("<a href=\"sub/\">sub</a>"), std::string::npos);
  EXPECT_NE(listing.find("<a href=\"a%2541.html\">a%41.html</a>"), std::string::npos);

  // Each escaped name, appended to the folder's URL, names its file again.
  for (const std::string& href : {std::string("odd%20%23%25%26%22%3C%3Fname%20.html"), std::string("a%2541.html")}) {
    SCOPED_TRACE(href);
    FetchRun file = Fetch(platform::FileUrlFromPath(root_ + "/") + href, REQUEST_GET, Settings(true), "text/html");
    EXPECT_EQ(file.Out().status, 200) << file.Out().statusText;
  }
}

TEST_F(FetchLocalTest, GatesBeforeTheFileTest) {
  const FetchSettings plain = Settings(false);
  FetchSettings allowed = plain;
  allowed.AllowLocalFilesInRemoteCheck = true;
  FetchSettings noDoubleSlash = plain;
  noDoubleSlash.CheckDoubleSlash = false;
  const std::string remote = "http://www.example.com/";
  struct Case {
    std::string url;
    const FetchSettings* settings;
    std::string rootUrl;
    int status;
    std::string text;
  } cases[] = {
      {Url("index.html"), &plain, remote, 404, "linking to file:// is always an error when checking remote URLs"},
      {Url("index.html"), &allowed, remote, 200, ""},
      {Url("index.html"), &plain, "", 200, ""},
      {platform::FileUrlFromPath(root_) + "//index.html", &plain, "", 2,
       "URL contains '//' which can lead to endless spidering"},
      {platform::FileUrlFromPath(root_) + "//index.html", &noDoubleSlash, "", 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + " under " + c.rootUrl);
    FetchRun run = Fetch(c.url, REQUEST_HEAD, *c.settings, "text/html", nullptr, c.rootUrl);
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_EQ(run.Out().statusText, c.text);
  }
}

TEST_F(FetchLocalTest, SkippedSchemesAndUrlsThatDoNotSplit) {
  struct Case {
    std::string url;
    int status;
    std::string text;
  } cases[] = {
      {"javascript:void(0)", -3, ""}, {"JavaScript:go()", -3, ""},
      {"JAVASCRIPT:go()", -3, ""},    {"view-source:http://x/", -3, ""},
      {"rtsp://media/x", -3, ""},     {"callto:someone", -3, ""},
      {"ymsgr:sendIM?x", -3, ""},     {"irc://irc.example/chan", -3, ""},
      {"xmpp:a@b", -3, ""},           {"ldap://dir/x", -3, ""},
      {"mms://m/x", -3, ""},          {"tel:+41123", -3, ""},
      {"TEL:+41123", 404, ""},        {"pnm://p/x", -3, ""},
      {"data:text/plain,x", -3, ""},  {"Data:text/plain,x", 404, ""},
      {"steam://run/1", -3, ""},      {"aim:goim?x", -3, ""},
      {"wtai://wp/mc;123", -3, ""},   {"skype:someone", 404, ""},
      {"telnet://host/", -3, ""},     {"news:comp.lang.c", -3, ""},
      {"", 404, "URL is empty"},      {"http://", 404, "Could not parse URL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    FetchRun run = Fetch(c.url, REQUEST_GET, Settings(false), "");
    EXPECT_EQ(run.Out().status, c.status);
    EXPECT_EQ(run.Out().statusText, c.text);
  }
}

}  // namespace
