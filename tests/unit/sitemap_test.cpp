#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "engine/Clock.h"
#include "engine/HtmlEscape.h"
#include "engine/WexoDoc.h"
#include "report/Sitemap.h"
#include "unit/support/ScriptedHost.h"

namespace {

constexpr std::int64_t kNow = 1700000000;       // 2023-11-14 22:13:20 UTC
constexpr std::int64_t kModified = 1600000000;  // 2020-09-13 12:26:40 UTC

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every <loc> text of a sitemap, in file order.
std::vector<std::string> Locs(const std::string& xml) {
  std::vector<std::string> locs;
  for (std::size_t at = xml.find("<loc>"); at != std::string::npos; at = xml.find("<loc>", at)) {
    at += 5;
    locs.push_back(xml.substr(at, xml.find("</loc>", at) - at));
  }
  return locs;
}

class SitemapTest : public ::testing::Test {
 protected:
  SitemapTest() {
    // Ten hours east of UTC: a local date differs from the UTC date late in the UTC day.
    setenv("TZ", "UTC-10", 1);
    tzset();
    SetClockForTests([] { return kNow; });
    dir = std::filesystem::temp_directory_path() / ("wexo-sitemap-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~SitemapTest() override {
    SetClockForTests(nullptr);
    std::filesystem::remove_all(dir);
  }

  const CLinkInfo* Add(CWexoDoc& doc, const std::string& url, const CLinkInfo* parent, std::int16_t status,
                       const std::string& mime = "text/html", const std::string& title = "t") {
    const CLinkInfo* link = doc.NewLink(url, parent, REQUEST_GET);
    doc.SetStatus(link, status);
    doc.UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_csMimeType = mime;
      r.m_csTitle = title;
    });
    return link;
  }

  std::string Sitemap(CWexoDoc& doc) {
    const std::string path = (dir / "sitemap.xml").string();
    EXPECT_TRUE(ExportSitemap(doc, path));
    return ReadAll(path);
  }
  std::string Graph(CWexoDoc& doc) {
    const std::string path = (dir / "graph.gv").string();
    EXPECT_TRUE(ExportGraphViz(doc, path));
    return ReadAll(path);
  }

  TempIni ini;
  ScriptedHost host;
  std::filesystem::path dir;
};

TEST(EscapeHtml, EntitiesAndHighBytes) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain text/1?a=b", "plain text/1?a=b"},
      {"a<b & 'c'", "a&lt;b &amp; &apos;c&apos;"},
      {"\"x\">", "&quot;x&quot;&gt;"},
      {"&amp;", "&amp;amp;"},  // inserted text is not scanned again
      {"caf\xE9", "caf%E9"},
      {"\x80\xFF\xC3\xA9", "%80%FF%C3%A9"},
      {"%E9", "%E9"},
      {std::string("a\x01\x7F\0b", 5), "a%01%7F%00b"},  // control bytes, as the high bytes
      {"a\tb c", "a%09b c"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    EscapeHtml(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST_F(SitemapTest, WholeFile) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/dir/");
  const CLinkInfo* root = Add(doc, "http://h/dir/", nullptr, 200);
  doc.UpdateLink(*root, [&](CLinkInfo& r) {
    r.m_bDateKnown = 1;
    r.m_tDate = kModified;
  });
  Add(doc, "http://h/dir/a.pdf", root, 200, "application/pdf");
  EXPECT_EQ(Sitemap(doc),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\r\n"
            "\t<url>\r\n"
            "\t\t<loc>http://h/dir/</loc>\r\n"
            "\t\t<lastmod>2020-09-13</lastmod>\r\n"
            "\t\t<changefreq>monthly</changefreq>\r\n"
            "\t\t<priority>0.9</priority>\r\n"
            "\t</url>\r\n"
            "\t<url>\r\n"
            "\t\t<loc>http://h/dir/a.pdf</loc>\r\n"
            "\t\t<lastmod>2023-11-15</lastmod>\r\n"  // unknown date: today, local time
            "\t\t<changefreq>monthly</changefreq>\r\n"
            "\t\t<priority>0.8</priority>\r\n"
            "\t</url>\r\n"
            "</urlset>\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "sitemap.xml.tmp"));
}

TEST_F(SitemapTest, InclusionRules) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/dir/");
  doc.SetIncludes({"https://h/dir/", "ftp://h/", "file:///site/"});
  doc.SetExcludes({"http://h/dir/private/"});
  const CLinkInfo* root = Add(doc, "http://h/dir/", nullptr, 200);
  const struct {
    const char* url;
    const char* mime;
    std::int16_t status;
    const char* title;
    bool listed;
  } cases[] = {
      {"http://h/dir/page.htm", "text/html", 200, "t", true},
      {"http://h/dir/doc.pdf", "application/pdf", 200, "t", true},
      {"http://h/dir/read.txt", "text/plain", 200, "t", true},
      {"http://h/dir/x.xhtml", "application/xhtml+xml", 200, "t", true},
      {"http://h/dir/clip.mp4", "video/mp4", 200, "t", true},
      {"http://h/dir/Doc.pdf", "Application/PDF", 200, "t", false},
      {"http://h/dir/style.css", "text/css", 200, "t", false},
      {"http://h/dir/pic.png", "image/png", 200, "t", false},
      {"http://h/dir/untyped", "", 200, "t", false},
      {"http://h/dir/gone.htm", "text/html", 404, "t", false},
      {"http://h/dir/pending.htm", "text/html", STATUS_PENDING, "t", false},
      {"http://h/dir/timeout.htm", "text/html", 12002, "t", false},
      {"https://h/dir/secure.htm", "text/html", 200, "t", true},
      {"ftp://h/dir/f.htm", "text/html", 200, "t", false},
      {"file:///site/local.htm", "text/html", 200, "t", false},
      {"http://other/page.htm", "text/html", 200, "t", false},
      {"http://h/dir/private/p.htm", "text/html", 200, "t", false},
      {"http://h/dir/moved.htm", "text/html", 200, "redir", false},
      {"http://h/dir/Moved.htm", "text/html", 200, "Redir", true},
  };
  std::vector<std::string> expected = {"http://h/dir/"};
  for (const auto& c : cases) {
    Add(doc, c.url, root, c.status, c.mime, c.title);
    if (c.listed) expected.push_back(c.url);
  }
  EXPECT_EQ(Locs(Sitemap(doc)), expected);
}

TEST_F(SitemapTest, PriorityGoesByTableIndex) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
  Add(doc, "http://h/a.htm", root, 200);
  std::string xml = Sitemap(doc);
  EXPECT_EQ(xml.find("<priority>0.9</priority>"), xml.find("<priority>"));
  EXPECT_NE(xml.find("<priority>0.8</priority>"), std::string::npos);

  // A root that is not written leaves no entry with the root's priority.
  doc.SetStatus(root, 404);
  xml = Sitemap(doc);
  EXPECT_EQ(Locs(xml), std::vector<std::string>{"http://h/a.htm"});
  EXPECT_EQ(xml.find("0.9</priority>"), std::string::npos);
}

