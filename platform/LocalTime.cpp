#include "platform/LocalTime.h"

#include <locale.h>
#include <time.h>
#include <ctime>
#include <limits>

namespace platform {

namespace {

// Month and day names must not follow LANG or the GUI toolkit's setlocale.
locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

std::string FormatLocalTime(std::int64_t t, const char* format) {
  if (format == nullptr) return {};
  if constexpr (sizeof(std::time_t) < sizeof(std::int64_t)) {
    if (t < std::numeric_limits<std::time_t>::min() || t > std::numeric_limits<std::time_t>::max()) return {};
  }
  std::time_t time = static_cast<std::time_t>(t);
  struct tm local;
  if (localtime_r(&time, &local) == nullptr) return {};

  locale_t c = CLocale();
  if (c == static_cast<locale_t>(0)) return {};
  char buffer[128];
  std::size_t length = strftime_l(buffer, sizeof buffer, format, &local, c);
  return std::string(buffer, length);
}

}  // namespace platform
