#include "engine/Url.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "algorithms/Regex.h"
#include "engine/CheckSettings.h"
#include "engine/SettingPatterns.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/FileUrl.h"

const HtmlEntity HtmlEntityTable[124] = {
    {"quot", "\""},     {"apos", "'"},      {"amp", "&"},       {"lt", "<"},        {"gt", ">"},
    {"OElig", "\x8C"},  {"oelig", "\x9C"},  {"Scaron", "\x8A"}, {"scaron", "\x9A"}, {"Yuml", "\x9F"},
    {"circ", "\x88"},   {"tilde", "\x98"},  {"ndash", "\x96"},  {"mdash", "\x97"},  {"lsquo", "\x91"},
    {"rsquo", "\x92"},  {"sbquo", "\x82"},  {"ldquo", "\x93"},  {"rdquo", "\x94"},  {"bdquo", "\x84"},
    {"dagger", "\x86"}, {"Dagger", "\x87"}, {"permil", "\x89"}, {"lsaquo", "\x8B"}, {"rsaquo", "\x9B"},
    {"euro", "\x80"},   {"nbsp", " "},      {"iexcl", "\xA1"},  {"cent", "\xA2"},   {"pound", "\xA3"},
    {"curren", "\xA4"}, {"yen", "\xA5"},    {"brvbar", "\xA6"}, {"sect", "\xA7"},   {"uml", "\xA8"},
    {"copy", "\xA9"},   {"ordf", "\xAA"},   {"laquo", "\xAB"},  {"not", "\xAC"},    {"shy", "\xAD"},
    {"reg", "\xAE"},    {"macr", "\xAF"},   {"deg", "\xB0"},    {"plusmn", "\xB1"}, {"sup2", "\xB2"},
    {"sup3", "\xB3"},   {"acute", "\xB4"},  {"micro", "\xB5"},  {"para", "\xB6"},   {"middot", "\xB7"},
    {"cedil", "\xB8"},  {"sup1", "\xB9"},   {"ordm", "\xBA"},   {"raquo", "\xBB"},  {"frac14", "\xBC"},
    {"frac12", "\xBD"}, {"frac34", "\xBE"}, {"iquest", "\xBF"}, {"Agrave", "\xC0"}, {"Aacute", "\xC1"},
    {"Acirc", "\xC2"},  {"Atilde", "\xC3"}, {"Auml", "\xC4"},   {"Aring", "\xC5"},  {"AElig", "\xC6"},
    {"Ccedil", "\xC7"}, {"Egrave", "\xC8"}, {"Eacute", "\xC9"}, {"Ecirc", "\xCA"},  {"Euml", "\xCB"},
    {"Igrave", "\xCC"}, {"Iacute", "\xCD"}, {"Icirc", "\xCE"},  {"Iuml", "\xCF"},   {"ETH", "\xD0"},
    {"Ntilde", "\xD1"}, {"Ograve", "\xD2"}, {"Oacute", "\xD3"}, {"Ocirc", "\xD4"},  {"Otilde", "\xD5"},
    {"Ouml", "\xD6"},   {"times", "\xD7"},  {"Oslash", "\xD8"}, {"Ugrave", "\xD9"}, {"Uacute", "\xDA"},
    {"Ucirc", "\xDB"},  {"Uuml", "\xDC"},   {"Yacute", "\xDD"}, {"THORN", "\xDE"},  {"szlig", "\xDF"},
    {"agrave", "\xE0"}, {"aacute", "\xE1"}, {"acirc", "\xE2"},  {"atilde", "\xE3"}, {"auml", "\xE4"},
    {"aring", "\xE5"},  {"aelig", "\xE6"},  {"ccedil", "\xE7"}, {"egrave", "\xE8"}, {"eacute", "\xE9"},
    {"ecirc", "\xEA"},  {"euml", "\xEB"},   {"igrave", "\xEC"}, {"iacute", "\xED"}, {"icirc", "\xEE"},
    {"iuml", "\xEF"},   {"eth", "\xF0"},    {"ntilde", "\xF1"}, {"ograve", "\xF2"}, {"oacute", "\xF3"},
    {"ocirc", "\xF4"},  {"otilde", "\xF5"}, {"ouml", "\xF6"},   {"divide", "\xF7"}, {"oslash", "\xF8"},
    {"ugrave", "\xF9"}, {"uacute", "\xFA"}, {"ucirc", "\xFB"},  {"uuml", "\xFC"},   {"yacute", "\xFD"},
    {"thorn", "\xFE"},  {"yuml", "\xFF"},   {"hellip", "\x85"}, {"", ""},
};

