#include "engine/Url.h"
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <random>
#include <set>
#include <string>

#include "algorithms/Regex.h"
#include "engine/Application.h"
#include "engine/SettingPatterns.h"
#include "platform/CodePage.h"
#include "unit/support/TestLocale.h"

namespace {

// Points the application at a settings file of the test's own.
class UrlSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wexo-url-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    saved_ = platform::SettingsFile();
    platform::SetSettingsFile(dir_ + "/wexo.ini");
  }
  void TearDown() override {
    platform::SetSettingsFile(saved_);
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string dir_, saved_;
};

struct ResolveCase {
  const char* base;
  const char* link;
  unsigned cp;
  bool ok;
  const char* out;
};

void CheckResolve(const ResolveCase& c) {
  std::string link = c.link;
  bool ok = ResolveLink(c.base, link, c.cp);
  EXPECT_EQ(ok, c.ok) << c.base << " + [" << c.link << "] cp " << c.cp;
  if (ok) {
    EXPECT_EQ(link, c.out) << c.base << " + [" << c.link << "] cp " << c.cp;
  }
}

// RFC 3986 section 5.4 where the program agrees, its own answers where it does not ('#s'
// stays as it is, fragments are cut, '.' and '..' are left for the canonical form), and the
// texts around the combination: blanks, entities, code pages.
TEST_F(UrlSettings, ResolveLinkTable) {
  const char* B = "http://a/b/c/d;p?q";
  const ResolveCase cases[] = {
      {B, "g:h", 0, true, "g:h"},
      {B, "g", 0, true, "http://a/b/c/g"},
      {B, "./g", 0, true, "http://a/b/c/g"},
      {B, "g/", 0, true, "http://a/b/c/g/"},
      {B, "/g", 0, true, "http://a/g"},
      {B, "//g", 0, true, "http://g"},
      {B, "?y", 0, true, "http://a/b/c/d;p?y"},
      {B, "g?y", 0, true, "http://a/b/c/g?y"},
      {B, "#s", 0, true, "#s"},
      {B, "g#s", 0, true, "http://a/b/c/g"},
      {B, "g?y#s", 0, true, "http://a/b/c/g?y"},
      {B, ";x", 0, true, "http://a/b/c/;x"},
      {B, "g;x", 0, true, "http://a/b/c/g;x"},
      {B, "g;x?y#s", 0, true, "http://a/b/c/g;x?y"},
      {B, ".", 0, true, "http://a/b/c/."},
      {B, "./", 0, true, "http://a/b/c/./"},
      {B, "./?x", 0, true, "http://a/b/c/./?x"},
      {B, "./a:b", 0, true, "http://a/b/c/./a:b"},
      {B, "./g/h", 0, true, "http://a/b/c/g/h"},
      {B, "..", 0, true, "http://a/b/c/.."},
      {B, "../", 0, true, "http://a/b/c/../"},
      {B, "../g", 0, true, "http://a/b/c/../g"},
      {B, "../..", 0, true, "http://a/b/c/../.."},
      {B, "../../g", 0, true, "http://a/b/c/../../g"},
      {B, "../../../g", 0, true, "http://a/b/c/../../../g"},
      {B, "g.", 0, true, "http://a/b/c/g."},
      {B, "..g", 0, true, "http://a/b/c/..g"},
      {B, "http:g", 0, true, "http:g"},
      {B, "javascript:void(0)", 0, true, "javascript:void(0)"},
      // blanks
      {B, "", 0, false, ""},
      {B, " \t\r\n", 0, false, ""},
      {B, "  g  ", 0, true, "http://a/b/c/g  "},
      // entities: numeric first, then one named pass
      {B, "&#38;lt;", 0, true, "http://a/b/c/<"},
      {B, "&amp;amp;", 0, true, "http://a/b/c/&amp;"},
      {B, "g?a=1&amp;b=2", 0, true, "http://a/b/c/g?a=1&b=2"},
      {B, "a&nbsp;b", 0, true, "http://a/b/c/a b"},
      {B, "&euro;", 0, true, "http://a/b/c/%80"},
      {B, "&euro;", 65001, true, "http://a/b/c/%E2%82%AC"},
      {B, "&#;", 0, true, "http://a/b/c/d;p?"},
      {B, "x&#x;", 0, true, "http://a/b/c/x?"},
      {B, "&#0;x", 0, true, "http://a/b/c/x"},
      {B, "&#35;s", 0, true, "#s"},
      // a base that is not hierarchical
      {"mailto:a@b", "g", 0, false, ""},
      // raw bytes of the page: escaped as they are on 1252 pages, as UTF-8 otherwise
      {"http://h/d/", "caf\xE9.html", 0, true, "http://h/d/caf%E9.html"},
      {"http://h/d/", "caf\xE9.html", 1252, true, "http://h/d/caf%E9.html"},
      {"http://h/d/", "\xEF.html", 1251, true, "http://h/d/%D0%BF.html"},
      {"http://h/d/", "\xD0\xBF.html", 65001, true, "http://h/d/%D0%BF.html"},
      {"http://h/d/", "%E9.html", 1251, true, "http://h/d/%E9.html"},
      {"http://h/%D0%BF/", "x.html", 1251, true, "http://h/%D0%BF/x.html"},
      // file URLs are UTF-8: the link's bytes are converted, the base is left alone
      {"file:///site/\xC3\xA9/", "caf\xE9.html", 1252, true, "file:///site/\xC3\xA9/caf\xC3\xA9.html"},
      {"file:///site/\xC3\xA9/", "\xE6.html", 1251, true, "file:///site/\xC3\xA9/\xD0\xB6.html"},
      {"file:///site/\xC3\xA9/", "\xD0\xB6.html", 65001, true, "file:///site/\xC3\xA9/\xD0\xB6.html"},
      {"http://h/", "file:///x/\xE9", 1252, true, "file:///x/\xC3\xA9"},
  };
  for (const ResolveCase& c : cases) CheckResolve(c);
}

