// Interned charset records: one per distinct (lower-case) charset name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CLinkInfo;

class CCharsetInfo {
 public:
  explicit CCharsetInfo(const std::string& name);

  std::string m_csName;
  unsigned m_nCodePage = 0;
  std::string m_csFontName;
  std::uint8_t m_nGdiCharset = 0;
};

// The shared record for a charset name (lower-cased); never freed while the program runs.
const CCharsetInfo* InternCharset(std::string_view name);
// Points the record at the shared charset record of the name.
void SetCharset(CLinkInfo* link, std::string_view name);
// Frees the charset records at program exit.
void FreeCharsetMap();

// Case-insensitive comparison of two strings, each in its own code page (sign as stricmp).
int CompareInCodePages(std::string_view a, unsigned cpA, std::string_view b, unsigned cpB);
