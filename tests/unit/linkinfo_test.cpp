#include <gtest/gtest.h>

#include <thread>

#include "engine/Charset.h"
#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

struct StatusCase {
  std::int16_t code;
  const char* text;
  bool broken;
};

TEST(StatusText, TableAndBrokenRule) {
  const StatusCase cases[] = {
      {-7, "error -7", false},
      {-6, "mail host ok", false},
      {-5, "external .jar content", false},
      {-4, "user skip", false},
      {-3, "skip type", false},
      {-2, "skip external", false},
      {-1, "busy", false},
      {0, "pending", false},
      {2, "file not found", true},
      {7, "error 7", true},
      {11, "sharing violation", true},
      {87, "parameter incorrect", true},
      {200, "ok", false},
      {204, "no info to return", true},
      {206, "error 206", true},
      {304, "Not Modified", true},
      {423, "The requested resource is currently locked", true},
      {505, "HTTP Version Not Supported", true},
      {12017, "cancelled / timeout", true},
      {12152, "invalid response", true},
      {-32768, "error -32768", false},
      {32767, "error 32767", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusText(c.code), c.text) << c.code;
    EXPECT_EQ(IsBrokenStatus(c.code), c.broken) << c.code;
  }
}

class LinkInfoTest : public ::testing::Test {
 protected:
  TempIni ini;
  ScriptedHost host;
  CWexoDoc doc{host.Context()};
};

TEST_F(LinkInfoTest, NewRecordEntersTableAndCounts) {
  const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const CLinkInfo* child = doc.NewLink("http://h/a.html", root, REQUEST_HEAD);
  EXPECT_EQ(root->m_nIndex, 0u);
  EXPECT_EQ(child->m_nIndex, 1u);
  EXPECT_EQ(child->GetUrl(), "http://h/a.html");
  EXPECT_EQ(child->m_nLevel, 1);
  EXPECT_EQ(child->m_dwaReferrers, std::vector<std::uint32_t>{0});
  EXPECT_EQ(doc.FindLink("http://h/a.html"), child);
  EXPECT_EQ(doc.FindLink("http://h/b.html"), nullptr);
  EXPECT_EQ(doc.GetPendingCount(), 2);
  EXPECT_EQ(doc.GetFinishedCount(), 0);
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(LinkInfoTest, StatusMovesCountsAndCleansText) {
  const CLinkInfo* a = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  const CLinkInfo* b = doc.NewLink("http://h/b", nullptr, REQUEST_GET);
  doc.SetStatus(a, -1);
  doc.SetStatus(a, 200, "OK\r\n");
  EXPECT_EQ(a->m_csStatusText, "OK  ");
  doc.SetStatus(b, -1);
  doc.SetStatus(b, 0, "a\tb");
  EXPECT_EQ(b->m_csStatusText, "a b");
  EXPECT_EQ(doc.GetPendingCount(), 1);
  EXPECT_EQ(doc.GetFinishedCount(), 1);

  doc.UpdateLink(*a, [&](CLinkInfo& r) { r.m_hInternet = 42; });
  doc.SetStatus(a, 200);
  EXPECT_EQ(a->m_hInternet, 42u) << "the session is the worker's to close";
  doc.SetStatus(a, 404);
  EXPECT_EQ(a->m_hInternet, 42u) << "only whoever takes the session out closes it";
  EXPECT_EQ(a->TakeInternetHandle(), 42u);
}

TEST_F(LinkInfoTest, ResetKeepsWhatThePageTold) {
  ScriptedView view;
  view.Attach(doc);
  const CLinkInfo* a = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  doc.UpdateLink(*a, [&](CLinkInfo& r) {
    r.m_csMimeType = "text/html";
    r.m_csTitle = "T";
    r.m_nSize = 10;
    r.m_bDateKnown = 1;
    r.IncrementAttempts();
  });
  doc.SetStatus(a, 500, "boom");
  doc.ResetRecord(a);
  EXPECT_EQ(a->m_nStatus, 0);
  EXPECT_EQ(a->m_csStatusText, "");
  EXPECT_EQ(a->m_csMimeType, "");
  EXPECT_EQ(a->m_nSize, 0);
  EXPECT_EQ(a->m_bDateKnown, 0);
  EXPECT_EQ(a->m_csTitle, "T");
  EXPECT_EQ(a->GetAttempts(), 1);
  EXPECT_EQ(view.changed.back(), a) << "the list hears of it";
}

TEST_F(LinkInfoTest, AddReferrerOnceAndLowersDepth) {
  const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const CLinkInfo* deep = doc.NewLink("http://h/deep", nullptr, REQUEST_GET);
  doc.UpdateLink(*deep, [&](CLinkInfo& r) { r.m_nLevel = 5; });
  const CLinkInfo* seven = doc.NewLink("http://h/seven", nullptr, REQUEST_GET);
  doc.UpdateLink(*seven, [&](CLinkInfo& r) { r.m_nLevel = 7; });
  doc.AddReferrer(deep, seven);
  EXPECT_EQ(deep->m_nLevel, 5);
  doc.AddReferrer(deep, root);
  doc.AddReferrer(deep, root);
  EXPECT_EQ(deep->m_nLevel, 1);
  EXPECT_EQ(deep->GetLinksInCount(), 2u);

  // A popular page: many referrers, each once, however often its pages are parsed again.
  std::vector<const CLinkInfo*> pages;
  for (int i = 0; i < 100; ++i) pages.push_back(doc.NewLink("http://h/p" + std::to_string(i), nullptr, REQUEST_GET));
  for (int pass = 0; pass < 3; ++pass)
    for (const CLinkInfo* p : pages) doc.AddReferrer(root, p);
  EXPECT_EQ(root->GetLinksInCount(), 100u);
  // Two results held at once stay apart.
  const auto urls = doc.GetReferrerUrls(*root);
  const auto deepUrls = doc.GetReferrerUrls(*deep);
  EXPECT_EQ(urls.front(), "http://h/p0");
  EXPECT_EQ(urls.back(), "http://h/p99");
  EXPECT_EQ(deepUrls.front(), "http://h/seven");
}

TEST_F(LinkInfoTest, EachPageAndTargetPairOnceWhilePagesAreScanned) {
  // New records found on a page, links to known ones, a second page in between, the targets
  // sorted while the page is scanned: every pair is entered once, on both sides.
  const CLinkInfo* page = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const CLinkInfo* other = doc.NewLink("http://h/other", nullptr, REQUEST_GET);
  std::vector<const CLinkInfo*> known;
  for (int i = 0; i < 50; ++i) known.push_back(doc.NewLink("http://h/k" + std::to_string(i), nullptr, REQUEST_GET));
  std::vector<const CLinkInfo*> found;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 50; ++i) {
      if (round == 0) found.push_back(doc.NewLink("http://h/n" + std::to_string(i), page, REQUEST_GET));
      doc.AddReferrer(found[i], page);
      doc.AddReferrer(known[(i * 7) % 50], page);
      if (i % 10 == 0) doc.AddReferrer(known[i], other);
      if (i == 25) doc.GetTargets(*page);
    }
  }
  EXPECT_EQ(doc.GetTargets(*page).size(), 100u);
  EXPECT_EQ(doc.GetTargets(*other).size(), 5u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(found[i]->GetLinksInCount(), 1u) << i;
    EXPECT_EQ(known[i]->GetLinksInCount(), i % 10 == 0 ? 2u : 1u) << i;
  }
}

