// Text transformations a mail message applies before its text goes on the wire: charsets,
// quoted-printable bodies, "Q"-encoded header words (RFC 2047) and SMTP dot-stuffing.
// Byte strings in, byte strings out; each input is taken up to its first NUL. Stateless and
// thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// '0'..'9', 'A'..'F' for 0..15.
char HexDigit(unsigned value);

// UTF-8 text made valid: every byte that does not belong to a UTF-8 character becomes
// U+FFFD. (Text from settings and the user interface is UTF-8 here.)
std::string ConvertToUtf8(std::string_view text);

// UTF-16 to UTF-8 (RFC 3629); an unpaired surrogate is written as the three bytes of its
// own value.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 text as bytes of charset, so that the bytes are what the label says: valid UTF-8
// for "UTF-8" (any case), else the charset's code page with '?' for what it lacks
// ("iso-8859-1": Latin-1). A charset without a code page leaves the text as it is.
std::string TextForCharset(std::string_view text, std::string_view charset);

// Quoted-printable (RFC 2045): bytes outside '!'..'~', and '=', become "=XX"; TAB, CR, LF and
// blanks are kept, except blanks and TABs right before a line end or the end of the text,
// which are escaped so that decoders do not drop them. Lines longer than 76 characters are
// broken with "=\r\n", after white space or an escape where one is near, and never inside an
// escape.
std::string EncodeQuotedPrintable(std::string_view bytes);

// Where an encoded word stands. In unstructured text (a subject) it may carry the specials of
// an address as they are; in a phrase (the name of an address) only letters, digits and
// "!*+-/" stand as they are, so that an address parser never sees a special inside the word.
enum class WordPlace { Text, Phrase };

// A chunk with a byte of 0x80 or above as one encoded word "=?charset?q?...?=" (blank '_';
// '=' '?' '_', control characters and 8-bit bytes "=XX"; in a Phrase every byte but letters,
// digits and "!*+-/" "=XX"); any other chunk unchanged.
std::string EncodeHeaderWord(std::string_view chunk, std::string_view charset, WordPlace place = WordPlace::Text);

// One piece of an encoded header value: text as it stands, one encoded word, or the blank
// that separates two encoded words (readers drop it; a fold may go before it).
struct HeaderWord {
  std::string text;
  bool encoded = false;
  bool separator = false;
};

// A header value as its pieces, joined with nothing between them. Plain ASCII stands as it
// is. Any other value is encoded whole, so that no encoded word touches plain text, and two
// encoded words always have a separator between them. A value that charset holds goes in
// charset, cut into chunks of 70 bytes, each one encoded word as EncodeHeaderWord makes it
// (ASCII chunks too). Any other (every one when charset is "UTF-8", or with utf8Words set)
// goes as encoded words of UTF-8, "Q" or, when shorter, "B", each at most 75 characters and
// holding whole characters only; so does every value holding "=?" (a reader would decode what
// looks like an encoded word), and with utf8Words plain ASCII too.
std::vector<HeaderWord> EncodeHeaderWords(std::string_view value, std::string_view charset, bool utf8Words = false,
                                          WordPlace place = WordPlace::Text);

// EncodeHeaderWords joined.
std::string EncodeHeaderValue(std::string_view value, std::string_view charset, WordPlace place = WordPlace::Text);

// UTF-8 text as a quoted parameter value of a MIME header (a file name): in double quotes, and
// when a quoted string cannot carry it as it is (bytes outside printable ASCII, a double
// quote, a backslash, or "=?", which readers would decode) as UTF-8 encoded words inside them,
// which readers decode there.
std::string QuotedParameterText(std::string_view text);

// UTF-8 text as an extended parameter value (RFC 2231): "UTF-8''" and the text with every
// byte but letters, digits and "!#$&+-.^_`|~" as "%XX".
std::string ExtendedParameterText(std::string_view text);

// A header line ("Subject: " and what follows, without CR LF), folded (RFC 5322) only when it
// would be longer than 998 characters: then into lines of about 78 where it can be. A fold
// puts CR LF before a blank or tab of the text, or CR LF and a blank at a Break, so that
// unfolding gives the line back (a decoder drops the white space between two encoded words).
// Folds go to the preferred places first and elsewhere only when that is not enough.
class HeaderFolder {
 public:
  static constexpr std::size_t kMaxLine = 998;
  static constexpr std::size_t kFoldedLine = 78;

  // The field name and what follows it on the first line, never folded.
  explicit HeaderFolder(std::string_view start) : m_text(start), m_start(start.size()) {}
  // Text that may be folded before its blanks and tabs.
  void Text(std::string_view text);
  // Text never folded inside.
  void Word(std::string_view word) { m_text.append(word); }
  // The pieces of an encoded value; a fold before a separator is preferred when preferred is.
  void Words(const std::vector<HeaderWord>& words, bool preferred);
  // A place where a fold may go, adding the blank it needs.
  void Break(bool preferred = true) { m_points.push_back({m_text.size(), true, preferred}); }

  // The line, unchanged when it is at most kMaxLine long, else folded.
  std::string Line() const;
  // Whether no line of Line() is longer than kMaxLine.
  bool Fits() const;

 private:
  struct Point {
    std::size_t at;
    bool addsBlank;
    bool preferred;
  };
  std::string Fold(bool preferredOnly) const;

  std::string m_text;
  std::size_t m_start;
  std::vector<Point> m_points;
};

// The longest line of a text whose lines end in CR LF, without its CR LF.
std::size_t LongestLine(std::string_view text);

// A second '.' before every '.' that starts the text or follows an LF.
std::string StuffDots(std::string_view text);