TEST_F(SitemapTest, LastModified) {
  const struct {
    std::int32_t known;
    std::int64_t date;
    const char* lastmod;
  } cases[] = {
      {1, kModified, "2020-09-13"},
      {1, 1599955200 - 1, "2020-09-13"},  // 23:59:59 UTC on the 12th is the local morning of the 13th
      {1, 1600005600, "2020-09-14"},      // 14:00 UTC on the 13th is local midnight
      {0, kModified, "2023-11-15"},       // unknown: today
      {1, std::numeric_limits<std::int64_t>::max(), "2023-11-15"},  // cannot be shown: today
      {1, -60000000000, "2023-11-15"},                              // a year before 1000 is no W3C date
  };
  for (const auto& c : cases) {
    CWexoDoc doc{host.Context()};
    doc.SetRootUrl("http://h/");
    const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
    doc.UpdateLink(*root, [&](CLinkInfo& r) {
      r.m_bDateKnown = c.known;
      r.m_tDate = c.date;
    });
    const std::string xml = Sitemap(doc);
    EXPECT_NE(xml.find(std::string("<lastmod>") + c.lastmod + "</lastmod>"), std::string::npos) << c.date << xml;
  }
}

TEST_F(SitemapTest, LocIsEscaped) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  const struct {
    std::string url, loc;
  } cases[] = {
      {"http://h/?a=1&b=2", "http://h/?a=1&amp;b=2"},
      {"http://h/<x>\"y\"'z'", "http://h/&lt;x&gt;&quot;y&quot;&apos;z&apos;"},
      {"http://h/caf\xC3\xA9", "http://h/caf%C3%A9"},
      {"http://h/a b", "http://h/a%20b"},
      {"http://h/t\tl\r\nx\x01\x1F\x7F", "http://h/t%09l%0D%0Ax%01%1F%7F"},
      {std::string("http://h/n\0n", 12), "http://h/n%00n"},
      {"http://h/100%25", "http://h/100%25"},
  };
  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
  std::vector<std::string> expected = {"http://h/"};
  for (const auto& c : cases) {
    Add(doc, c.url, root, 200);
    expected.push_back(c.loc);
  }
  const std::string xml = Sitemap(doc);
  EXPECT_EQ(Locs(xml), expected);
  for (char ch : xml) EXPECT_TRUE(ch == '\r' || ch == '\n' || ch == '\t' || (ch >= 0x20 && ch < 0x7F)) << int(ch);
}

