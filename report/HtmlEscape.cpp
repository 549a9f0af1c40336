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
