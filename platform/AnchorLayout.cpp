#include "platform/AnchorLayout.h"

#include <algorithm>

namespace platform {

FloatRect MoveByAnchors(const FloatRect& rect, const Anchors& anchors, int dx, int dy) {
  return FloatRect{rect.left + static_cast<float>(dx) * anchors.left, rect.top + static_cast<float>(dy) * anchors.top,
                   rect.right + static_cast<float>(dx) * anchors.right,
                   rect.bottom + static_cast<float>(dy) * anchors.bottom};
}

IntRect ToWindowRect(const FloatRect& rect) {
  return IntRect{static_cast<int>(rect.left), static_cast<int>(rect.top), static_cast<int>(rect.right - rect.left),
                 static_cast<int>(rect.bottom - rect.top)};
}

void ClampTrackingSize(int& width, int& height, int minWidth, int minHeight, int maxWidth, int maxHeight) {
  if (minWidth > 0) width = std::max(width, minWidth);
  if (minHeight > 0) height = std::max(height, minHeight);
  if (maxWidth > 0) width = std::min(width, maxWidth);
  if (maxHeight > 0) height = std::min(height, maxHeight);
}

void AnchorLayout::Init(int width, int height, bool noMinimum) {
  m_items.clear();
  m_width = width;
  m_height = height;
  m_minWidth = noMinimum ? 0 : width;
  m_minHeight = noMinimum ? 0 : height;
}

void AnchorLayout::AddItem(int key, const IntRect& rect, const Anchors& anchors) {
  for (Item& item : m_items) {
    if (item.key != key) continue;
    item.anchors.left += anchors.left;
    item.anchors.top += anchors.top;
    item.anchors.right += anchors.right;
    item.anchors.bottom += anchors.bottom;
    return;
  }
  const FloatRect floats{static_cast<float>(rect.x), static_cast<float>(rect.y),
                         static_cast<float>(rect.x + rect.width), static_cast<float>(rect.y + rect.height)};
  m_items.push_back(Item{key, anchors, floats});
}

void AnchorLayout::Relayout(int width, int height, const std::function<void(int key, const IntRect&)>& moveItem) {
  if (m_items.empty()) return;
  const int dx = width - m_width;
  const int dy = height - m_height;
  for (Item& item : m_items) {
    const FloatRect moved = MoveByAnchors(item.rect, item.anchors, dx, dy);
    if (moved == item.rect) continue;
    item.rect = moved;
    moveItem(item.key, ToWindowRect(moved));
  }
  m_width = width;
  m_height = height;
}

}  // namespace platform
