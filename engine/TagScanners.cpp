#include "engine/TagScanners.h"

#include <cstdint>
#include <cstring>

#include "engine/Url.h"
#include "platform/AsciiText.h"

namespace {

using platform::AsciiUpper;
using platform::AsciiUpperCopy;

constexpr std::size_t npos = std::string_view::npos;

bool IsGap(char c) { return c == ' ' || c == '\r' || c == '\n'; }

// Whether the name (upper case) ends right before the blanks in front of the '=' at equals,
// with a blank before it, or also ';' when semicolonBefore. With fold, letters of text are
// compared without regard to case (an upper-cased copy needs no folding).
template <bool fold>
bool NameBeforeEquals(std::string_view text, std::size_t equals, std::string_view name, bool semicolonBefore) {
  std::size_t end = equals;
  while (end > 0 && IsGap(text[end - 1])) --end;
  if (end <= name.size()) return false;  // no room for the name and a character before it
  const std::size_t at = end - name.size();
  for (std::size_t k = 0; k < name.size(); ++k)
    if ((fold ? AsciiUpper(text[at + k]) : text[at + k]) != name[k]) return false;
  const char before = text[at - 1];
  return before == ' ' || (semicolonBefore && before == ';');
}

// The start of the value of the attribute name (upper case), or npos. The character before
// the name must be a blank, or also ';' when semicolonBefore, and '=' must follow it.
// The name of an attribute ends where the blanks before one of the tag's '=' signs begin, so
// the first occurrence of the name that qualifies belongs to the first '=' that has the name
// right before its blanks.
std::size_t FindAttribute(const CTagText& tag, std::string_view name, bool semicolonBefore) {
  const std::string_view upper = tag.Upper();
  for (const std::size_t equals : tag.Equals()) {
    if (!NameBeforeEquals<false>(upper, equals, name, semicolonBefore)) continue;
    std::size_t i = equals + 1;
    while (i < upper.size() && IsGap(upper[i])) ++i;
    return i;
  }
  return npos;
}

// The value that starts at start: up to its closing quote, or else to the first blank or '>'.
void ReadValue(const CTagText& tag, std::size_t start, std::string& value) {
  std::string_view rest = tag.Text().substr(start);
  if (!rest.empty() && (rest[0] == '"' || rest[0] == '\'')) {
    const char quote = rest[0];
    rest.remove_prefix(1);
    const std::size_t close = rest.find(quote);
    if (close != npos) {
      value.assign(rest.data(), close);
      return;
    }
  }
  std::size_t end = 0;
  while (end < rest.size() && rest[end] != ' ' && rest[end] != '>') ++end;
  if (end == rest.size() && end > 0) --end;  // neither: the last character is dropped
  value.assign(rest.data(), end);
}

bool Find(const CTagText& tag, std::string_view name, bool semicolonBefore, std::string& value) {
  const std::size_t start = FindAttribute(tag, name, semicolonBefore);
  if (start == npos) return false;
  ReadValue(tag, start, value);
  return true;
}

// A trailing '/' and then a trailing quote (what an unquoted read carries along from the end
// of a quoted CONTENT or from "/>").
void TrimSlashAndQuote(std::string& value) {
  if (!value.empty() && value.back() == '/') value.pop_back();
  if (!value.empty() && (value.back() == '"' || value.back() == '\'')) value.pop_back();
}

// Resolution and the refusal of page-local values for every attribute but HREF.
bool ResolveValue(std::string_view name, const std::string& base, std::string& value, unsigned codePage) {
  if (value.empty()) return true;
  if (!ResolveLink(base, value, codePage) || value == "#" || (value[0] == '#' && name != "HREF")) {
    value.clear();
    return false;
  }
  return true;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != npos; }

}  // namespace

void CTagText::Assign(std::string_view tag) {
  m_text.assign(tag);
  m_upper.resize(tag.size());
  AsciiUpperCopy(tag.data(), m_upper.data(), tag.size());
  m_equals.clear();
  for (const char* at = tag.data(); (at = static_cast<const char*>(std::memchr(at, '=', tag.data() + tag.size() - at)));
       ++at)
    m_equals.push_back(static_cast<std::size_t>(at - tag.data()));
}

