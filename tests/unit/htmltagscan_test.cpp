#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "unit/support/ScriptedHost.h"

namespace {

const std::string kPage = "http://www.example.com/dir/page.html";
const std::string kDir = "http://www.example.com/dir/";

using Strings = std::vector<std::string>;

// Lines joined with CR LF, as a Windows editor saves them.
std::string CrLf(const Strings& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

class HtmlTagScanTest : public ::testing::Test {
 protected:
  HtmlTagScanTest() {
    char name[] = "/tmp/wexo-scan-XXXXXX";
    const int fd = mkstemp(name);
    ::close(fd);
    m_path = name;
  }
  ~HtmlTagScanTest() override { ::unlink(m_path.c_str()); }

  // Scans body as the page kPage of a fresh document, lines longer than pieceLimit (when not 0)
  // handed over in pieces. The view hears of the document's changes, or observer when given.
  void Scan(const std::string& body, std::size_t pieceLimit = 0, IDocumentObserver* observer = nullptr) {
    std::FILE* f = std::fopen(m_path.c_str(), "wb");
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
    doc = std::make_unique<CWexoDoc>(host.Context());
    doc->SetRootUrl("http://www.example.com/");
    view.Attach(*doc);
    view.rows.clear();
    if (observer) doc->AttachView(nullptr, nullptr, observer);
    page = doc->NewLink(kPage, nullptr, REQUEST_GET);
    FetchResult result;
    result.pLink = page;
    result.csUrl = kPage;
    platform::LineReader reader;
    ASSERT_TRUE(reader.Open(m_path));
    reader.SetLimits(pieceLimit, 0);
    doc->ScanHtml(result, reader);
  }

  // Everything the scan left in the table, one line per record.
  std::string Summary() const {
    std::string text = page->m_csTitle + "|" + page->m_csDescription + "\n";
    for (const std::string& a : page->m_saAnchors) text += "A " + a + "\n";
    for (const std::string& f : page->m_saFragments) text += "F " + f + "\n";
    for (std::size_t i = 1; i < doc->GetLinkCount(); ++i) {
      const CLinkInfo* link = doc->GetLink(i);
      text += link->GetUrl() + "|" + link->m_csTitle + "|" + std::to_string(link->m_nStatus) + "\n";
    }
    return text;
  }

  // The URLs of the records the scan made, in table order.
  Strings Links() const {
    Strings urls;
    for (std::size_t i = 1; i < doc->GetLinkCount(); ++i) urls.push_back(doc->GetLink(i)->GetUrl());
    return urls;
  }
  const CLinkInfo* Record(const std::string& url) const { return doc->FindLink(url); }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  std::unique_ptr<CWexoDoc> doc;
  const CLinkInfo* page = nullptr;
  std::string m_path;
};

TEST_F(HtmlTagScanTest, Fixture) {
  const std::string longText(300, 'L');
  const std::string title1025 = "<title>" + std::string(1017, 'x');  // 1025 with the blank ReadLine adds
  Scan(CrLf({
      "<html><head>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
      "<TITLE> The",
      " fixture page </title>",
      "<title>Second title</title>",
      "<meta name=\"description\" content=\"A page for the scan\">",
      "<meta name=\"keywords\" content=\"links, tags\"/>",
      "<meta http-equiv=\"refresh\" content=\"30; URL=refresh.html\"/>",
      "<link rel=\"stylesheet\" href=\"css/site.css\">",
      "<style>p { background: url(nostyle.png) }</style>",
      "<style type=\"text/css\">",
      "  body { background: url(bg.png) }",
      "  /* url(commented.png) */",
      "</style>",
      "<script src=\"js/app.js\">",
      "  document.write('<a href=\"inscript.html\">');",
      "</SCRIPT><a href=\"afterscript.html\">After script</a>",
      "<!-- <a href=\"incomment.html\">",
      "  still in the comment <img src=\"incomment.gif\">",
      "-- > <a href=\"aftercomment.html\">After comment</a>",
      "<!--",
      "-> <a href=\"hidden1.html\"> a carried opener is not closed by -> or >",
      "> <a href=\"hidden2.html\"> --",
      "> <body background=\"body.png\">",
      "<a",
      "href=\"split.html\">Split</a>",
      "<a\thref=\"tab.html\" name=\"tabbed\">Tab</a>",
      "<a href=\"#section2\">Jump</a> <a name=\"section2\" id=\"section2\"></a>",
      "<div style=\"background: url('div.png')\" id=\"caf&eacute;\">",
      "<img src=\"logo.png\" alt=\"Logo\"> <a href=\"logo.png\">Anchor text</a>",
      "<a href=\"inner.html\"><b>Bold</b> text</a>",
      "<a href=\"long.html\">" + longText + "</a>",
      "<a href=\"multi.html\">first line",
      "second line</a>",
      "<img src=\"page.html\" lowsrc=\"low.gif\" longdesc=\"desc.html\">",
      "<embed src=\"http://www.example.com/dir/page.html\" pluginspage=\"http://plugins.example.org/get\">",
      "<applet code=\"pkg.Main\" archive=\"lib.jar\"></applet>",
      "<applet code=\"Other\" archive=\"a.jar, b.jar\"></applet>",
      "<base href=\"../ignored/\"><a href=\"rel-base.html\">",
      "<base href=\"http://www.example.com/other/\"><a href=\"abs-base.html\">",
      "<style type=\"text/css\">.late { background: url(late.png) }</style>",
      "<frame src=\"frame.html\"><iframe src=\"iframe.html\">",
      title1025,
  }));

  EXPECT_EQ(Links(), (Strings{
                         kDir + "refresh.html",
                         kDir + "css/site.css",
                         kDir + "bg.png",  // a style block resolves against the page's URL
                         kDir + "js/app.js",
                         kDir + "afterscript.html",
                         kDir + "aftercomment.html",
                         kDir + "body.png",
                         kDir + "split.html",
                         kDir + "tab.html",
                         kDir + "div.png",
                         kDir + "logo.png",
                         kDir + "inner.html",
                         kDir + "long.html",
                         kDir + "multi.html",
                         kDir + "low.gif",
                         kDir + "desc.html",
                         "http://plugins.example.org/get",
                         kDir + "lib.jar",
                         kDir + "lib.jar/pkg/Main.class",
                         kDir + "a.jar",
                         kDir + "b.jar",
                         kDir + "b.jar/Other.class",
                         kDir + "rel-base.html",
                         "http://www.example.com/other/abs-base.html",
                         kDir + "late.png",
                         "http://www.example.com/other/frame.html",
                         "http://www.example.com/other/iframe.html",
                     }));

  EXPECT_EQ(page->m_csTitle, "!!! Title too long !!!");
  EXPECT_EQ(page->m_csDescription, "A page for the scan");
  EXPECT_EQ(page->m_csKeywords, "links, tags");
  EXPECT_EQ(page->GetCharsetName(), "iso-8859-1");
  EXPECT_EQ(page->m_saFragments, Strings{"section2"});
  EXPECT_EQ(page->m_saAnchors, (Strings{"tabbed", "section2", "caf\xE9"}));

  EXPECT_EQ(Record(kDir + "logo.png")->m_csTitle, "Logo");
  EXPECT_EQ(Record(kDir + "split.html")->m_csTitle, "Split");
  EXPECT_EQ(Record(kDir + "inner.html")->m_csTitle, "<b>Bold</b> text");
  EXPECT_EQ(Record(kDir + "long.html")->m_csTitle, std::string(255, 'L'));
  EXPECT_EQ(Record(kDir + "multi.html")->m_csTitle, "first line second line");

  const CLinkInfo* mainClass = Record(kDir + "lib.jar/pkg/Main.class");
  EXPECT_EQ(mainClass->m_bInJar, 1);
  EXPECT_EQ(mainClass->m_nStatus, 0);
  const CLinkInfo* otherClass = Record(kDir + "b.jar/Other.class");
  EXPECT_EQ(otherClass->m_bInJar, 1);
  EXPECT_EQ(otherClass->m_nStatus, STATUS_JAR_CONTENT);
  EXPECT_EQ(Record(kDir + "lib.jar")->m_bInJar, 0);
  // Links found after the META charset carry the page's charset.
  EXPECT_EQ(Record(kDir + "split.html")->GetCharsetName(), "iso-8859-1");
}

TEST_F(HtmlTagScanTest, Titles) {
  struct Case {
    Strings lines;
    std::string title;
  };
  const std::string x1016(1016, 'x');
  const Case cases[] = {
      {{"<title>First</title><title>Second</title>"}, "First"},
      {{"<title>carried", "across</title>"}, "carried across"},
      {{"<TiTlE>  padded  </TITLE>"}, "padded"},
      // 1024 characters with the blank: still carried, and closed on the next line
      {{"<title>" + x1016, "</title>"}, x1016},
      // 1025 or more: too long, also over a title taken before
      {{"<title>Good</title>", "<title>" + x1016 + "x", "</title>"}, "!!! Title too long !!!"},
      // too long, but the line shrinks below the limit while the tag is still ahead
      {{std::string(100, 'y') + "<title>" + std::string(950, 'x'), "</title>"}, std::string(950, 'x')},
  };
  for (const Case& c : cases) {
    Scan(CrLf(c.lines));
    EXPECT_EQ(page->m_csTitle, c.title) << c.lines[0].substr(0, 40);
  }

  // Once the tag's '<' has been dropped, the title's text is scanned as ordinary markup.
  Scan(CrLf({std::string(20, 'y') + "<title>" + std::string(1000, 'x') + "<a href=\"after.html\">x</a>",
             "<a href=\"next.html\">"}));
  EXPECT_EQ(page->m_csTitle, "!!! Title too long !!!");
  EXPECT_EQ(Links(), (Strings{kDir + "after.html", kDir + "next.html"}));
}

TEST_F(HtmlTagScanTest, CarriedConstructs) {
  struct Case {
    Strings lines;
    Strings links;
  };
  const Case cases[] = {
      // a tag carried over several lines
      {{"<img", "src=\"a.gif\"", "alt=\"A\">", "<a href=b.html>"}, {kDir + "a.gif", kDir + "b.html"}},
      {{"<a href=v.html", ">"}, {kDir + "v.html"}},
      {{"<title>x", "</title><a href=w.html>"}, {kDir + "w.html"}},
      {{"<style type=text/css>x", "</style><a href=x.html>"}, {kDir + "x.html"}},
      // a comment that closes at once, and one opened by "<!-- >"
      {{"<!--><a href=c.html>", "<!-- ><a href=d.html>"}, {kDir + "c.html", kDir + "d.html"}},
      {{"<!---><a href=e.html>"}, {kDir + "e.html"}},
      // "--" at the end of one line and '>' at the start of the next close a comment
      {{"<!-- a --", "><a href=f.html>"}, {kDir + "f.html"}},
      {{"<!-- a -", "><a href=g.html> -->"}, {}},
      // a style tag without attributes is an other tag; its sheet is not parsed
      {{"<style>", "a { b: url(h.png) }", "</style>"}, {}},
      {{"<style media=all>", "a { b: url(h.png) }", "</STYLE><a href=i.html>"}, {kDir + "h.png", kDir + "i.html"}},
      // a script without attributes still hides its text; an unterminated one ends the scan
      {{"<script>", "'<a href=j.html>'", "</script><a href=k.html>"}, {kDir + "k.html"}},
      {{"<script>", "'<a href=l.html>'"}, {}},
      // a stray '<' carries the rest of the file
      {{"a < b", "<a href=m.html>"}, {}},
      // closing tags are never looked at
      {{"</a href=n.html><a href=o.html>"}, {kDir + "o.html"}},
      // "<A" without a blank is another tag
      {{"<Abbr href=p.html><a\thref=q.html>"}, {kDir + "q.html"}},
      // an unclosed anchor takes the rest of the file into its line, and the scan goes on
      {{"<a href=r.html>", "<a href=s.html>", "<img src=t.gif>"}, {kDir + "r.html", kDir + "s.html", kDir + "t.gif"}},
  };
  for (const Case& c : cases) {
    Scan(CrLf(c.lines));
    EXPECT_EQ(Links(), c.links) << c.lines[0];
  }
}

TEST_F(HtmlTagScanTest, PiecesOfALongLineScanLikeTheWholeLine) {
  const char* snippets[] = {
      "<a href=\"p.html\">link</a> ",
      "<A HREF=\"q.html\">",
      "</a>",
      "</A",
      "<img src=\"i.png\" alt=\"alt\">",
      "<!-- c <a href=\"hidden.html\"> -->",
      "<!--",
      "-->",
      "--",
      "- -",
      " > ",
      "<title>t</title>",
      "<TITLE>",
      "</TITLE>",
      "<script>document.write(\"<a href=s.html>\")</script>",
      "<script>",
      "</script>",
      "<style type=text/css>p{background:url(b.png)}</style>",
      "<style media=all>",
      "</style>",
      "<div id=\"d\" style=\"background:url('u.png')\">",
      "\r",
      "\t",
      "\r\n",
      "text ",
      "<",
      ">",
      "</",
      "<!",
      "<!-",
      "<a\thref=\"tab.html\">",
      "<meta name=\"description\" content=\"desc\">",
      "<base href=\"http://www.example.com/b/\">",
      "<a name=\"n\">",
      "<a href=\"#f\">",
      "<!---->",
      "<!-- -- >",
      "<!--->",
      "<!-- >",
      "<!-->",
      "         ",
  };
  std::mt19937 random(17);
  std::vector<std::string> bodies;
  for (int b = 0; b < 12; ++b) {
    std::string body;
    for (int i = 0; i < 600; ++i) {
      const std::size_t pick = random() % (std::size(snippets) + 2);
      if (pick < std::size(snippets)) {
        std::string snippet = snippets[pick];
        // numbered links, so every record is told apart
        if (const std::size_t dot = snippet.find(".html"); dot != std::string::npos)
          snippet.insert(dot, std::to_string(i));
        body += snippet;
      } else {
        body += std::string(random() % 1500, pick % 2 ? 'y' : ' ');  // long text, around the title limit
      }
    }
    bodies.push_back(body);
  }
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    Scan(bodies[b]);
    const std::string whole = Summary();
    for (std::size_t limit : {2u, 3u, 8u, 61u, 1100u}) {
      Scan(bodies[b], limit);
      EXPECT_EQ(Summary(), whole) << "body " << b << ", pieces of " << limit;
    }
  }
}

TEST_F(HtmlTagScanTest, AnchorsFragmentsAndTitles) {
  Scan(CrLf({
      "<a href=\"#top\">Top</a><a name=top id=top></a><a name=\"x\" id=\"y\">",
      "<p id=para><a href=\"#caf&eacute;\">E</a><a name=\"caf&#233;\">",
      "<a href=\"u.html\">unclosed",
      "<img src=\"u.html\" alt=\"Alt for u\">",
  }));
  EXPECT_EQ(page->m_saFragments, (Strings{"top", "caf\xE9"}));
  EXPECT_EQ(page->m_saAnchors, (Strings{"top", "x", "y", "para", "caf\xE9"}));
  // The anchor never closes: no title from it; the ALT text of a later image fills it.
  EXPECT_EQ(Record(kDir + "u.html")->m_csTitle, "Alt for u");
  EXPECT_EQ(page->m_nLinksOut, 2u);
}

// What the scan writes in the page and in the records it finds reaches them through the
// document: the list hears of each record after its last change, so a row never shows less
// than its record holds.
TEST_F(HtmlTagScanTest, TheListHearsOfEveryRecordAfterItsLastChange) {
  class Snapshots : public IDocumentObserver {
   public:
    void RecordsAdded(std::size_t, std::size_t) override {}
    void RecordChanged(const CLinkInfo& link) override { last[link.m_nIndex] = Of(link); }
    void TableReset() override {}
    void StatusText(const std::string&) override {}
    static std::string Of(const CLinkInfo& link) {
      return link.m_csTitle + "|" + link.m_csDescription + "|" + link.m_csKeywords + "|" + link.GetCharsetName() + "|" +
             std::to_string(link.m_saAnchors.size()) + "|" + std::to_string(link.m_saFragments.size()) + "|" +
             std::to_string(link.GetLinksOutCount()) + "|" + std::to_string(link.m_bInJar);
    }
    std::map<std::uint32_t, std::string> last;
  } snapshots;
  Scan(CrLf({
           "<title>T</title><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-2\">",
           "<meta name=\"description\" content=\"D\"><meta name=\"keywords\" content=\"K\">",
           "<a name=n href=\"a.html\">A text</a><img src=\"b.png\" alt=\"B\"><p id=p><a href=\"#n\">",
           "<applet code=\"C.class\" archive=\"x.jar\"></applet>",
       }),
       0, &snapshots);
  doc->AttachView(nullptr, nullptr, nullptr);  // the snapshots go before the document
  EXPECT_EQ(page->m_csTitle, "T");
  EXPECT_EQ(page->GetCharsetName(), "iso-8859-2");
  EXPECT_EQ(page->m_saAnchors, (Strings{"n", "p"}));
  EXPECT_EQ(page->m_saFragments, Strings{"n"});
  EXPECT_EQ(Record(kDir + "a.html")->m_csTitle, "A text");
  EXPECT_EQ(Record(kDir + "b.png")->m_csTitle, "B");
  EXPECT_EQ(Record(kDir + "x.jar/C.class")->m_bInJar, 1);
  ASSERT_EQ(doc->GetLinkCount(), 5u);
  for (std::size_t i = 0; i < doc->GetLinkCount(); ++i) {
    const CLinkInfo& link = *doc->GetLink(i);
    ASSERT_TRUE(snapshots.last.count(link.m_nIndex)) << link.GetUrl();
    EXPECT_EQ(snapshots.last[link.m_nIndex], Snapshots::Of(link)) << link.GetUrl();
  }
}

TEST_F(HtmlTagScanTest, EmptyHrefIsALinkOfItsOwn) {
  Scan(CrLf({"<a href=\"\">x</a><a href=\"page.html\">self</a>"}));
  EXPECT_EQ(Links(), Strings{""});
  EXPECT_EQ(page->m_nLinksOut, 1u);
}

TEST_F(HtmlTagScanTest, TabsAndCarriageReturnsAreBlanksAtEveryPlace) {
  // A tab or CR anywhere in a line, on either side of a word boundary, separates the tag's
  // name from its attribute; other control bytes do not.
  for (std::size_t pad = 0; pad < 17; ++pad) {
    for (const char* gap : {"\t", "\r", "\t\r\t"}) {
      Scan(std::string(pad, 'x') + "<a" + gap + "href=\"a.html\">" + std::string(pad, 'y') +
           "<a\x0Bhref=\"b.html\">\n");
      ASSERT_EQ(Links(), Strings{kDir + "a.html"}) << pad;
    }
  }
}

TEST_F(HtmlTagScanTest, ReadFailureAsksOnce) {
  // A folder opens but cannot be read: the question comes once, and Yes ends the body.
  char dir[] = "/tmp/wexo-scan-dir-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  doc = std::make_unique<CWexoDoc>(host.Context());
  page = doc->NewLink(kPage, nullptr, REQUEST_GET);
  FetchResult result;
  result.pLink = page;
  result.csUrl = kPage;
  platform::LineReader reader;
  const bool opened = reader.Open(dir);
  if (opened) {
    host.answers = {BoxAnswer::Yes};
    doc->ScanHtml(result, reader);
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(doc->GetLinkCount(), 1u);
  }
  ::rmdir(dir);
  ASSERT_TRUE(opened);
}

TEST_F(HtmlTagScanTest, LargePages) {
  // One 2 MB line with 20,000 anchors.
  {
    std::string line;
    for (int i = 0; i < 20000; ++i) {
      const std::string n = std::to_string(i);
      line += "<a href=\"p" + n + ".html\">Page " + n + "</a>" + std::string(80, ' ');
    }
    Scan(line + "\r\n");
    ASSERT_EQ(doc->GetLinkCount(), 20001u);
    EXPECT_EQ(doc->GetLink(20000)->m_csTitle, "Page 19999");
  }
  // 20,000 unclosed anchors on lines of their own.
  {
    std::string body;
    for (int i = 0; i < 20000; ++i) body += "<a href=\"q" + std::to_string(i) + ".html\">text\r\n";
    Scan(body);
    ASSERT_EQ(doc->GetLinkCount(), 20001u);
    EXPECT_EQ(doc->GetLink(20000)->m_csTitle, "");
  }
  // A 50,000-line style block.
  {
    std::string body = "<style type=\"text/css\">\r\n";
    for (int i = 0; i < 50000; ++i) body += ".c" + std::to_string(i) + " { color: red }\r\n";
    body += ".last { background: url(last.png) }\r\n</style><a href=\"after.html\">\r\n";
    Scan(body);
    EXPECT_EQ(Links(), (Strings{kDir + "last.png", kDir + "after.html"}));
  }
  // A stray '<' followed by 2 MB of text.
  {
    std::string body = "<a href=\"first.html\"></a> 1 < 2\r\n";
    for (int i = 0; i < 20000; ++i) body += std::string(100, 't') + "\r\n";
    Scan(body + "<a href=\"never.html\">\r\n");
    EXPECT_EQ(Links(), Strings{kDir + "first.html"});
  }
}

}  // namespace
