// The HTML tag scan: reads a page line by line and turns its markup into links, anchor
// names, fragments, a title, a description, keywords and a character set.
//
// The current line is one buffer and the offset where it continues. A construct that runs
// past the end of the line is carried: the buffer keeps the text from the construct's '<'
// and the next line is appended to it. The search for the construct's end then goes on
// where it stopped, so a long construct costs one pass over its text. A very long line comes
// in pieces; a piece ends like a line, with its open construct carried, except that a title
// or a comment reads on to the line's real end, as they treat a line's end in their own ways.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Charset.h"
#include "engine/PageIntake.h"
#include "engine/ReadLine.h"
#include "engine/TagScanners.h"
#include "engine/Url.h"
#include "platform/AsciiText.h"
#include "platform/TextFile.h"

namespace {

using platform::AsciiUpper;
using platform::IsAsciiSpace;
using platform::MatchesUpperAt;

constexpr std::size_t npos = std::string::npos;

// The first closing marker (upper case, beginning with '<') at or after from.
std::size_t FindMarker(const std::string& text, std::size_t from, std::string_view upper) {
  const char* base = text.data();
  const std::size_t size = text.size();
  while (from < size) {
    const void* hit = std::memchr(base + from, '<', size - from);
    if (!hit) return npos;
    const std::size_t at = static_cast<const char*>(hit) - base;
    if (MatchesUpperAt(text, at, upper)) return at;
    from = at + 1;
  }
  return npos;
}

std::string Trimmed(std::string_view s) { return std::string(platform::AsciiTrim(s)); }

bool EndsInSlash(const std::string& s) { return !s.empty() && (s.back() == '/' || s.back() == '\\'); }

enum class Kind { Style, Link, Anchor, Image, Embed, Applet, Script, Meta, Base, Title, Comment, Other };

struct Prefix {
  std::string_view upper;
  Kind kind;
};

// No two prefixes can match the same text, so their order does not decide anything.
constexpr Prefix kPrefixes[] = {
    {"<STYLE ", Kind::Style}, {"<A ", Kind::Anchor},      {"<GO ", Kind::Link},         {"<IMG ", Kind::Image},
    {"<LAYER ", Kind::Link},  {"<IFRAME ", Kind::Link},   {"<VIDEO ", Kind::Link},      {"<EMBED ", Kind::Embed},
    {"<OBJECT ", Kind::Link}, {"<FRAME ", Kind::Link},    {"<AREA ", Kind::Link},       {"<LINK ", Kind::Link},
    {"<INPUT ", Kind::Link},  {"<APPLET ", Kind::Applet}, {"<SCRIPT", Kind::Script},    {"<BGSOUND ", Kind::Link},
    {"<BODY ", Kind::Link},   {"<TD ", Kind::Link},       {"<TH ", Kind::Link},         {"<TR ", Kind::Link},
    {"<TABLE ", Kind::Link},  {"<META ", Kind::Meta},     {"<BLOCKQUOTE ", Kind::Link}, {"<BASE ", Kind::Base},
    {"<TITLE>", Kind::Title}, {"<!--", Kind::Comment},
};

// For each upper-cased second character, the prefixes that begin with '<' and it, in table
// order; at most five share one (TD, TH, TR, TABLE, TITLE).
struct PrefixesBySecond {
  std::array<std::array<std::uint8_t, 5>, 256> index{};
  std::array<std::uint8_t, 256> count{};
  constexpr PrefixesBySecond() {
    for (std::size_t i = 0; i < std::size(kPrefixes); ++i) {
      const auto second = static_cast<unsigned char>(kPrefixes[i].upper[1]);
      index[second][count[second]++] = static_cast<std::uint8_t>(i);
    }
  }
};
constexpr PrefixesBySecond kBySecond;

Kind Classify(const std::string& text, std::size_t p) {
  const auto second = static_cast<unsigned char>(p + 1 < text.size() ? AsciiUpper(text[p + 1]) : '\0');
  for (std::uint8_t k = 0; k < kBySecond.count[second]; ++k) {
    const Prefix& prefix = kPrefixes[kBySecond.index[second][k]];
    if (MatchesUpperAt(text, p, prefix.upper)) return prefix.kind;
  }
  return Kind::Other;
}

// One more character of a comment as the closing search sees it: every "-- " counts as
// "---", so a run of two or more hyphens takes in the blanks behind it. True when the
// character is the '>' of a "-->".
bool CommentCloses(int& run, char c) {
  if (c == '-' || (c == ' ' && run >= 2)) {
    ++run;
    return false;
  }
  if (c == '>' && run >= 2) return true;
  run = 0;
  return false;
}

class HtmlTagScan {
 public:
  HtmlTagScan(const IntakePage& page, platform::LineReader& file, IntakeSink& sink)
      : m_page(page), m_sink(sink), m_file(file), m_base(page.url), m_charset(page.charset) {}

