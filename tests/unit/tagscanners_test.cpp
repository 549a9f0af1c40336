#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/TagScanners.h"
#include "unit/support/ScriptedHost.h"

namespace {

const std::string kBase = "http://www.example.com/dir/page.html";

class TagScannersTest : public ::testing::Test {
 protected:
  TempIni ini;  // ResolveLink reads [Options] Javascript
};

TEST(TagText, UpperCopyAndEqualsAtEveryLengthAndReuse) {
  // Every byte value at every place of a word, and tails of every length; one object reused
  // for longer and shorter tags, as the scan does.
  CTagText tag;
  for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 300u, 3u}) {
    for (int first = 1; first < 256; first += 37) {
      std::string text;
      for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(1 + (first + i * 7) % 255));
      tag.Assign(text);
      std::string upper = text;
      std::vector<std::size_t> equals;
      for (std::size_t i = 0; i < upper.size(); ++i) {
        if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
        if (upper[i] == '=') equals.push_back(i);
      }
      ASSERT_EQ(tag.Upper(), upper) << length << " " << first;
      ASSERT_EQ(tag.Text(), text);
      ASSERT_EQ(tag.Equals(), equals);
    }
  }
}

TEST_F(TagScannersTest, MayHaveAttributeNeverMissesWhatGetAttributeFinds) {
  const char* pieces[] = {" ",     "id",   "ID",      "Id", "style", "STYLE",    "=",         " = ",
                          "\r\n=", "x",    "data-id", ";",  "\"",    "'",        "a",         "<",
                          "\t",    "tyle", "i",       "d=", " id=",  " Style =", " ID\r\n= ", " sTyle"};
  std::mt19937 rng(99);
  int found = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string text = "<p";
    const int count = static_cast<int>(rng() % 10);
    for (int k = 0; k < count; ++k) text += pieces[rng() % std::size(pieces)];
    text += '>';
    const CTagText tag(text);
    for (const char* name : {"ID", "STYLE"}) {
      std::string value;
      if (GetAttribute(name, tag, value, 1252)) {
        ++found;
        ASSERT_TRUE(MayHaveAttribute(text, name)) << text << " " << name;
      }
    }
  }
  EXPECT_GT(found, 500);
  EXPECT_FALSE(MayHaveAttribute("<p class=x data-id=1 style>", "ID"));
  EXPECT_FALSE(MayHaveAttribute("<p class=x data-id=1 style>", "STYLE"));
  EXPECT_TRUE(MayHaveAttribute("<p class=x Id = 1>", "ID"));
}

TEST_F(TagScannersTest, LinkAttribute) {
  struct Case {
    const char* tag;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      // quoting
      {"<a href='a b.html'>", true, "http://www.example.com/dir/a b.html"},
      {"<a href=a b.html>", true, "http://www.example.com/dir/a"},
      {"<a href=\"x.html\">", true, "http://www.example.com/dir/x.html"},
      {"<a href = 'x.html'>", true, "http://www.example.com/dir/x.html"},
      {"<A HREF=x.html>", true, "http://www.example.com/dir/x.html"},
      {"<a href='x.html>", true, "http://www.example.com/dir/x.html"},  // no closing quote
      {"<a href=''>", true, ""},
      {"<a href=\"\">", true, ""},
      {"<a href>", false, ""},
      {"<a title='x' >", false, ""},
      // names inside other names
      {"<a data-href='x'>", false, ""},
      {"<a data-href='x' href='y'>", true, "http://www.example.com/dir/y"},
      {"<img lowsrc='y.gif'>", false, ""},
      {"<img lowsrc='y.gif' src='z.gif'>", true, "http://www.example.com/dir/z.gif"},
      {"<a hreflang=en>", false, ""},
      // page-local references: only HREF keeps them
      {"<a href='#x'>", true, "#x"},
      {"<a href='#'>", false, ""},
      {"<img src='#x'>", false, ""},
      // the attribute a tag's name chooses
      {"<iframe src='f.html'>", true, "http://www.example.com/dir/f.html"},
      {"<frame src='f.html'>", true, "http://www.example.com/dir/f.html"},
      {"<embed src='m.swf'>", true, "http://www.example.com/dir/m.swf"},
      {"<script src='s.js'>", true, "http://www.example.com/dir/s.js"},
      {"<bgsound src='s.wav'>", true, "http://www.example.com/dir/s.wav"},
      {"<layer src='l.html'>", true, "http://www.example.com/dir/l.html"},
      {"<video src='v.mp4'>", true, "http://www.example.com/dir/v.mp4"},
      {"<object data='o.svg'>", true, "http://www.example.com/dir/o.svg"},
      {"<blockquote cite='/q.html'>", true, "http://www.example.com/q.html"},
      {"<body background='b.png'>", true, "http://www.example.com/dir/b.png"},
      {"<td background=t.png>", true, "http://www.example.com/dir/t.png"},
      {"<link rel=stylesheet href='s.css'>", true, "http://www.example.com/dir/s.css"},
      {"<area href='../up.html'>", true, "http://www.example.com/dir/../up.html"},
      {"<base href='../other/'>", true, "../other/"},  // never resolved
      // applet class-file form
      {"<applet code='pkg.Main.class'>", true, "http://www.example.com/dir/pkg/Main.class"},
      {"<applet code='pkg.Main'>", true, "http://www.example.com/dir/pkg/Main.class"},
      {"<applet codebase='cb/' code='Main'>", true, "http://www.example.com/dir/Main.class"},
      // META refresh
      {"<meta http-equiv=\"refresh\" content=\"0; URL=next.html\">", true, "http://www.example.com/dir/next.html"},
      {"<meta http-equiv=\"refresh\" content=\"0; URL=next.html\"/>", true, "http://www.example.com/dir/next.html"},
      {"<meta http-equiv='refresh' content='5;url=next.html'>", true, "http://www.example.com/dir/next.html"},
      {"<meta name=\"url\" content=\"0; URL=next.html\">", false, ""},
      {"<meta http-equiv=\"refresh\" content=\"5\">", false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "stale";
    const bool found = GetLinkAttribute(kBase, c.tag, value, 0);
    EXPECT_EQ(found, c.found) << c.tag;
    if (c.found || std::string(c.value).empty()) {
      EXPECT_EQ(found ? value : std::string(), c.value) << c.tag;
    }
  }
}

TEST_F(TagScannersTest, LinkAttributeValueRefusesPageLocalValues) {
  struct Case {
    const char* name;
    const char* tag;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"CODEBASE", "<applet codebase='#x' code=A>", false, ""},
      {"CODEBASE", "<applet codebase='classes' code=A>", true, "http://www.example.com/dir/classes"},
      {"LOWSRC", "<img src=a.gif lowsrc=low.gif>", true, "http://www.example.com/dir/low.gif"},
      {"LONGDESC", "<img src=a.gif longdesc=''>", true, ""},
      {"PLUGINSPAGE", "<embed src=a;pluginspage=http://p.example.org/>", true, "http://p.example.org/"},
      {"HREF", "<x href='#top'>", true, "#top"},
      {"LOWSRC", "<img src=a.gif>", false, ""},
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_EQ(GetLinkAttributeValue(c.name, kBase, c.tag, value, 0), c.found) << c.tag;
    EXPECT_EQ(value, c.value) << c.tag;
  }
}

