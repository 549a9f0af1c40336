// The page intake: a fetched page's links, titles and names found from the body and the link
// rules alone, recorded, and replayed into the table with the same records as a scan that
// reads the table as it goes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/Charset.h"
#include "engine/Fetch.h"
#include "engine/PageIntake.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "unit/support/ScriptedHost.h"

namespace {

const std::string kRoot = "http://www.example.com/";
const std::string kPage = "http://www.example.com/dir/page.html";
const std::string kDir = "http://www.example.com/dir/";

// Writes down what the intake tells, one line each.
class Trace final : public IntakeSink {
 public:
  std::string text;
  void Link(const std::string& url, const PreparedLink& p) override {
    text += "link " + url + (p.internal ? " internal" : "") + (p.excluded ? " excluded" : "") +
            (p.requestKind == REQUEST_HEAD ? " head" : "") + "\n";
  }
  void TagLink(bool inArchive, bool jarContent) override {
    if (inArchive || jarContent)
      text += std::string("tag") + (inArchive ? " in-archive" : "") + (jarContent ? " jar" : "") + "\n";
  }
  void AltTitle(const std::string& alt) override { text += "alt " + alt + "\n"; }
  std::optional<bool> WantsAnchorText() override { return std::nullopt; }
  void AnchorText(const std::string& t) override { text += "text " + t + "\n"; }
  void JarMember(std::int64_t, std::int64_t) override { text += "member\n"; }
  void PageTitle(const std::string& title) override { text += "title " + title + "\n"; }
  void PageTitleAgain() override { text += "title again\n"; }
  void TitleTooLong() override { text += "title too long\n"; }
  void Charset(const std::string& name) override { text += "charset " + name + "\n"; }
  void Description(const std::string& t) override { text += "description " + t + "\n"; }
  void Keywords(const std::string& t) override { text += "keywords " + t + "\n"; }
  void ReadFailed(const std::string&) override { text += "read failed\n"; }
  void Names(std::vector<std::string>& anchors, std::vector<std::string>& fragments) override {
    for (const std::string& a : anchors) text += "anchor " + a + "\n";
    for (const std::string& f : fragments) text += "fragment " + f + "\n";
  }
};

std::shared_ptr<const LinkRules> Rules(bool lowerCase = false) {
  auto rules = std::make_shared<LinkRules>();
  rules->root = kRoot;
  rules->excludes = {kRoot + "private/"};
  rules->makeLowerCase = lowerCase;
  return rules;
}

std::shared_ptr<const PageIntake> Intake(const std::string& body, const std::string& mimeType = "text/html",
                                         bool lowerCase = false) {
  FetchResult result;
  result.csUrl = kPage;
  result.body = std::make_shared<std::string>(body);
  PageIntakeInput input;
  input.rules = Rules(lowerCase);
  input.mimeType = mimeType;
  return TakeInPage(input, result);
}

TEST(PageIntakeTest, WhatAPageGives) {
  struct Case {
    const char* name;
    std::string body;
    std::string trace;
    std::string mimeType = "text/html";
    bool lowerCase = false;
  };
  const std::vector<Case> cases = {
      {"links resolved, canonical, with their verdicts",
       "<a href=\"a.html\">A</a> <img src=\"http://www.example.com:80/i.png\" alt=\"Pic\">\r\n"
       "<a href=\"http://elsewhere.example.org/x\">X</a> <a href=\"/private/p.html\">P</a>\r\n",
       "link " + kDir + "a.html internal\ntext A\nlink " + kRoot + "i.png internal head\nalt Pic\n" +
           "link http://elsewhere.example.org/x head\ntext X\nlink " + kRoot + "private/p.html internal excluded\n" +
           "text P\n"},
      {"title, meta and names in order",
       "<title> T </title><meta name=\"description\" content=\"D\"><meta charset=\"utf-8\">\r\n"
       "<a name=\"n\" href=\"#f\">x</a><title>again</title>\r\n",
       "title T\ndescription D\ncharset utf-8\ntitle again\nanchor n\nfragment f\n"},
      {"an anchor's text across lines, not moving the scan",
       "<a href=\"m.html\">first\r\nsecond</a><a href=\"n.html\">n</a>\r\n",
       "link " + kDir + "m.html internal\ntext first second\nlink " + kDir + "n.html internal\ntext n\n"},
      {"an anchor never closed gives no text", "<a href=\"u.html\">open\r\n<img src=\"v.gif\">\r\n",
       "link " + kDir + "u.html internal\nlink " + kDir + "v.gif internal head\n"},
      {"applet classes inside two archives", "<applet code=\"pkg.Main\" archive=\"a.jar, b.jar\"></applet>\r\n",
       "link " + kDir + "a.jar internal\nlink " + kDir + "b.jar internal\nlink " + kDir +
           "b.jar/pkg/Main.class internal\ntag in-archive jar\n"},
      {"internal links lower-cased when asked",
       "<a href=\"UP.html\"></a><a href=\"http://Other.example.org/UP\"></a>\r\n",
       "link " + kDir + "up.html internal\ntext \nlink http://Other.example.org/UP head\ntext \n", "text/html", true},
      {"a style sheet", "@import url(a.css);\r\nb { background: url('b.png') }\r\n",
       "link " + kDir + "a.css internal\nlink " + kDir + "b.png internal head\n", "text/css"},
  };
  for (const Case& c : cases) {
    const std::shared_ptr<const PageIntake> intake = Intake(c.body, c.mimeType, c.lowerCase);
    ASSERT_NE(intake, nullptr) << c.name;
    Trace trace;
    intake->Replay(trace);
    EXPECT_EQ(trace.text, c.trace) << c.name;
  }
}

TEST(PageIntakeTest, PagesWhoseScanNeedsTheTableAreLeftToIt) {
  // Where reading an anchor's text ahead would change what the scan finds, whether it reads
  // ahead depends on the target's title, which only the table knows.
  const std::vector<std::string> bodies = {
      // A comment opened within the anchor's lines, closed by a '>' only as one text.
      "<a href=\"t.html\">text\r\n<!-- \r\n> <a href=\"hidden.html\">x</a>\r\n</a>\r\n",
      // A title too long when counted from the anchor, short on its own line.
      "<a href=\"t.html\">" + std::string(1100, 'y') + "\r\n<title>x\r\n</a>\r\n</title>\r\n",
  };
  for (const std::string& body : bodies) EXPECT_EQ(Intake(body), nullptr) << body;
  // The same constructs after the anchor's lines are the intake's.
  EXPECT_NE(Intake("<a href=\"t.html\">text</a>\r\n<!-- \r\n> <a href=\"x.html\">x</a>\r\n"), nullptr);
}

TEST(PageIntakeTest, LargePages) {
  // 20,000 anchors on lines of their own, closed only at the end, and as many never closed:
  // each anchor's text is found without reading the lines ahead again.
  for (const char* end : {"</a>\r\n", ""}) {
    std::string body;
    for (int i = 0; i < 20000; ++i)
      body += "<a href=\"q" + std::to_string(i) + ".html\">text " + std::to_string(i) + "\r\n";
    const std::shared_ptr<const PageIntake> intake = Intake(body + end);
    ASSERT_NE(intake, nullptr);
    EXPECT_EQ(intake->Size(), *end ? 40000u : 20000u) << "a link, and a text when the anchor closes";
  }
}

TEST(PageIntakeTest, IntakesCountAgainstTheMemoryOfWaitingBodies) {
  // A result waiting for the pump holds its intake as well as its body: both stay within one
  // bound, and an intake that does not fit is left to the owner.
  const std::size_t before = BodyBytesInMemory();
  {
    const std::shared_ptr<const PageIntake> intake = Intake("<a href=\"a.html\">A</a>\r\n");
    ASSERT_NE(intake, nullptr);
    EXPECT_GT(BodyBytesInMemory(), before);
  }
  EXPECT_EQ(BodyBytesInMemory(), before) << "given back with the intake";
  const std::size_t rest = kMemoryBodiesLimit - BodyBytesInMemory();
  ASSERT_TRUE(TakeBodyBytes(rest - 16));
  EXPECT_EQ(Intake("<a href=\"a.html\">A</a>\r\n"), nullptr);
  GiveBackBodyBytes(rest - 16);
  EXPECT_EQ(BodyBytesInMemory(), before);
}

TEST(PageIntakeTest, TheWorkerTakesInOnlyPagesThatWillBeParsed) {
  struct Case {
    const char* name;
    std::int16_t status;
    std::int16_t level;
    bool intake;
    bool redirect;  // prepared on the worker
  };
  const std::vector<Case> cases = {
      {"a good page", 200, 0, true, true},
      {"a page at the depth limit", 200, 3, false, true},
      {"a broken page", 404, 0, false, false},
  };
  for (const Case& c : cases) {
    FetchRequest request;
    request.linkRules = Rules();
    request.level = c.level;
    request.settings.MaxLevel = 3;
    request.mimeType = "text/html";
    FetchResult result;
    result.csUrl = kPage;
    result.csRedirectTarget = "next.html";
    result.body = std::make_shared<std::string>("<a href=\"a.html\">A</a>");
    result.outcome = std::make_unique<FetchOutcome>();
    result.outcome->status = c.status;
    TakeInFetchedPage(request, result);
    EXPECT_EQ(result.intake != nullptr, c.intake) << c.name;
    EXPECT_EQ(result.bRedirectPrepared, c.redirect) << c.name;
    if (c.redirect) {
      EXPECT_EQ(result.csRedirectResolved, kDir + "next.html") << c.name;
      EXPECT_EQ(*result.body, "<a href=\"a.html\">A</a>\r\n<a href=\"" + kDir + "next.html\">redir</a>") << c.name;
    }
    if (result.intake) {
      Trace trace;
      result.intake->Replay(trace);
      EXPECT_EQ(trace.text,
                "link " + kDir + "a.html internal\ntext A\nlink " + kDir + "next.html internal\ntext redir\n");
    }
  }
}

// A page parsed as the pump does, once from the worker's intake and once read here; the
// tables must come out the same.
class IntakeReplayTest : public ::testing::Test {
 protected:
  struct Run {
    TempIni ini;
    ScriptedHost host;
    ScriptedView view;
    CWexoDoc doc{host.Context()};
    bool tookIntake = false;
  };