  // Scans the page. Its anchors and fragments reach the sink together at the end, also when
  // the scan stops early or runs out of memory.
  void Run() {
    try {
      Scan();
    } catch (...) {
      HandOverNames();
      throw;
    }
    HandOverNames();
  }

 private:
  enum class Step { Next, NeedLine, End };
  // A line read for an anchor's text and not yet scanned.
  struct AheadLine {
    std::string text;
    std::size_t close = npos;  // its first "</A"
  };

  void Scan() {
    while (!m_eof && ReadRaw()) {
      if (m_carry) {
        EraseFront(m_carryFrom);
        m_line += m_raw;
        m_carry = false;
        m_carriedAt = 0;
        m_carriedFrom = m_carryResume;
        m_commentCarried = m_carryComment;
        m_carryComment = false;
      } else {
        m_line.swap(m_raw);
        ForgetPositions();
      }
      m_pos = 0;
      if (!ScanLine()) return;
    }
  }

  void HandOverNames() {
    if (m_anchors.empty() && m_fragments.empty()) return;
    m_sink.Names(m_anchors, m_fragments);
  }

  // Scans the current line; false when the scan ends before the file does.
  bool ScanLine() {
    while (true) {
      const std::size_t p = NextTag();
      if (p == npos) {
        m_behind = m_goesOn ? m_behind + (m_line.size() - m_pos) : 0;
        m_pos = m_line.size();
        return true;
      }
      Step step;
      switch (const Kind kind = Classify(m_line, p)) {
        case Kind::Title: step = Title(p); break;
        case Kind::Comment: step = Comment(p); break;
        case Kind::Style: step = Style(p); break;
        default: step = Tag(p, kind); break;
      }
      // A carried construct's resume point serves only its first look on the new line.
      m_carriedAt = npos;
      m_commentCarried = false;
      if (step == Step::Next) m_behind = 0;
      if (step == Step::NeedLine) return true;
      if (step == Step::End) return false;
    }
  }

  std::size_t NextTag() const {
    const char* base = m_line.data();
    std::size_t from = m_pos;
    while (from < m_line.size()) {
      const void* hit = std::memchr(base + from, '<', m_line.size() - from);
      if (!hit) return npos;
      const std::size_t at = static_cast<const char*>(hit) - base;
      if (at + 1 >= m_line.size() || m_line[at + 1] != '/') return at;
      from = at + 2;
    }
    return npos;
  }

  unsigned CodePage() const { return m_charset ? m_charset->m_nCodePage : 0; }

  // The next line, or piece of a line, into m_raw; false at the end of the file.
  bool ReadRaw() {
    if (!m_ahead.empty()) {
      m_raw.swap(m_ahead.front().text);
      m_goesOn = false;
      m_ahead.pop_front();
      ++m_seq;
      return true;
    }
    if (!ReadFileLine(m_raw, true)) return false;
    m_goesOn = m_file.LineContinues();
    ++m_seq;
    return true;
  }

  bool ReadFileLine(std::string& line, bool tellFailure) {
    const bool failedBefore = m_file.Failed();
    if (ReadLine(m_file, line)) return true;
    if (m_file.Failed() && !failedBefore) {
      if (!tellFailure) throw IntakeLeftToOwner();
      m_sink.ReadFailed(ReadFailureQuestion(m_file));
    }
    return false;
  }

  // The next line appended to the current one; false at the end of the file.
  bool AppendLine() {
    if (m_eof) return false;
    if (!ReadRaw()) {
      m_eof = true;
      m_goesOn = false;
      return false;
    }
    m_line += m_raw;
    return true;
  }

