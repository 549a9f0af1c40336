#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/FileUrl.h"
#include "platform/Url.h"

namespace {

using namespace platform;

struct SplitCase {
  const char* url;
  bool ok;
  unsigned service;
  const char* host;
  const char* object;
  unsigned port;
  const char* user;
  const char* password;
};

TEST(UrlSplit, Table) {
  const unsigned F = AFX_INET_SERVICE_FILE, H = AFX_INET_SERVICE_HTTP, U = AFX_INET_SERVICE_UNK;
  const SplitCase cases[] = {
      {"http://host", true, H, "host", "/", 80, "", ""},
      {"HTTP://Host.Example:8080/a/b?q#f", true, H, "Host.Example", "/a/b?q#f", 8080, "", ""},
      {"https://h/", true, AFX_INET_SERVICE_HTTPS, "h", "/", 443, "", ""},
      {"ftp://u:p:w@h/x;type=a", true, AFX_INET_SERVICE_FTP, "h", "/x;type=a", 21, "u", "p:w"},
      {"gopher://h", true, AFX_INET_SERVICE_GOPHER, "h", "/", 70, "", ""},
      {"http://[::1]:81/x", true, H, "[::1]", "/x", 81, "", ""},
      {"http://[::1]/", true, H, "[::1]", "/", 80, "", ""},
      {"http://h:65535/", true, H, "h", "/", 65535, "", ""},
      {"http://h:0080/", true, H, "h", "/", 80, "", ""},
      {"http://h:/", true, H, "h", "/", 80, "", ""},
      {"http://user@h/", true, H, "h", "/", 80, "user", ""},
      {"http://a@b:c@h/", true, H, "h", "/", 80, "a@b", "c"},
      {"http://h?q", true, H, "h", "/?q", 80, "", ""},
      {"http://h#f", true, H, "h", "/#f", 80, "", ""},
      // dot segments of the path only; '..' above the root stays
      {"http://h/a/./b/../c", true, H, "h", "/a/c", 80, "", ""},
      {"http://h/a/b/..", true, H, "h", "/a/", 80, "", ""},
      {"http://h/a/.", true, H, "h", "/a/", 80, "", ""},
      {"http://h/../a", true, H, "h", "/../a", 80, "", ""},
      {"http://h/a/../../b/./c", true, H, "h", "/../b/c", 80, "", ""},
      {"http://h/a?x=/../y#/./z", true, H, "h", "/a?x=/../y#/./z", 80, "", ""},
      {"http://h/a/%2e%2e/b%zz%20", true, H, "h", "/a/%2e%2e/b%zz%20", 80, "", ""},
      {"http://h/a \t\r\n\x7F", true, H, "h", "/a", 80, "", ""},
      {"http://h\\a\\b", true, H, "h", "\\a\\b", 80, "", ""},
      {"http://h/a\\..\\b", true, H, "h", "/a\\..\\b", 80, "", ""},
      // failures
      {"http://h:65536/", false, 0, "", "", 0, "", ""},
      {"http://h:99999999999999999999/", false, 0, "", "", 0, "", ""},
      {"http://h:8x/", false, 0, "", "", 0, "", ""},
      {"http:///x", false, 0, "", "", 0, "", ""},
      {"http:x", false, 0, "", "", 0, "", ""},
      {"https://", false, 0, "", "", 0, "", ""},
      {"ftp://u@/", false, 0, "", "", 0, "", ""},
      {"gopher://:70/", false, 0, "", "", 0, "", ""},
      {"http://a b/", false, 0, "", "", 0, "", ""},
      {"http://[::1/", false, 0, "", "", 0, "", ""},
      {"http://[::1]x/", false, 0, "", "", 0, "", ""},
      {"", false, 0, "", "", 0, "", ""},
      {"://x", false, 0, "", "", 0, "", ""},
      {"1http://x", false, 0, "", "", 0, "", ""},
      {"www.example.com/x", false, 0, "", "", 0, "", ""},
      {"/path", false, 0, "", "", 0, "", ""},
      // file URLs name absolute paths
      {"file:/x", true, F, "", "/x", 0, "", ""},
      {"file:///x", true, F, "", "/x", 0, "", ""},
      {"file:////x", true, F, "", "/x", 0, "", ""},
      {"file://localhost/x", true, F, "", "/x", 0, "", ""},
      {"FILE://LocalHost/x", true, F, "", "/x", 0, "", ""},
      {"file://", true, F, "", "/", 0, "", ""},
      {"file:///a/b/../c?d#e", true, F, "", "/a/c?d#e", 0, "", ""},
      {"file:///a%41/b%2F", true, F, "", "/a%41/b%2F", 0, "", ""},
      {"file://host/x", false, 0, "", "", 0, "", ""},
      {"file:x", false, 0, "", "", 0, "", ""},
      // mailto
      {"mailto:john@example.com?subject=x", true, AFX_INET_SERVICE_MAILTO, "example.com", "", 0, "john", ""},
      {"mailto:a@b@c", true, AFX_INET_SERVICE_MAILTO, "b@c", "", 0, "a", ""},
      {"MailTo:x", true, AFX_INET_SERVICE_MAILTO, "", "", 0, "x", ""},
      // the other schemes with a service type, and any other one
      {"mid:x@y", true, AFX_INET_SERVICE_MID, "", "x@y", 0, "", ""},
      {"cid:x", true, AFX_INET_SERVICE_CID, "", "x", 0, "", ""},
      {"news:comp.lang.c", true, AFX_INET_SERVICE_NEWS, "", "comp.lang.c", 119, "", ""},
      {"nntp://h/g", true, AFX_INET_SERVICE_NNTP, "h", "/g", 119, "", ""},
      {"prospero://h/x", true, AFX_INET_SERVICE_PROSPERO, "h", "/x", 1525, "", ""},
      {"Telnet://u@h:2323", true, AFX_INET_SERVICE_TELNET, "h", "", 2323, "u", ""},
      {"wais://h/x", true, AFX_INET_SERVICE_WAIS, "h", "/x", 210, "", ""},
      {"afs://cell/x", true, AFX_INET_SERVICE_AFS, "cell", "/x", 0, "", ""},
      {"javascript:void(0)", true, U, "", "void(0)", 0, "", ""},
      {"view-source:http://x/", true, U, "", "http://x/", 0, "", ""},
      {"irc://h:bad/x", true, U, "h:bad", "/x", 0, "", ""},
      {"x-my.scheme+1:anything", true, U, "", "anything", 0, "", ""},
  };
  for (const SplitCase& c : cases) {
    unsigned service = 0;
    std::string host, object, user, password;
    std::uint16_t port = 0;
    bool ok = AfxParseURLEx(c.url, service, host, object, port, user, password);
    ASSERT_EQ(ok, c.ok) << c.url;
    if (!ok) continue;
    EXPECT_EQ(service, c.service) << c.url;
    EXPECT_EQ(host, c.host) << c.url;
    EXPECT_EQ(object, c.object) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
    EXPECT_EQ(user, c.user) << c.url;
    EXPECT_EQ(password, c.password) << c.url;
  }
}

TEST(UrlSplit, RemoveDotSegments) {
  const std::pair<const char*, const char*> cases[] = {
      {"/", "/"},           {"/a/b/c", "/a/b/c"},       {"/.", "/"},          {"/..", "/../"},
      {"/a/./b", "/a/b"},   {"/a/b/..", "/a/"},         {"/a//../b", "/a/b"}, {"/../../a", "/../../a"},
      {"/../a/..", "/../"}, {"/a/.b/..c", "/a/.b/..c"}, {"a/../b", "a/../b"}, {"/a/b/../../../c/./d/", "/../c/d/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(RemoveDotSegments(in), out) << in;
}

TEST(UrlSplit, EscapeUrlPath) {
  struct Case {
    const char* in;
    bool leading;
    const char* out;
  };
  const Case cases[] = {
      {"/pub/a-b_c.~d", true, "%2Fpub/a-b_c.~d"},
      {"/pub/a b", false, "/pub/a%20b"},
      {"x%y?#&", false, "x%25y%3F%23%26"},
      {"caf\xE9/", true, "caf%E9/"},
      {"", true, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeUrlPath(c.in, c.leading), c.out) << c.in;
}

// RFC 3986 section 5.4 with dot segments left in place, plus the bases' own rules.
TEST(UrlCombine, Table) {
  struct Case {
    const char* base;
    const char* rel;
    bool ok;
    const char* out;
  } cases[] = {
      {"http://a/b/c/d;p?q", "g:h", true, "g:h"},
      {"http://a/b/c/d;p?q", "g", true, "http://a/b/c/g"},
      {"http://a/b/c/d;p?q", "./g", true, "http://a/b/c/./g"},
      {"http://a/b/c/d;p?q", "g/", true, "http://a/b/c/g/"},
      {"http://a/b/c/d;p?q", "/g", true, "http://a/g"},
      {"http://a/b/c/d;p?q", "//g", true, "http://g"},
      {"http://a/b/c/d;p?q", "?y", true, "http://a/b/c/d;p?y"},
      {"http://a/b/c/d;p?q", "g?y", true, "http://a/b/c/g?y"},
      {"http://a/b/c/d;p?q", "#s", true, "http://a/b/c/d;p?q#s"},
      {"http://a/b/c/d;p?q", "g#s", true, "http://a/b/c/g#s"},
      {"http://a/b/c/d;p?q", "g?y#s", true, "http://a/b/c/g?y#s"},
      {"http://a/b/c/d;p?q", ";x", true, "http://a/b/c/;x"},
      {"http://a/b/c/d;p?q", "g;x?y#s", true, "http://a/b/c/g;x?y#s"},
      {"http://a/b/c/d;p?q", "", true, "http://a/b/c/d;p?q"},
      {"http://a/b/c/d;p?q", ".", true, "http://a/b/c/."},
      {"http://a/b/c/d;p?q", "..", true, "http://a/b/c/.."},
      {"http://a/b/c/d;p?q", "../g", true, "http://a/b/c/../g"},
      {"http://a/b/c/d;p?q", "../../../../g", true, "http://a/b/c/../../../../g"},
      {"http://a/b/c/d;p?q", "http:g", true, "http:g"},
      {"http://a/b/c/d;p?q", "g ", true, "http://a/b/c/g "},
      {"http://a/b?q#f", "", true, "http://a/b?q"},
      {"http://a", "g", true, "http://a/g"},
      {"http://a?q", "?r", true, "http://a?r"},
      {"https://a/b", "//h/x", true, "https://h/x"},
      {"file:///x/y", "z", true, "file:///x/z"},
      {"file:/x/y", "z", true, "file:/x/z"},
      {"file:///x/y", "/z", true, "file:///z"},
      {"mailto:a@b", "g", false, ""},
      {"g", "h", false, ""},
      {"", "h", false, ""},
      {"mailto:a@b", "http://x/", false, ""},
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    ASSERT_EQ(InternetCombineUrlA(c.base, c.rel, out), c.ok) << c.base << " + " << c.rel;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.base << " + " << c.rel;
    }
  }
}

TEST(FileUrl, PathAndUrl) {
  EXPECT_EQ(FileUrlFromPath("/home/u/index.html"), "file:///home/u/index.html");
  EXPECT_EQ(FileUrlFromPath("/s/a b%#?\\\t\x7F\xC3\xA9.html"), "file:///s/a%20b%25%23%3F%5C%09%7F\xC3\xA9.html");
  const std::pair<const char*, const char*> paths[] = {
      {"file:///home/u/a%2541.html", "/home/u/a%41.html"},
      {"file:/x/%C3%A9", "/x/\xC3\xA9"},
      {"file://localhost/x\\y", "/x/y"},
      {"file:////x/./y/../z", "/x/z"},
      {"file:///%2F%2Fx", "/x"},
      {"file:///a/%2E%2E/b", "/b"},
  };
  for (const auto& [url, path] : paths) {
    std::string p;
    ASSERT_TRUE(PathFromFileUrl(url, p)) << url;
    EXPECT_EQ(p, path) << url;
  }
  std::string p;
  EXPECT_FALSE(PathFromFileUrl("http://h/x", p));
  EXPECT_FALSE(PathFromFileUrl("file://host/x", p));
  EXPECT_FALSE(PathFromFileUrl("/x", p));
}

// Any absolute path without dot segments comes back exactly from its URL.
TEST(FileUrl, RoundTripOfGeneratedPaths) {
  const char* pieces[] = {"a",    "B",    "%",        "%41",  "%25", "#",  "?", "\\", " ", "\t",
                          "\x01", "\x7F", "\xC3\xA9", "\xFF", "..x", ".y", "&", "=",  "+", "~"};
  std::mt19937 rng(7);
  for (int n = 0; n < 2000; ++n) {
    std::string path;
    int segments = 1 + static_cast<int>(rng() % 4);
    for (int s = 0; s < segments; ++s) {
      path += "/";
      int len = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < len; ++k) path += pieces[rng() % std::size(pieces)];
    }
    std::string back;
    ASSERT_TRUE(PathFromFileUrl(FileUrlFromPath(path), back)) << path;
    EXPECT_EQ(back, path);
  }
}

}  // namespace