  // Seeds: records known before the page, each "url|title".
  static std::string Parse(Run& run, const std::string& body, const std::vector<std::string>& seeds, bool worker,
                           const std::string& bodyFile = std::string()) {
    CWexoDoc& doc = run.doc;
    doc.SetRootUrl(kRoot);
    run.view.Attach(doc);
    const CLinkInfo* page = doc.NewLink(kPage, nullptr, REQUEST_GET);
    for (const std::string& seed : seeds) {
      const std::size_t bar = seed.find('|');
      const CLinkInfo* known = doc.NewLink(kDir + seed.substr(0, bar), page, REQUEST_GET);
      const std::string title = seed.substr(bar + 1);
      doc.UpdateLink(*known, [&title](CLinkInfo& r) { r.m_csTitle = title; });
    }
    doc.UpdateLink(*page, [](CLinkInfo& r) { r.m_csMimeType = "text/html"; });
    doc.SetStatus(page, 200);
    FetchResult result;
    result.pLink = page;
    result.csUrl = kPage;
    if (bodyFile.empty())
      result.body = std::make_shared<std::string>(body);
    else
      result.csBodyFile = bodyFile;
    if (worker) {
      PageIntakeInput input;
      input.rules = doc.CurrentRules();
      input.charset = page->GetCharset();
      input.mimeType = page->m_csMimeType;
      result.intake = TakeInPage(input, result);
      run.tookIntake = result.intake != nullptr;
    }
    doc.ParseFetchedPage(result);
    return Dump(doc);
  }

