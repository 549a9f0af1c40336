// Controls following a resized window: each anchor kind, repeated resizing without drift, a
// control registered twice, and a window dragged below its minimum.
#include <gtest/gtest.h>

#include <map>

#include "platform/AnchorLayout.h"

namespace {

using platform::AnchorLayout;
using platform::Anchors;
using platform::IntRect;

TEST(AnchorLayout, EachAnchorKindMovesItsEdgesByItsShare) {
  struct Case {
    const char* kind;
    Anchors anchors;
    IntRect expected;  // from {10, 20, 100, 50} after growing by 40 x 60
  } const cases[] = {
      {"fixed", {0, 0, 0, 0}, {10, 20, 100, 50}},
      {"follows the right edge", {1, 0, 1, 0}, {50, 20, 100, 50}},
      {"stretches across", {0, 0, 1, 0}, {10, 20, 140, 50}},
      {"stretches down", {0, 0, 0, 1}, {10, 20, 100, 110}},
      {"follows the corner", {1, 1, 1, 1}, {50, 80, 100, 50}},
      {"upper half of the height", {0, 0, 1, 0.5f}, {10, 20, 140, 80}},
      {"moves by half, keeps its size", {0, 0.5f, 0, 0.5f}, {10, 50, 100, 50}},
      {"lower half of the height", {0, 0.5f, 1, 1}, {10, 50, 140, 80}},
  };
  for (const Case& c : cases) {
    AnchorLayout layout;
    layout.Init(300, 200);
    layout.AddItem(7, IntRect{10, 20, 100, 50}, c.anchors);
    std::map<int, IntRect> moved;
    layout.Relayout(340, 260, [&](int key, const IntRect& r) { moved[key] = r; });
    const IntRect got = moved.count(7) ? moved[7] : IntRect{10, 20, 100, 50};
    EXPECT_EQ(got, c.expected) << c.kind;
  }
}

TEST(AnchorLayout, HalfPixelsAreKeptSoRepeatedResizingDoesNotDrift) {
  AnchorLayout layout;
  layout.Init(300, 200);
  layout.AddItem(1, IntRect{0, 100, 50, 20}, Anchors{0, 0.5f, 0, 0.5f});
  std::vector<IntRect> moves;
  auto record = [&](int, const IntRect& r) { moves.push_back(r); };
  layout.Relayout(300, 203, record);
  layout.Relayout(300, 206, record);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].y, 101) << "100 + 1.5 truncated";
  EXPECT_EQ(moves[1].y, 103);
  // Back to the first size: back to the first place; an unchanged size moves nothing.
  layout.Relayout(300, 200, record);
  EXPECT_EQ(moves.back(), (IntRect{0, 100, 50, 20}));
  layout.Relayout(300, 200, record);
  EXPECT_EQ(moves.size(), 3u);
}

TEST(AnchorLayout, AControlRegisteredTwiceAddsItsFactors) {
  AnchorLayout layout;
  layout.Init(300, 200);
  layout.AddItem(1, IntRect{10, 10, 100, 20}, Anchors{0, 0, 0.5f, 0});
  layout.AddItem(1, IntRect{10, 10, 100, 20}, Anchors{0, 0, 0.5f, 0});
  IntRect got;
  int calls = 0;
  layout.Relayout(400, 200, [&](int, const IntRect& r) {
    got = r;
    ++calls;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(got.width, 200) << "the whole width change";
}

TEST(AnchorLayout, TheInitialSizeIsTheMinimum) {
  AnchorLayout layout;
  layout.Init(300, 200);
  EXPECT_EQ(layout.MinWidth(), 300);
  EXPECT_EQ(layout.MinHeight(), 200);
  int width = 120, height = 90;
  platform::ClampTrackingSize(width, height, layout.MinWidth(), layout.MinHeight(), 0, 0);
  EXPECT_EQ(width, 300);
  EXPECT_EQ(height, 200);
  width = 5000, height = 4000;
  platform::ClampTrackingSize(width, height, layout.MinWidth(), layout.MinHeight(), 0, 0);
  EXPECT_EQ(width, 5000) << "no maximum";
  platform::ClampTrackingSize(width, height, 0, 0, 640, 480);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);

  AnchorLayout free;
  free.Init(300, 200, true);
  EXPECT_EQ(free.MinWidth(), 0);
  EXPECT_TRUE(free.Empty());
}

}  // namespace
