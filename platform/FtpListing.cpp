#include "platform/FtpListing.h"

#include <array>
#include <charconv>

#include "platform/AsciiText.h"

namespace platform {
namespace {

bool ParseSize(std::string_view text, std::uint64_t& size) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
  return ec == std::errc() && end == text.data() + text.size();
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!IsAsciiDigit(c)) return false;
  return true;
}

// The folder itself, its parent, and a link line whose name is empty ("12:00  -> target"):
// none of them is an entry.
bool IsNoEntry(std::string_view name) { return name.empty() || name == "." || name == ".."; }

// A blank-separated word of a line and where it ends.
struct Word {
  std::string_view text;
  std::size_t end = 0;
};

std::vector<Word> Words(std::string_view line) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back({line.substr(start, i - start), i});
  }
  return words;
}

bool IsMonth(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  for (std::string_view month : kMonths)
    if (AsciiEqualNoCase(word, month)) return true;
  return false;
}

// "12:30" or a year.
bool IsTimeOrYear(std::string_view word) {
  if (AllDigits(word)) return word.size() == 4;
  const std::size_t colon = word.find(':');
  return colon != std::string_view::npos && AllDigits(word.substr(0, colon)) && AllDigits(word.substr(colon + 1));
}

// "-rw-r--r-- 1 owner group 1234 Jan  1 12:00 name", the group column optional.
bool ParseUnixLine(std::string_view line, const std::vector<Word>& words, FtpListEntry& entry) {
  if (words.size() < 6 || words[0].text.size() < 10) return false;
  const char kind = words[0].text[0];
  if (std::string_view("-dlbcps").find(kind) == std::string_view::npos) return false;
  for (std::size_t i = 2; i + 2 < words.size(); ++i) {
    if (!IsMonth(words[i].text) || !AllDigits(words[i + 1].text) || words[i + 1].text.size() > 2 ||
        !IsTimeOrYear(words[i + 2].text))
      continue;
    std::uint64_t size = 0;
    if (!ParseSize(words[i - 1].text, size)) continue;
    // One blank stands before the name, which may begin with blanks of its own.
    const std::size_t start = words[i + 2].end + 1;
    if (start >= line.size()) return false;
    std::string_view name = line.substr(start);
    if (kind == 'l') {
      const std::size_t arrow = name.find(" -> ");
      if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    entry.name = std::string(name);
    entry.folder = kind == 'd';
    entry.sizeKnown = !entry.folder;
    entry.size = entry.folder ? 0 : size;
    return true;
  }
  return false;
}

// "01-16-24  02:30PM       <DIR>          name" or "... 1234 name".
bool ParseDosLine(std::string_view line, const std::vector<Word>& words, FtpListEntry& entry) {
  if (words.size() < 4) return false;
  const std::string_view date = words[0].text;
  if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-' || !AllDigits(date.substr(0, 2)) ||
      !AllDigits(date.substr(3, 2)) || !AllDigits(date.substr(6)))
    return false;
  std::string_view time = words[1].text;
  if (time.size() > 2 &&
      (AsciiEqualNoCase(time.substr(time.size() - 2), "AM") || AsciiEqualNoCase(time.substr(time.size() - 2), "PM")))
    time.remove_suffix(2);
  if (!IsTimeOrYear(time) || AllDigits(time)) return false;
  const bool folder = AsciiEqualNoCase(words[2].text, "<DIR>");
  std::uint64_t size = 0;
  if (!folder && !ParseSize(words[2].text, size)) return false;
  std::size_t start = words[2].end;
  while (start < line.size() && line[start] == ' ') ++start;
  if (start >= line.size()) return false;
  entry.name = std::string(line.substr(start));
  entry.folder = folder;
  entry.sizeKnown = !folder;
  entry.size = size;
  return true;
}

}  // namespace

bool ParseMlsdLine(std::string_view line, FtpListEntry& entry) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank + 1 >= line.size()) return false;
  const std::string_view name = line.substr(blank + 1);
  if (IsNoEntry(name)) return false;
  entry = FtpListEntry{.name = std::string(name)};
  std::string_view facts = line.substr(0, blank);
  while (!facts.empty()) {
    const std::size_t semi = facts.find(';');
    const std::string_view fact = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
    const std::size_t equals = fact.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = fact.substr(0, equals), value = fact.substr(equals + 1);
    if (AsciiEqualNoCase(key, "type")) {
      if (AsciiEqualNoCase(value, "cdir") || AsciiEqualNoCase(value, "pdir")) return false;
      entry.folder = AsciiEqualNoCase(value, "dir");
    } else if (AsciiEqualNoCase(key, "size")) {
      entry.sizeKnown = ParseSize(value, entry.size);
    }
  }
  if (entry.folder) {
    entry.sizeKnown = false;
    entry.size = 0;
  }
  return true;
}

bool ParseListLine(std::string_view line, FtpListEntry& entry) {
  const std::vector<Word> words = Words(line);
  FtpListEntry parsed;
  if (!ParseUnixLine(line, words, parsed) && !ParseDosLine(line, words, parsed)) return false;
  if (IsNoEntry(parsed.name)) return false;
  entry = std::move(parsed);
  return true;
}

std::vector<FtpListEntry> ParseFtpListing(std::string_view text, bool mlsd) {
  std::vector<FtpListEntry> entries;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    FtpListEntry entry;
    if (mlsd ? ParseMlsdLine(line, entry) : ParseListLine(line, entry)) entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace platform
