#include "algorithms/Regex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kNoMatch = -2;  // expected group count of a case that must not match

struct MatchCase {
  const char* pattern;
  std::string subject;
  int groupCount;                   // kNoMatch: no match
  std::vector<std::string> groups;  // from group 0 on
};

void CheckMatch(const MatchCase& c, bool caseInsensitive = false) {
  SCOPED_TRACE(std::string("pattern ") + c.pattern + " subject \"" + c.subject + "\"");
  Regex re(c.pattern, caseInsensitive);
  ASSERT_TRUE(re.Program()->Compiled()) << re.ErrorText();
  bool matched = re.Match(c.subject);
  EXPECT_FALSE(re.LimitExceeded());
  if (c.groupCount == kNoMatch) {
    EXPECT_FALSE(matched);
    EXPECT_EQ(re.GroupCount(), -1);
    return;
  }
  ASSERT_TRUE(matched);
  EXPECT_EQ(re.GroupCount(), c.groupCount);
  for (std::size_t n = 0; n < c.groups.size(); ++n) {
    EXPECT_EQ(re.Group(static_cast<int>(n)), c.groups[n]) << "group " << n;
    EXPECT_EQ(re.GroupLength(static_cast<int>(n)), static_cast<int>(c.groups[n].size()));
  }
}

TEST(Regex, MatchTable) {
  const MatchCase cases[] = {
      // The session-id rewrite: two groups around the id.
      {"^(.*);jsessionid=[^?]*(.*)$",
       "http://h/a.jsp;jsessionid=AB?x=1",
       2,
       {"http://h/a.jsp;jsessionid=AB?x=1", "http://h/a.jsp", "?x=1"}},
      {"^(.*);jsessionid=[^?]*(.*)$",
       "http://h/a.jsp;jsessionid=AB",
       2,
       {"http://h/a.jsp;jsessionid=AB", "http://h/a.jsp", ""}},
      {"^(.*);jsessionid=[^?]*(.*)$", "http://h/a.jsp?x=1", kNoMatch, {}},
      // The javascript: rewrite takes group 1.
      {"javascript:[a-zA-Z.]*\\('([^']*)'",
       "javascript:window.open('page.html')",
       1,
       {"javascript:window.open('page.html'", "page.html"}},
      // The count stops before the first group that did not take part.
      {"(x)?(b)", "b", 0, {"b", "", "b"}},
      {"(a)(x)?(c)", "ac", 1, {"ac", "a", "", "c"}},
      // Of a repeated group the last repetition is reported.
      {"(a|b)*c", "abc", 1, {"abc", "b"}},
      {"(.)+", "xyz", 1, {"xyz", "z"}},
      {"(ab|cd)+e", "abcdabe", 1, {"abcdabe", "ab"}},
      // Leftmost, then the first alternative, then greedy with back-off.
      {"(ab)*", "xabab", 0, {""}},
      {"(a|ab)(c|bcd)", "abcd", 2, {"abcd", "a", "bcd"}},
      {"a.*b", "a1b2b3", 0, {"a1b2b"}},
      {"a[0-9]*2", "a1232x", 0, {"a1232"}},
      {"x+y", "axxxy", 0, {"xxxy"}},
      {"ab*", "xabbbc", 0, {"abbb"}},
      {"colou?r", "colour", 0, {"colour"}},
      {"colou?r", "color", 0, {"color"}},
      {"(a*)b", "xaab", 1, {"aab", "aa"}},
      {"", "abc", 0, {""}},
      // Anchors only at the subject's ends.
      {"^b", "a\nb", kNoMatch, {}},
      {"a$", "a\nb", kNoMatch, {}},
      {"b$", "a\nb", 0, {"b"}},
      {"^$", "", 0, {""}},
      {"$", "abc", 0, {""}},
      // Word boundaries.
      {"\\<foo\\>", "a foo b", 0, {"foo"}},
      {"\\<foo\\>", "foo", 0, {"foo"}},
      {"\\<foo\\>", "afoo b", kNoMatch, {}},
      {"\\<foo\\>", "foo_bar", kNoMatch, {}},
      {"\\<foo", "x.foo1", 0, {"foo"}},
      // Sets: ']' and '-' first or last are literal.
      {"[]a]+", "x]a]y", 0, {"]a]"}},
      {"[a-]+", "x-a-y", 0, {"-a-"}},
      {"[-a]+", "x-a-y", 0, {"-a-"}},
      {"[^]a]+", "]]bc", 0, {"bc"}},
      {"[a-cx-z]+", "dcbazq", 0, {"cbaz"}},
      // Bytes above 0x7F, and a range that ends at 0xFF.
      {"[\xE0-\xFF]+", "a\xE9\xFF\xE0z", 0, {"\xE9\xFF\xE0"}},
      {"[^\x80-\xFF]+", "\xC3\xA9ok", 0, {"ok"}},
      {"\xE9t\xE9", "l'\xE9t\xE9", 0, {"\xE9t\xE9"}},
      // Escapes.
      {"a\\.b", "axb", kNoMatch, {}},
      {"a\\.b", "a.b", 0, {"a.b"}},
      {"\\(x\\)", "f(x)", 0, {"(x)"}},
      {"a\\*", "aa*", 0, {"a*"}},
      {"\\.\\.*x", "a...x", 0, {"...x"}},
      // An escaped character keeps its postfix and its escape.
      {"ab\\.*", "abX", 0, {"ab"}},
      {"ab\\.*", "ab..X", 0, {"ab.."}},
      {"ab\\.+", "abX", kNoMatch, {}},
      {"a\\?", "xa?", 0, {"a?"}},
  };
  for (const auto& c : cases) CheckMatch(c);
}

