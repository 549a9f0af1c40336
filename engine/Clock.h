// The engine's clock: UTC seconds. Tests put a clock of their own in its place.
#pragma once

#include <cstdint>
#include <functional>

std::int64_t NowSeconds();
// nullptr restores the system clock.
void SetClockForTests(std::function<std::int64_t()> clock);
