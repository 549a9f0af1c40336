#include <gtest/gtest.h>

#include <string>

#include "engine/Charset.h"
#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

class AddLinkTest : public ::testing::Test {
 protected:
  AddLinkTest() {
    doc = std::make_unique<CWexoDoc>(host.Context());
    doc->SetRootUrl("http://www.example.com/");
    doc->SetExcludes({"http://www.example.com/private/"});
    view.Attach(*doc);
    page = doc->NewLink("http://www.example.com/index.html", nullptr, REQUEST_GET);
  }

  const CLinkInfo* Add(std::string link, const CLinkInfo* from = nullptr) {
    return doc->AddLink(from ? from : page, link, 0);
  }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  std::unique_ptr<CWexoDoc> doc;
  const CLinkInfo* page = nullptr;
};

TEST_F(AddLinkTest, CountsEveryLinkAndEachReferrerOnce) {
  const CLinkInfo* a = Add("http://www.example.com/a.html");
  const CLinkInfo* again = Add("http://www.example.com/a.html");
  EXPECT_EQ(a, again);
  EXPECT_EQ(page->m_nLinksOut, 2u);
  EXPECT_EQ(a->m_dwaReferrers, std::vector<std::uint32_t>{page->m_nIndex});
  EXPECT_EQ(a->m_nLevel, 1);
  EXPECT_EQ(doc->GetLinkCount(), 2u);

  // A second page adds itself as referrer; the first page again changes nothing.
  const CLinkInfo* other = Add("http://www.example.com/b.html");
  Add("http://www.example.com/a.html", other);
  Add("http://www.example.com/a.html");
  EXPECT_EQ(a->m_dwaReferrers, (std::vector<std::uint32_t>{page->m_nIndex, other->m_nIndex}));
  EXPECT_EQ(page->m_nLinksOut, 4u);
  EXPECT_EQ(other->m_nLinksOut, 1u);
}

TEST_F(AddLinkTest, KnownRecordKeepsItsState) {
  const CLinkInfo* a = Add("http://www.example.com/a.html");
  doc->SetStatus(a, 404, "Not Found");
  doc->UpdateLink(*a, [&](CLinkInfo& r) { r.m_wRequestKind = REQUEST_HEAD; });
  const std::size_t rows = view.rows.size();
  EXPECT_EQ(Add("http://www.example.com:80/a.html"), a);  // the same canonical URL
  EXPECT_EQ(a->m_nStatus, 404);
  EXPECT_EQ(a->m_wRequestKind, REQUEST_HEAD);
  EXPECT_EQ(view.rows.size(), rows);
}

TEST_F(AddLinkTest, RequestKindByExtension) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {"http://www.example.com/doc.PDF", REQUEST_HEAD},       {"http://www.example.com/doc.pdf?x=1", REQUEST_HEAD},
      {"http://www.example.com/page.html", REQUEST_GET},      {"http://www.example.com/a/dir.2/page", REQUEST_GET},
      {"http://www.example.com/search?q=a.pdf", REQUEST_GET}, {"http://www.example.com/app.js", REQUEST_HEAD},
      {"http://www.example.com/style.css", REQUEST_GET},      {"http://www.example.com/file.docx", REQUEST_HEAD},
      {"http://www.example.com/file.jsp", REQUEST_GET},       {"http://www.example.com/noext", REQUEST_GET},
      {"http://other.example.org/page.html", REQUEST_HEAD},  // external
  };
  for (const auto& [url, kind] : cases) {
    const CLinkInfo* link = Add(url);
    EXPECT_EQ(link->m_wRequestKind, kind) << url;
    EXPECT_EQ(link->m_nStatus, 0) << url;
  }
}

TEST_F(AddLinkTest, SkipStatuses) {
  const CLinkInfo* excluded = Add("http://www.example.com/private/x.html");
  EXPECT_EQ(excluded->m_nStatus, STATUS_USER_SKIP);
  const CLinkInfo* external = Add("http://other.example.org/");
  EXPECT_EQ(external->m_nStatus, 0);
  EXPECT_EQ(external->m_wRequestKind, REQUEST_HEAD);

  ChangeSettings(*doc, [](CheckSettings& s) { s.CheckExternal = 0; });
  const CLinkInfo* skipped = Add("http://third.example.org/");
  EXPECT_EQ(skipped->m_nStatus, STATUS_SKIP_EXTERNAL);
  EXPECT_EQ(skipped->m_wRequestKind, REQUEST_HEAD);
  EXPECT_EQ(Add("http://www.example.com/private/y.html")->m_nStatus, STATUS_USER_SKIP);
  // Skipped records count as finished at once.
  EXPECT_EQ(doc->GetFinishedCount(), 3);
}