  static std::string Dump(const CWexoDoc& doc) {
    std::string text;
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) {
      const CLinkInfo* r = doc.GetLink(i);
      text += r->GetUrl() + "|" + r->m_csTitle + "|" + std::to_string(r->m_nStatus) + "|" +
              std::to_string(r->m_bInJar) + "|" + std::to_string(r->m_nLinksOut) + "|" +
              std::to_string(r->GetLinksInCount()) + "|" + std::to_string(r->m_wRequestKind) + "|" +
              r->GetCharsetName() + "|" + r->m_csDescription + "|" + r->m_csKeywords + "\n";
      for (const std::string& a : r->m_saAnchors) text += "  A " + a + "\n";
      for (const std::string& f : r->m_saFragments) text += "  F " + f + "\n";
    }
    return text;
  }
};

TEST_F(IntakeReplayTest, SameTableAsReadingHere) {
  struct Case {
    const char* name;
    std::string body;
    bool intake;  // the worker's intake serves
  };
  const std::string many = [] {
    std::string s;
    for (int i = 0; i < 300; ++i)
      s += "<a href=\"q" + std::to_string(i % 50) + ".html\">text " + std::to_string(i) + "\r\n";
    return s;
  }();
  const std::vector<Case> cases = {
      {"the fixture",
       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
       "<TITLE> The\r\n fixture </title><title>Second</title>\r\n"
       "<meta name=\"description\" content=\"Desc\"><meta name=\"keywords\" content=\"k\"/>\r\n"
       "<style type=\"text/css\">\r\n body { background: url(bg.png) }\r\n</style>\r\n"
       "<script src=\"app.js\">\r\n '<a href=\"inscript.html\">'\r\n</script><a href=\"known.html\">Other</a>\r\n"
       "<a href=\"caf\xe9.html\">Caf\xe9</a> <a href=\"known.html\">again</a>\r\n"
       "<img src=\"logo.png\" alt=\"Logo\"> <a href=\"logo.png\">Anchor</a> <a href=\"untitled.html\">U</a>\r\n"
       "<a href=\"multi.html\">first\r\nsecond</a> <a href=\"known.html\">k\r\nk</a>\r\n"
       "<applet code=\"pkg.Main\" archive=\"lib.jar\"></applet><applet code=\"O\" archive=\"a.jar, "
       "b.jar\"></applet>\r\n"
       "<a name=\"n1\" id=\"i1\" href=\"#frag\">f</a><base href=\"http://www.example.com/other/\"><a "
       "href=\"b.html\">b</a>\r\n"
       "<!-- <a href=\"incomment.html\">\r\n--> <embed src=\"e.swf\" pluginspage=\"http://plugins.example.org/\">\r\n",
       true},
      {"anchors never closed, many to the same records", many, true},
      {"a comment within an anchor's lines",
       "<a href=\"t.html\">text\r\n<!-- \r\n> <a href=\"hidden.html\">x</a>\r\n</a>\r\n", false},
      {"a title within an anchor's lines",
       "<a href=\"t.html\">" + std::string(1100, 'y') + "\r\n<title>x\r\n</a>\r\n</title>\r\n", false},
  };
  // Each page once with its targets new, once with them known: untitled, titled.
  const std::vector<std::vector<std::string>> seedings = {
      {}, {"t.html|", "known.html|"}, {"t.html|Known", "known.html|Known", "multi.html|M", "q7.html|Q"}};
  for (const Case& c : cases) {
    for (const std::vector<std::string>& seeds : seedings) {
      Run here, worker;
      const std::string expected = Parse(here, c.body, seeds, false);
      EXPECT_EQ(Parse(worker, c.body, seeds, true), expected) << c.name << " with " << seeds.size() << " seeds";
      EXPECT_EQ(worker.tookIntake, c.intake) << c.name;
    }
  }
}

