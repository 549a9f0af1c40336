// Controls that follow a resizable window: each edge of a control moves by a share (its
// anchor factor) of the window's width or height change. Rectangles are kept as floats, so
// repeated resizing never drifts; the window system gets them truncated toward zero.
//
// Pure geometry, no windows: the dialog side registers its controls and moves them to what
// Relayout reports. Single-threaded, like the window that owns it.
#pragma once

#include <functional>
#include <vector>

namespace platform {

struct FloatRect {
  float left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const FloatRect&) const = default;
};

// Shares of the width change (left, right) and the height change (top, bottom).
struct Anchors {
  float left = 0, top = 0, right = 0, bottom = 0;
};

struct IntRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const IntRect&) const = default;
};

// The rectangle after the window grew by dx and dy (negative: shrank).
FloatRect MoveByAnchors(const FloatRect& rect, const Anchors& anchors, int dx, int dy);
// Position and size as the window system takes them: width and height computed on the floats,
// each value then truncated toward zero.
IntRect ToWindowRect(const FloatRect& rect);
// A window size kept within its limits; 0 is no limit.
void ClampTrackingSize(int& width, int& height, int minWidth, int minHeight, int maxWidth, int maxHeight);

class AnchorLayout {
 public:
  // Forgets the items; size is the window's size now, and the minimum unless noMinimum.
  void Init(int width, int height, bool noMinimum = false);
  // Registers a control by key with its rectangle (window coordinates). A key registered
  // already gets the factors added to its own.
  void AddItem(int key, const IntRect& rect, const Anchors& anchors);
  // The window is now width x height: moveItem is called for each item that moves, in
  // registration order, with its new rectangle. The new size is the last size afterwards.
  void Relayout(int width, int height, const std::function<void(int key, const IntRect&)>& moveItem);

  int MinWidth() const { return m_minWidth; }
  int MinHeight() const { return m_minHeight; }
  bool Empty() const { return m_items.empty(); }

 private:
  struct Item {
    int key;
    Anchors anchors;
    FloatRect rect;
  };
  std::vector<Item> m_items;
  int m_width = 0, m_height = 0;
  int m_minWidth = 0, m_minHeight = 0;
};

}  // namespace platform