TEST_F(LinkInfoTest, LinksOutInTableOrder) {
  const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const CLinkInfo* early = doc.NewLink("http://h/early", nullptr, REQUEST_GET);
  doc.NewLink("http://h/a", root, REQUEST_GET);
  const CLinkInfo* b = doc.NewLink("http://h/b", nullptr, REQUEST_GET);
  doc.AddReferrer(b, root);
  doc.AddReferrer(early, root);  // found last, but earlier in the table
  doc.AddReferrer(early, root);
  EXPECT_EQ(doc.GetLinkedUrlsText(*root), "http://h/early\r\nhttp://h/a\r\nhttp://h/b\r\n");
  EXPECT_EQ(doc.GetTargets(*root), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(doc.GetLinkedUrlsText(*b), "");
  // The same index after a document is saved and opened again is tested with the file.
}

TEST_F(LinkInfoTest, LocalFileContentTypeFromExtension) {
  EXPECT_EQ(doc.NewLink("file:///site/index.htm", nullptr, REQUEST_GET)->m_csMimeType, "text/html");
  EXPECT_EQ(doc.NewLink("file:///site/style.css", nullptr, REQUEST_GET)->m_csMimeType, "text/css");
  EXPECT_EQ(doc.NewLink("file:///site.d/README", nullptr, REQUEST_GET)->m_csMimeType, "");
  EXPECT_EQ(doc.NewLink("file:///site/README", nullptr, REQUEST_GET)->m_csMimeType, "");
  EXPECT_EQ(doc.NewLink("http://h/index.htm", nullptr, REQUEST_GET)->m_csMimeType, "");
}

TEST_F(LinkInfoTest, ParsableTypes) {
  const CLinkInfo* a = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const std::pair<const char*, bool> cases[] = {
      {"text/html", true},  {"text/vnd.wap.wml", true},          {"application/xhtml+xml", true}, {"text/css", true},
      {"Text/HTML", false}, {"text/html; charset=utf-8", false}, {"application/pdf", false},      {"", false},
  };
  for (const auto& [type, parsable] : cases) {
    doc.UpdateLink(*a, [&](CLinkInfo& r) { r.m_csMimeType = type; });
    EXPECT_EQ(a->IsParsableType(), parsable) << type;
  }
}

TEST_F(LinkInfoTest, NonHtmlTypes) {
  const CLinkInfo* a = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  const std::pair<const char*, bool> cases[] = {
      {"application/pdf", true},
      {"text/plain", true},
      {"audio/mpeg", true},
      {"video/mp4", true},
      {"application/vnd.msexcel", true},
      {"application/vnd.ms-excel", false},
      {"text/html", false},
      {"Application/PDF", false},
      {"audio", false},
      {"", false},
  };
  for (const auto& [type, nonHtml] : cases) {
    doc.UpdateLink(*a, [&](CLinkInfo& r) { r.m_csMimeType = type; });
    EXPECT_EQ(a->IsNonHtmlType(), nonHtml) << type;
  }
}

TEST_F(LinkInfoTest, ServerNamesAndCharsetsAreShared) {
  const CLinkInfo* a = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  const CLinkInfo* b = doc.NewLink("http://h/b", nullptr, REQUEST_GET);
  EXPECT_EQ(a->GetServer(), "");
  EXPECT_EQ(a->GetCharsetName(), "");
  EXPECT_EQ(a->GetCodePage(), 0u);
  doc.UpdateLink(*a, [&](CLinkInfo& r) { InternServerName(&r, "nginx/1.22"); });
  doc.UpdateLink(*b, [&](CLinkInfo& r) { InternServerName(&r, "nginx/1.22"); });
  EXPECT_EQ(a->GetServerName(), b->GetServerName());
  EXPECT_EQ(b->GetServer(), "nginx/1.22");

  doc.UpdateLink(*a, [&](CLinkInfo& r) { SetCharset(&r, "UTF-8"); });
  doc.UpdateLink(*b, [&](CLinkInfo& r) { SetCharset(&r, "utf-8"); });
  EXPECT_EQ(a->GetCharset(), b->GetCharset());
  EXPECT_EQ(a->GetCharsetName(), "utf-8");
  EXPECT_EQ(a->GetCodePage(), 65001u);
  doc.UpdateLink(*a, [&](CLinkInfo& r) { SetCharset(&r, "x-no-such-charset"); });
  EXPECT_EQ(a->GetCodePage(), 0u);
  EXPECT_EQ(a->GetCharset()->m_csFontName, "");
  doc.UpdateLink(*b, [&](CLinkInfo& r) { SetCharset(&r, ""); });
  EXPECT_EQ(b->GetCodePage(), 0u);
  doc.UpdateLink(*b, [&](CLinkInfo& r) { SetCharset(&r, "ISO-8859-1"); });
  EXPECT_EQ(b->GetCodePage(), 28591u);
}

TEST(Charset, ConcurrentFirstUseMakesOneRecord) {
  std::vector<const CCharsetInfo*> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < 200; ++i) seen[t] = InternCharset(i % 2 ? "Windows-1251" : "windows-1251");
    });
  for (auto& th : threads) th.join();
  for (const CCharsetInfo* cs : seen) EXPECT_EQ(cs, seen[0]);
  EXPECT_EQ(seen[0]->m_nCodePage, 1251u);
}

TEST(Charset, CompareInCodePages) {
  // "Привет" in windows-1251 and "ПРИВЕТ" in UTF-8 are the same text but for case.
  const std::string cp1251 = "\xcf\xf0\xe8\xe2\xe5\xf2";
  const std::string utf8Upper = "\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2";
  EXPECT_EQ(CompareInCodePages(cp1251, 1251, utf8Upper, 65001), 0);
  EXPECT_LT(CompareInCodePages("abc", 0, "ABD", 0), 0);
  EXPECT_GT(CompareInCodePages("b", 1252, "A", 1252), 0);
}

}  // namespace