// A loc holds a URL of fewer than 2,048 characters, counted as a reader gets it back: an
// entity is one character, a byte written as its escape three.
TEST_F(SitemapTest, UrlsOf2048CharactersOrMoreAreLeftOut) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  const std::string base = "http://h/";  // 9 characters
  const struct {
    std::string url;
    bool listed;
  } cases[] = {
      {base + std::string(2038, 'a'), true},
      {base + std::string(2039, 'b'), false},
      {base + std::string(2037, 'c') + "&", true},          // "&amp;" in the file, one character of the URL
      {base + std::string(2033, 'd') + "\xC3\xA9", false},  // "%C3%A9": 2,048 characters
      {base + std::string(2032, 'e') + "\xC3\xA9", true},
      {base + std::string(3000, 'f'), false},
  };
  const CLinkInfo* root = Add(doc, base, nullptr, 200);
  std::vector<std::string> expected = {base};
  for (const auto& c : cases) {
    Add(doc, c.url, root, 200);
    if (c.listed) expected.push_back(c.url);
  }
  std::vector<std::string> locs = Locs(Sitemap(doc));
  for (std::string& loc : locs) {
    for (std::size_t at; (at = loc.find("&amp;")) != std::string::npos;) loc.replace(at, 5, "&");
    for (std::size_t at; (at = loc.find("%C3%A9")) != std::string::npos;) loc.replace(at, 6, "\xC3\xA9");
  }
  EXPECT_EQ(locs, expected);
}

// Up to 50,000 URLs the sitemap is one file, as it has always been. Beyond, the chosen file is
// a sitemap index that names files of 50,000 URLs each, beside it, by their URLs beside the
// root's folder.
TEST_F(SitemapTest, MoreThan50000UrlsGoToFilesNamedByAnIndex) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/dir/");
  const CLinkInfo* root = Add(doc, "http://h/dir/", nullptr, 200);
  for (int i = 1; i < 50000; ++i) Add(doc, "http://h/dir/" + std::to_string(i), root, 200);
  Add(doc, "http://h/dir/" + std::string(3000, 'x'), root, 200);  // left out, so not counted
  Add(doc, "http://h/dir/gone", root, 404);

  std::string xml = Sitemap(doc);
  EXPECT_TRUE(
      xml.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                      "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\r\n\t<url>\r\n"));
  EXPECT_TRUE(xml.ends_with("\t</url>\r\n</urlset>\r\n"));
  EXPECT_EQ(Locs(xml).size(), 50000u);
  EXPECT_FALSE(std::filesystem::exists(dir / "sitemap-1.xml"));

  for (int i = 50000; i < 100001; ++i) Add(doc, "http://h/dir/" + std::to_string(i), root, 200);
  xml = Sitemap(doc);
  EXPECT_EQ(xml,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\r\n"
            "\t<sitemap>\r\n\t\t<loc>http://h/dir/sitemap-1.xml</loc>\r\n\t</sitemap>\r\n"
            "\t<sitemap>\r\n\t\t<loc>http://h/dir/sitemap-2.xml</loc>\r\n\t</sitemap>\r\n"
            "\t<sitemap>\r\n\t\t<loc>http://h/dir/sitemap-3.xml</loc>\r\n\t</sitemap>\r\n"
            "</sitemapindex>\r\n");
  std::vector<std::string> all;
  for (const char* part : {"sitemap-1.xml", "sitemap-2.xml", "sitemap-3.xml"}) {
    const std::string text = ReadAll((dir / part).string());
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<urlset ")) << part;
    EXPECT_TRUE(text.ends_with("</urlset>\r\n")) << part;
    const std::vector<std::string> locs = Locs(text);
    EXPECT_EQ(locs.size(), std::string(part) == "sitemap-3.xml" ? 1u : 50000u) << part;
    all.insert(all.end(), locs.begin(), locs.end());
  }
  ASSERT_EQ(all.size(), 100001u);
  EXPECT_EQ(all.front(), "http://h/dir/");
  for (int i = 1; i < 100001; ++i) EXPECT_EQ(all[i], "http://h/dir/" + std::to_string(i));
  EXPECT_EQ(ReadAll((dir / "sitemap-1.xml").string()).find("<priority>0.9</priority>"),
            ReadAll((dir / "sitemap-1.xml").string()).find("<priority>"));
  EXPECT_EQ(ReadAll((dir / "sitemap-2.xml").string()).find("0.9</priority>"), std::string::npos);
  for (const char* leftover : {"sitemap.xml.tmp", "sitemap-1.xml.tmp", "sitemap-4.xml"})
    EXPECT_FALSE(std::filesystem::exists(dir / leftover)) << leftover;
  EXPECT_TRUE(host.boxes.empty());

  // A name without an extension keeps that form.
  ASSERT_TRUE(ExportSitemap(doc, (dir / "map").string()));
  EXPECT_NE(ReadAll((dir / "map").string()).find("<loc>http://h/dir/map-3</loc>"), std::string::npos);
  EXPECT_EQ(Locs(ReadAll((dir / "map-3").string())).size(), 1u);
}