namespace {

using platform::AsciiHexValue;
using platform::AsciiLower;
using platform::IsAsciiSpace;

constexpr unsigned kCpUtf8 = platform::kCpUtf8;

bool IsAsciiAlnum(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool StartsWith(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (s[i] != prefix[i]) return false;
  return true;
}

bool HasHighBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// The chosen kinds of bytes as escapes: 0x80 and above, control bytes (below 0x20, 0x7F),
// the blank.
std::string EscapeBytes(std::string_view s, bool high, bool controls, bool blank) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    unsigned char b = static_cast<unsigned char>(c);
    bool escape = (high && b >= 0x80) || (controls && (b < 0x20 || b == 0x7F)) || (blank && b == 0x20);
    if (escape)
      platform::AppendPercentEscape(out, b);
    else
      out.push_back(c);
  }
  return out;
}

std::string EscapeHigh(std::string_view s) { return EscapeBytes(s, true, false, false); }
// What a key may hold outside a path: no control byte, no raw non-ASCII byte.
std::string EscapeUnsafe(std::string_view s) { return EscapeBytes(s, true, true, false); }
// An object, host or credentials: no blank either.
std::string EscapeUnsafeAndBlank(std::string_view s) { return EscapeBytes(s, true, true, true); }

// The escapes that the canonical form must not decode: decoding them would change what the
// URL addresses ('%', '#', '?', a trailing blank, '&', '=' and '+' inside the query) or let
// control bytes into it.
bool KeepEscaped(unsigned char b, bool inQuery) {
  if (b < 0x21 || b == 0x7F || b == '%' || b == '#' || b == '?') return true;
  return inQuery && (b == '&' || b == '=' || b == '+');
}

// Decodes the escapes that are safe to decode. Kept escapes get upper-case digits, a '%'
// that starts no escape becomes "%25" (so no later pass reads a new escape out of it), and
// with lowerCase a decoded ASCII letter is lower-cased like the raw text around it.
std::string DecodeSafeEscapes(std::string_view s, bool lowerCase) {
  std::string out;
  out.reserve(s.size());
  bool inQuery = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%') {
      if (i + 2 < s.size() && AsciiHexValue(s[i + 1]) >= 0 && AsciiHexValue(s[i + 2]) >= 0) {
        unsigned char b = static_cast<unsigned char>(AsciiHexValue(s[i + 1]) * 16 + AsciiHexValue(s[i + 2]));
        if (KeepEscaped(b, inQuery))
          platform::AppendPercentEscape(out, b);
        else
          out.push_back(lowerCase ? AsciiLower(static_cast<char>(b)) : static_cast<char>(b));
        i += 2;
      } else {
        out.append("%25");
      }
      continue;
    }
    if (c == '?') inQuery = true;
    out.push_back(c);
  }
  return out;
}

// Escapes stay as written, only their digits become upper-case.
void UppercaseEscapes(std::string& s) {
  for (size_t i = 0; i + 2 < s.size(); ++i) {
    if (s[i] == '%' && AsciiHexValue(s[i + 1]) >= 0 && AsciiHexValue(s[i + 2]) >= 0) {
      s[i + 1] = platform::AsciiHexDigit(AsciiHexValue(s[i + 1]));
      s[i + 2] = platform::AsciiHexDigit(AsciiHexValue(s[i + 2]));
      i += 2;
    }
  }
}