TEST_F(UrlSettings, ResolveLinkJavascriptOption) {
  const char* B = "http://a/b/";
  // Without the option, a javascript: link is left as it is.
  CheckResolve({B, "javascript:openWin('p.html')", 0, true, "javascript:openWin('p.html')"});
  ASSERT_TRUE(CWexoApp().WriteProfileString("Options", "Javascript", "^javascript:openWin[(]'([^']*)'"));
  const ResolveCase cases[] = {
      {B, "javascript:openWin('p.html')", 0, true, "http://a/b/p.html"},
      {B, "JavaScript:openWin('p.html')", 0, true, "JavaScript:openWin('p.html')"},  // no match
      {B, "javascript:openWin('')", 0, false, ""},                                   // empty after the rewrite
      {B, "javascript:void(0)", 0, true, "javascript:void(0)"},
      {B, "openWin('p.html')", 0, true, "http://a/b/openWin('p.html')"},
  };
  for (const ResolveCase& c : cases) CheckResolve(c);
  // The option is read at every call.
  ASSERT_TRUE(CWexoApp().WriteProfileString("Options", "Javascript", "^(javascript):"));
  CheckResolve({B, "javascript:openWin('p.html')", 0, true, "http://a/b/javascript"});
}

// A pattern is compiled once and again only when its text changes; the settings file is looked
// at for every use, so a change takes effect at the next one.
TEST_F(UrlSettings, SettingPatternsAreCompiledOnceAndFollowTheFile) {
  static constexpr const char* kKeys[] = {"First", "Second"};
  SettingPatterns patterns(kKeys);
  auto current = [&] {
    const auto now = patterns.Current();
    return std::vector<const Regex*>{now[0].get(), now[1].get()};
  };
  EXPECT_EQ(current(), (std::vector<const Regex*>{nullptr, nullptr})) << "no settings: no patterns";
  ASSERT_TRUE(CWexoApp().WriteProfileString("Options", "First", "^a(b)"));
  const std::vector<const Regex*> first = current();
  ASSERT_NE(first[0], nullptr);
  EXPECT_EQ(first[1], nullptr);
  EXPECT_EQ(current(), first) << "unchanged texts keep their compiled patterns";
  ASSERT_TRUE(CWexoApp().WriteProfileString("Options", "Second", "c"));
  const std::vector<const Regex*> both = current();
  EXPECT_EQ(both[0], first[0]);
  ASSERT_NE(both[1], nullptr);
  std::string subject = "abc";
  EXPECT_TRUE(patterns.Current()[0]->Match(subject));
  EXPECT_EQ(patterns.Current()[0]->Group(1), "b");
  ASSERT_TRUE(CWexoApp().WriteProfileString("Options", "First", ""));
  EXPECT_EQ(current(), (std::vector<const Regex*>{nullptr, both[1]})) << "an emptied setting has no pattern";
}