TEST_F(IntakeReplayTest, RandomPagesGiveTheSameTable) {
  // Pages made of the constructs whose ends the scan looks for, cut into lines anywhere.
  const std::vector<std::string> pieces = {"<a href=\"t.html\">",
                                           "<a href=\"u.html\">",
                                           "</a>",
                                           "text ",
                                           "<!--",
                                           "-- ",
                                           "-->",
                                           ">",
                                           "--",
                                           " ",
                                           "<title>",
                                           "</title>",
                                           "<script>",
                                           "</script>",
                                           "<style type=x>",
                                           "</style>",
                                           "url(s.png)",
                                           "<img src=\"t.html\" alt=\"Alt\">",
                                           "<a name=\"n\" href=\"#f\">",
                                           "<",
                                           "\r\n",
                                           "\r\n",
                                           "\r\n",
                                           std::string(300, 'w'),
                                           "<meta charset=\"utf-8\">"};
  const std::vector<std::vector<std::string>> seedings = {{}, {"t.html|T", "u.html|"}};
  std::mt19937 random(7);
  int taken = 0;
  for (int page = 0; page < 400; ++page) {
    std::string body;
    const int n = 5 + static_cast<int>(random() % 40);
    for (int k = 0; k < n; ++k) body += pieces[random() % pieces.size()];
    for (const std::vector<std::string>& seeds : seedings) {
      Run here, worker;
      const std::string expected = Parse(here, body, seeds, false);
      ASSERT_EQ(Parse(worker, body, seeds, true), expected) << body;
      taken += worker.tookIntake ? 1 : 0;
    }
  }
  EXPECT_GT(taken, 400) << "most pages are the worker's";
}

