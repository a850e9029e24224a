// The Windows capture's pixel work, which runs on any system: block damage from a fresh grab, and
// cursor pictures from the bitmaps Windows hands out.
#include "platform/win32/Win32Pixels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace kestrova::platform::win32 {
namespace {

struct TBlockCase {
  const char* What;
  std::vector<std::pair<int, int>> Changed;  // pixels of the grab that differ from the frame
  std::vector<TScreenRect> Damage;
};

// 600 x 40: block columns 0-256, 256-512 and 512-600 (narrower), bands 0-16, 16-32 and 32-40.
TEST(Win32Pixels, ChangedBlocksAreCopiedAndReportedAsMergedRuns) {
  const std::vector<TBlockCase> cases = {
      {"nothing changed", {}, {}},
      {"one pixel", {{300, 20}}, {{256, 16, 512, 32}}},
      {"two neighbouring blocks make one run", {{10, 0}, {300, 5}}, {{0, 0, 512, 16}}},
      {"blocks apart stay apart", {{10, 0}, {550, 15}}, {{0, 0, 256, 16}, {512, 0, 600, 16}}},
      {"the last, partial band and column", {{599, 39}}, {{512, 32, 600, 40}}},
      {"two bands", {{0, 0}, {0, 16}}, {{0, 0, 256, 16}, {0, 16, 256, 32}}},
  };
  const std::int32_t width = 600, height = 40;
  const std::size_t stride = width * 4 + 12;  // a grab's rows may be padded
  for (const TBlockCase& c : cases) {
    SCOPED_TRACE(c.What);
    TDIBitmap frame;
    PrepareFrame(frame, width, height);
    std::vector<std::uint8_t> grab(stride * height, 0);
    for (std::int32_t y = 0; y < height; ++y) {
      for (std::int32_t x = 0; x < width; ++x) {
        grab[y * stride + x * 4] = frame.Scanline(y)[x * 4] = static_cast<std::uint8_t>(x + y);
      }
    }
    for (auto [x, y] : c.Changed) grab[y * stride + x * 4 + 2] = 0xAB;
    TDamage damage;
    const std::size_t blocks = CopyChangedBlocks(grab.data(), stride, frame, damage);
    EXPECT_FALSE(damage.All);
    EXPECT_EQ(damage.Rects, c.Damage);
    std::size_t expectedBlocks = 0;
    for (const TScreenRect& r : c.Damage) {
      expectedBlocks += static_cast<std::size_t>((r.Width() + kBlockColumns - 1) / kBlockColumns);
    }
    EXPECT_EQ(blocks, expectedBlocks);
    for (std::int32_t y = 0; y < height; ++y) {
      ASSERT_EQ(std::memcmp(frame.Scanline(y), grab.data() + y * stride, width * 4), 0)
          << "row " << y << " of the frame is not the grab's";
    }
  }
}

TEST(Win32Pixels, CopyRectClipsToTheFrame) {
  TDIBitmap frame;
  PrepareFrame(frame, 8, 4);
  std::vector<std::uint8_t> grab(8 * 4 * 4, 0x55);
  TDamage damage;
  CopyRect(grab.data(), 8 * 4, {6, -3, 20, 2}, frame, damage);
  ASSERT_EQ(damage.Rects.size(), 1u);
  EXPECT_EQ(damage.Rects[0], (TScreenRect{6, 0, 8, 2}));
  EXPECT_EQ(frame.Scanline(1)[6 * 4], 0x55);
  EXPECT_EQ(frame.Scanline(1)[5 * 4], 0);
  EXPECT_EQ(frame.Scanline(2)[6 * 4], 0);
  CopyRect(grab.data(), 8 * 4, {9, 0, 12, 4}, frame, damage);  // wholly outside
  EXPECT_EQ(damage.Rects.size(), 1u);
}

// One row of 8 pixels per mask byte.
TEST(Win32Pixels, MonochromeCursorMasksBecomeClearBlackWhiteAndVisibleInversion) {
  // Row 0: AND 1 XOR 0 (clear) x4, AND 0 XOR 0 (black) x2, AND 0 XOR 1 (white) x2.
  // Row 1: clear x2, inverting x1, clear x5. Row 2: all clear.
  const std::uint8_t masks[] = {0b11110000, 0b11111111, 0b11111111,   // AND
                                0b00000011, 0b00100000, 0b00000000};  // XOR
  TDIBitmap picture;
  MonochromeCursorPicture(masks, 1, 8, 3, picture);
  ASSERT_EQ(picture.Width, 8);
  ASSERT_EQ(picture.Height, -3);
  auto bgra = [&](int x, int y) {
    const std::uint8_t* p = picture.Scanline(y) + x * 4;
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  const std::vector<int> clear{0, 0, 0, 0}, black{0, 0, 0, 255}, white{255, 255, 255, 255};
  EXPECT_EQ(bgra(0, 0), clear);
  EXPECT_EQ(bgra(4, 0), black);
  EXPECT_EQ(bgra(6, 0), white);
  EXPECT_EQ(bgra(2, 1), black) << "an inverting pixel is drawn black";
  EXPECT_EQ(bgra(1, 1), white) << "with a white edge beside it";
  EXPECT_EQ(bgra(3, 1), white);
  EXPECT_EQ(bgra(2, 2), white);
  EXPECT_EQ(bgra(0, 1), clear);
  EXPECT_EQ(bgra(5, 2), clear);
}

TEST(Win32Pixels, ColourCursorKeepsItsAlphaOrTakesTheMask) {
  struct TCase {
    const char* What;
    std::uint8_t Alpha0, Alpha1;  // of the two pixels
    bool WithMask;                // AND mask 0b01: the second pixel clear
    std::uint8_t Expected0, Expected1;
  };
  const TCase cases[] = {
      {"alpha is kept as it is", 200, 0, true, 200, 0},
      {"alpha kept, the mask ignored", 0, 128, true, 0, 128},
      {"no alpha: the mask decides", 0, 0, true, 255, 0},
      {"no alpha and no mask: opaque", 0, 0, false, 255, 255},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const std::uint8_t colour[] = {10, 20, 30, c.Alpha0, 40, 50, 60, c.Alpha1};
    const std::uint8_t mask[] = {0b01000000};
    TDIBitmap picture;
    ColourCursorPicture(colour, c.WithMask ? mask : nullptr, 4, 2, 1, picture);
    const std::uint8_t* p = picture.Scanline(0);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]}),
              (std::vector<int>{10, 20, 30, c.Expected0, 40, 50, 60, c.Expected1}));
  }
}

}  // namespace
}  // namespace kestrova::platform::win32