// "/./" becomes "/" in the path (before '?' or '#'), in one left-to-right pass. The '/' after
// the dot stays in the input, so "/././" collapses whole and the form is stable when applied again.
void CollapseDotSlash(std::string& object, bool wholeObject) {
  size_t end = wholeObject ? object.size() : std::min(object.find_first_of("?#"), object.size());
  if (object.find("/./") >= end) return;
  std::string out;
  out.reserve(object.size());
  size_t i = 0;
  while (i < end) {
    if (i + 3 <= end && object.compare(i, 3, "/./") == 0) {
      i += 2;
    } else {
      out.push_back(object[i++]);
    }
  }
  out.append(object, end, std::string::npos);
  object.swap(out);
}

const std::unordered_map<std::string_view, const char*>& EntityIndex() {
  static const std::unordered_map<std::string_view, const char*> index = [] {
    std::unordered_map<std::string_view, const char*> m;
    for (const HtmlEntity* e = HtmlEntityTable; e->name[0]; ++e) m.emplace(e->name, e->text);
    return m;
  }();
  return index;
}

// The Unicode character of a table entry's Windows-1252 byte.
char32_t EntityCodePoint(const char* text) {
  std::u16string w;
  platform::MultiByteToWide(platform::kCpWindows1252, text, w);
  return w.empty() ? U'?' : w[0];
}

// "&#" + digits + ';' at text[i]: the length of the reference (0 when there is none) and its
// value; valid is false for a value that is no character (above 0x10FFFF, a surrogate), and
// for a reference without digits the value is '?'.
template <typename Char>
size_t ParseNumericRef(const Char* text, size_t size, size_t i, std::uint32_t& value, bool& valid) {
  if (i + 2 >= size || text[i] != '&' || text[i + 1] != '#') return 0;
  size_t j = i + 2;
  bool hex = text[j] == 'x' || text[j] == 'X';
  if (hex) ++j;
  size_t digitsStart = j;
  std::uint32_t v = 0;
  bool overflow = false;
  for (; j < size; ++j) {
    int d;
    Char c = text[j];
    if (c >= '0' && c <= '9')
      d = static_cast<int>(c - '0');
    else if (hex && c < 0x80 && AsciiHexValue(static_cast<char>(c)) >= 0)
      d = AsciiHexValue(static_cast<char>(c));
    else
      break;
    if (!overflow) {
      v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      if (v > 0x10FFFF) overflow = true;
    }
  }
  if (j >= size || text[j] != ';') return 0;
  if (j == digitsStart) {
    value = '?';
    valid = true;
  } else {
    value = v;
    valid = !overflow && !(v >= 0xD800 && v <= 0xDFFF);
  }
  return j + 1 - i;
}

}  // namespace

std::string CodePointToCodePage(std::uint32_t codePoint, unsigned codePage) {
  if (codePoint == 0) return std::string();
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return "?";
  std::u16string w;
  if (codePoint > 0xFFFF) {
    codePoint -= 0x10000;
    w.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    w.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  } else {
    w.push_back(static_cast<char16_t>(codePoint));
  }
  std::string out;
  if (!platform::WideToMultiByte(codePage, w, out) || out.empty()) return "?";
  return out;
}

void DecodeNumericCharRefs(std::string& text, unsigned codePage) {
  if (text.find("&#") == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    std::uint32_t value = 0;
    bool valid = false;
    size_t len = ParseNumericRef(text.data(), text.size(), i, value, valid);
    if (len == 0) {
      out.push_back(text[i++]);
      continue;
    }
    out.append(valid ? CodePointToCodePage(value, codePage) : std::string("?"));
    i += len;
  }
  text.swap(out);
}

