#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

const std::string kSheet = "http://www.example.com/css/site.css";

class CssParserTest : public ::testing::Test {
 protected:
  // The URLs that the style sheet added, in the order they were added, and how many links
  // the sheet counted.
  std::vector<std::string> Parse(std::string text, std::uint32_t* linksOut = nullptr) {
    CWexoDoc doc{host.Context()};
    doc.SetRootUrl("http://www.example.com/");
    const CLinkInfo* page = doc.NewLink(kSheet, nullptr, REQUEST_GET);
    FetchResult result;
    result.pLink = page;
    result.csUrl = kSheet;
    doc.ParseCss(result, text, 0);
    std::vector<std::string> urls;
    for (std::size_t i = 1; i < doc.GetLinkCount(); ++i) urls.push_back(doc.GetLink(i)->GetUrl());
    if (linksOut) *linksOut = page->m_nLinksOut;
    return urls;
  }

  TempIni ini;
  ScriptedHost host;
};

using Urls = std::vector<std::string>;

TEST_F(CssParserTest, Table) {
  struct Case {
    const char* css;
    Urls urls;
  };
  const std::string d = "http://www.example.com/css/";
  const Case cases[] = {
      // the four import forms
      {"@import url(a.css); @import 'b.css'; @import 'c.css' screen; @import d.css; ",
       {d + "a.css", d + "b.css", d + "c.css", d + "d.css"}},
      {"@import url( \"a.css\" ) screen; ", {d + "a.css"}},
      {"@IMPORT url(e.css); ", {d + "e.css"}},
      // no blank after @import: not a rule, but its url( is still a reference
      {"@import'f.css'; ", {}},
      {"@import\"url(f.css)\"; ", {d + "f.css"}},
      // an import without any ';' after it is no rule; its url( is found once
      {"@import url(g.css) ", {d + "g.css"}},
      {"@media print { @import url(/print.css); } ", {"http://www.example.com/print.css"}},
      // references
      {"p { background: url( 'g.png' ) } ", {d + "g.png"}},
      {"p { background: URL(h.png) } ", {}},
      {"a { b: url(/img/x.png) } ", {"http://www.example.com/img/x.png"}},
      {"a { b: url(\"sp ace.png\") } ", {d + "sp%20ace.png"}},
      {"a { b: url(x.png ", {}},  // no ')' at all
      // comments
      {"/* url(i.png) */ ", {}},
      {"/*/ url(j.png) ", {d + "j.png"}},
      {"/* open url(k.png) ", {d + "k.png"}},  // an unterminated comment hides nothing
      {"u/**/rl(n.png) @im/**/port 'o.css'; ", {d + "o.css", d + "n.png"}},
      {"//**/* url(hidden.png) */url(p.png) ", {d + "p.png"}},  // a comment that a removal joins together
      // removals that join a marker together
      {"@@import 'q.css';import 'r.css'; ", {d + "q.css", d + "r.css"}},
      {"uurl(s.png)rl(t.png) ", {d + "s.png", d + "t.png"}},
      // a quote that never closes ends at the ')' or at the rule's ';'
      {"a { b: url('u.png) } c { d: url(v.png) } ", {d + "u.png", d + "v.png"}},
      {"@import 'w.css; p { } ", {d + "w.css"}},
      {"@import url('x.css); p { } ", {d + "x.css"}},
      {"@import url(y.css; p { } ", {d + "y.css"}},
      // page-local references are no links
      {"path { marker-end: url(#arrowhead) } a { b: url(z.png) } ", {d + "z.png"}},
      {"@import '#top'; ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.css), c.urls) << c.css;
}

TEST_F(CssParserTest, EmptyReferenceIsStillALink) {
  std::uint32_t linksOut = 0;
  EXPECT_EQ(Parse("a { b: url() } ", &linksOut), Urls{""});
  EXPECT_EQ(linksOut, 1u);
  EXPECT_EQ(Parse("@import ''; ", &linksOut), Urls{""});
  EXPECT_EQ(linksOut, 1u);
}

TEST_F(CssParserTest, ImportWithUrlCountsOnce) {
  std::uint32_t linksOut = 0;
  Parse("@import url(a.css); ", &linksOut);
  EXPECT_EQ(linksOut, 1u);
}

TEST_F(CssParserTest, LargeSheetsKeepEveryReference) {
  // Many removals in one text: every reference is found once, in order.
  std::string css;
  Urls expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    css += "/* " + n + " */ .c" + n + " { background: url(i" + n + ".png) } ";
    if (i % 100 == 0) css += "@import 's" + n + ".css'; ";
  }
  for (int i = 0; i < 20000; i += 100) expected.push_back("http://www.example.com/css/s" + std::to_string(i) + ".css");
  for (int i = 0; i < 20000; ++i) expected.push_back("http://www.example.com/css/i" + std::to_string(i) + ".png");
  EXPECT_EQ(Parse(css), expected);
}

}  // namespace
