#include "mail/MailEncoders.h"

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

std::string EncodeHeaderWord(std::string_view chunk, std::string_view charset) {
  if (IsAscii(chunk)) return std::string(chunk);
  std::string out = "=?";
  out.append(charset);
  out += "?q?";
  for (char ch : chunk) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == ' ')
      out += '_';
    else if (c == '=' || c == '?' || c == '_' || c >= 0x80)
      AppendEscape(out, c);
    else
      out += ch;
  }
  out += "?=";
  return out;
}

std::string EncodeHeaderValue(std::string_view value, std::string_view charset) {
  const std::string bytes = TextForCharset(value, charset);
  std::string_view rest = bytes;
  std::string out;
  while (!rest.empty()) {
    const std::size_t take = std::min<std::size_t>(rest.size(), 70);
    out += EncodeHeaderWord(rest.substr(0, take), charset);
    rest.remove_prefix(take);
  }
  return out;
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
