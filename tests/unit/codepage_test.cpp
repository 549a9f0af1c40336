#include "platform/CodePage.h"
#include "unit/support/TestLocale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::CodePageFromCharsetName;
using platform::MultiByteToWide;
using platform::WideToMultiByte;

std::u16string Wide(unsigned cp, const std::string& bytes) {
  std::u16string out;
  EXPECT_TRUE(MultiByteToWide(cp, bytes, out)) << cp;
  return out;
}

std::string Narrow(unsigned cp, const std::u16string& text) {
  std::string out;
  EXPECT_TRUE(WideToMultiByte(cp, text, out)) << cp;
  return out;
}

TEST(CodePage, CharsetNamesAndAliases) {
  struct Case {
    const char* name;
    unsigned cp;
  } cases[] = {
      {"iso-8859-1", 28591},
      {"ISO-8859-1", 28591},
      {"latin1", 28591},
      {"Latin1", 28591},
      {"utf-8", 65001},
      {"UTF-8", 65001},
      {"utf8", 65001},
      {"shift_jis", 932},
      {"Shift_JIS", 932},
      {"windows-1251", 1251},
      {"WINDOWS-1252", 1252},
      {"koi8-r", 20866},
      {"euc-jp", 51932},
      {"gb2312", 936},
      {"big5", 950},
      {"us-ascii", 20127},
      {"utf-16", 1200},
      {"iso-8859-15", 28605},
      {"ks_c_5601-1987", 949},
      {"euc-kr", 51949},
      {"iso-2022-jp", 50220},
      {"gb18030", 54936},
      {"tis-620", 874},
      {"iso-8859-8-i", 38598},
      // unknown names
      {"", 0},
      {"x-unknown", 0},
      {"utf-8 ", 0},
      {"utf_8x", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CodePageFromCharsetName(c.name), c.cp) << c.name;
}

TEST(CodePage, SupportedCodePages) {
  for (unsigned cp : {0u,     437u,   874u,   932u,   936u,   949u,   950u,   1200u,  1250u,  1251u,  1252u,
                      1253u,  1254u,  1255u,  1256u,  1257u,  1258u,  20127u, 20866u, 21866u, 28591u, 28592u,
                      28595u, 28597u, 28605u, 50220u, 51932u, 51949u, 54936u, 65000u, 65001u})
    EXPECT_TRUE(platform::IsSupportedCodePage(cp)) << cp;
  for (unsigned cp : {1u, 12345u, 65002u}) {
    EXPECT_FALSE(platform::IsSupportedCodePage(cp)) << cp;
    std::u16string w = u"left alone";
    std::string n = "left alone";
    EXPECT_FALSE(MultiByteToWide(cp, "abc", w));
    EXPECT_FALSE(WideToMultiByte(cp, u"abc", n));
  }
  // Every name of the table leads to a code page that converts.
  for (const char* name :
       {"utf-7", "koi8-u", "macintosh", "cp866", "iso-2022-kr", "hz-gb-2312", "windows-1258", "iso-8859-13"})
    EXPECT_TRUE(platform::IsSupportedCodePage(CodePageFromCharsetName(name))) << name;
}

// Known encodings of one text, both ways.
TEST(CodePage, KnownBytesBothWays) {
  struct Case {
    unsigned cp;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
      {0, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
      {28591, "caf\xE9 \x80", u"caf\u00E9 \u0080"},
      {65001, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", u"caf\u00E9 \u20AC \U0001F600"},
      {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", u"\u041F\u0440\u0438\u0432\u0435\u0442"},
      {20866, "\xF0\xD2\xC9\xD7\xC5\xD4", u"\u041F\u0440\u0438\u0432\u0435\u0442"},
      {28595, "\xBF\xE0\xD8\xD2\xD5\xE2", u"\u041F\u0440\u0438\u0432\u0435\u0442"},
      {932, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
      {51932, "\xC6\xFC\xCB\xDC", u"\u65E5\u672C"},
      {936, "\xD6\xD0", u"\u4E2D"},
      {950, "\xA4\xA4", u"\u4E2D"},
      {949, "\xC7\xD1", u"\uD55C"},
      {1253, "\xE1\xE2\xE3", u"\u03B1\u03B2\u03B3"},
      {1200, std::string("a\0\x3B\x04", 4), u"a\u043B"},
      {65001, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {932, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {1252, "", u""},
      {932, "", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Wide(c.cp, c.bytes), c.text) << c.cp;
    EXPECT_EQ(Narrow(c.cp, c.text), c.bytes) << c.cp;
  }
}

TEST(CodePage, EveryByteOf1252RoundTripsIncludingTheHoles) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (unsigned cp : {0u, 1252u}) {
    std::u16string w = Wide(cp, all);
    ASSERT_EQ(w.size(), 256u);
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(w[b], char16_t(b)) << b;
    EXPECT_EQ(w[0x9F], u'\u0178');
    EXPECT_EQ(Narrow(cp, w), all);
  }
  for (char16_t c : {u'\u0081', u'\u008D', u'\u008F', u'\u0090', u'\u009D'})
    EXPECT_EQ(Narrow(1252, std::u16string(1, c)), std::string(1, static_cast<char>(c)));
}

TEST(CodePage, UnmappableOutputBecomesQuestionMark) {
  struct Case {
    unsigned cp;
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {1252, u"a\u0416b", "a?b"},
      {0, u"\u0101", "?"},  // no best-fit 'a'
      {1252, u"\U0001F600", "?"},
      {1252, u"\u0080", "?"},
      {1252, std::u16string(1, char16_t(0xD800)), "?"},
      {1251, u"\u65E5\u0416", "?\xC6"},
      {932, u"x\u0416\U0001F600", "x\x84\x47?"},
      {28591, u"\u20AC", "?"},
      {20127, u"\u00E9", "?"},
      {20866, u"\u00E9", "?"},
      {51932, u"\u0E01", "?"},
  };
  for (const Case& c : cases) EXPECT_EQ(Narrow(c.cp, c.text), c.bytes) << c.cp;
}

TEST(CodePage, InvalidInputBecomesReplacementCharacter) {
  struct Case {
    unsigned cp;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {65001, "a\xC3(", u"a\uFFFD("}, {65001, "\xFF", u"\uFFFD"},
      {65001, "\xE2\x82", u"\uFFFD"}, {65001, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {20127, "a\x80", u"a\uFFFD"},   {932, "a\x93", u"a\uFFFD"},
      {932, "\xA0", u"\uFFFD"},  // a single undefined byte: not U+001A
      {51932, "\xC6", u"\uFFFD"},     {1200, "a", u"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Wide(c.cp, c.bytes), c.text) << c.cp;
  // A lone surrogate in UTF-16 becomes U+FFFD in UTF-8.
  EXPECT_EQ(Narrow(65001, std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(CodePage, LongTextThroughConverters) {
  std::u16string text;
  for (int i = 0; i < 5000; ++i) text += u"\u65E5\u672C\u8A9E a ";
  for (unsigned cp : {932u, 51932u, 936u, 65001u, 1200u, 54936u}) {
    EXPECT_EQ(Wide(cp, Narrow(cp, text)), text) << cp;
  }
}

TEST(CodePage, ConvertersAreUsableFromManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 200; ++i) {
        std::u16string w;
        std::string n;
        if (!MultiByteToWide(932, "\x93\xFA\x96\x7B", w) || w != u"\u65E5\u672C") ++failures;
        if (!WideToMultiByte(1251, u"\u041F", n) || n != "\xCF") ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

// Makes a Turkish locale in a private folder and switches the process to it: there the C
// library lower-cases 'I' to dotless U+0131, which simple Unicode lower-casing never does.
class TurkishLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(wexo_test::UseLocale("tr_TR.UTF-8", &error)) << error;
    ASSERT_EQ(std::towlower(L'I'), 0x131);
  }
  void TearDown() override { wexo_test::UseCLocale(); }
};

TEST_F(TurkishLocale, LowerCasingIgnoresTheProcessLocale) {
  struct Case {
    std::u16string in, out;
  } cases[] = {
      {u"INDEX.HTML", u"index.html"},
      {u"\u00C4\u00D6\u00DC\u00C9", u"\u00E4\u00F6\u00FC\u00E9"},
      {u"\u041F\u0420\u0418\u0412\u0415\u0422", u"\u043F\u0440\u0438\u0432\u0435\u0442"},
      {u"\u0130", u"i"},               // simple mapping of dotted capital I
      {u"\u1E9E", u"\u00DF"},          // capital sharp s
      {u"\U00010400", u"\U00010428"},  // Deseret, outside the BMP
      {u"\u65E5 123 _-", u"\u65E5 123 _-"},
      {std::u16string(1, char16_t(0xD801)), std::u16string(1, char16_t(0xD801))},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::ToLowerSimple(c.in), c.out);
}

TEST_F(TurkishLocale, CaseInsensitiveComparison) {
  using platform::CompareNoCaseWide;
  EXPECT_EQ(CompareNoCaseWide(u"TITLE", u"title"), 0);
  EXPECT_EQ(CompareNoCaseWide(u"\u041F\u0420\u0418\u0412\u0415\u0422", u"\u043F\u0440\u0438\u0432\u0435\u0442"), 0);
  EXPECT_EQ(CompareNoCaseWide(u"\u00C9T\u00C9", u"\u00E9t\u00E9"), 0);
  EXPECT_EQ(CompareNoCaseWide(u"\U00010400", u"\U00010428"), 0);
  EXPECT_LT(CompareNoCaseWide(u"abc", u"ABD"), 0);
  EXPECT_GT(CompareNoCaseWide(u"ABD", u"abc"), 0);
  EXPECT_LT(CompareNoCaseWide(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNoCaseWide(u"abc", u"AB"), 0);
  EXPECT_EQ(CompareNoCaseWide(u"", u""), 0);
  // Code unit order: U+FF21 sorts above a character outside the BMP (lead D801).
  EXPECT_GT(CompareNoCaseWide(u"\uFF41", u"\U00010428"), 0);
  // '_' (0x5F) sorts below 'a' after lower-casing, as wcsicmp orders it.
  EXPECT_LT(CompareNoCaseWide(u"_", u"A"), 0);
}

TEST(CodePage, FontInfo) {
  struct Case {
    unsigned cp;
    const char* font;
    int gdi;
  } cases[] = {
      {1252, "Arial", 0},         {28591, "Arial", 0},   {65001, "Arial", 0},    {932, "MS PGothic", 128},
      {51932, "MS PGothic", 128}, {936, "SimSun", 134},  {950, "PMingLiU", 136}, {949, "Gulim", 129},
      {1253, "Arial", 161},       {1254, "Arial", 162},  {1255, "Arial", 177},   {1256, "Arial", 178},
      {1257, "Arial", 186},       {1251, "Arial", 204},  {20866, "Arial", 204},  {874, "Tahoma", 222},
      {1250, "Arial", 238},       {28592, "Arial", 238},
  };
  for (const Case& c : cases) {
    std::string font;
    std::uint8_t gdi = 99;
    EXPECT_TRUE(platform::CodePageFontInfo(c.cp, font, gdi)) << c.cp;
    EXPECT_EQ(font, c.font) << c.cp;
    EXPECT_EQ(gdi, c.gdi) << c.cp;
  }
  for (unsigned cp : {0u, 12345u}) {
    std::string font = "x";
    std::uint8_t gdi = 99;
    EXPECT_FALSE(platform::CodePageFontInfo(cp, font, gdi));
    EXPECT_EQ(font, "");
    EXPECT_EQ(gdi, 0);
  }
}

}  // namespace
