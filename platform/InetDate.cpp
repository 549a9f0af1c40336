#include "platform/InetDate.h"
#include "platform/AsciiText.h"

#include <cstring>
#include <string>

namespace platform {

namespace {

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

std::int64_t SystemTimeToUnixTime(const SYSTEMTIME& t) {
  return DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

SYSTEMTIME UnixTimeToSystemTime(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  // Civil from days (Howard Hinnant's algorithm).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);

  SYSTEMTIME t;
  t.wYear = static_cast<std::uint16_t>(y);
  t.wMonth = static_cast<std::uint16_t>(m);
  t.wDay = static_cast<std::uint16_t>(d);
  t.wHour = static_cast<std::uint16_t>(rem / 3600);
  t.wMinute = static_cast<std::uint16_t>(rem / 60 % 60);
  t.wSecond = static_cast<std::uint16_t>(rem % 60);
  t.wDayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return t;
}

bool ParseHttpDate(std::string_view text, SYSTEMTIME& out) {
  static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
  int day = -1, month = -1, year = -1, hour = -1, minute = -1, second = -1;
  int offset = 0;  // seconds east of UTC
  bool zoneSeen = false;

  std::size_t i = 0;
  const std::size_t n = text.size();
  auto isDigit = [&](std::size_t k) { return k < n && IsAsciiDigit(text[k]); };
  auto isAlpha = [&](std::size_t k) { return k < n && IsAsciiAlpha(text[k]); };
  while (i < n) {
    if (isAlpha(i)) {
      const std::size_t b = i;
      while (isAlpha(i)) ++i;
      const std::string_view word = text.substr(b, i - b);
      bool isMonth = false;
      if (month < 0 && word.size() >= 3) {
        for (int m = 0; m < 12; ++m) {
          if (AsciiStartsWithNoCase(word, std::string_view(months[m], 3))) {
            month = m + 1;
            isMonth = true;
            break;
          }
        }
      }
      if (!isMonth && (AsciiEqualNoCase(word, "GMT") || AsciiEqualNoCase(word, "UTC") || AsciiEqualNoCase(word, "UT") ||
                       AsciiEqualNoCase(word, "Z")))
        zoneSeen = true;
      continue;
    }
    if (isDigit(i)) {
      const std::size_t b = i;
      long v = 0;
      while (isDigit(i) && i - b < 9) v = v * 10 + (text[i++] - '0');
      while (isDigit(i)) ++i;
      const std::size_t digits = i - b;
      if (i < n && text[i] == ':' && hour < 0) {
        // hh:mm[:ss]
        hour = static_cast<int>(v);
        ++i;
        if (!isDigit(i)) return false;
        minute = 0;
        while (isDigit(i)) minute = minute * 10 + (text[i++] - '0');
        second = 0;
        if (i < n && text[i] == ':') {
          ++i;
          while (isDigit(i)) second = second * 10 + (text[i++] - '0');
        }
        continue;
      }
      const char sign = b > 0 ? text[b - 1] : ' ';
      if (hour >= 0 && digits == 4 && (sign == '+' || sign == '-') && !zoneSeen) {
        const int off = static_cast<int>(v / 100) * 3600 + static_cast<int>(v % 100) * 60;
        offset = sign == '+' ? off : -off;
        zoneSeen = true;
      } else if (digits >= 3) {
        if (year >= 0) return false;
        year = static_cast<int>(v);
      } else if (day < 0) {
        day = static_cast<int>(v);
      } else if (year < 0) {
        year = static_cast<int>(v) < 70 ? 2000 + static_cast<int>(v) : 1900 + static_cast<int>(v);
      } else {
        return false;
      }
      continue;
    }
    ++i;
  }
  if (day < 1 || month < 1 || year < 1601 || year > 30827 || hour < 0 || hour > 23 || minute > 59 || second > 60 ||
      day > DaysInMonth(year, month))
    return false;
  if (second == 60) second = 59;

  SYSTEMTIME t;
  t.wYear = static_cast<std::uint16_t>(year);
  t.wMonth = static_cast<std::uint16_t>(month);
  t.wDay = static_cast<std::uint16_t>(day);
  t.wHour = static_cast<std::uint16_t>(hour);
  t.wMinute = static_cast<std::uint16_t>(minute);
  t.wSecond = static_cast<std::uint16_t>(second);
  out = UnixTimeToSystemTime(SystemTimeToUnixTime(t) - offset);
  return true;
}

}  // namespace platform
