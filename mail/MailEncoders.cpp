#include "mail/MailEncoders.h"

#include "algorithms/Base64.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include <strings.h>
#include <algorithm>
#include <cctype>

namespace {

std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool EqualsNoCase(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

void AppendEscape(std::string& out, unsigned char c) {
  out += '=';
  out += HexDigit(c >> 4);
  out += HexDigit(c & 0x0F);
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// White space as isspace() of the "C" locale sees it.
bool IsQpSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The escape pass of quoted-printable.
std::string EscapeQuotedPrintable(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 8);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == ' ' || c == '\t') {
      const bool atLineEnd = i + 1 == in.size() || IsLineEnd(in[i + 1]);
      if (atLineEnd)
        AppendEscape(out, c);
      else
        out += static_cast<char>(c);
    } else if ((c >= 0x21 && c <= 0x7E && c != '=') || c == '\r' || c == '\n') {
      out += static_cast<char>(c);
    } else {
      AppendEscape(out, c);
    }
  }
  return out;
}

bool IsFoldBlank(char c) { return c == ' ' || c == '\t'; }

// Whether charset holds the UTF-8 text whole; its bytes in that charset then.
bool HeldByCharset(std::string_view text, std::string_view charset, std::string& bytes) {
  if (EqualsNoCase(charset, "UTF-8")) return false;
  const unsigned cp = platform::CodePageFromCharsetName(charset);
  std::u16string wide, back;
  if (cp == 0 || cp == platform::kCpUtf8 || !platform::MultiByteToWide(platform::kCpUtf8, text, wide) ||
      !platform::WideToMultiByte(cp, wide, bytes) || !platform::MultiByteToWide(cp, bytes, back))
    return false;
  return back == wide;
}

// Bytes that a "Q" word in any header (a name in an address list too) may carry as they are.
bool IsPlainInWord(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
         c == '+' || c == '-' || c == '/';
}

// Bytes that a "Q" word in unstructured text carries as they are: printable ASCII but the
// three with a meaning inside the word.
bool IsPlainInTextWord(unsigned char c) { return c > ' ' && c < 0x7F && c != '=' && c != '?' && c != '_'; }

std::size_t QLength(unsigned char c) { return IsPlainInWord(c) || c == ' ' ? 1 : 3; }

void AppendQ(std::string& out, std::string_view bytes, WordPlace place = WordPlace::Phrase) {
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == ' ')
      out += '_';
    else if (place == WordPlace::Phrase ? IsPlainInWord(c) : IsPlainInTextWord(c))
      out += ch;
    else
      AppendEscape(out, c);
  }
}

// One "Q" word of charset, whatever bytes it holds.
std::string QWord(std::string_view bytes, std::string_view charset, WordPlace place) {
  std::string out = "=?";
  out.append(charset);
  out += "?q?";
  AppendQ(out, bytes, place);
  out += "?=";
  return out;
}

void AddWord(std::vector<HeaderWord>& words, std::string word) {
  if (!words.empty()) words.push_back({" ", false, true});
  words.push_back({std::move(word), true});
}

// The length of the UTF-8 character that starts with lead (valid UTF-8 assumed).
std::size_t Utf8Length(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// Valid UTF-8 text as encoded words of at most 75 characters, never parting a character.
std::vector<HeaderWord> Utf8Words(const std::string& text) {
  constexpr std::size_t kRoom = 75 - 12;  // "=?UTF-8?q?" and "?="
  constexpr std::size_t kBase64Bytes = kRoom / 4 * 3;
  std::size_t qLength = 0;
  for (char c : text) qLength += QLength(static_cast<unsigned char>(c));
  const bool base64 = (text.size() + 2) / 3 * 4 < qLength;

  std::vector<HeaderWord> words;
  auto flush = [&](std::string_view bytes) {
    std::string word = base64 ? "=?UTF-8?B?" : "=?UTF-8?q?";
    if (base64) {
      CBase64Coder coder;
      coder.Encode(bytes.data(), bytes.size());
      word += coder.EncodedText();
    } else {
      AppendQ(word, bytes);
    }
    AddWord(words, word + "?=");
  };
  std::size_t start = 0, used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = std::min(Utf8Length(static_cast<unsigned char>(text[i])), text.size() - i);
    std::size_t cost = n;
    if (!base64) {
      cost = 0;
      for (std::size_t k = i; k < i + n; ++k) cost += QLength(static_cast<unsigned char>(text[k]));
    }
    if (used + cost > (base64 ? kBase64Bytes : kRoom)) {
      flush(std::string_view(text).substr(start, i - start));
      start = i;
      used = 0;
    }
    used += cost;
    i += n;
  }
  if (start < text.size()) flush(std::string_view(text).substr(start));
  return words;
}

}  // namespace