TEST_F(TagScannersTest, PlainAttributes) {
  struct Case {
    const char* name;
    const char* tag;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"NAME", "<a name=top>", true, "top"},
      {"NAME", "<a name='two words'>", true, "two words"},
      {"NAME", "<a name=''>", true, ""},
      {"NAME", "<a>", false, ""},        // four characters or fewer
      {"NAME", "a name=x>", false, ""},  // no '<'
      {"ID", "<div id='s&#65;&#x42;'>", true, "sAB"},
      {"ID", "<div id='caf&eacute;'>", true, "caf\xE9"},  // named references too, as in fragments
      {"ID", "<div data-id='x'>", false, ""},
      {"ID", "<div;id='x'>", false, ""},  // only a blank may stand before a plain attribute
      {"STYLE", "<p style=\"color: red\">", true, "color: red"},
      {"STYLE", "<p style='a:&#38;amp;'>", true, "a:&amp;"},  // numeric references only
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_EQ(GetAttribute(c.name, c.tag, value, 0), c.found) << c.tag;
    EXPECT_EQ(value, c.value) << c.tag;
  }
  EXPECT_EQ(GetAltText("<img src=a alt='A picture'>"), "A picture");
  EXPECT_EQ(GetAltText("<img src=a alt=pic>"), "pic");
  EXPECT_EQ(GetAltText("<img src=a salt=x>"), "");
  EXPECT_EQ(GetAltText("<img src=a>"), "");
}

TEST_F(TagScannersTest, MetaContentAndCharset) {
  struct Case {
    const char* tag;
    bool description;
    const char* descriptionValue;
    bool charset;
    const char* charsetValue;
  };
  const Case cases[] = {
      {"<meta name=\"description\" content=\"All about it\">", true, "All about it", false, ""},
      {"<meta name=description content=short/>", true, "short", false, ""},
      {"<meta name=\"description\" content=\"\">", false, "", false, ""},
      {"<meta name=\"keywords\" content=\"a, b\">", false, "", false, ""},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", false, "", true, "utf-8"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html;charset=koi8-r\">", false, "", true, "koi8-r"},
      {"<meta charset='iso-8859-1'>", false, "", true, "iso-8859-1"},
      {"<meta charset=utf-8/>", false, "", true, "utf-8"},
      {"<meta charset=''>", false, "", false, ""},
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_EQ(GetMetaContent(c.tag, value, "DESCRIPTION"), c.description) << c.tag;
    if (c.description) {
      EXPECT_EQ(value, c.descriptionValue) << c.tag;
    }
    value.clear();
    EXPECT_EQ(GetCharsetAttribute(c.tag, value), c.charset) << c.tag;
    if (c.charset) {
      EXPECT_EQ(value, c.charsetValue) << c.tag;
    }
  }
  std::string value;
  ASSERT_TRUE(GetMetaContent("<meta name=\"keywords\" content=\"a, b\">", value, "KEYWORDS"));
  EXPECT_EQ(value, "a, b");
}

TEST_F(TagScannersTest, ArchiveLists) {
  std::vector<std::string> list;
  ASSERT_TRUE(GetArchiveList(kBase, "<applet code=A archive='a.jar, b.jar'>", list, 0));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], "http://www.example.com/dir/a.jar");
  // The blank after the comma stays in the entry; resolution drops it as leading white space.
  EXPECT_EQ(list[1], "http://www.example.com/dir/b.jar");

  list.clear();
  ASSERT_TRUE(GetArchiveList(kBase, "<applet code=A archive=''>", list, 0));
  EXPECT_EQ(list, std::vector<std::string>{""});

  list.clear();
  EXPECT_FALSE(GetArchiveList(kBase, "<applet code=A archive='a.jar,#b'>", list, 0));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(GetArchiveList(kBase, "<applet code=A archive='a.jar,,b.jar'>", list, 0));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(GetArchiveList(kBase, "<applet code=A>", list, 0));

  ASSERT_TRUE(GetArchiveList("http://cdn.example.net/cb/", "<applet code=A;archive=x.jar>", list, 0));
  EXPECT_EQ(list, std::vector<std::string>{"http://cdn.example.net/cb/x.jar"});
}

}  // namespace