struct CanonCase {
  unsigned cp;
  bool lower;
  const char* in;
  const char* out;
};

TEST(Canonical, Table) {
  const CanonCase cases[] = {
      // ports, host case, credentials
      {0, false, "http://Host.Example:80/a", "http://Host.Example/a"},
      {0, false, "http://h:8080/a", "http://h:8080/a"},
      {0, false, "https://h:443/", "https://h/"},
      {0, false, "https://h:80/", "https://h:80/"},
      {0, false, "http://host", "http://host/"},
      {0, false, "HTTP://host?q", "http://host/?q"},
      {0, false, "http://u:p@h/", "http://u:p@h/"},
      {0, false, "http://u@h/", "http://u@h/"},
      {0, false, "http://:p@h/", "http://h/"},
      {0, false, "http://[::1]:8080/x", "http://[::1]:8080/x"},
      {0, true, "HTTP://HOST.Example/A%41/\xC9", "http://host.example/aa/%E9"},
      {0, false, "http://h/a/./b/../c", "http://h/a/c"},
      {0, false, "http://h/../a", "http://h/../a"},
      {0, false, "http://h/a?b/./c", "http://h/a?b/./c"},
      {0, false, "http://h/a \t", "http://h/a"},
      // mailto
      {0, false, "mailto:John@Example.com?subject=hi", "mailto:John@Example.com"},
      {0, false, "mailto:a@b@c", "mailto:a@b@c"},
      {0, false, "mailto:a%40b@c", "mailto:a@b@c"},
      {0, false, "mailto:x", "mailto:x@"},
      {0, false, "mailto:", "mailto:"},
      {0, false, "mailto:?subject=x", "mailto:"},
      {0, false, "mailTo:@@", "mailto:"},  // found by fuzzing: "mailto:@" became "mailto:" next time
      // found by fuzzing: a leading '@' went only on the second pass
      {0, false, "mailto:@@x@", "mailto:x@"},
      {0, false, "mailto:@x@", "mailto:x@"},
      {0, false, "mailto:@x", "mailto:@x"},
      {0, false, "mailto:x@@", "mailto:x@@"},
      {0, false, "mailto:@@f:x/./", "mailto:@f:x/./"},
      // non-ASCII bytes, raw and escaped
      {0, false, "http://h/caf\xE9", "http://h/caf%E9"},
      {1252, false, "http://h/caf\xE9", "http://h/caf%E9"},
      {1251, false, "http://h/\xEF", "http://h/%D0%BF"},
      {65001, false, "http://h/\xD0\xBF", "http://h/%D0%BF"},
      {1251, false, "http://h/%D0%BF/x", "http://h/%D0%BF/x"},
      {1251, false, "http://h/%EF\xEF", "http://h/%EF%D0%BF"},
      {1252, false, "http://h/%e9", "http://h/%E9"},
      // a UTF-8 page's escapes stay as written, unless lower-casing changed them
      {65001, false, "http://h/low%c3%a9.html", "http://h/low%c3%a9.html"},
      {65001, false, "http://h/low%C3%A9.html", "http://h/low%C3%A9.html"},
      {65001, true, "http://h/Low%c3%A9.html", "http://h/low%C3%A9.html"},
      {65001, true, "http://h/L\xC3\xA9", "http://h/l%C3%A9"},
      {65001, false, "http://h/\xFF", "http://h/%FF"},
      // printable escapes are decoded, except with UTF-8
      {0, false, "http://h/%7e%2F%41", "http://h/~/A"},
      {1251, false, "http://h/%7e", "http://h/~"},
      {65001, false, "http://h/%7e", "http://h/%7e"},
      // lower-casing also lower-cases what an escape gives, so a key stays one key
      {0, true, "http://h/X%41.html", "http://h/xa.html"},
      // escapes that must stay
      {0, false, "http://h/a%25b%23c%3fd%00%1F%7F%20", "http://h/a%25b%23c%3Fd%00%1F%7F%20"},
      {0, false, "http://h/%2541", "http://h/%2541"},
      {0, false, "http://h/a%26%3D%2B?x=%26%3d%2B&y=%41", "http://h/a&=+?x=%26%3D%2B&y=A"},
      {0, false, "http://h/100%", "http://h/100%25"},
      {65001, false, "http://h/100%", "http://h/100%"},
      // raw control bytes never reach the key
      {0, false, "http://h/a\r\nb\tc d\x7F.", "http://h/a%0D%0Ab%09c%20d%7F."},
      {0, false, "foo:a\nb", "foo:a%0Ab"},
      {0, false, "http://h/a\\b", "http://h/a\\b"},
      // file URLs
      {0, false, "file:///C:\\dir\\a.html", "file:///C:/dir/a.html"},
      {0, false, "file:///home/caf\xC3\xA9/%41.html", "file:///home/caf\xC3\xA9/A.html"},
      {1251, false, "file:///\xD0\xBF/%D0%B6", "file:///\xD0\xBF/\xD0\xB6"},
      {1252, false, "file:///a/a%2541.html", "file:///a/a%2541.html"},
      {0, false, "file:///a/a%23b%3F.html", "file:///a/a%23b%3F.html"},
      {0, false, "file:///a/a%5Cb", "file:///a/a%5Cb"},
      {0, false, "file://localhost/x", "file:///x"},
      {0, false, "file:/x y", "file:///x%20y"},
      {0, false, "file:////x/./b/../c", "file:///x/c"},
      {65001, false, "file:///a/%2E%2E/b", "file:///b"},
      // a path that begins with "//" (found by fuzzing: its key changed when canonicalized again)
      {1252, false, "file:/\\.//CCc\x1Co", "file:///CCc%1Co"},
      {0, false, "file:///\\//x", "file:///x"},
      {1251, true, "FILE:///\xD0\x9F/A", "file:///\xD0\xBF/a"},
      // "/./" runs collapse whole in one pass (found by fuzzing: one was left for the next time)
      {0, false, "http://w\\0/a/././,#ag", "http://w\\0/a/,#ag"},
      {0, false, "http://h/a/././././b", "http://h/a/b"},
      // other schemes stay as they are
      {0, false, "javascript:void(0)", "javascript:void(0)"},
      {0, false, "ftp://h/%7e", "ftp://h/~"},
      {0, false, "news:comp.lang", "news:comp.lang"},
      {0, false, "not a url", "not a url"},
  };
  for (const CanonCase& c : cases) {
    std::string url = c.in;
    CanonicalizeUrl(url, c.lower, c.cp);
    EXPECT_EQ(url, c.out) << "[" << c.in << "] cp " << c.cp << (c.lower ? " lower" : "");
    std::string again = url;
    CanonicalizeUrl(again, c.lower, c.cp);
    EXPECT_EQ(again, url) << "not stable: [" << c.in << "]";
  }
}

