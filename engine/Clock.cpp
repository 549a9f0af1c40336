#include "engine/Clock.h"

#include <ctime>

namespace {
std::function<std::int64_t()>& TestClock() {
  static std::function<std::int64_t()> clock;
  return clock;
}
}  // namespace

std::int64_t NowSeconds() {
  const auto& clock = TestClock();
  return clock ? clock() : static_cast<std::int64_t>(std::time(nullptr));
}

void SetClockForTests(std::function<std::int64_t()> clock) { TestClock() = std::move(clock); }
