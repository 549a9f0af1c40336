// Code pages by number over ICU: charset names, lenient conversions to and from UTF-16,
// simple case mapping that never depends on the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr unsigned kCpAcp = 0;  // the system ANSI page, which is 1252 here
constexpr unsigned kCpWindows1252 = 1252;
constexpr unsigned kCpUtf16 = 1200;
constexpr unsigned kCpUtf8 = 65001;

// The code page of a charset name, as the multi-language service reports it: names and
// aliases match case-insensitively; 0 when the name is unknown.
unsigned CodePageFromCharsetName(std::string_view name);

// True for 0 and for every code page of the table whose converter is available.
bool IsSupportedCodePage(unsigned cp);

// Every code page of the table, ascending (0 not included).
const std::vector<unsigned>& KnownCodePages();

// Like MultiByteToWideChar / WideCharToMultiByte with flags 0: invalid input becomes
// U+FFFD, a character the code page lacks becomes '?'. Code page 0 is 1252, whose five
// undefined bytes (0x81 0x8D 0x8F 0x90 0x9D) map to U+0081 ... and back. Embedded NULs are
// converted like any other character. False (and out empty) only for an unknown code page.
bool MultiByteToWide(unsigned cp, std::string_view in, std::u16string& out);
bool WideToMultiByte(unsigned cp, std::u16string_view in, std::string& out);

// Simple (one-to-one) lower-casing of every code point, without locale.
std::u16string ToLowerSimple(std::u16string_view s);

// Case-insensitive comparison on simple lower-casing; the sign is that of wcsicmp
// (UTF-16 code unit order of the lower-cased texts).
int CompareNoCaseWide(std::u16string_view a, std::u16string_view b);

// What the multi-language service reports for a code page: its proportional font name and
// GDI charset. False (font empty, charset 0) for a code page it does not describe, 0 included
// (an unknown charset keeps no font).
bool CodePageFontInfo(unsigned cp, std::string& fontName, std::uint8_t& gdiCharset);

}  // namespace platform