void DecodeEntities(std::string& text, unsigned codePage) {
  if (text.find('&') == std::string::npos) return;  // most links hold no reference
  DecodeNumericCharRefs(text, codePage);
  if (text.find('&') == std::string::npos) return;
  const auto& index = EntityIndex();
  const bool ansi = codePage == platform::kCpAcp || codePage == platform::kCpWindows1252;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '&') {
      size_t j = i + 1;
      while (j < text.size() && IsAsciiAlnum(static_cast<unsigned char>(text[j]))) ++j;
      if (j < text.size() && text[j] == ';' && j > i + 1) {
        auto it = index.find(std::string_view(text).substr(i + 1, j - i - 1));
        if (it != index.end()) {
          const char* repl = it->second;
          if (ansi || static_cast<unsigned char>(repl[0]) < 0x80)
            out.append(repl);
          else
            out.append(CodePointToCodePage(EntityCodePoint(repl), codePage));
          i = j + 1;
          continue;
        }
      }
    }
    out.push_back(text[i++]);
  }
  text.swap(out);
}

void DecodeEntitiesW(std::u16string& text) {
  if (text.find(u'&') == std::u16string::npos) return;
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    std::uint32_t value = 0;
    bool valid = false;
    size_t len = ParseNumericRef(text.data(), text.size(), i, value, valid);
    if (len == 0) {
      out.push_back(text[i++]);
      continue;
    }
    i += len;
    if (!valid) {
      out.push_back(u'?');
    } else if (value > 0xFFFF) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else if (value != 0) {  // a NUL unit would end the text where it is shown
      out.push_back(static_cast<char16_t>(value));
    }
  }
  text.swap(out);
  if (text.find(u'&') == std::u16string::npos) return;
  const auto& index = EntityIndex();
  out.clear();
  for (size_t i = 0; i < text.size();) {
    if (text[i] == u'&') {
      size_t j = i + 1;
      std::string name;
      while (j < text.size() && IsAsciiAlnum(text[j])) name.push_back(static_cast<char>(text[j++]));
      if (j < text.size() && text[j] == u';' && !name.empty()) {
        auto it = index.find(name);
        if (it != index.end()) {
          out.push_back(static_cast<char16_t>(EntityCodePoint(it->second)));
          i = j + 1;
          continue;
        }
      }
    }
    out.push_back(text[i++]);
  }
  text.swap(out);
}