  // Carries the text from p; the closing search of that construct resumes at resumeFrom.
  Step Carry(std::size_t p, std::size_t resumeFrom) {
    m_behind = m_goesOn ? m_behind + (p - m_pos) : 0;
    m_carry = true;
    m_carryFrom = p;
    m_carryResume = std::max(resumeFrom, p) - p;
    return Step::NeedLine;
  }

  // Where the closing search of the construct at p starts: where it stopped on the line
  // before, when this construct was carried.
  std::size_t SearchFrom(std::size_t p, std::size_t from) const {
    return m_carriedAt == p ? std::max(from, p + m_carriedFrom) : from;
  }

  // Drops the first n characters of the buffer, keeping stored positions right.
  void EraseFront(std::size_t n) {
    if (n == 0) return;
    m_line.erase(0, n);
    if (m_anchorAt != npos) {
      if (m_anchorAt < n) {
        m_anchorFrom = m_anchorAt = npos;
      } else {
        m_anchorFrom = m_anchorFrom > n ? m_anchorFrom - n : 0;
        m_anchorAt -= n;
      }
    }
    if (m_noAnchorCloseFrom != npos) m_noAnchorCloseFrom = m_noAnchorCloseFrom > n ? m_noAnchorCloseFrom - n : 0;
  }

  void ForgetPositions() {
    m_anchorFrom = m_anchorAt = npos;
    if (m_noAnchorCloseFrom != npos) m_noAnchorCloseFrom = 0;  // the file has ended: nothing follows
  }

  Step Title(std::size_t p) {
    std::size_t from = SearchFrom(p, p + 7);
    std::size_t q;
    while ((q = FindMarker(m_line, from, "</TITLE>")) == npos && m_goesOn) {
      from = std::max(from, m_line.size() >= 7 ? m_line.size() - 7 : 0);
      if (!AppendLine()) break;
    }
    if (q != npos) {
      if (!m_titleTaken) {
        m_sink.PageTitle(Trimmed(std::string_view(m_line).substr(p + 7, q - p - 7)));
        m_titleTaken = true;
      } else {
        m_sink.PageTitleAgain();
      }
      m_pos = q + 8;
      return Step::Next;
    }
    LineEndMatters();
    // Lengths count from the scan position, which may lie in an earlier piece of the line.
    const std::size_t length = m_line.size() - m_pos + m_behind;
    const std::size_t resume = m_line.size() >= 7 ? m_line.size() - 7 : 0;
    if (length <= 1024) return Carry(p, resume);
    // A line too long for a title loses eight characters at a time, and the scan starts
    // again, until it is short enough to carry or the tag's '<' has gone.
    m_sink.TitleTooLong();
    const std::size_t untilShort = (length - 1024 + 7) / 8;
    const std::size_t untilPast = (p - m_pos + m_behind) / 8 + 1;
    // Text of an earlier piece held no tag: a position there scans like the piece's start.
    const std::size_t target = m_pos + 8 * std::min(untilShort, untilPast);
    m_pos = target > m_behind ? target - m_behind : 0;
    if (m_pos <= p) return Carry(p, resume);
    return Step::Next;
  }

  Step Comment(std::size_t p) {
    // A carried "<!--" is only an opener: its own hyphens never close the comment.
    const bool carried = m_commentCarried && m_carriedAt == p;
    int run = 0;      // as the closing search counts
    int realRun = 0;  // hyphens written after the opener
    std::size_t j = p;
    if (carried) {
      j = p + 4;
      realRun = m_commentRun;
    }
    for (;;) {
      for (; j < m_line.size(); ++j) {
        const char c = m_line[j];
        if (carried ? CommentCloses(realRun, c) : CommentCloses(run, c)) {
          m_pos = j + 1;
          return Step::Next;
        }
        if (!carried && j >= p + 4) CommentCloses(realRun, c);
      }
      if (!m_goesOn) break;
      // The rest of the line comes in another piece; the text read so far is dropped.
      m_line.resize(p + 4);
      if (m_anchorAt != npos && m_anchorAt >= p) m_anchorFrom = m_anchorAt = npos;
      j = p + 4;
      if (!AppendLine()) break;
    }
    LineEndMatters();
    // The comment's text so far is dropped; only its opener is carried.
    m_line.replace(p, npos, "<!--");
    if (m_anchorAt != npos && m_anchorAt >= p) m_anchorFrom = m_anchorAt = npos;
    m_commentRun = realRun;
    m_carryComment = true;
    return Carry(p, p + 4);
  }