char HexDigit(unsigned value) {
  value &= 0x0F;
  return static_cast<char>(value < 10 ? '0' + value : 'A' + (value - 10));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ConvertToUtf8(std::string_view text) {
  text = UpToNul(text);
  if (IsAscii(text)) return std::string(text);
  std::u16string wide;
  platform::MultiByteToWide(platform::kCpUtf8, text, wide);
  return Utf16ToUtf8(wide);
}

std::string TextForCharset(std::string_view text, std::string_view charset) {
  text = UpToNul(text);
  if (IsAscii(text)) return std::string(text);
  const unsigned cp = EqualsNoCase(charset, "UTF-8") ? platform::kCpUtf8 : platform::CodePageFromCharsetName(charset);
  if (cp == platform::kCpUtf8) return ConvertToUtf8(text);
  std::u16string wide;
  std::string out;
  if (cp == 0 || !platform::MultiByteToWide(platform::kCpUtf8, text, wide) || !platform::WideToMultiByte(cp, wide, out))
    return std::string(text);
  return out;
}

std::string EncodeQuotedPrintable(std::string_view bytes) {
  const std::string t = EscapeQuotedPrintable(UpToNul(bytes));
  const std::size_t n = t.size();
  std::string out;
  out.reserve(n + n / 32);
  std::size_t j = 0;  // where the current line starts
  for (std::size_t pos = 0; pos < n; ++pos) {
    if (IsLineEnd(t[pos]) || pos == n - 1) {
      out.append(t, j, pos - j + 1);
      j = pos + 1;
      continue;
    }
    if (pos - j <= 76) continue;
    // Break after white space or after a whole escape, the later the better.
    std::size_t b = std::string::npos;
    for (std::size_t k = pos; k > j && k >= 2; --k) {
      if (IsQpSpace(t[k]) || (k - 2 >= j && t[k - 2] == '=')) {
        b = k;
        break;
      }
    }
    if (b == std::string::npos) {
      // Escapes are the only '=' in t: never end the line inside one.
      b = j + 76;
      if (t[b] == '=')
        b -= 1;
      else if (t[b - 1] == '=')
        b -= 2;
    }
    out.append(t, j, b - j + 1);
    out += "=\r\n";
    j = b + 1;
    pos = b;
  }
  return out;
}

std::string EncodeHeaderWord(std::string_view chunk, std::string_view charset, WordPlace place) {
  if (IsAscii(chunk)) return std::string(chunk);
  return QWord(chunk, charset, place);
}

std::vector<HeaderWord> EncodeHeaderWords(std::string_view value, std::string_view charset, bool utf8Words,
                                          WordPlace place) {
  value = UpToNul(value);
  std::vector<HeaderWord> words;
  if (value.empty()) return words;
  // Plain text with "=?" in it would be read as encoded words where it looks like them.
  const bool plainIsSafe = value.find("=?") == std::string_view::npos;
  if (!utf8Words && plainIsSafe && IsAscii(value)) {
    words.push_back({std::string(value), false});
    return words;
  }
  std::string bytes;
  if (utf8Words || !plainIsSafe || !HeldByCharset(value, charset, bytes)) return Utf8Words(ConvertToUtf8(value));
  // Plain chunks among the encoded ones would touch them: every chunk is a word.
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const std::string_view chunk = rest.substr(0, std::min<std::size_t>(rest.size(), 70));
    AddWord(words, QWord(chunk, charset, place));
    rest.remove_prefix(chunk.size());
  }
  return words;
}

