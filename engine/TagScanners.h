// The attribute scanners of the HTML tag scan: each reads one attribute out of the text of
// one tag, from its '<' through its first '>'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One tag and its ASCII upper-cased copy. Names are searched in the copy and values read
// from the tag at the same places; the copy is made once and shared by every scanner that
// looks at the tag.
class CTagText {
 public:
  CTagText() = default;
  CTagText(std::string_view tag) { Assign(tag); }
  CTagText(const char* tag) : CTagText(std::string_view(tag)) {}
  CTagText(const std::string& tag) : CTagText(std::string_view(tag)) {}

  // Takes another tag, keeping the storage of the last one.
  void Assign(std::string_view tag);

  std::string_view Text() const { return m_text; }
  std::string_view Upper() const { return m_upper; }
  std::size_t Size() const { return m_text.size(); }
  // Where the tag's '=' signs stand, left to right: every attribute ends at one of them.
  const std::vector<std::size_t>& Equals() const { return m_equals; }

 private:
  std::string m_text;
  std::string m_upper;
  std::vector<std::size_t> m_equals;
};

// False when an attribute with this name (upper case, a blank before it) cannot be in the
// tag, so GetAttribute would not find it; true when it may be. Reads the tag as it stands,
// without an upper-cased copy.
bool MayHaveAttribute(std::string_view tag, std::string_view upperName);

// The ALT value as it stands, or empty.
std::string GetAltText(const CTagText& tag);

// The link of the tag, with the attribute the tag's name chooses (SRC, HREF, CITE, CODE as a
// class file, DATA, the URL of a META refresh, BACKGROUND), resolved against base except for
// a base tag. False when the tag has none or it cannot be resolved, and for "#..." values of
// any attribute but HREF. An empty value gives true.
bool GetLinkAttribute(const std::string& base, const CTagText& tag, std::string& value, unsigned codePage);

// A plain attribute (NAME, ID, STYLE ...), character references decoded. NAME and ID get
// named references decoded too, so anchor names compare equal to the fragments of links.
bool GetAttribute(std::string_view name, const CTagText& tag, std::string& value, unsigned codePage);

// A further link attribute (CODEBASE, PLUGINSPAGE, LOWSRC, LONGDESC), resolved as in
// GetLinkAttribute.
bool GetLinkAttributeValue(std::string_view name, const std::string& base, const CTagText& tag, std::string& value,
                           unsigned codePage);

// The ARCHIVE list, split at ',' and each entry resolved; appended to list. On a refused
// entry nothing is appended and the result is false.
bool GetArchiveList(const std::string& base, const CTagText& tag, std::vector<std::string>& list, unsigned codePage);

// The CONTENT of a META tag that names wanted (DESCRIPTION, KEYWORDS); false when empty.
bool GetMetaContent(const CTagText& tag, std::string& value, std::string_view wanted);

// The CHARSET value, from a CHARSET attribute or from inside a CONTENT value.
bool GetCharsetAttribute(const CTagText& tag, std::string& value);
