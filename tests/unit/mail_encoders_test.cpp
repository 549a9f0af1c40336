// The mail text encoders: fixed vectors, and quoted-printable decoded by Python's quopri.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mail/MailEncoders.h"
#include "mail/SmtpConnection.h"

namespace fs = std::filesystem;

namespace {

TEST(MailEncoders, HexDigitAndHeaderWords) {
  EXPECT_EQ(HexDigit(0), '0');
  EXPECT_EQ(HexDigit(9), '9');
  EXPECT_EQ(HexDigit(10), 'A');
  EXPECT_EQ(HexDigit(15), 'F');

  struct Case {
    std::string chunk, charset, word;
  } cases[] = {
      {"plain ascii = ? _", "iso-8859-1", "plain ascii = ? _"},
      {"\xE4 b", "iso-8859-1", "=?iso-8859-1?q?=E4_b?="},
      {"a=b?c_d\xE9\t", "iso-8859-1", "=?iso-8859-1?q?a=3Db=3Fc=5Fd=E9\t?="},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeHeaderWord(c.chunk, c.charset), c.word) << c.chunk;
}

TEST(MailEncoders, HeaderValuesAreConvertedToTheirCharsetAndCutInSeventyBytes) {
  const std::string ascii(150, 'a');
  EXPECT_EQ(EncodeHeaderValue(ascii, "iso-8859-1"), ascii);

  // 75 bytes, the last five Latin-1 letters: 70 bytes unchanged, then one word.
  const std::string value = std::string(70, 'x') +
                            "ab\xC3\xA9"
                            "cd";  // UTF-8 é
  EXPECT_EQ(EncodeHeaderValue(value, "iso-8859-1"), std::string(70, 'x') + "=?iso-8859-1?q?ab=E9cd?=");
  EXPECT_EQ(EncodeHeaderValue("Gr\xC3\xBC\xC3\x9F"
                              "e",
                              "UTF-8"),
            "=?UTF-8?q?Gr=C3=BC=C3=9Fe?=");
  // What Latin-1 lacks becomes '?', which the word escapes.
  EXPECT_EQ(EncodeHeaderValue("\xE2\x82\xAC 5 \xC3\xA9", "iso-8859-1"), "=?iso-8859-1?q?=3F_5_=E9?=");
  EXPECT_EQ(EncodeHeaderValue("", "iso-8859-1"), "");
}

TEST(MailEncoders, Utf8ConversionsAreLenient) {
  EXPECT_EQ(ConvertToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(ConvertToUtf8("a\xFF"
                          "b"),
            "a\xEF\xBF\xBD"
            "b");  // U+FFFD
  EXPECT_EQ(ConvertToUtf8(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf16ToUtf8(u"\u00E9\u20AC\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xED\xA0\x80");
  EXPECT_EQ(TextForCharset("caf\xC3\xA9", "ISO-8859-1"), "caf\xE9");
  EXPECT_EQ(TextForCharset("caf\xC3\xA9", "no-such-charset"), "caf\xC3\xA9");
}

TEST(MailEncoders, DotStuffing) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {".a\r\n.b\r\n", "..a\r\n..b\r\n"},
      {"x\r\n.\r\n", "x\r\n..\r\n"},
      {"x\r\n..\r\n", "x\r\n...\r\n"},
      {"a.b\r.c", "a.b\r.c"},  // a CR alone is no line end
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StuffDots(c.in), c.out) << c.in;
}

TEST(MailEncoders, QuotedPrintableVectors) {
  const std::string letters100(100, 'x');
  std::string blankAt70 = letters100;
  blankAt70[70] = ' ';
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a=b\xE9\tc d\r\n", "a=3Db=E9\tc d\r\n"},
      {"trailing \r\ntab\t\r\nend ", "trailing=20\r\ntab=09\r\nend=20"},
      {letters100, letters100.substr(0, 77) + "=\r\n" + letters100.substr(77)},
      {blankAt70, blankAt70.substr(0, 71) + "=\r\n" + blankAt70.substr(71)},
      // 76 letters and an 8-bit byte: the escape moves whole to the next line.
      {std::string(76, 'y') + "\xE9"
                              "z",
       std::string(76, 'y') + "=\r\n=E9z"},
      {std::string(75, 'y') + "\xE9\xE9"
                              "z",
       std::string(75, 'y') + "=E9=\r\n=E9z"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeQuotedPrintable(c.in), c.out) << c.in;
}

TEST(MailEncoders, CramMd5OfRfc2195) {
  EXPECT_EQ(CramMd5Response("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
            "tim b913a602c7eda7a495b4e6e7334d3890");
}

// Random texts (every byte value but NUL, long lines, blanks and tabs before line ends)
// encoded here and decoded by Python: binascii's decoder must give back every byte, and
// quopri's RFC 2045 decoder, which drops white space before line ends, every line.
TEST(MailEncoders, QuotedPrintableRoundTripsThroughPythonQuopri) {
  const fs::path dir = fs::temp_directory_path() / ("wexo-qp-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::mt19937 random(2045);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };

  std::vector<std::string> inputs;
  std::string everyByte;
  for (int b = 1; b < 256; ++b)
    if (b != '\r' && b != '\n') everyByte += static_cast<char>(b);
  inputs.push_back(everyByte);
  inputs.push_back(std::string(76, 'y') + "\xE9");
  inputs.push_back(std::string(200, ' ') + "\r\n" + std::string(200, '\t'));
  for (int n = 0; n < 300; ++n) {
    std::string text;
    for (int lines = pick(1, 6); lines > 0; --lines) {
      for (int len = pick(0, 240); len > 0; --len) {
        const int kind = pick(0, 9);
        int b = kind < 5 ? pick('a', 'z') : kind < 7 ? pick(1, 255) : kind == 7 ? ' ' : kind == 8 ? '=' : '\t';
        if (b == '\r' || b == '\n') b = '.';
        text += static_cast<char>(b);
      }
      for (int t = pick(0, 3); t > 0; --t) text += pick(0, 1) ? ' ' : '\t';
      if (lines > 1 || pick(0, 1)) text += "\r\n";
    }
    inputs.push_back(text);
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::ofstream(dir / ("in-" + std::to_string(i)), std::ios::binary) << inputs[i];
    std::ofstream(dir / ("qp-" + std::to_string(i)), std::ios::binary) << EncodeQuotedPrintable(inputs[i]);
  }
  std::ofstream(dir / "check.py") << R"(import binascii, quopri, sys
d, n = sys.argv[1], int(sys.argv[2])
bad = []
for i in range(n):
    raw = open(f"{d}/in-{i}", "rb").read()
    qp = open(f"{d}/qp-{i}", "rb").read()
    if binascii.a2b_qp(qp) != raw:
        bad.append(f"{i}: binascii")
    if any(len(line) > 79 for line in qp.split(b"\r\n")):
        bad.append(f"{i}: line too long")
quopri.a2b_qp = None  # the module's own decoder, which follows RFC 2045 on trailing blanks
for i in range(n):
    raw = open(f"{d}/in-{i}", "rb").read()
    qp = open(f"{d}/qp-{i}", "rb").read()
    if quopri.decodestring(qp) != raw.replace(b"\r\n", b"\n"):
        bad.append(f"{i}: quopri")
print(" ".join(bad))
sys.exit(1 if bad else 0)
)";
  const std::string command = std::string(WEXO_PYTHON) + " " + (dir / "check.py").string() + " " + dir.string() + " " +
                              std::to_string(inputs.size()) + " > " + (dir / "result").string();
  const int status = std::system(command.c_str());
  std::ifstream result(dir / "result");
  const std::string failures((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << failures;
  fs::remove_all(dir);
}

}  // namespace
