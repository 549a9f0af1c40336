#include "platform/WindowPlacement.h"

#include <algorithm>

namespace platform {

namespace {

void Put(std::uint8_t*& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) *out++ = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Take(const std::uint8_t*& in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(*in++) << (8 * i);
  return value;
}

// Enough of the window lies on the display to be seen and grabbed.
bool Reachable(const WindowRect& w, const WindowRect& d) {
  constexpr std::int32_t kGrip = 32;
  const std::int32_t across = std::min(w.right, d.right) - std::max(w.left, d.left);
  const std::int32_t down = std::min(w.bottom, d.bottom) - std::max(w.top, d.top);
  return across >= std::min(kGrip, w.right - w.left) && down >= std::min(kGrip, w.bottom - w.top) && across > 0 &&
         down > 0;
}

}  // namespace

std::array<std::uint8_t, kWindowPlacementSize> PlacementBytes(const WINDOWPLACEMENT& p) {
  std::array<std::uint8_t, kWindowPlacementSize> bytes{};
  std::uint8_t* out = bytes.data();
  for (std::uint32_t v : {p.length, p.flags, p.showCmd}) Put(out, v);
  for (std::int32_t v :
       {p.ptMinPosition[0], p.ptMinPosition[1], p.ptMaxPosition[0], p.ptMaxPosition[1], p.rcNormalPosition.left,
        p.rcNormalPosition.top, p.rcNormalPosition.right, p.rcNormalPosition.bottom})
    Put(out, static_cast<std::uint32_t>(v));
  return bytes;
}

bool PlacementFromBytes(const std::vector<std::uint8_t>& bytes, WINDOWPLACEMENT& p) {
  if (bytes.size() != kWindowPlacementSize) return false;
  const std::uint8_t* in = bytes.data();
  p.length = Take(in);
  p.flags = Take(in);
  p.showCmd = Take(in);
  for (std::int32_t* v :
       {&p.ptMinPosition[0], &p.ptMinPosition[1], &p.ptMaxPosition[0], &p.ptMaxPosition[1], &p.rcNormalPosition.left,
        &p.rcNormalPosition.top, &p.rcNormalPosition.right, &p.rcNormalPosition.bottom})
    *v = static_cast<std::int32_t>(Take(in));
  return true;
}

WINDOWPLACEMENT PlacementForRestore(const WINDOWPLACEMENT& saved, const std::vector<WindowRect>& displays) {
  WINDOWPLACEMENT p = saved;
  p.length = kWindowPlacementSize;
  switch (p.showCmd) {
    case SW_SHOWMAXIMIZED: break;
    default: p.showCmd = SW_SHOWNORMAL; break;
  }
  WindowRect& r = p.rcNormalPosition;
  if (r.right < r.left) std::swap(r.left, r.right);
  if (r.bottom < r.top) std::swap(r.top, r.bottom);
  if (displays.empty() ||
      std::any_of(displays.begin(), displays.end(), [&r](const WindowRect& d) { return Reachable(r, d); }))
    return p;
  // On no display that exists now (one was unplugged): onto the primary one, as large as fits.
  const WindowRect& d = displays.front();
  const std::int32_t width = std::min(r.right - r.left, d.right - d.left);
  const std::int32_t height = std::min(r.bottom - r.top, d.bottom - d.top);
  r = WindowRect{d.left, d.top, d.left + width, d.top + height};
  return p;
}

}  // namespace platform
