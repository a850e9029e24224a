// A pushed source's latest frame behind the pull interface: the damage of every frame pushed
// between two pulls reaches the puller, and the pixels are the latest.
#include <gtest/gtest.h>

#include <vector>

#include "platform/LatestFrame.h"

namespace kestrova::platform {
namespace {

// A stream frame of w x h, stride with 8 bytes of padding, every pixel value v.
struct TStreamFrame {
  TStreamFrame(std::int32_t w, std::int32_t h, std::uint8_t v)
      : Stride(static_cast<std::size_t>(w) * 4 + 8), Bytes(Stride * h, v) {}
  void Set(std::int32_t x, std::int32_t y, std::uint8_t v) {
    for (int i = 0; i < 4; ++i) Bytes[y * Stride + 4 * x + i] = v;
  }
  std::size_t Stride;
  std::vector<std::uint8_t> Bytes;
};

TDamage Rects(std::vector<TScreenRect> rects) {
  TDamage d;
  for (const TScreenRect& r : rects) d.Add(r);
  return d;
}

TEST(LatestFrame, DamageOfEveryPushReachesTheNextPull) {
  TLatestFrame latest;
  TDIBitmap frame;
  TDamage damage;
  EXPECT_FALSE(latest.Take(frame, damage)) << "nothing pushed yet";

  TStreamFrame s(8, 6, 1);
  latest.Push(s.Bytes.data(), 8, 6, s.Stride, Rects({}));
  ASSERT_TRUE(latest.Take(frame, damage));
  EXPECT_TRUE(damage.All) << "the first frame is all new";
  EXPECT_EQ(frame.Width, 8);
  EXPECT_EQ(frame.Height, -6);
  EXPECT_EQ(frame.Scanline(5)[31], 1);

  // Two pushes between pulls: both changes arrive, with their rectangles.
  s.Set(1, 1, 7);
  latest.Push(s.Bytes.data(), 8, 6, s.Stride, Rects({{1, 1, 2, 2}}));
  s.Set(6, 4, 9);
  latest.Push(s.Bytes.data(), 8, 6, s.Stride, Rects({{6, 4, 7, 5}}));
  ASSERT_TRUE(latest.Take(frame, damage));
  EXPECT_FALSE(damage.All);
  EXPECT_EQ(damage.Rects, (std::vector<TScreenRect>{{1, 1, 2, 2}, {6, 4, 7, 5}}));
  EXPECT_EQ(frame.Scanline(1)[4], 7);
  EXPECT_EQ(frame.Scanline(4)[24], 9);
  ASSERT_TRUE(latest.Take(frame, damage));
  EXPECT_TRUE(damage.Empty()) << "nothing pushed since";

  // More rectangles than are kept become one box holding them all.
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(TLatestFrame::kMaxRects) + 3; ++i) {
    latest.Push(s.Bytes.data(), 8, 6, s.Stride, Rects({{i % 8, i % 6, i % 8 + 1, i % 6 + 1}}));
  }
  ASSERT_TRUE(latest.Take(frame, damage));
  // The 65th made one box of all; the two after it were added to it.
  EXPECT_EQ(damage.Rects, (std::vector<TScreenRect>{{0, 0, 8, 6}, {1, 5, 2, 6}, {2, 0, 3, 1}}));

  // A new size, or a frame the puller did not keep, is all new.
  TStreamFrame t(4, 4, 3);
  latest.Push(t.Bytes.data(), 4, 4, t.Stride, Rects({{0, 0, 1, 1}}));
  ASSERT_TRUE(latest.Take(frame, damage));
  EXPECT_TRUE(damage.All);
  EXPECT_EQ(frame.Width, 4);
  TDIBitmap fresh;
  ASSERT_TRUE(latest.Take(fresh, damage));
  EXPECT_TRUE(damage.All);
  EXPECT_EQ(fresh, frame);
}

}  // namespace
}  // namespace kestrova::platform