TEST_F(SitemapTest, EmptyOrAllBroken) {
  const std::string empty =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\r\n"
      "</urlset>\r\n";
  const std::string emptyGraph = "digraph G\r\n{\r\n}\r\n";
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  EXPECT_EQ(Sitemap(doc), empty);
  EXPECT_EQ(Graph(doc), emptyGraph);

  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 500);
  Add(doc, "http://h/a.htm", root, 404);
  Add(doc, "http://h/b.htm", root, 12029);
  EXPECT_EQ(Sitemap(doc), empty);
  EXPECT_EQ(Graph(doc), emptyGraph);
}

TEST_F(SitemapTest, GraphNodeNames) {
  const struct {
    std::string url, name;
  } cases[] = {
      {"http://h/dir/a.htm", "a.htm"},
      {"http://h/dir/sub/b.htm", "sub/b.htm"},
      {"http://h/other.htm", "http://h/other.htm"},
      {"http://H/dir/c.htm", "http://H/dir/c.htm"},  // the prefix compares case-sensitively
      {"http://h/dir", "http://h/dir"},
      {"http://h/dir/q\"uote\\back\\", "q\\\"uote\\\\back\\\\"},
      {std::string("http://h/dir/n\0n", 16), "n%00n"},
      {"http://h/dir/caf\xC3\xA9 x", "caf\xC3\xA9 x"},
  };
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/dir/");
  const CLinkInfo* root = Add(doc, "http://h/dir/", nullptr, 200);
  std::string expected = "digraph G\r\n{\r\n";
  for (const auto& c : cases) {
    Add(doc, c.url, root, 200);
    expected += "  \"http://h/dir/\" -> \"" + c.name + "\";\r\n";
  }
  expected += "}\r\n";
  EXPECT_EQ(Graph(doc), expected);
}

TEST_F(SitemapTest, GraphEdgesOfValidPairsOnly) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
  const CLinkInfo* a = Add(doc, "http://h/a.htm", root, 200);
  const CLinkInfo* broken = Add(doc, "http://h/broken.htm", root, 404);
  const CLinkInfo* b = Add(doc, "http://h/b.htm", a, 200);
  doc.AddReferrer(b, broken);  // from a page that is not 200: no edge
  doc.AddReferrer(b, root);
  Add(doc, "http://h/missing.htm", b, 404);  // a broken target: no edge
  Add(doc, "http://h/skipped.htm", b, STATUS_SKIP_EXTERNAL);
  // A pair held twice by the referrer list is written twice.
  doc.UpdateLink(*a, [&](CLinkInfo& r) { r.m_dwaReferrers.push_back(root->m_nIndex); });
  EXPECT_EQ(Graph(doc),
            "digraph G\r\n{\r\n"
            "  \"http://h/\" -> \"a.htm\";\r\n"
            "  \"http://h/\" -> \"a.htm\";\r\n"
            "  \"a.htm\" -> \"b.htm\";\r\n"
            "  \"http://h/\" -> \"b.htm\";\r\n"
            "}\r\n");
}

TEST_F(SitemapTest, LongGraphNamesAreWrittenInPieces) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://h/");
  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
  // Multi-byte characters and escapes straddle the cut points.
  std::string tail;
  while (tail.size() < 40000) tail += "\xC3\xA9\"\\abc";
  Add(doc, "http://h/" + tail, root, 200);
  const std::string text = Graph(doc);
  const std::size_t start = text.find(" -> \"") + 5;
  const std::string quoted = text.substr(start, text.rfind("\";\r\n") - start);
  // Undo the writing: join the pieces and drop the escapes.
  std::string name;
  std::size_t pieces = 1;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '\\') {
      name += quoted[++i];
    } else if (quoted.compare(i, 5, "\" + \"") == 0) {
      ++pieces;
      i += 4;
    } else {
      name += quoted[i];
    }
  }
  EXPECT_EQ(name, tail);
  EXPECT_GE(pieces, 6u);
  for (std::size_t at = quoted.find("\" + \""); at != std::string::npos; at = quoted.find("\" + \"", at + 1))
    EXPECT_NE(static_cast<unsigned char>(quoted[at + 5]) & 0xC0, 0x80u) << "cut inside a character";
}

TEST_F(SitemapTest, OpenFailureIsReported) {
  CWexoDoc doc{host.Context()};
  const std::string path = (dir / "no-such-folder" / "map.xml").string();
  EXPECT_FALSE(ExportSitemap(doc, path));
  EXPECT_FALSE(ExportGraphViz(doc, path));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0], "Could not open file '" + path + ".tmp' for writing");
}

}  // namespace
