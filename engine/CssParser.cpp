// The links of a style sheet: @import rules and url( references, found by plain searches
// after the comments are removed.
//
// Each pass rewrites the text in place: the kept text is written behind the reading
// position, so a removal costs nothing extra. After a removal the last few kept characters
// are moved up to meet the rest, so a marker that the removal joins together is still found.
#include <cstring>
#include <string>
#include <string_view>

#include "engine/PageIntake.h"
#include "engine/Url.h"
#include "platform/AsciiText.h"

namespace {

using platform::IsAsciiSpace;
using platform::MatchesUpperAt;

constexpr std::size_t npos = std::string::npos;

void TrimRight(std::string& s) {
  while (!s.empty() && IsAsciiSpace(s.back())) s.pop_back();
}

// The text being rewritten: t[0, w) is kept, t[r, size) is still to be read.
struct Compactor {
  std::string& t;
  std::size_t w = 0;
  std::size_t r = 0;

  explicit Compactor(std::string& text) : t(text) {}

  // Keeps the unread text up to end.
  void Keep(std::size_t end) {
    if (w != r) std::memmove(&t[w], &t[r], end - r);
    w += end - r;
    r = end;
  }
  // Drops the unread text up to end, then brings up to back kept characters next to the
  // rest again.
  void Drop(std::size_t end, std::size_t back) {
    r = end;
    const std::size_t k = back < w ? back : w;
    std::memmove(&t[r - k], &t[w - k], k);
    w -= k;
    r -= k;
  }
  void Finish() {
    Keep(t.size());
    t.resize(w);
  }
};

void RemoveComments(std::string& text) {
  Compactor c(text);
  while (true) {
    const std::size_t open = text.find("/*", c.r);
    if (open == npos) break;
    const std::size_t close = text.find("*/", open + 1);
    if (close == npos) break;
    c.Keep(open);
    c.Drop(close + 2, 1);
  }
  c.Finish();
}

}  // namespace

void ScanCssText(const IntakePage& page, std::string& text, unsigned codePage, IntakeSink& sink) {
  auto add = [&](std::string link) {
    if (!link.empty()) ResolveLink(page.url, link, codePage);
    // A reference to a place in the sheet's own document (an SVG paint server) is no link.
    if (!link.empty() && link[0] == '#') return;
    const PreparedLink prepared = PrepareLink(link, codePage, page.rules);
    sink.Link(link, prepared);
  };

  RemoveComments(text);

  // @import rules, each removed once its target is taken.
  {
    Compactor c(text);
    while (true) {
      const std::size_t at = text.find('@', c.r);
      if (at == npos) break;
      if (!MatchesUpperAt(text, at, "@IMPORT ")) {
        c.Keep(at + 1);
        continue;
      }
      const std::size_t semi = text.find(';', at);
      if (semi == npos) break;  // no later '@' has a ';' after it either
      std::size_t i = at + 8;
      while (i < semi && IsAsciiSpace(text[i])) ++i;
      bool urlForm = false;
      char close = ';';
      if (MatchesUpperAt(text, i, "URL(")) {
        i += 4;
        while (i < semi && IsAsciiSpace(text[i])) ++i;
        urlForm = true;
        close = ')';
      }
      std::size_t end = npos;
      if (text[i] == '"' || text[i] == '\'') {
        close = text[i++];
        end = text.find(close, i);
      } else if (!urlForm) {
        end = semi;
      }
      // A missing ')' or closing quote ends the target at the end of its own rule.
      if (end == npos && urlForm) {
        end = text.find(')', i);
        if (end > semi) end = npos;
      }
      if (end == npos) end = semi;
      std::string link = text.substr(i, end - i);
      TrimRight(link);
      add(std::move(link));
      c.Keep(at);
      c.Drop(semi + 1, 7);
    }
    c.Finish();
  }

  // url( references.
  {
    Compactor c(text);
    while (true) {
      const std::size_t at = text.find("url(", c.r);
      if (at == npos) break;
      const std::size_t paren = text.find(')', at);
      if (paren == npos) break;  // nor does any later "url(" have a ')'
      std::size_t i = at + 4;
      while (i < paren && IsAsciiSpace(text[i])) ++i;
      std::size_t end = paren;
      if (text[i] == '"' || text[i] == '\'') {
        const char quote = text[i++];
        end = text.find(quote, i);
        if (end == npos) end = paren;  // a quote that never closes ends at the ')'
      }
      std::string link = text.substr(i, end - i);
      TrimRight(link);
      add(std::move(link));
      c.Keep(at);
      c.Drop(paren + 1, 3);
    }
    c.Finish();
  }
}