TEST_F(AddLinkTest, RowsAndCharset) {
  doc->UpdateLink(*page, [&](CLinkInfo& r) { SetCharset(&r, "ISO-8859-2"); });
  const CLinkInfo* a = Add("http://www.example.com/a.html");
  EXPECT_EQ(a->GetCharsetName(), "iso-8859-2");
  EXPECT_EQ(a->GetCodePage(), page->GetCodePage());
  ASSERT_EQ(view.rows.size(), 2u);  // the page, then the link: the list hears of each record
  EXPECT_EQ(view.rows[1], a);

  const CLinkInfo* orphanPage = doc->NewLink("http://www.example.com/plain.html", nullptr, REQUEST_GET);
  const CLinkInfo* b = Add("http://www.example.com/b.html", orphanPage);
  EXPECT_EQ(b->GetCharsetName(), "");

  Add("http://www.example.com/c.html");
  EXPECT_EQ(view.rows.size(), 5u);
}

TEST_F(AddLinkTest, MakeLowerCaseOnlyForInternalLinks) {
  ChangeSettings(*doc, [](CheckSettings& s) { s.MakeLowerCase = 1; });
  EXPECT_EQ(Add("http://WWW.Example.com/Dir/Page.HTML")->GetUrl(), "http://www.example.com/dir/page.html");
  EXPECT_EQ(Add("http://Other.Example.org/Dir/Page.HTML")->GetUrl(), "http://Other.Example.org/Dir/Page.HTML");
  EXPECT_EQ(Add("http://www.example.com/private/Secret.html")->GetUrl(), "http://www.example.com/private/Secret.html");
  ChangeSettings(*doc, [](CheckSettings& s) { s.MakeLowerCase = 0; });
  EXPECT_EQ(Add("http://www.example.com/Dir/Page.HTML")->GetUrl(), "http://www.example.com/Dir/Page.HTML");
}

TEST_F(AddLinkTest, SessionIdPatterns) {
  ini.Set("Options", "SessionIdRegEx", "^(.*[?&])sid=[0-9a-z]*&?(.*)$");
  const CLinkInfo* one = Add("http://www.example.com/shop.html?sid=abc123&item=7");
  const CLinkInfo* two = Add("http://www.example.com/shop.html?sid=zz99&item=7");
  EXPECT_EQ(one, two);
  EXPECT_EQ(one->GetUrl(), "http://www.example.com/shop.html?item=7");
  // An external link keeps its parameter.
  EXPECT_EQ(Add("http://other.example.org/shop.html?sid=abc123&item=7")->GetUrl(),
            "http://other.example.org/shop.html?sid=abc123&item=7");
  // Whether a link is internal is decided on its lower-cased copy; the rewrite works on the
  // link as written.
  EXPECT_EQ(Add("HTTP://WWW.EXAMPLE.COM/x?sid=q1&y=2")->GetUrl(), "http://WWW.EXAMPLE.COM/x?y=2");

  // The settings apply one after the other, each to the result of the one before.
  ini.Set("Options", "SessionIdRegEx2", "^(.*)/jsession=[a-z]*(/.*)$");
  EXPECT_EQ(Add("http://www.example.com/a/jsession=abc/b.html?sid=1&c=3")->GetUrl(),
            "http://www.example.com/a/b.html?c=3");
  // A pattern taken out of the settings file no longer applies from the next link on.
  ini.Set("Options", "SessionIdRegEx2", "");
  EXPECT_EQ(Add("http://www.example.com/a/jsession=abc/c.html")->GetUrl(),
            "http://www.example.com/a/jsession=abc/c.html");
}

TEST_F(AddLinkTest, SessionIdRewriteFollowsTheGroupCount) {
  struct Case {
    const char* pattern;
    const char* link;
    const char* url;
  };
  const Case cases[] = {
      {"^(.*)sid=[0-9]*$", "http://www.example.com/p?sid=12", "http://www.example.com/p?sid=12"},      // one group
      {"^(.*)(sid=)([0-9]*)$", "http://www.example.com/q?sid=12", "http://www.example.com/q?sid=12"},  // three
      {"^(.*)sid=[0-9]*(.*)(x)?$", "http://www.example.com/r?sid=12&a", "http://www.example.com/r?&a"},
      {"(", "http://www.example.com/s?sid=12", "http://www.example.com/s?sid=12"},  // does not compile
  };
  for (const Case& c : cases) {
    ini.Set("Options", "SessionIdRegEx", c.pattern);
    EXPECT_EQ(Add(c.link)->GetUrl(), c.url) << c.pattern;
  }
}

}  // namespace