bool MayHaveAttribute(std::string_view tag, std::string_view upperName) {
  const char* data = tag.data();
  for (const char* at = data; (at = static_cast<const char*>(std::memchr(at, '=', data + tag.size() - at))); ++at)
    if (NameBeforeEquals<true>(tag, static_cast<std::size_t>(at - data), upperName, false)) return true;
  return false;
}

std::string GetAltText(const CTagText& tag) {
  std::string value;
  Find(tag, "ALT", false, value);
  return value;
}

bool GetLinkAttribute(const std::string& base, const CTagText& tag, std::string& value, unsigned codePage) {
  const std::string_view upper = tag.Upper();
  std::string_view name;
  bool classFile = false, refresh = false;
  const char second = upper.size() > 1 ? upper[1] : '\0';
  if (upper.starts_with("<BG") || second == 'E' || second == 'F' || second == 'I' || second == 'S' ||
      upper.starts_with("<LAYER ") || upper.starts_with("<VIDEO ")) {
    name = "SRC";
  } else if (upper.starts_with("<GO ") || upper.starts_with("<A ") || upper.starts_with("<LINK ") ||
             upper.starts_with("<AREA ")) {
    name = "HREF";
  } else if (upper.starts_with("<BLOCKQUOTE ")) {
    name = "CITE";
  } else if (upper.starts_with("<BASE ")) {
    name = "HREF";
  } else if (upper.starts_with("<APPLET ")) {
    name = "CODE";
    classFile = true;
  } else if (upper.starts_with("<OBJECT ")) {
    name = "DATA";
  } else if (upper.starts_with("<META ")) {
    if (!Contains(upper, "HTTP-EQUIV") || !Contains(upper, "REFRESH") || !Contains(upper, "CONTENT")) return false;
    name = "URL";
    refresh = true;
  } else {
    name = "BACKGROUND";
  }

  if (!Find(tag, name, true, value)) return false;
  if (refresh) TrimSlashAndQuote(value);
  if (upper.starts_with("<BASE")) return true;
  if (classFile) {
    if (value.ends_with(".class")) value.resize(value.size() - 6);
    for (char& c : value)
      if (c == '.') c = '/';
    value += ".class";
  }
  return ResolveValue(name, base, value, codePage);
}

bool GetAttribute(std::string_view name, const CTagText& tag, std::string& value, unsigned codePage) {
  if (tag.Size() <= 4 || tag.Text()[0] != '<') return false;
  if (!Find(tag, name, false, value)) return false;
  if (name == "NAME" || name == "ID")
    DecodeEntities(value, codePage);
  else
    DecodeNumericCharRefs(value, codePage);
  return true;
}

bool GetLinkAttributeValue(std::string_view name, const std::string& base, const CTagText& tag, std::string& value,
                           unsigned codePage) {
  if (!Find(tag, name, true, value)) return false;
  return ResolveValue(name, base, value, codePage);
}

bool GetArchiveList(const std::string& base, const CTagText& tag, std::vector<std::string>& list, unsigned codePage) {
  std::string value;
  if (!Find(tag, "ARCHIVE", true, value)) return false;
  const std::size_t first = list.size();
  if (value.empty()) {
    list.emplace_back();
    return true;
  }
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = value.find(',', from);
    list.push_back(value.substr(from, comma == npos ? npos : comma - from));
    if (comma == npos) break;
    from = comma + 1;
  }
  for (std::size_t i = first; i < list.size(); ++i) {
    if (!ResolveLink(base, list[i], codePage) || (!list[i].empty() && list[i][0] == '#')) {
      list.resize(first);
      return false;
    }
  }
  return true;
}

bool GetMetaContent(const CTagText& tag, std::string& value, std::string_view wanted) {
  const std::string_view upper = tag.Upper();
  if (!Contains(upper, "NAME") || !Contains(upper, wanted) || !Contains(upper, "CONTENT")) return false;
  if (!Find(tag, "CONTENT", true, value)) return false;
  TrimSlashAndQuote(value);
  return !value.empty();
}

bool GetCharsetAttribute(const CTagText& tag, std::string& value) {
  if (!Contains(tag.Upper(), "CHARSET")) return false;
  if (!Find(tag, "CHARSET", true, value)) return false;
  TrimSlashAndQuote(value);
  return !value.empty();
}