// Fuzzers' reproducers with bytes a table of C strings cannot hold: each form is stable.
TEST(Canonical, FuzzReproducersAreStable) {
  const std::string inputs[] = {std::string("maiLto:@@f:\x0F\0/\0\0/./\0?\xA5\x97", 23)};
  for (const std::string& in : inputs) {
    std::string once = in;
    CanonicalizeUrl(once, false, 0);
    std::string twice = once;
    CanonicalizeUrl(twice, false, 0);
    EXPECT_EQ(twice, once);
  }
}

// The canonical form is a fixed point for every code page, whatever a page may hold.
TEST(Canonical, IsIdempotentForGeneratedUrls) {
  const char* schemes[] = {
      "http://", "HTTPS://",    "https://", "ftp://", "file://", "file:///", "file:",    "FILE://localhost",
      "mailto:", "javascript:", "foo:",     "news:",  "",        "http:",    "gopher://"};
  const char* authorities[] = {"",
                               "h",
                               "Host.EXAMPLE",
                               "u:p@h",
                               "@h",
                               "[::1]",
                               "h:8080",
                               "h:80",
                               "h:443",
                               "h:99999",
                               "h%2Fx",
                               "h%40y",
                               "a@b",
                               "ho st",
                               "b\xC3\xBC"
                               "cher.de",
                               "x\xE9y"};
  const char* pieces[] = {"/",   "/",     "/",    "a",   "B",      ".",    "..",       "%2E",  "%2e%2E", "%2F",
                          "%25", "%2541", "%41",  "%7e", "%C3%A9", "\xE9", "\xD0\xBF", "\x82", "\\",     " ",
                          "\t",  "\r\n",  "?",    "#",   "&",      "=",    "+",        "%26",  "%3D",    "%2B",
                          "%3F", "%23",   "%00",  "%0a", "%",      "%2",   "%%41",     "~",    "@",      ":",
                          ";",   "&amp;", "\x7F", "%20", "//",     "%5C",  "%5c",      "\xFF"};
  std::mt19937 rng(12345);
  std::vector<std::string> urls;
  for (int n = 0; n < 600; ++n) {
    std::string u = schemes[rng() % std::size(schemes)];
    u += authorities[rng() % std::size(authorities)];
    int count = static_cast<int>(rng() % 9);
    for (int k = 0; k < count; ++k) u += pieces[rng() % std::size(pieces)];
    urls.push_back(u);
  }
  std::vector<unsigned> pages = platform::KnownCodePages();
  pages.push_back(0);
  for (unsigned cp : pages) {
    for (bool lower : {false, true}) {
      for (const std::string& u : urls) {
        std::string once = u;
        CanonicalizeUrl(once, lower, cp);
        std::string twice = once;
        CanonicalizeUrl(twice, lower, cp);
        ASSERT_EQ(twice, once) << "[" << u << "] cp " << cp << (lower ? " lower" : "");
      }
    }
  }
}

