// ASCII text helpers: case, classes, case-insensitive comparison, trimming, and the scans
// that run over whole lines and tags sixteen bytes a step.
//
// Only the 128 ASCII characters have a case or a class here; bytes of 0x80 and above are
// never letters, digits or blanks and pass through every case change as they are. The
// process locale plays no part: the GUI toolkit sets one from LANG, and in a Turkish one the
// C library's tolower('I') is not 'i'. Text in a code page is lower-cased with ICU instead
// (CodePage.h).
//
// Everything is inline: these run per byte of every page scanned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {

constexpr bool IsAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiAlpha(char c) { return IsAsciiUpper(c) || IsAsciiLower(c); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
// Blank, tab, line feed, vertical tab, form feed, carriage return: the "C" locale's isspace.
constexpr bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of a hex digit of either case; -1 for any other character.
constexpr int AsciiHexValue(char c) {
  return IsAsciiDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
}
// The upper-case hex digit of the low four bits of value: the digits of the percent escapes
// the program writes.
constexpr char AsciiHexDigit(unsigned value) { return "0123456789ABCDEF"[value & 15]; }

// Appends c as '%' and two upper-case hex digits.
inline void AppendPercentEscape(std::string& out, unsigned char c) {
  out += '%';
  out += AsciiHexDigit(c >> 4);
  out += AsciiHexDigit(c);
}

constexpr char AsciiLower(char c) { return IsAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return IsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

inline void AsciiLowerInPlace(std::string& s) {
  for (char& c : s) c = AsciiLower(c);
}
inline void AsciiUpperInPlace(std::string& s) {
  for (char& c : s) c = AsciiUpper(c);
}
inline std::string AsciiLowered(std::string_view s) {
  std::string out(s);
  AsciiLowerInPlace(out);
  return out;
}
inline std::string AsciiUppered(std::string_view s) {
  std::string out(s);
  AsciiUpperInPlace(out);
  return out;
}

// Equal but for the case of ASCII letters.
constexpr bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Negative, 0 or positive as a sorts before, with or after b, ASCII letters compared as
// lower case and other bytes as unsigned values (strcasecmp in the "C" locale).
constexpr int AsciiCompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

constexpr bool AsciiStartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiEqualNoCase(s.substr(0, prefix.size()), prefix);
}

// Whether the text at `at` begins with upper, which is upper case already: the scanners'
// test for a keyword ("<SCRIPT", "URL(") without folding the keyword each time.
constexpr bool MatchesUpperAt(std::string_view text, std::size_t at, std::string_view upper) {
  if (at > text.size() || text.size() - at < upper.size()) return false;
  for (std::size_t i = 0; i < upper.size(); ++i)
    if (AsciiUpper(text[at + i]) != upper[i]) return false;
  return true;
}

// s without the ASCII white space (IsAsciiSpace) at either end.
constexpr std::string_view AsciiTrim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsAsciiSpace(s[b])) ++b;
  while (e > b && IsAsciiSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// s without the blanks and tabs at either end (the white space inside an HTTP header line).
constexpr std::string_view TrimBlanksAndTabs(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// ---- Sixteen bytes a step ----
// Each scan works on sixteen bytes at once with the compiler's vector types and ends with a
// byte loop that gives the same answer for the rest.

namespace ascii_detail {
using Bytes16 = unsigned char __attribute__((vector_size(16)));

inline bool AnyByteSet(const Bytes16& mask) {
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, 16);
  return (halves[0] | halves[1]) != 0;
}
}  // namespace ascii_detail

// Whether the text holds an ASCII capital or a byte of 0x80 and above: whether it may change
// when lower-cased in any code page.
inline bool HasAsciiUpperOrHighBytes(std::string_view text) {
  using ascii_detail::Bytes16;
  std::size_t i = 0;
  for (; i + 16 <= text.size(); i += 16) {
    Bytes16 x;
    std::memcpy(&x, text.data() + i, 16);
    if (ascii_detail::AnyByteSet((Bytes16)(((x >= 'A') & (x <= 'Z')) | (x >= 0x80)))) return true;
  }
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c >= 'A' && c <= 'Z') || c >= 0x80) return true;
  }
  return false;
}

// Copies size bytes with the ASCII letters upper-cased; other bytes stay as they are.
inline void AsciiUpperCopy(const char* from, char* to, std::size_t size) {
  using ascii_detail::Bytes16;
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    Bytes16 x;
    std::memcpy(&x, from + i, 16);
    const Bytes16 lower = (Bytes16)((x >= 'a') & (x <= 'z'));
    x -= lower & 0x20;
    std::memcpy(to + i, &x, 16);
  }
  for (; i < size; ++i) to[i] = AsciiUpper(from[i]);
}

// Copies text to out (text.size() bytes) with tabs, carriage returns and line feeds turned
// into blanks.
inline void CopyWithLineBreaksBlank(std::string_view text, char* out) {
  using ascii_detail::Bytes16;
  const char* in = text.data();
  const std::size_t size = text.size();
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    Bytes16 x;
    std::memcpy(&x, in + i, 16);
    const Bytes16 control = (Bytes16)((x == '\t') | (x == '\r') | (x == '\n'));
    x = (x & ~control) | (control & ' ');
    std::memcpy(out + i, &x, 16);
  }
  for (; i < size; ++i) out[i] = (in[i] == '\t' || in[i] == '\r' || in[i] == '\n') ? ' ' : in[i];
}

}  // namespace platform
