// HTTP dates (RFC 1123, RFC 850 and asctime forms), always UTC.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

struct SYSTEMTIME {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;      // 1..12
  std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

// Parses an HTTP date into UTC fields; a numeric zone offset is applied, a
// missing zone counts as GMT. The year is kept as written (four digits; two-digit
// years below 70 are 20xx), so callers can apply their own range. False when the
// text holds no valid date.
bool ParseHttpDate(std::string_view text, SYSTEMTIME& out);

// Seconds since 1 January 1970 UTC of UTC fields (day of week ignored).
std::int64_t SystemTimeToUnixTime(const SYSTEMTIME& t);

// UTC fields of seconds since 1970.
SYSTEMTIME UnixTimeToSystemTime(std::int64_t seconds);

}  // namespace platform
