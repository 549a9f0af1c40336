// Local-time formatting for everything the program shows or writes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// t (UTC seconds) as local time through strftime, always with the "C" locale's names
// whatever the process locale is. A missing format, a text longer than 127 bytes, or a
// time that cannot be converted gives "". Thread-safe.
std::string FormatLocalTime(std::int64_t t, const char* format);

}  // namespace platform