TEST(Regex, CaseInsensitive) {
  const MatchCase cases[] = {
      {"AbC", "xaBc", 0, {"aBc"}},     {"[a]b", "AB", kNoMatch, {}},  // a set stays as written
      {"[a]b", "aB", 0, {"aB"}},       {"\\[x", "[X", 0, {"[X"}},     // an escaped '[' does not open a set
      {"\\D+", "dDd", 0, {"dDd"}},                                    // an escaped letter is still a letter
      {"(j)s", "xJS", 1, {"JS", "J"}},
  };
  for (const auto& c : cases) CheckMatch(c, true);
  Regex plain("AbC");
  EXPECT_FALSE(plain.Match("abc"));
}

TEST(Regex, Substitute) {
  struct Case {
    const char* templ;
    const char* result;
  };
  const Case cases[] = {
      {"\\1\\2", "aabbb"}, {"&", "xaabbby"}, {"[\\0]", "[xaabbby]"}, {"\\2-\\1", "bbb-aa"},
      {"\\\\", "\\"},      {"\\&", "&"},     {"\\x", "\\x"},         {"a\\", "a\\"},
      {"\\3|\\9", "|"},    {"\\\\1", "\\1"}, {"plain", "plain"},     {"", ""},
  };
  Regex re("x(a+)(b+)y");
  const std::string subject = "-xaabbby-";  // the groups point into it
  ASSERT_TRUE(re.Match(subject));
  for (const auto& c : cases) EXPECT_EQ(re.Substitute(c.templ), c.result) << c.templ;

  // After a failed match no group inserts anything.
  ASSERT_FALSE(re.Match("nothing"));
  EXPECT_EQ(re.Substitute("<&\\1>"), "<>");
}

TEST(Regex, CompileFailures) {
  struct Case {
    std::string pattern;
    int code;
  };
  const Case cases[] = {
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", 12},
      {"((((((((((a))))))))))", 12},
      {"a**", 17},
      {"a+?", 17},
      {"*a", 21},
      {"a|*", 21},
      {"(a", 13},
      {"a)", 14},
      {"[a", 19},
      {"[]", 19},
      {"a\\", 22},
      {"[z-a]", 18},
      {"[a-\xE9]", 18},  // range bounds compare as signed bytes
      {"(a*)*", 16},
      {"(|a)+", 16},
      {"^*", 16},
      {"\\<+", 16},
      {std::string(40000, 'a'), 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 40));
    Regex re(c.pattern);
    EXPECT_EQ(re.Program()->ErrorCode(), c.code);
    EXPECT_EQ(re.ErrorText(), RegexErrorText(c.code));
    EXPECT_FALSE(re.Match("abcdefghij a aaa (a) z-a"));
    EXPECT_EQ(re.ErrorText(), "NULL regexp");
    EXPECT_EQ(re.GroupCount(), -1);
    EXPECT_EQ(re.Group(0), "");
    EXPECT_EQ(re.GroupLength(0), 0);
    EXPECT_EQ(re.Substitute("&x"), "");
  }
  EXPECT_STREQ(RegexErrorText(12), "too many ()");
  EXPECT_STREQ(RegexErrorText(22), "trailing \\");
  EXPECT_STREQ(RegexErrorText(99), "Unknown error");
  EXPECT_STREQ(RegexErrorText(0), "Unknown error");

  // Nine groups is the limit; a pattern well within the size limit compiles.
  Regex nine("(a)(b)(c)(d)(e)(f)(g)(h)(i)");
  const std::string letters = "abcdefghi";
  ASSERT_TRUE(nine.Match(letters));
  EXPECT_EQ(nine.GroupCount(), 9);
  EXPECT_EQ(nine.Group(9), "i");
  Regex large(std::string(30000, 'a'));
  EXPECT_TRUE(large.Match(std::string(30001, 'a')));
  // A range up to 0xFF and a negated full range compile and terminate.
  EXPECT_TRUE(Regex("[\x80-\xFF]").Program()->Compiled());
  EXPECT_TRUE(Regex("[\xE9-a]").Program()->Compiled());
}