TEST(Canonical, ShortcutAgreesWithTheGeneralCase) {
  const char* schemes[] = {"http://", "https://", "HTTP://", "ftp://"};
  const char* hosts[] = {"h",      "Host.EXAMPLE",   "a-b.c", "h.",  "-h", "h:80",    "u@h",     "",
                         "h:8080", "h:443",          "h:080", "h:0", "h:", "h:65535", "h:65536", "h:123456",
                         "h:8a",   "127.0.0.1:8080", ":8080"};
  const char* pieces[] = {"/", "/", "a", "B", ".",  "..",  "./",   "../", "?",      "#",
                          "&", "=", "+", ";", "~",  "@",   ":",    "'",   "(",      "\\",
                          "!", "$", "*", ",", "//", "%41", "\xE9", " ",   "x.html", "index"};
  std::mt19937 rng(777);
  int shortcuts = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string u = schemes[rng() % std::size(schemes)];
    u += hosts[rng() % std::size(hosts)];
    const int count = static_cast<int>(rng() % 10);
    for (int k = 0; k < count; ++k) u += pieces[rng() % std::size(pieces)];
    if (IsCanonicalHttpUrl(u)) ++shortcuts;
    for (unsigned cp : {0u, 1252u, 1251u, 65001u}) {
      for (bool lower : {false, true}) {
        std::string fast = u, full = u;
        CanonicalizeUrl(fast, lower, cp);
        CanonicalizeUrlFully(full, lower, cp);
        ASSERT_EQ(fast, full) << "[" << u << "] cp " << cp << (lower ? " lower" : "");
      }
    }
  }
  EXPECT_GT(shortcuts, 200) << "the generator must reach the shortcut often";
}