std::string DecodePercentEscapes(std::string text) {
  if (text.find('%') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && AsciiHexValue(text[i + 1]) >= 0 && AsciiHexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(AsciiHexValue(text[i + 1]) * 16 + AsciiHexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string ConvertCodePage(const std::string& text, unsigned from, unsigned to) {
  if (from == to || text.empty()) return text;
  std::u16string wide;
  if (!platform::MultiByteToWide(from, text, wide) || wide.empty()) return text;
  std::string out;
  if (!platform::WideToMultiByte(to, wide, out) || out.empty()) return text;
  return out;
}

std::string ToLowerInCodePage(const std::string& text, unsigned codePage) {
  std::string ascii = text;
  for (char& c : ascii) c = AsciiLower(c);
  if (!HasHighBytes(text)) return ascii;
  std::u16string wide;
  if (!platform::MultiByteToWide(codePage, text, wide) || wide.empty()) return ascii;
  std::string back;
  // Text the code page cannot hold unchanged (invalid bytes) is lower-cased in ASCII only,
  // never rewritten.
  if (!platform::WideToMultiByte(codePage, wide, back) || back != text) return ascii;
  std::string lower;
  if (!platform::WideToMultiByte(codePage, platform::ToLowerSimple(wide), lower)) return ascii;
  if (std::count(lower.begin(), lower.end(), '?') != std::count(text.begin(), text.end(), '?'))
    return ascii;  // a lower-case letter the code page lacks
  return lower;
}

namespace {

// A mailto host with no user in front, as its next split reads it: leading '@'s go; what has no
// '@' left is a host again ("@host").
std::string WithoutLeadingAts(const std::string& host) {
  std::string rest = host.substr(std::min(host.find_first_not_of('@'), host.size()));
  return rest.empty() || rest.find('@') != std::string::npos ? rest : "@" + rest;
}

}  // namespace

std::string MailtoDomain(std::string_view url) {
  if (platform::AsciiStartsWithNoCase(url, "mailto:")) url.remove_prefix(7);
  url = url.substr(0, url.find('?'));
  url = url.substr(0, url.find_first_of(",;"));
  size_t at = url.rfind('@');
  return at == std::string_view::npos ? std::string() : std::string(url.substr(at + 1));
}

bool CrackUrl(std::string url, unsigned& serviceType, std::string& hostName, std::string& object, std::uint16_t& port,
              std::string& userName, std::string& password) {
  if (StartsWith(url, "mailto:")) {
    size_t q = url.find('?');
    if (q != std::string::npos) url.resize(q);
  }
  if (StartsWith(url, "data:") && url.size() > 1024) url.resize(1024);
  if (!StartsWith(url, "file:/")) {
    size_t slash = 3;
    size_t pos = 4;
    for (int n = 0; n < 3 && pos != std::string::npos; ++n) {
      slash = url.find('/', pos);
      pos = slash == std::string::npos ? slash : slash + 1;
    }
    if (slash != std::string::npos && HasHighBytes(std::string_view(url).substr(slash)))
      url = url.substr(0, slash) + EscapeHigh(std::string_view(url).substr(slash));
  }
  if (!platform::AfxParseURLEx(url, serviceType, hostName, object, port, userName, password)) {
    if (StartsWith(url, "javascript:")) {
      serviceType = AFX_INET_SERVICE_UNK;
      return true;
    }
    return false;
  }
  if (serviceType != AFX_INET_SERVICE_FILE) {
    CollapseDotSlash(object, false);
    object = EscapeUnsafeAndBlank(object);
    return true;
  }
  object = platform::DecodeFileObject(object);
  return true;
}

namespace {

// An http or https URL with a plain host, perhaps a port other than the default, and the rest
// printable ASCII without escapes: its canonical form is itself with the dot segments of its
// path removed. pathStart and pathEnd give the path (up to '?' or '#').
bool IsPlainHttpUrl(std::string_view url, std::size_t& pathStart, std::size_t& pathEnd) {
  // 1 for a byte of a plain host name, 2 for the '/' or ':' that ends it, 0 for others; then
  // the bytes the rest may hold without escapes.
  static constexpr auto kHostByte = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
      table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    table['/'] = table[':'] = 2;
    return table;
  }();
  static constexpr auto kPlainByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0x21; c < 0x7F; ++c) table[c] = c != '%';
    return table;
  }();
  std::size_t i;
  if (url.starts_with("http://"))
    i = 7;
  else if (url.starts_with("https://"))
    i = 8;
  else
    return false;
  // A plain host name: no user, no IPv6 brackets, no escapes.
  const std::size_t hostStart = i;
  while (i < url.size() && kHostByte[static_cast<unsigned char>(url[i])] == 1) ++i;
  if (i == hostStart || i == url.size() || kHostByte[static_cast<unsigned char>(url[i])] == 0) return false;
  if (url[i] == ':') {
    // A port as the canonical form writes it: no leading zero, not the scheme's default.
    const std::size_t portStart = ++i;
    unsigned port = 0;
    for (; i < url.size() && url[i] != '/'; ++i) {
      const char c = url[i];
      if (c < '0' || c > '9' || i - portStart >= 5) return false;
      port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (i == portStart || i == url.size() || url[portStart] == '0' || port > 65535) return false;
    if (port == (hostStart == 7 ? 80u : 443u)) return false;
  }
  pathStart = i;
  pathEnd = url.size();
  // Eight bytes at a time while no byte needs a closer look: a blank or control byte, 0x7F
  // and above, '%', and the '?' or '#' that ends the path.
  constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x80 * ones;
  const auto hasZero = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
  std::size_t j = i;
  for (; j + 8 <= url.size(); j += 8) {
    std::uint64_t x;
    std::memcpy(&x, url.data() + j, 8);
    const std::uint64_t special = ((x - 0x21 * ones) & ~x & highs) | ((x + 0x01 * ones) & highs) | (x & highs) |
                                  hasZero(x ^ ('%' * ones)) | hasZero(x ^ ('?' * ones)) | hasZero(x ^ ('#' * ones));
    if (special) break;
  }
  for (; j < url.size(); ++j) {
    const char c = url[j];
    if (!kPlainByte[static_cast<unsigned char>(c)]) return false;
    if ((c == '?' || c == '#') && pathEnd == url.size()) pathEnd = j;
  }
  return true;
}

// A "." or ".." segment in a path that begins with '/'.
bool HasDotSegment(std::string_view path) {
  for (std::size_t dot = path.find("/."); dot != std::string_view::npos; dot = path.find("/.", dot + 1)) {
    const std::string_view rest = path.substr(dot + 2);
    if (rest.empty() || rest[0] == '/' || rest == "." || rest.starts_with("./")) return true;
  }
  return false;
}

}  // namespace

bool IsCanonicalHttpUrl(std::string_view url) {
  std::size_t pathStart, pathEnd;
  return IsPlainHttpUrl(url, pathStart, pathEnd) && !HasDotSegment(url.substr(pathStart, pathEnd - pathStart));
}

void CanonicalizeUrl(std::string& url, bool lowerCase, unsigned codePage) {
  // Most links of a crawl are canonical already, or lack only the removal of dot segments
  // ("../x.html" resolved): they need neither a split nor a copy.
  std::size_t pathStart, pathEnd;
  if (IsPlainHttpUrl(url, pathStart, pathEnd) &&
      (!lowerCase || std::none_of(url.begin(), url.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))) {
    const std::string_view path = std::string_view(url).substr(pathStart, pathEnd - pathStart);
    if (HasDotSegment(path)) url.replace(pathStart, pathEnd - pathStart, platform::RemoveDotSegments(path));
    return;
  }
  CanonicalizeUrlFully(url, lowerCase, codePage);
}

void CanonicalizeUrlFully(std::string& url, bool lowerCase, unsigned codePage) {
  // A file URL is UTF-8 throughout: it is never converted, and its escapes are decoded
  // exactly once, by the crack.
  const bool isFile = platform::AsciiStartsWithNoCase(url, "file:");
  if (!isFile) {
    if (lowerCase) url = ToLowerInCodePage(url, codePage);
    if (codePage != kCpUtf8) {
      // Only the page's own bytes are converted; bytes written as escapes are decoded after
      // the conversion and so are never taken for characters of the page's code page.
      if (codePage != platform::kCpAcp && codePage != platform::kCpWindows1252 && HasHighBytes(url))
        url = ConvertCodePage(url, codePage, kCpUtf8);
      url = DecodeSafeEscapes(url, lowerCase);
    } else if (lowerCase) {
      // Lower-casing turned the digits of every escape to lower case, those the split wrote
      // into the key last time too: upper-case digits keep the key the same when it is
      // brought into this form again. Without it, a UTF-8 page's escapes stay as written.
      UppercaseEscapes(url);
    }
  }
  // Trailing blanks go as the split drops them; control bytes inside become escapes before
  // the split, so that the split sees the same text when the key is canonicalized again.
  while (!url.empty() && (static_cast<unsigned char>(url.back()) <= 0x20 || url.back() == 0x7F)) url.pop_back();
  url = EscapeBytes(url, false, true, false);

  unsigned service = 0;
  std::string host, object, user, password;
  std::uint16_t port = 0;
  if (!CrackUrl(url, service, host, object, port, user, password)) {
    url = EscapeUnsafe(url);
    if (isFile && lowerCase) url = ToLowerInCodePage(url, kCpUtf8);
    return;
  }
  std::string scheme, portText;
  switch (service) {
    case AFX_INET_SERVICE_HTTP:
      scheme = "http://";
      if (port != 80) portText = ":" + std::to_string(port);
      break;
    case AFX_INET_SERVICE_HTTPS:
      scheme = "https://";
      if (port != 443) portText = ":" + std::to_string(port);
      break;
    case AFX_INET_SERVICE_FILE:
      if (lowerCase) object = ToLowerInCodePage(object, kCpUtf8);
      // "//x" names "/x", and "file:////x" splits to "/x" again: one leading slash keeps the
      // key the same when it is brought into this form again.
      if (std::size_t first = std::min(object.find_first_not_of('/'), object.size()); first > 1)
        object.erase(0, first - 1);
      url = platform::FileUrlFromPath(object);
      return;
    case AFX_INET_SERVICE_MAILTO: {
      std::string address;
      if (!user.empty() && !host.empty())
        address = user + "@" + host;
      else if (user.find('@') != std::string::npos || host.find('@') != std::string::npos)
        // With no user, the next split drops the host's leading '@'s: drop them now, so the key
        // stays the same when it is brought into this form again.
        address = user.empty() ? WithoutLeadingAts(host) : user + host;
      else if (!user.empty() || !host.empty())
        address = user + "@" + host;
      // A lone "@" splits into two empty parts next time: it is no address.
      if (address == "@") address.clear();
      url = "mailto:" + EscapeUnsafe(address);
      return;
    }
    default: url = EscapeUnsafe(url); return;
  }
  std::string credentials;
  if (!user.empty()) {
    credentials = EscapeUnsafeAndBlank(user);
    if (!password.empty()) credentials += ":" + EscapeUnsafeAndBlank(password);
    credentials += "@";
  }
  url = scheme + credentials + EscapeUnsafeAndBlank(host) + portText + object;
}

bool ResolveLink(const std::string& pageBase, std::string& link, unsigned codePage) {
  if (&pageBase == &link) {
    const std::string copy = pageBase;
    return ResolveLink(copy, link, codePage);
  }
  std::size_t start = 0;
  while (start < link.size() && IsAsciiSpace(link[start])) ++start;
  if (start == link.size()) {
    link.clear();
    return false;
  }
  if (start) link.erase(0, start);

  if (platform::AsciiStartsWithNoCase(link, "javascript:")) {
    thread_local SettingPatterns javascript(JavascriptPatternKeys());
    if (const std::unique_ptr<Regex>& re = javascript.Current().front()) {
      const std::string subject = link;
      if (re->Match(subject)) link = re->Group(1);
      if (link.empty()) return false;
    }
  }

  DecodeEntities(link, codePage);
  // The base is a canonical URL: it rarely holds a reference, so it is copied only then.
  std::string decodedBase;
  const bool baseHasRef = pageBase.find('&') != std::string::npos;
  if (baseHasRef) {
    decodedBase = pageBase;
    DecodeEntities(decodedBase, codePage);
  }
  const std::string& base = baseHasRef ? decodedBase : pageBase;

  if (!link.empty() && link[0] == '#') return true;
  size_t hash = link.find('#');
  if (hash != std::string::npos) link.resize(hash);

  // "./x" loses its "./"; but "./" alone, "./?q" and "./a:b" (which would become a scheme)
  // keep it and resolve to the page's folder.
  if (StartsWith(link, "./")) {
    std::string_view rest = std::string_view(link).substr(2);
    std::string_view segment = rest.substr(0, rest.find_first_of("/?"));
    if (!segment.empty() && segment.find(':') == std::string_view::npos) link.erase(0, 2);
  }

  size_t schemeLen = platform::SchemeLength(link);
  const bool fileResult =
      schemeLen ? platform::AsciiStartsWithNoCase(link, "file:") : platform::AsciiStartsWithNoCase(base, "file:");
  if (HasHighBytes(link)) {
    if (fileResult) {
      // File URLs are UTF-8: the link's own bytes are converted, the base stays as it is.
      if (codePage != kCpUtf8) link = ConvertCodePage(link, codePage, kCpUtf8);
    } else if (codePage == platform::kCpAcp || codePage == platform::kCpWindows1252) {
      link = EscapeHigh(link);
    } else {
      if (codePage != kCpUtf8) link = ConvertCodePage(link, codePage, kCpUtf8);
      link = EscapeHigh(link);
    }
  }

  // One scratch buffer per thread: the result is copied into the link's own storage, which
  // a caller that reuses its link text keeps from one link to the next.
  thread_local std::string combined;
  if (!platform::InternetCombineUrlA(base, link, combined)) return false;
  size_t nul = combined.find('\0');
  link.assign(combined, 0, nul);
  return true;
}