  Step Style(std::size_t p) {
    const std::size_t q = FindMarker(m_line, SearchFrom(p, p + 1), "</STYLE>");
    if (q == npos) return Carry(p, m_line.size() >= 7 ? m_line.size() - 7 : 0);
    std::string sheet = m_line.substr(p + 7, q - p - 7);
    ScanCssText(m_page, sheet, CodePage(), m_sink);
    m_pos = q + 8;
    return Step::Next;
  }

  Step Tag(std::size_t p, Kind kind) {
    const std::size_t from = SearchFrom(p, p);
    const void* hit = from < m_line.size() ? std::memchr(m_line.data() + from, '>', m_line.size() - from) : nullptr;
    if (!hit) return Carry(p, m_line.size());
    const std::size_t q = static_cast<const char*>(hit) - m_line.data();
    // Other tags are read for ID and STYLE only: most have neither.
    const std::string_view text = std::string_view(m_line).substr(p, q - p + 1);
    if (kind == Kind::Other && !MayHaveAttribute(text, "ID") && !MayHaveAttribute(text, "STYLE")) {
      m_pos = q + 1;
      return Step::Next;
    }
    m_tag.Assign(text);
    const CTagText& tag = m_tag;
    const std::string& fetched = m_page.url;

    std::string link, anchorName, alt;
    bool found = false, inArchive = false, archiveExternal = false;
    if (kind == Kind::Applet) {
      std::string codebase;
      if (GetLinkAttributeValue("CODEBASE", m_base, tag, codebase, CodePage())) {
        if (!EndsInSlash(codebase)) codebase += '/';
        found = GetLinkAttribute(codebase, tag, link, CodePage());
      } else {
        found = GetLinkAttribute(m_base, tag, link, CodePage());
      }
      if (found) {
        std::vector<std::string> archives;
        GetArchiveList(codebase.empty() ? m_base : codebase, tag, archives, CodePage());
        for (std::string& archive : archives) {
          if (archive == fetched) continue;
          AddLink(archive);
          std::string archiveBase = archive;
          if (!EndsInSlash(archiveBase)) archiveBase += '/';
          found = inArchive = GetLinkAttribute(archiveBase, tag, link, CodePage());
          // Every link gets a record, so the archive's exists.
          if (found && (!m_page.rules.IsInternal(archive) || m_page.rules.IsExcluded(archive) || archives.size() >= 2))
            archiveExternal = true;
        }
      }
    } else if (kind != Kind::Other) {
      if (kind == Kind::Meta) {
        std::string value;
        if (GetCharsetAttribute(tag, value)) {
          // The links after it are read in that charset.
          m_charset = InternCharset(value);
          m_sink.Charset(value);
        }
        if (GetMetaContent(tag, value, "DESCRIPTION")) m_sink.Description(value);
        if (GetMetaContent(tag, value, "KEYWORDS")) m_sink.Keywords(value);
      }
      found = GetLinkAttribute(m_base, tag, link, CodePage());
      if (found && !link.empty() && link[0] == '#') {
        m_fragments.push_back(link.substr(1));
        found = false;
        link.clear();
      }
      if (kind == Kind::Anchor && GetAttribute("NAME", tag, anchorName, CodePage())) m_anchors.push_back(anchorName);
      if (found && kind == Kind::Image) alt = GetAltText(tag);
    }

    std::string value;
    if (GetAttribute("ID", tag, value, CodePage()) && value != anchorName) m_anchors.push_back(value);
    if (GetAttribute("STYLE", tag, value, CodePage())) StyleAttributeLink(value);

    if (kind == Kind::Base) {
      if (found && (link.starts_with("http://") || link.starts_with("https://"))) {
        CanonicalizeUrl(link, m_page.rules.makeLowerCase, CodePage());
        m_base = link;
      }
      found = false;
    }

    bool tagLink = false;
    if (found && link != fetched) {
      AddLink(link);
      m_sink.TagLink(inArchive, inArchive && archiveExternal);
      tagLink = true;
    }
    if (found) {
      if (kind == Kind::Embed) AddExtraLink("PLUGINSPAGE", tag);
      if (kind == Kind::Image) {
        AddExtraLink("LOWSRC", tag);
        AddExtraLink("LONGDESC", tag);
      }
    }

    m_pos = q + 1;
    if (kind == Kind::Script && !SkipScript()) return Step::End;

    if (tagLink) {
      if (!alt.empty()) m_sink.AltTitle(alt);
      const std::string_view text = tag.Text();
      if (text.starts_with("<a ") || text.starts_with("<A ")) {
        const std::optional<bool> wanted = m_sink.WantsAnchorText();
        std::string title;
        if (!wanted) {
          if (PeekAnchorText(m_pos, title)) m_sink.AnchorText(title);
        } else if (*wanted) {
          const std::size_t close = FindAnchorClose(m_pos);
          if (close != npos) m_sink.AnchorText(m_line.substr(m_pos, std::min<std::size_t>(close - m_pos, 255)));
        }
      }
    }
    return Step::Next;
  }