TEST(CrackUrl, Parts) {
  struct Case {
    const char* url;
    bool ok;
    unsigned service;
    const char* host;
    const char* object;
    unsigned port;
  } cases[] = {
      {"http://Host/caf\xE9?q=\xE9", true, AFX_INET_SERVICE_HTTP, "Host", "/caf%E9?q=%E9", 80},
      {"http://h?q=\xE9 x", true, AFX_INET_SERVICE_HTTP, "h", "/?q=%E9%20x", 80},
      {"http://h/a\r\nHost: x", true, AFX_INET_SERVICE_HTTP, "h", "/a%0D%0AHost:%20x", 80},
      {"http://h/a/%2E/b?x=/./y", true, AFX_INET_SERVICE_HTTP, "h", "/a/%2E/b?x=/./y", 80},
      {"https://h:8443/%7e", true, AFX_INET_SERVICE_HTTPS, "h", "/%7e", 8443},
      {"ftp://u:p@h/d/f", true, AFX_INET_SERVICE_FTP, "h", "/d/f", 21},
      {"file:///C:\\a\\b%20c.html", true, AFX_INET_SERVICE_FILE, "", "/C:/a/b c.html", 0},
      {"file:///a%2524/%5C", true, AFX_INET_SERVICE_FILE, "", "/a%24/\\", 0},
      {"file:///d/\xC3\xA9", true, AFX_INET_SERVICE_FILE, "", "/d/\xC3\xA9", 0},
      {"mailto:a@b.com?subject=x", true, AFX_INET_SERVICE_MAILTO, "b.com", "", 0},
      {"javascript:x", true, AFX_INET_SERVICE_UNK, "", "x", 0},
      {"telnet://h", true, AFX_INET_SERVICE_TELNET, "h", "", 23},
      {"", false, 0, "", "", 0},
      {"http://", false, 0, "", "", 0},
  };
  for (const Case& c : cases) {
    unsigned service = 0;
    std::string host, object, user, password;
    std::uint16_t port = 0;
    ASSERT_EQ(CrackUrl(c.url, service, host, object, port, user, password), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(service, c.service) << c.url;
    EXPECT_EQ(host, c.host) << c.url;
    EXPECT_EQ(object, c.object) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
  }
  // A long data: URL is cut before it is split.
  std::string data = "data:" + std::string(5000, 'a');
  unsigned service = 0;
  std::string host, object, user, password;
  std::uint16_t port = 0;
  ASSERT_TRUE(CrackUrl(data, service, host, object, port, user, password));
  EXPECT_EQ(object.size(), 1024u - 5u);
}

TEST(MailtoDomain, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"mailto:a@b.com", "b.com"},
      {"mailto:a@b.com?subject=x@y", "b.com"},
      {"mailto:a@b.com,c@d.org", "b.com"},
      {"mailto:a@b.com;c@d.org", "b.com"},
      {"mailto:x@y@z.com", "z.com"},
      {"MAILTO:x@Y.com", "Y.com"},
      {"mailto:john", ""},
      {"mailto:", ""},
  };
  for (const auto& [url, domain] : cases) EXPECT_EQ(MailtoDomain(url), domain) << url;
}

