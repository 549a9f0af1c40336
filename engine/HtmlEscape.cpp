#include "engine/HtmlEscape.h"

#include <cstddef>

#include "platform/AsciiText.h"

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

namespace {

using Action = HtmlEscapeRules::Action;

// The index of the first byte that rules change, text.size() for none.
std::size_t FirstEscaped(std::string_view text, const HtmlEscapeRules& rules) {
  std::size_t i = 0;
  while (i < text.size() && rules.ActionOf(static_cast<unsigned char>(text[i])) == Action::Keep) ++i;
  return i;
}

}  // namespace

void AppendHtmlEscaped(std::string& out, std::string_view text, const HtmlEscapeRules& rules) {
  for (std::size_t i = 0; i < text.size();) {
    // Runs of bytes that stay as they are are taken in one piece.
    const std::size_t run = i + FirstEscaped(text.substr(i), rules);
    out.append(text, i, run - i);
    i = run;
    if (i == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (rules.ActionOf(c)) {
      case Action::Keep: break;
      case Action::Amp: out += "&amp;"; break;
      case Action::Lt: out += "&lt;"; break;
      case Action::Gt: out += "&gt;"; break;
      case Action::Quot: out += "&quot;"; break;
      case Action::Apos: out += "&apos;"; break;
      case Action::Num39: out += "&#39;"; break;
      case Action::Percent: platform::AppendPercentEscape(out, c); break;
      case Action::Utf8: {
        const std::size_t length = Utf8SequenceLength(text, i);
        // C1 controls (U+0080 to U+009F) are no characters of an HTML page either.
        const bool control =
            rules.EscapesC1() && length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || control) {
          const std::size_t n = length == 0 ? 1 : length;
          for (std::size_t k = 0; k < n; ++k)
            platform::AppendPercentEscape(out, static_cast<unsigned char>(text[i + k]));
          i += n;
        } else {
          out.append(text, i, length);
          i += length;
        }
        continue;
      }
    }
    ++i;
  }
}

void EscapeHtml(std::string& text) {
  const std::size_t first = FirstEscaped(text, kEscapeHtmlRules);
  if (first == text.size()) return;  // the usual case: nothing to do, no copy
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text, 0, first);
  AppendHtmlEscaped(out, std::string_view(text).substr(first), kEscapeHtmlRules);
  text.swap(out);
}

void AppendHtmlText(std::string& out, std::string_view text, HtmlQuote quote) {
  AppendHtmlEscaped(out, text, quote == HtmlQuote::Single ? kHtmlSingleQuotedRules : kHtmlTextRules);
}