  void AddLink(std::string& link) {
    const PreparedLink prepared = PrepareLink(link, CodePage(), m_page.rules);
    m_sink.Link(link, prepared);
  }

  // The text of an anchor from `from` up to its "</A", at most 255 characters, without
  // moving the scan on: the lines it needs wait in m_ahead. False when the file ends first.
  //
  // Where the record's title is known to be empty the anchor's text is read into the
  // current line instead (FindAnchorClose), and the scan then sees those lines as one. That
  // gives the same links as line by line, but for two things that read a line's end: a title
  // element or a comment not closed on its line (LineEndMatters). A scan that meets one of
  // them within lines an anchor read ahead, or that would read ahead through a long line's
  // pieces or a read failure, is left to the table's owner.
  bool PeekAnchorText(std::size_t from, std::string& text) {
    const std::size_t close = FindMarker(m_line, from, "</A");
    if (close != npos) {
      text = m_line.substr(from, std::min<std::size_t>(close - from, 255));
      return true;
    }
    if (m_noCloseAhead) return false;
    if (m_goesOn) throw IntakeLeftToOwner();
    text = m_line.substr(from, std::min<std::size_t>(m_line.size() - from, 255));
    for (std::size_t i = 0;; ++i) {
      const AheadLine* line = Ahead(i);
      if (!line) {
        m_noCloseAhead = true;
        m_spanEnd = std::numeric_limits<std::uint64_t>::max();
        return false;
      }
      const std::size_t end = line->close == npos ? line->text.size() : line->close;
      if (text.size() < 255) text.append(line->text, 0, std::min<std::size_t>(end, 255 - text.size()));
      if (line->close != npos) {
        m_closeAhead = m_seq + i + 1;
        m_spanEnd = std::max(m_spanEnd, m_closeAhead);
        return true;
      }
      // Past 255 characters only where the close lies matters, and an earlier search may
      // know it: no line before it holds one.
      if (text.size() >= 255 && m_closeAhead > m_seq) {
        m_spanEnd = std::max(m_spanEnd, m_closeAhead);
        return true;
      }
    }
  }

  // The i-th line ahead of the scan, read when needed; nullptr at the end of the file.
  const AheadLine* Ahead(std::size_t i) {
    if (i < m_ahead.size()) return &m_ahead[i];
    AheadLine next;
    if (!ReadFileLine(next.text, false)) return nullptr;
    if (m_file.LineContinues()) throw IntakeLeftToOwner();
    next.close = FindMarker(next.text, 0, "</A");
    m_ahead.push_back(std::move(next));
    return &m_ahead.back();
  }

  // The scan is about to treat the current line's end as the end of a line: it must not lie
  // within text an anchor read ahead, nor end it (the length a title may have counts from the
  // scan position, which reading ahead leaves in an earlier line).
  void LineEndMatters() const {
    if (m_seq <= m_spanEnd && m_spanEnd != 0) throw IntakeLeftToOwner();
  }

  // The first url( of a STYLE attribute.
  void StyleAttributeLink(const std::string& style) {
    const std::size_t at = style.find("url(");
    if (at == npos) return;
    std::size_t i = at + 4;
    while (i < style.size() && IsAsciiSpace(style[i])) ++i;
    char close = ')';
    if (i < style.size() && (style[i] == '"' || style[i] == '\'')) close = style[i++];
    const std::size_t end = style.find(close, i);
    std::string link = style.substr(i, end == npos ? npos : end - i);
    while (!link.empty() && IsAsciiSpace(link.back())) link.pop_back();
    if (!ResolveLink(m_base, link, CodePage())) return;
    // A reference to a place in the page itself (an SVG paint server) is no link.
    if (!link.empty() && link[0] == '#') return;
    AddLink(link);
  }