TEST(Entities, TableHoldsEachNameOnce) {
  std::set<std::string> names;
  int count = 0;
  for (const HtmlEntity* e = HtmlEntityTable; e->name[0]; ++e, ++count) {
    EXPECT_TRUE(names.insert(e->name).second) << e->name;
    EXPECT_EQ(std::strlen(e->text), 1u) << e->name;
  }
  EXPECT_EQ(count, 123);
  for (const char* absent : {"fnof", "bull", "trade", "alpha", "ensp", "zwj"})
    EXPECT_EQ(names.count(absent), 0u) << absent;
}

TEST(Entities, Narrow) {
  const CanonCase cases[] = {
      // cp, -, in, out
      {0, false, "&eacute;", "\xE9"},
      {1252, false, "&eacute;&euro;", "\xE9\x80"},
      {0, false, "&euro;&hellip;&OElig;", "\x80\x85\x8C"},
      {65001, false, "&eacute;", "\xC3\xA9"},
      {65001, false, "&euro;", "\xE2\x82\xAC"},
      {1251, false, "&euro;", "\x88"},
      {1251, false, "&eacute;", "?"},
      {28591, false, "&euro;&eacute;", "?\xE9"},
      {0, false, "a&nbsp;b", "a b"},
      {65001, false, "&nbsp;", " "},
      {0, false, "&quot;&apos;&lt;&gt;&amp;", "\"'<>&"},
      {0, false, "&#38;lt;", "<"},
      {0, false, "&amp;amp;", "&amp;"},
      {0, false, "&#38;#38;", "&#38;"},
      {0, false, "&#;", "?"},
      {0, false, "&#x;", "?"},
      {0, false, "a&#0;b", "ab"},
      {0, false, "&#65;&#x41;&#X42;&#0066;", "AABB"},
      {65001, false, "&#x1F600;", "\xF0\x9F\x98\x80"},
      {65001, false, "&#128512;", "\xF0\x9F\x98\x80"},
      {0, false, "&#x1F600;", "?"},
      {65001, false, "&#xD800;", "?"},
      {65001, false, "&#x110000;", "?"},
      {65001, false, "&#99999999999999999999;", "?"},
      {65001, false, "&#x10041;", "\xF0\x90\x81\x81"},  // not the low 16 bits ('A')
      {1252, false, "&#8364;", "\x80"},
      {1251, false, "&#1055;", "\xCF"},
      {0, false, "&#65", "&#65"},
      {0, false, "&lt", "&lt"},
      {0, false, "&unknown;", "&unknown;"},
      {0, false, "&LT;", "&LT;"},
      {0, false, "&;", "&;"},
      {0, false, "&#xZ;", "&#xZ;"},
      {0, false, "&#12a;", "&#12a;"},
      {0, false, "&&amp;", "&&"},
      {0, false, "x&", "x&"},
  };
  for (const CanonCase& c : cases) {
    std::string text = c.in;
    DecodeEntities(text, c.cp);
    EXPECT_EQ(text, c.out) << c.in << " cp " << c.cp;
  }
  std::string numericOnly = "&#38;lt;&amp;";
  DecodeNumericCharRefs(numericOnly, 0);
  EXPECT_EQ(numericOnly, "&lt;&amp;");
}

TEST(Entities, Wide) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"&eacute;", u"\u00E9"},
      {u"&euro;&hellip;&OElig;", u"\u20AC\u2026\u0152"},
      {u"a&nbsp;b", u"a b"},
      {u"&#x1F600;", u"\U0001F600"},
      {u"&#128512;", u"\U0001F600"},
      {u"&#;&#x;", u"??"},
      {u"a&#0;b", u"ab"},
      {u"&#xD800;&#x110000;&#99999999999999999999;", u"???"},
      {u"&#38;lt;", u"<"},
      {u"&amp;amp;", u"&amp;"},
      {u"&#X41;&#x42;&#67;", u"ABC"},
      {u"&#65", u"&#65"},
      {u"&unknown; &lt", u"&unknown; &lt"},
      {u"\u0416&amp;\u0416", u"\u0416&\u0416"},
  };
  for (const auto& [in, out] : cases) {
    std::u16string text = in;
    DecodeEntitiesW(text);
    EXPECT_EQ(text, out);
    EXPECT_LE(text.size(), in.size());
  }
}