// The opcodes along a chain, from the operand of the single top-level alternative.
std::vector<int> TopChain(const RegexProgram& p) {
  std::vector<int> ops;
  const unsigned char* first = p.Bytes().data() + 1;
  for (const unsigned char* n = RegexProgram::Operand(first); n; n = RegexProgram::Next(n)) {
    ops.push_back(RegexProgram::Op(n));
    if (RegexProgram::Op(n) == OpEnd) break;
  }
  return ops;
}

TEST(Regex, ProgramFormat) {
  // 'a*': magic, alternative -> end, star -> end over the literal "a", end.
  const std::vector<unsigned char> star = {156, OpAlternative, 11, 0,     OpStar, 8, 0, OpLiteral, 0,
                                           0,   'a',           0,  OpEnd, 0,      0};
  EXPECT_EQ(Regex("a*").Program()->Bytes(), star);

  auto dot = RegexProgram::Compile(".*", false);
  EXPECT_EQ(TopChain(*dot), (std::vector<int>{OpStar, OpEnd}));
  EXPECT_EQ(RegexProgram::Op(RegexProgram::Operand(dot->Bytes().data() + 4)), OpAnyChar);

  auto ab = RegexProgram::Compile("ab*", false);
  EXPECT_EQ(TopChain(*ab), (std::vector<int>{OpLiteral, OpStar, OpEnd}));
  EXPECT_STREQ(reinterpret_cast<const char*>(ab->Bytes().data() + 7), "a");

  // (ab)* loops: alternative over the group with a back link, then the way out.
  auto loop = RegexProgram::Compile("(ab)*", false);
  EXPECT_EQ(TopChain(*loop), (std::vector<int>{OpAlternative, OpAlternative, OpEmpty, OpEnd}));
  const unsigned char* alt = RegexProgram::Operand(loop->Bytes().data() + 1);
  std::vector<int> body;
  const unsigned char* n = RegexProgram::Operand(alt);
  for (int i = 0; i < 4 && n; ++i, n = RegexProgram::Next(n)) body.push_back(RegexProgram::Op(n));
  EXPECT_EQ(body, (std::vector<int>{OpGroupOpen + 1, OpAlternative, OpGroupClose + 1, OpBackLink}));
  EXPECT_EQ(n, alt);  // the back link returns to the loop's alternative

  // Start-up hints.
  EXPECT_EQ(RegexProgram::Compile("abc", false)->FirstChar(), 'a');
  EXPECT_TRUE(RegexProgram::Compile("^abc", false)->Anchored());
  EXPECT_FALSE(RegexProgram::Compile("^a|b", false)->Anchored());
  EXPECT_EQ(RegexProgram::Compile("(ab)*c", false)->RequiredLiteral(), "c");
  EXPECT_EQ(RegexProgram::Compile("x*abc.*de", false)->RequiredLiteral(), "abc");
  EXPECT_EQ(RegexProgram::Compile("x*ab.*de", false)->RequiredLiteral(), "de");  // later wins
  EXPECT_EQ(RegexProgram::Compile("abc", false)->RequiredLiteral(), "");
}

