// The ASCII text helpers, in the "C" locale and in the locales a user may run the program
// under: the answers never change with the locale.
#include "platform/AsciiText.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <random>
#include <string>
#include <string_view>

#include "unit/support/TestLocale.h"

using namespace platform;

namespace {

constexpr std::string_view kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kSpaces = " \t\n\v\f\r";

bool In(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

// The byte as the compiler cannot know it: an optimiser folds the ctype calls of a constant
// as if in the "C" locale, whatever locale is set.
int Opaque(int c) {
  volatile int v = c;
  return v;
}

class AsciiText : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(wexo_test::UseLocale(GetParam(), &error)) << error;
  }
  void TearDown() override { wexo_test::UseCLocale(); }
};

INSTANTIATE_TEST_SUITE_P(Locales, AsciiText, ::testing::Values("C", "de_DE.UTF-8", "tr_TR.UTF-8", "tr_TR.ISO-8859-9"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!IsAsciiAlnum(c)) c = '_';
                           return name;
                         });

// The Turkish locales really map 'i' and 'I' otherwise, and the 8-bit one has letters above
// 0x7F: without them the rest would prove nothing.
TEST(AsciiTextLocales, TheTurkishLocalesDifferFromAscii) {
  std::string error;
  ASSERT_TRUE(wexo_test::UseLocale("tr_TR.ISO-8859-9", &error)) << error;
  EXPECT_EQ(std::toupper(Opaque('i')), 0xDD);  // capital I with a dot
  EXPECT_EQ(std::tolower(Opaque('I')), 0xFD);  // dotless small i
  EXPECT_NE(std::isalpha(Opaque(0xE7)), 0);    // small c with a cedilla
  wexo_test::UseCLocale();
}

TEST_P(AsciiText, CharactersOfEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    SCOPED_TRACE(b);
    const bool upper = In(kUpper, c), lower = In(kLower, c), digit = In(kDigits, c);
    EXPECT_EQ(IsAsciiUpper(c), upper);
    EXPECT_EQ(IsAsciiLower(c), lower);
    EXPECT_EQ(IsAsciiAlpha(c), upper || lower);
    EXPECT_EQ(IsAsciiDigit(c), digit);
    EXPECT_EQ(IsAsciiAlnum(c), upper || lower || digit);
    EXPECT_EQ(IsAsciiSpace(c), b != 0 && In(kSpaces, c));
    EXPECT_EQ(AsciiLower(c), upper ? kLower[kUpper.find(c)] : c);
    EXPECT_EQ(AsciiUpper(c), lower ? kUpper[kLower.find(c)] : c);
  }
}

TEST_P(AsciiText, Strings) {
  const std::string high = "\xC4\xB0\xDD\xFD\xE7";  // UTF-8 capital I with a dot, then 8-bit Turkish letters
  EXPECT_EQ(AsciiLowered("INDEX.HTML Iи" + high), "index.html iи" + high);
  EXPECT_EQ(AsciiUppered("index.html iи" + high), "INDEX.HTML Iи" + high);

  struct Case {
    std::string_view a, b;
    bool equal;
    int order;        // sign of AsciiCompareNoCase(a, b)
    bool startsWith;  // AsciiStartsWithNoCase(a, b)
  } cases[] = {
      {"", "", true, 0, true},
      {"LOCATION:", "location:", true, 0, true},
      {"Location: /x", "location:", false, 1, true},
      {"loc", "location:", false, -1, false},
      {"FILE:///", "file:", false, 1, true},
      {"I", "i", true, 0, true},
      {"\xDD", "i", false, 1, false},
      {"\xC4\xB0", "\xC4\xB0", true, 0, true},
      {"abc", "ABD", false, -1, false},
      {"b", "A", false, 1, false},
      {"a[", "A_", false, -1, false},  // '[' sorts before '_' only when letters are folded down
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + std::string(c.b));
    EXPECT_EQ(AsciiEqualNoCase(c.a, c.b), c.equal);
    const int order = AsciiCompareNoCase(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order);
    EXPECT_EQ((AsciiCompareNoCase(c.b, c.a) > 0) - (AsciiCompareNoCase(c.b, c.a) < 0), -c.order);
    EXPECT_EQ(AsciiStartsWithNoCase(c.a, c.b), c.startsWith);
  }

  EXPECT_TRUE(MatchesUpperAt("x<script src", 1, "<SCRIPT"));
  EXPECT_FALSE(MatchesUpperAt("x<scrip", 1, "<SCRIPT"));
  EXPECT_FALSE(MatchesUpperAt("<script", 8, "<"));
  EXPECT_TRUE(MatchesUpperAt("url(", 4, ""));

  EXPECT_EQ(AsciiTrim(" \t\r\n\v\f a b \f\v\n\r\t "), "a b");
  EXPECT_EQ(AsciiTrim("\xA0x\xA0"), "\xA0x\xA0");  // a no-break space of 8-bit code pages stays
  EXPECT_EQ(AsciiTrim(" \t "), "");
  EXPECT_EQ(TrimBlanksAndTabs(" \t a\r\n \t"), "a\r\n");
}

// The sixteen-byte scans against byte-by-byte answers, for every length around the steps and
// bytes of every value, the ones at the edges of the ranges most often.
TEST_P(AsciiText, SixteenByteScansMatchTheByteLoops) {
  const std::string edges = "@AZ[`az{\t\n\r \x7F\x80\xFF\xDD\xFD\x0B";
  std::mt19937 random(7);
  for (std::size_t length = 0; length <= 67; ++length) {
    for (int round = 0; round < 20; ++round) {
      std::string text(length, ' ');
      for (char& c : text) c = random() % 2 ? edges[random() % edges.size()] : static_cast<char>(random() % 256);
      if (round == 0) text.assign(length, 'a');  // nothing to find
      SCOPED_TRACE(::testing::PrintToString(text));

      bool upperOrHigh = false;
      std::string upper = text, blanked = text;
      for (std::size_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        upperOrHigh = upperOrHigh || In(kUpper, text[i]) || b >= 0x80;
        if (In(kLower, text[i])) upper[i] = kUpper[kLower.find(text[i])];
        if (b == '\t' || b == '\r' || b == '\n') blanked[i] = ' ';
      }
      EXPECT_EQ(HasAsciiUpperOrHighBytes(text), upperOrHigh);
      std::string out(length, '?');
      AsciiUpperCopy(text.data(), out.data(), length);
      EXPECT_EQ(out, upper);
      out.assign(length, '?');
      CopyWithLineBreaksBlank(text, out.data());
      EXPECT_EQ(out, blanked);
    }
  }
}

}  // namespace