TEST(TextHelpers, PercentEscapesAndCodePages) {
  const std::pair<const char*, const char*> escapes[] = {
      {"%41%4a%zz%", "AJ%zz%"}, {"%2541", "%41"},       {"%4", "%4"}, {"a%", "a%"},
      {"%%41", "%A"},           {"%C3%A9", "\xC3\xA9"}, {"", ""},
  };
  for (const auto& [in, out] : escapes) EXPECT_EQ(DecodePercentEscapes(in), out) << in;

  EXPECT_EQ(ConvertCodePage("\xCF\xF0", 1251, 65001), "\xD0\x9F\xD1\x80");
  EXPECT_EQ(ConvertCodePage("\xD0\x9F\xC3\xA9", 65001, 1252), "?\xE9");
  EXPECT_EQ(ConvertCodePage("\xE9", 0, 65001), "\xC3\xA9");
  EXPECT_EQ(ConvertCodePage("\xE9", 1251, 1251), "\xE9");
  EXPECT_EQ(ConvertCodePage("\xE9", 12345, 65001), "\xE9");
  EXPECT_EQ(ConvertCodePage("", 1251, 65001), "");

  EXPECT_EQ(CodePointToCodePage('A', 0), "A");
  EXPECT_EQ(CodePointToCodePage(0, 65001), "");
  EXPECT_EQ(CodePointToCodePage(0x20AC, 1252), "\x80");
  EXPECT_EQ(CodePointToCodePage(0x20AC, 65001), "\xE2\x82\xAC");
  EXPECT_EQ(CodePointToCodePage(0x1F600, 65001), "\xF0\x9F\x98\x80");
  EXPECT_EQ(CodePointToCodePage(0x110000, 65001), "?");
  EXPECT_EQ(CodePointToCodePage('A', 12345), "?");
}

// The C library lower-cases 'I' to dotless U+0131 in a Turkish locale; lower-casing in a code
// page must not follow it.
class TurkishLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(wexo_test::UseLocale("tr_TR.UTF-8", &error)) << error;
    ASSERT_EQ(std::towlower(L'I'), 0x131);
  }
  void TearDown() override { wexo_test::UseCLocale(); }
};

TEST_F(TurkishLocale, ToLowerInCodePage) {
  const CanonCase cases[] = {
      // cp, -, in, out
      {0, false, "INDEX.HTML", "index.html"},
      {0, false, "\xC0\xC9I\x8A", "\xE0\xE9i\x9A"},
      {1252, false, "\xC0\xC9I\x9F", "\xE0\xE9i\xFF"},
      {65001, false, "I\xC3\x89\xD0\x9F", "i\xC3\xA9\xD0\xBF"},
      {1251, false, "\xCF\xD0\xC8I", "\xEF\xF0\xE8i"},
      {20866, false, "\xF0\xF2", "\xD0\xD2"},
      {1254, false, "I\xDD", "ii"},
      {932, false, "ABC\x93\xFA", "abc\x93\xFA"},
      {65001, false,
       "A\xFF"
       "B",
       "a\xFF"
       "b"},                                    // invalid bytes stay as they are
      {12345, false, "ABC\xC9", "abc\xC9"},     // unknown code page: ASCII only
      {1253, false, "A\xD2\xC1", "a\xD2\xC1"},  // 0xD2 is not in 1253: left whole
  };
  for (const CanonCase& c : cases) EXPECT_EQ(ToLowerInCodePage(c.in, c.cp), c.out) << c.in << " cp " << c.cp;
}

}  // namespace
