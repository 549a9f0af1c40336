#include "report/HtmlEscape.h"

#include <cstddef>

namespace {

bool NeedsEscape(unsigned char c) { return c == '"' || c == '&' || c == '\'' || c == '<' || c == '>' || c >= 0x80; }

}  // namespace

void EscapeHtml(std::string& text) {
  std::size_t first = 0;
  while (first < text.size() && !NeedsEscape(static_cast<unsigned char>(text[first]))) ++first;
  if (first == text.size()) return;  // the usual case: nothing to do, no copy

  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text, 0, first);
  for (std::size_t i = first; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        if (c >= 0x80) {
          out += '%';
          out += kHex[c >> 4];
          out += kHex[c & 0x0F];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  text.swap(out);
}

namespace {

void AppendPercent(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// The length of the valid UTF-8 sequence at text[i], or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

void AppendHtmlText(std::string& out, std::string_view text, HtmlQuote quote) {
  const auto plain = [](unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
  };
  for (std::size_t i = 0; i < text.size();) {
    // Runs of printable ASCII without markup characters are taken as they are, in one piece.
    std::size_t run = i;
    while (run < text.size() && plain(static_cast<unsigned char>(text[run]))) ++run;
    out.append(text, i, run - i);
    i = run;
    if (i == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8SequenceLength(text, i);
      // C1 controls (U+0080 to U+009F) are no characters of an HTML page either.
      const bool control = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
      if (length == 0 || control) {
        const std::size_t n = length == 0 ? 1 : length;
        for (std::size_t k = 0; k < n; ++k) AppendPercent(out, static_cast<unsigned char>(text[i + k]));
        i += n;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'':
        if (quote == HtmlQuote::Single)
          out += "&#39;";
        else
          out += '\'';
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          AppendPercent(out, c);
        else
          out += static_cast<char>(c);
    }
    ++i;
  }
}