  void AddExtraLink(const char* name, const CTagText& tag) {
    std::string value;
    if (GetLinkAttributeValue(name, m_base, tag, value, CodePage()) && value != m_page.url) AddLink(value);
  }

  // Moves the current line past "</SCRIPT>", reading lines as needed; false at the end of
  // the file. Only the last few characters of a line are kept while searching.
  bool SkipScript() {
    std::size_t from = m_pos;
    while (true) {
      const std::size_t r = FindMarker(m_line, from, "</SCRIPT>");
      if (r != npos) {
        m_pos = r + 9;
        return true;
      }
      const std::size_t keep = std::max(m_pos, m_line.size() >= 8 ? m_line.size() - 8 : 0);
      EraseFront(keep);
      m_pos = 0;
      from = 0;
      if (!AppendLine()) return false;
    }
  }

  // The first "</A" at or after from, reading lines into the current line as needed; npos
  // when the file ends first. A search that has run to the end of the file, or found its
  // marker beyond from, answers later searches from the same stretch at once.
  std::size_t FindAnchorClose(std::size_t from) {
    if (m_noAnchorCloseFrom != npos && from >= m_noAnchorCloseFrom) return npos;
    if (m_anchorAt != npos && from >= m_anchorFrom && from <= m_anchorAt) return m_anchorAt;
    std::size_t start = from;
    while (true) {
      const std::size_t r = FindMarker(m_line, start, "</A");
      if (r != npos) {
        m_anchorFrom = from;
        m_anchorAt = r;
        return r;
      }
      start = std::max(from, m_line.size() >= 2 ? m_line.size() - 2 : 0);
      if (!AppendLine()) {
        m_noAnchorCloseFrom = from;
        return npos;
      }
    }
  }

  const IntakePage& m_page;
  IntakeSink& m_sink;
  // The page's anchors and fragments, in the order found; they reach its record together.
  std::vector<std::string> m_anchors;
  std::vector<std::string> m_fragments;
  platform::LineReader& m_file;
  std::string m_base;
  const CCharsetInfo* m_charset;  // the page's, as its META tags set it
  CTagText m_tag;                 // the tag being read; its storage serves every tag of the page
  bool m_titleTaken = false;
  bool m_eof = false;

  std::string m_line;  // the current line is m_line from m_pos on
  std::size_t m_pos = 0;
  std::string m_raw;
  bool m_goesOn = false;  // the current line's end is the end of a piece: the line goes on
  // Text of the line in earlier pieces between the scan position and the buffer's start.
  std::size_t m_behind = 0;

  bool m_carry = false;
  std::size_t m_carryFrom = 0;
  std::size_t m_carryResume = 0;  // where the carried construct's closing search stopped
  bool m_carryComment = false;
  // The construct carried into this line, at m_carriedAt, resumes at m_carriedFrom after it.
  std::size_t m_carriedAt = npos, m_carriedFrom = 0;
  bool m_commentCarried = false;
  int m_commentRun = 0;  // hyphens (and blanks they took in) at the end of a carried comment

  // The last "</A" search: no marker in [m_anchorFrom, m_anchorAt), one at m_anchorAt.
  std::size_t m_anchorFrom = npos, m_anchorAt = npos;
  // No "</A" from here to the end of the file.
  std::size_t m_noAnchorCloseFrom = npos;

  // Lines read for an anchor's text and not yet scanned; lines are numbered from 1 as the
  // scan takes them, m_seq the last one taken.
  std::deque<AheadLine> m_ahead;
  std::uint64_t m_seq = 0;
  // The last line an anchor read ahead to (the one holding its "</A").
  std::uint64_t m_spanEnd = 0;
  // The lines ahead and the rest of the file hold no "</A".
  bool m_noCloseAhead = false;
  // The first line ahead that holds a "</A", when a search found it (beyond m_seq).
  std::uint64_t m_closeAhead = 0;
};

}  // namespace

void ScanHtmlPage(const IntakePage& page, platform::LineReader& file, IntakeSink& sink) {
  HtmlTagScan(page, file, sink).Run();
}
