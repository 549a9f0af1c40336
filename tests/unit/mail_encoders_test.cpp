// The mail text encoders: fixed vectors, and quoted-printable decoded by Python's quopri.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "algorithms/Base64.h"
#include "mail/MailEncoders.h"
#include "mail/SmtpConnection.h"
#include "platform/LastError.h"

namespace fs = std::filesystem;

namespace {

TEST(MailEncoders, HexDigitAndHeaderWords) {
  EXPECT_EQ(HexDigit(0), '0');
  EXPECT_EQ(HexDigit(9), '9');
  EXPECT_EQ(HexDigit(10), 'A');
  EXPECT_EQ(HexDigit(15), 'F');

  struct Case {
    std::string chunk, charset, word;
    WordPlace place = WordPlace::Text;
  } cases[] = {
      {"plain ascii = ? _", "iso-8859-1", "plain ascii = ? _"},
      {"\xE4 b", "iso-8859-1", "=?iso-8859-1?q?=E4_b?="},
      // White space and control characters never stand inside a word.
      {"a=b?c_d\xE9\t\x01\x7F", "iso-8859-1", "=?iso-8859-1?q?a=3Db=3Fc=5Fd=E9=09=01=7F?="},
      // In a subject the specials of an address stand as they are ...
      {"M\xFCller, J\xF6rg ,;:@[]().<>\"!*+-/", "iso-8859-1", "=?iso-8859-1?q?M=FCller,_J=F6rg_,;:@[]().<>\"!*+-/?="},
      // ... in a name only letters, digits and !*+-/ do.
      {"M\xFCller, J\xF6rg ,;:@[]().<>\"!*+-/", "iso-8859-1",
       "=?iso-8859-1?q?M=FCller=2C_J=F6rg_=2C=3B=3A=40=5B=5D=28=29=2E=3C=3E=22!*+-/?=", WordPlace::Phrase},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeHeaderWord(c.chunk, c.charset, c.place), c.word) << c.chunk;
}

TEST(MailEncoders, HeaderValuesAreConvertedToTheirCharsetAndCutInSeventyBytes) {
  const std::string ascii(150, 'a');
  EXPECT_EQ(EncodeHeaderValue(ascii, "iso-8859-1"), ascii);

  // 75 bytes, the last five Latin-1 letters: two words, the 70 ASCII bytes too, a blank between
  // them (a word touching text or another word is no word to a reader).
  const std::string value = std::string(70, 'x') +
                            "ab\xC3\xA9"
                            "cd";  // UTF-8 é
  EXPECT_EQ(EncodeHeaderValue(value, "iso-8859-1"),
            "=?iso-8859-1?q?" + std::string(70, 'x') + "?= =?iso-8859-1?q?ab=E9cd?=");
  const std::vector<HeaderWord> words = EncodeHeaderWords(value, "iso-8859-1");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_TRUE(words[0].encoded && words[2].encoded);
  EXPECT_TRUE(words[1].separator);
  // A name has the same cut, each word escaped for a name.
  EXPECT_EQ(EncodeHeaderValue(std::string(69, 'x') + ",\xC3\xA9", "iso-8859-1", WordPlace::Phrase),
            "=?iso-8859-1?q?" + std::string(69, 'x') + "=2C?= =?iso-8859-1?q?=E9?=");
  EXPECT_EQ(EncodeHeaderValue("", "iso-8859-1"), "");
}

// UTF-8 decoded from the encoded words of one header value (Q or B), each checked to be a
// word of at most 75 characters that holds whole characters only.
std::string DecodeUtf8Words(const std::vector<HeaderWord>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const HeaderWord& w = words[i];
    // Words alternate with the separators between them.
    if (i % 2 == 1) {
      EXPECT_TRUE(w.separator && w.text == " " && i + 1 < words.size()) << w.text;
      continue;
    }
    EXPECT_TRUE(w.encoded) << w.text;
    EXPECT_LE(w.text.size(), 75u) << w.text;
    const bool q = w.text.starts_with("=?UTF-8?q?");
    EXPECT_TRUE(q || w.text.starts_with("=?UTF-8?B?")) << w.text;
    EXPECT_TRUE(w.text.ends_with("?=")) << w.text;
    const std::string body = w.text.substr(10, w.text.size() - 12);
    std::string bytes;
    if (q) {
      for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '=') {
          bytes += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(body[i])) ||
                      std::string("!*+-/_").find(body[i]) != std::string::npos)
              << w.text;
          bytes += body[i] == '_' ? ' ' : body[i];
        }
      }
    } else {
      CBase64Coder coder;
      coder.DecodeString(body.c_str());
      bytes.assign(reinterpret_cast<const char*>(coder.DecodedData()), static_cast<std::size_t>(coder.DecodedLength()));
    }
    // Whole characters: the word's bytes are valid UTF-8 on their own.
    EXPECT_EQ(ConvertToUtf8(bytes), bytes) << w.text;
    text += bytes;
  }
  return text;
}

