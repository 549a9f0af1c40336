// A window's placement as the Windows WINDOWPLACEMENT structure lays it out: 44 bytes, eleven
// little-endian 32-bit fields (length, flags, show command, minimised and maximised
// positions, the normal rectangle). Saved placements are kept in this form.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace platform {

inline constexpr std::size_t kWindowPlacementSize = 44;

// Show commands of the structure.
enum : std::uint32_t {
  SW_HIDE = 0,
  SW_SHOWNORMAL = 1,
  SW_SHOWMINIMIZED = 2,
  SW_SHOWMAXIMIZED = 3,
  SW_SHOWNOACTIVATE = 4,
  SW_SHOW = 5,
  SW_MINIMIZE = 6,
  SW_SHOWMINNOACTIVE = 7,
  SW_SHOWNA = 8,
  SW_RESTORE = 9,
  SW_SHOWDEFAULT = 10,
  SW_FORCEMINIMIZE = 11,
};

struct WindowRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

struct WINDOWPLACEMENT {
  std::uint32_t length = kWindowPlacementSize;
  std::uint32_t flags = 0;
  std::uint32_t showCmd = SW_SHOWNORMAL;
  std::int32_t ptMinPosition[2] = {-1, -1};
  std::int32_t ptMaxPosition[2] = {-1, -1};
  WindowRect rcNormalPosition;
  bool operator==(const WINDOWPLACEMENT&) const = default;
};

std::array<std::uint8_t, kWindowPlacementSize> PlacementBytes(const WINDOWPLACEMENT& placement);
// False unless exactly 44 bytes are given.
bool PlacementFromBytes(const std::vector<std::uint8_t>& bytes, WINDOWPLACEMENT& placement);

// The placement a saved one is restored as: never minimised or hidden (shown normal instead),
// and its rectangle moved (and shrunk when needed) onto a display that exists when it lies on
// none of them. displays: the work areas, the primary one first; none leaves the rectangle.
WINDOWPLACEMENT PlacementForRestore(const WINDOWPLACEMENT& saved, const std::vector<WindowRect>& displays);

}  // namespace platform