std::string EncodeHeaderValue(std::string_view value, std::string_view charset, WordPlace place) {
  std::string out;
  for (const HeaderWord& w : EncodeHeaderWords(value, charset, false, place)) out += w.text;
  return out;
}

std::string QuotedParameterText(std::string_view text) {
  text = UpToNul(text);
  const bool quotable = text.find("=?") == std::string_view::npos && std::all_of(text.begin(), text.end(), [](char c) {
                          return c >= ' ' && c < 0x7F && c != '"' && c != '\\';
                        });
  std::string out = "\"";
  if (quotable) {
    out.append(text);
  } else {
    for (const HeaderWord& w : Utf8Words(ConvertToUtf8(text))) out += w.text;
  }
  return out + "\"";
}

std::string ExtendedParameterText(std::string_view text) {
  std::string out = "UTF-8''";
  for (char ch : ConvertToUtf8(text)) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (platform::IsAsciiAlnum(ch) || std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos) {
      out += ch;
    } else {
      platform::AppendPercentEscape(out, c);
    }
  }
  return out;
}

void HeaderFolder::Text(std::string_view text) {
  for (char c : text) {
    if (IsFoldBlank(c) && !m_text.empty() && !IsFoldBlank(m_text.back()))
      m_points.push_back({m_text.size(), false, true});
    m_text += c;
  }
}

void HeaderFolder::Words(const std::vector<HeaderWord>& words, bool preferred) {
  for (const HeaderWord& w : words) {
    if (w.separator) {
      m_points.push_back({m_text.size(), false, preferred});
      m_text += w.text;
    } else if (w.encoded) {
      Word(w.text);
    } else {
      Text(w.text);
    }
  }
}

std::string HeaderFolder::Line() const {
  if (m_text.size() <= kMaxLine) return m_text;
  std::string line = Fold(true);
  if (LongestLine(line) > kMaxLine) line = Fold(false);
  return line;
}

bool HeaderFolder::Fits() const { return LongestLine(Line()) <= kMaxLine; }

std::string HeaderFolder::Fold(bool preferredOnly) const {
  // A fold before a blank must leave something but blanks on the next line.
  std::size_t lastText = m_text.size();
  while (lastText > m_start && IsFoldBlank(m_text[lastText - 1])) --lastText;
  std::vector<Point> points;
  for (const Point& p : m_points) {
    if (p.at > m_start && p.at < lastText && (p.preferred || !preferredOnly)) points.push_back(p);
  }

  std::string out;
  std::size_t start = 0;  // where the current line's text begins
  bool blank = false;     // the current line begins with an added blank
  auto length = [&](std::size_t end) { return (blank ? 1 : 0) + end - start; };
  std::size_t next = 0;
  while (length(m_text.size()) > kFoldedLine) {
    while (next < points.size() && points[next].at <= start) ++next;
    if (next == points.size()) break;
    // The last place that keeps the line short, else the first there is.
    std::size_t pick = next;
    for (std::size_t k = next + 1; k < points.size() && length(points[k].at) <= kFoldedLine; ++k) pick = k;
    if (blank) out += ' ';
    out.append(m_text, start, points[pick].at - start);
    out += "\r\n";
    start = points[pick].at;
    blank = points[pick].addsBlank;
    next = pick + 1;
  }
  if (blank) out += ' ';
  out.append(m_text, start, std::string::npos);
  return out;
}

std::size_t LongestLine(std::string_view text) {
  std::size_t longest = 0;
  while (true) {
    const std::size_t end = text.find("\r\n");
    longest = std::max(longest, std::min(end, text.size()));
    if (end == std::string_view::npos) return longest;
    text.remove_prefix(end + 2);
  }
}

std::string StuffDots(std::string_view text) {
  text = UpToNul(text);
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.' && (i == 0 || text[i - 1] == '\n')) out += '.';
    out += text[i];
  }
  return out;
}