TEST(MailEncoders, TextThatTheCharsetLacksGoesAsUtf8Words) {
  struct Case {
    std::string value, charset, encoded;
  } cases[] = {
      // Latin-1 holds it: as it always went.
      {"J\xC3\xBCrgen", "iso-8859-1", "=?iso-8859-1?q?J=FCrgen?="},
      // Latin-1 lacks the euro sign: UTF-8, in B where that is shorter.
      {"\xE2\x82\xAC 5 \xC3\xA9", "iso-8859-1", "=?UTF-8?B?4oKsIDUgw6k=?="},
      {"\xD0\x9E\xD1\x82\xD0\xB4\xD0\xB5\xD0\xBB", "iso-8859-1", "=?UTF-8?B?0J7RgtC00LXQuw==?="},  // Отдел
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "UTF-8", "=?UTF-8?B?R3LDvMOfZQ==?="},
      // Q where that is shorter; a blank as '_', specials of an address header escaped.
      {"All links, checked today \xE2\x80\x93 fine (1)", "iso-8859-1",
       "=?UTF-8?q?All_links=2C_checked_today_=E2=80=93_fine_=281=29?="},
      // A charset without a code page holds nothing.
      {"caf\xC3\xA9", "no-such-charset", "=?UTF-8?B?Y2Fmw6k=?="},
      // Text that a reader would take for an encoded word is encoded itself.
      {"=?UTF-8?q?hi?=", "iso-8859-1", "=?UTF-8?B?PT9VVEYtOD9xP2hpPz0=?="},
      // Bytes that are no UTF-8 become U+FFFD, which Latin-1 lacks.
      {"a\xFF", "iso-8859-1", "=?UTF-8?B?Ye+/vQ==?="},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeHeaderValue(c.value, c.charset), c.encoded) << c.value;

  // Long texts: words of at most 75 characters, never parting a character.
  const std::string samples[] = {
      "Bericht f\xC3\xBCr M\xC3\xBCller \xE2\x80\x94 \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB8 ",
      "\xF0\x9F\x98\x80\xE4\xB8\xAD",
      "x\xE2\x80\x93",
  };
  for (const std::string& sample : samples) {
    std::string value;
    for (int i = 0; i < 40; ++i) value += sample;
    const std::vector<HeaderWord> words = EncodeHeaderWords(value, "iso-8859-1");
    EXPECT_GT(words.size(), 2u);
    EXPECT_EQ(DecodeUtf8Words(words), value);
  }
  // With utf8Words even ASCII goes as words.
  EXPECT_EQ(DecodeUtf8Words(EncodeHeaderWords(std::string(300, 'a'), "iso-8859-1", true)), std::string(300, 'a'));
}

// Unfolding: every CR LF removed.
std::string Unfold(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 2);
  return text;
}