TEST_F(IntakeReplayTest, AReadFailureAsksWhenReplayed) {
  // A folder opens but cannot be read: the worker notes it, and the question comes once, when
  // the page reaches the table.
  char dir[] = "/tmp/wexo-intake-dir-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  platform::LineReader probe;
  const bool opens = probe.Open(dir);
  probe.Close();
  if (opens) {
    Run worker;
    worker.host.answers = {BoxAnswer::Yes};
    Parse(worker, "", {}, true, dir);
    EXPECT_TRUE(worker.tookIntake);
    EXPECT_EQ(worker.host.boxes.size(), 1u);
    EXPECT_EQ(worker.doc.GetLinkCount(), 1u);
  }
  ::rmdir(dir);
  ASSERT_TRUE(opens);
}

TEST_F(IntakeReplayTest, ChangedRulesReadThePageHere) {
  // The worker's intake assumed rules that changed before its result was parsed.
  Run run;
  CWexoDoc& doc = run.doc;
  doc.SetRootUrl(kRoot);
  run.view.Attach(doc);
  const CLinkInfo* page = doc.NewLink(kPage, nullptr, REQUEST_GET);
  doc.UpdateLink(*page, [](CLinkInfo& r) { r.m_csMimeType = "text/html"; });
  doc.SetStatus(page, 200);
  FetchResult result;
  result.pLink = page;
  result.csUrl = kPage;
  result.body = std::make_shared<std::string>("<a href=\"private/x.html\">x</a>\r\n");
  PageIntakeInput input;
  input.rules = doc.CurrentRules();
  input.mimeType = "text/html";
  result.intake = TakeInPage(input, result);
  ASSERT_NE(result.intake, nullptr);
  doc.SetExcludes({kDir + "private/"});
  doc.ParseFetchedPage(result);
  const CLinkInfo* x = doc.FindLink(kDir + "private/x.html");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->m_nStatus, STATUS_USER_SKIP);
}

}  // namespace