TEST(Regex, ResourceBounds) {
  // Exponential backtracking: the step budget ends it.
  Regex nested("(a+)+b");
  EXPECT_FALSE(nested.Match(std::string(40, 'a')));  // no 'b': no try at all
  EXPECT_FALSE(nested.LimitExceeded());
  EXPECT_FALSE(nested.Match("b" + std::string(40, 'a')));
  EXPECT_TRUE(nested.LimitExceeded());
  EXPECT_EQ(nested.GroupCount(), -1);

  Regex stars("(.*)(.*)(.*)(.*)(.*)y");
  EXPECT_FALSE(stars.Match("y" + std::string(5000, 'a')));
  EXPECT_TRUE(stars.LimitExceeded());

  // Deep looped repetition over a megabyte: the depth bound ends it without a crash.
  std::string ab;
  for (int i = 0; i < 500000; ++i) ab += "ab";
  Regex loop("(ab)*c");
  EXPECT_FALSE(loop.Match(ab));  // the required literal is absent: no try
  EXPECT_FALSE(loop.LimitExceeded());
  std::string abc = ab + "c";
  EXPECT_FALSE(loop.Match(abc));
  EXPECT_TRUE(loop.LimitExceeded());
  // Within the bound the same pattern matches and reports its last repetition.
  std::string small = abc.substr(abc.size() - 2001);
  ASSERT_TRUE(loop.Match(small));
  EXPECT_EQ(loop.GroupLength(0), 2001);
  EXPECT_EQ(loop.Group(1), "ab");

  // Simple repetitions over a megabyte need neither depth nor many steps.
  std::string big = std::string(1 << 20, 'x') + "?q=1";
  Regex query("^[^?]*\\?(.*)$");
  ASSERT_TRUE(query.Match(big));
  EXPECT_EQ(query.Group(1), "q=1");
  // A leading repetition retried at every position is quadratic: over a megabyte the step
  // budget ends it, over a URL-sized subject it matches.
  Regex tail("x*q");
  EXPECT_FALSE(tail.Match(big));
  EXPECT_TRUE(tail.LimitExceeded());
  const std::string url = std::string(2000, 'x') + "?q";
  ASSERT_TRUE(tail.Match(url));
  EXPECT_EQ(tail.GroupLength(0), 1);  // leftmost: only the try at 'q' succeeds
}

TEST(Regex, SharedProgramCache) {
  Regex a("^(.*);jsessionid=[^?]*(.*)$");
  Regex b("^(.*);jsessionid=[^?]*(.*)$");
  Regex c("^(.*);jsessionid=[^?]*(.*)$", true);
  EXPECT_EQ(a.Program(), b.Program());
  EXPECT_NE(a.Program(), c.Program());
  // Failed compiles are cached too, and each Regex still reports the error.
  Regex bad1("(a"), bad2("(a");
  EXPECT_EQ(bad1.Program(), bad2.Program());
  EXPECT_EQ(bad2.ErrorText(), "unterminated ()");

  // Per-match state lives in the Regex: two objects sharing a program do not disturb each other.
  const std::string first = "http://h/x;jsessionid=1?a", second = "http://other/y;jsessionid=2";
  ASSERT_TRUE(a.Match(first));
  ASSERT_TRUE(b.Match(second));
  EXPECT_EQ(a.Substitute("\\1\\2"), "http://h/x?a");
  EXPECT_EQ(b.Substitute("\\1\\2"), "http://other/y");

  // The cache is bounded: an old program goes once many others have come in.
  std::weak_ptr<const RegexProgram> old;
  {
    Regex once("only-once-pattern-[0-9]");
    old = once.Program();
  }
  for (int i = 0; i < 2000; ++i) Regex filler("filler" + std::to_string(i));
  EXPECT_TRUE(old.expired());
}

TEST(Regex, ConcurrentUse) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 3000; ++i) {
        Regex re("^(.*);jsessionid=[^?]*(.*)$");
        std::string url = "http://h" + std::to_string(t) + "/p;jsessionid=" + std::to_string(i) + "?q";
        if (!re.Match(url) || re.Substitute("\\1\\2") != "http://h" + std::to_string(t) + "/p?q") ++failures;
        // Patterns of their own push entries out of the cache while others read it.
        Regex own("t" + std::to_string(t) + "-" + std::to_string(i % 300) + "(x*)");
        std::string subject = "t" + std::to_string(t) + "-" + std::to_string(i % 300) + "xx";
        if (!own.Match(subject) || own.Group(1) != "xx") ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