TEST(MailEncoders, HeaderLinesAreFoldedOnlyWhenLongerThan998) {
  // Up to 998 characters nothing changes, whatever places to fold there are.
  HeaderFolder shortLine("Subject: ");
  shortLine.Text(std::string(400, 'a') + " " + std::string(400, 'b'));
  shortLine.Break();
  shortLine.Word(std::string(188, 'c'));
  EXPECT_EQ(shortLine.Line().size(), 998u);
  EXPECT_EQ(shortLine.Line().find("\r\n"), std::string::npos);

  // Text is folded before its blanks, into lines of 78 where the words allow.
  std::string words;
  for (int i = 0; i < 150; ++i) words += (i ? " word" : "word") + std::to_string(i);
  HeaderFolder text("Subject: ");
  text.Text(words);
  const std::string folded = text.Line();
  EXPECT_EQ(Unfold(folded), "Subject: " + words);
  EXPECT_LE(LongestLine(folded), 78u) << folded;
  EXPECT_NE(folded.find("\r\n word"), std::string::npos);

  // A Break adds the blank its fold needs; a word is never parted; trailing blanks stay on
  // their line rather than make one of their own.
  HeaderFolder breaks("To: ");
  std::string expected = "To: ";
  for (int i = 0; i < 40; ++i) {
    if (i > 0) {
      breaks.Word(",");
      breaks.Break();
      expected += ", ";
    }
    const std::string a = "Name" + std::to_string(i) + " <name" + std::to_string(i) + "@example.org>";
    breaks.Text(a.substr(0, a.find(' ')));
    breaks.Text(" ");
    breaks.Word(a.substr(a.find(' ') + 1));
    expected += a;
  }
  breaks.Text("   ");
  expected += "   ";
  const std::string list = breaks.Line();
  EXPECT_TRUE(breaks.Fits());
  EXPECT_LE(LongestLine(list), 78u) << list;
  EXPECT_NE(list.find(",\r\n Name"), std::string::npos) << list;
  EXPECT_TRUE(list.ends_with("example.org>   ")) << list;
  // Unfolded, a Break that was used has its blank; one that was not has none.
  std::string unfolded = Unfold(list);
  for (std::size_t at; (at = unfolded.find(",N")) != std::string::npos;) unfolded.insert(at + 1, " ");
  EXPECT_EQ(unfolded, expected);

  // Places that are not preferred serve only when the others cannot keep a line to 998:
  // "To: <name, part 1>|<name, part 2>,|<address>", '|' a place, the first not preferred.
  const struct {
    std::size_t name, address;
    std::string line;
  } places[] = {
      {600, 13, std::string(600, 'n') + "\r\n " + std::string(600, 'm') + ",\r\n " + std::string(13, 'x')},
      {300, 500, std::string(300, 'n') + std::string(300, 'm') + ",\r\n " + std::string(500, 'x')},
  };
  for (const auto& c : places) {
    HeaderFolder line("To: ");
    line.Word(std::string(c.name, 'n'));
    line.Break(false);
    line.Word(std::string(c.name, 'm'));
    line.Word(",");
    line.Break();
    line.Word(std::string(c.address, 'x'));
    EXPECT_EQ(line.Line(), "To: " + c.line);
  }

  // A word longer than a line stays whole, and the line does not fit.
  HeaderFolder tooLong("Subject: ");
  tooLong.Text(std::string(1200, 'z') + " end");
  EXPECT_FALSE(tooLong.Fits());
  EXPECT_EQ(tooLong.Line(), "Subject: " + std::string(1200, 'z') + "\r\n end");
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

TEST(MailEncoders, SmtpPortSetting) {
  struct Case {
    const char* value;  // nullptr: unset
    int port;
    bool ok;
  } cases[] = {
      {nullptr, 25, true},
      {"", 25, true},
      {"2525", 2525, true},
      {"065535", 65535, true},
      {"abc", 25, false},
      {"0", 25, false},
      {"70000", 25, false},
      {"2525x", 25, false},
      {" 2525", 25, false},
      {"-1", 25, false},
      {"99999999999999999999999", 25, false},
  };
  for (const Case& c : cases) {
    const std::string shown = c.value ? c.value : "(unset)";
    if (c.value)
      setenv("WEXO_SMTP_PORT", c.value, 1);
    else
      unsetenv("WEXO_SMTP_PORT");
    int port = 0;
    std::string problem = "old";
    EXPECT_EQ(SmtpPortSetting(25, port, problem), c.ok) << shown;
    EXPECT_EQ(port, c.port) << shown;
    EXPECT_EQ(problem, c.ok ? "" : std::string("WEXO_SMTP_PORT is not a port number: ") + c.value) << shown;
  }
  // Connect refuses it before it makes a socket: nothing is sent anywhere.
  setenv("WEXO_SMTP_PORT", "2525x", 1);
  CRQZSMTPConnection connection;
  EXPECT_FALSE(connection.Connect("127.0.0.1"));
  EXPECT_EQ(platform::GetLastError(), platform::WSAEINVAL);
  EXPECT_EQ(connection.LastReplyText(), "WEXO_SMTP_PORT is not a port number: 2525x");
  EXPECT_FALSE(connection.IsConnected());
  unsetenv("WEXO_SMTP_PORT");
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
