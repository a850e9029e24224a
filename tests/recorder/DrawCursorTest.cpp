// The pointer drawn into an 8-bit grab: blended by its alpha with the palette colour under it,
// once, its hot spot at the pointer, clipped at the grab's edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/Palette.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FrameStage.h"

namespace kestrova::test {
namespace {

using namespace platform;

class TFixedCursor : public TCursorSource {
 public:
  bool GetCursor(TCursorInfo& info) override {
    info = Info;
    return Known;
  }
  TCursorInfo Info;
  bool Known = true;
};

// The pictures come from the tests, never from a grab.
class TNoSource : public TScreenGrabber {
 public:
  bool Grab(TWindowHandle, const TScreenRect&, TDIBitmap&) override { return false; }
};

std::uint8_t Index(std::uint32_t rgb) {
  return NearestIndex(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}

// A 4 x 3 bottom-up grab of one colour, as backends deliver them.
TDIBitmap Grab(std::uint32_t rgb) {
  TDIBitmap b;
  b.Allocate(4, 3, 8);
  SetFixedPalette(b);
  std::fill(b.Bits.begin(), b.Bits.end(), Index(rgb));
  return b;
}

// A picture of one row: blue, green, red, alpha per pixel.
TCursorInfo Cursor(std::vector<std::uint8_t> bgra, int x, int y, int hotX = 0, int hotY = 0) {
  TCursorInfo c;
  c.Showing = true;
  c.X = x;
  c.Y = y;
  c.HotX = hotX;
  c.HotY = hotY;
  c.Picture.Allocate(static_cast<std::int32_t>(bgra.size() / 4), -1, 32);
  std::copy(bgra.begin(), bgra.end(), c.Picture.Bits.begin());
  return c;
}

// Row y (from the top) of the grab.
std::vector<int> Row(const TDIBitmap& b, int y) {
  const std::uint8_t* p = PictureRow(b, y);
  return std::vector<int>(p, p + b.Width);
}

struct TCase {
  const char* Name;
  std::uint32_t Under;
  TCursorInfo Pointer;
  int Left, Top;   // the grab's place on the screen
  int RowChecked;  // from the top
  std::vector<std::uint32_t> Expected;
};

void PrintTo(const TCase& c, std::ostream* os) {
  *os << c.Name;
}

class DrawCursor : public ::testing::TestWithParam<TCase> {};

TEST_P(DrawCursor, BlendsOnceAtTheHotSpot) {
  const TCase& c = GetParam();
  TFixedCursor source;
  source.Info = c.Pointer;
  TNoSource pixels;
  TFrameStage loop(pixels, source);
  TDIBitmap grab = Grab(c.Under);
  loop.DrawCursor(grab, c.Left, c.Top);
  std::vector<int> expected;
  for (std::uint32_t rgb : c.Expected) expected.push_back(Index(rgb));
  EXPECT_EQ(Row(grab, c.RowChecked), expected);
  // The other rows are untouched.
  for (int y = 0; y < grab.Rows(); ++y) {
    if (y != c.RowChecked) {
      EXPECT_EQ(Row(grab, y), std::vector<int>(4, Index(c.Under))) << y;
    }
  }
}

constexpr std::uint32_t kBlue = 0x0000FF, kBlack = 0x000000;

const TCase kCases[] = {
    // Half-transparent white over black is mid grey (128 of 255), not white as drawing every
    // pixel of alpha 128 or more would give, and not the lighter grey of a second blend.
    {"HalfWhiteOverBlackIsGrey",
     kBlack,
     Cursor({255, 255, 255, 128}, 1, 1),
     0,
     0,
     1,
     {kBlack, 0x808080, kBlack, kBlack}},
    // Half red over palette blue: both halves kept.
    {"HalfRedOverBlueMixesBoth",
     kBlue,
     Cursor({0, 0, 255, 128}, 2, 0),
     0,
     0,
     0,
     {kBlue, kBlue, 0x80007F, kBlue}},
    {"OpaqueIsTheCursorsColourClearIsNothing",
     kBlue,
     Cursor({0, 255, 0, 255, 0, 0, 255, 0, 255, 255, 255, 255}, 0, 2),
     0,
     0,
     2,
     {0x00FF00, kBlue, 0xFFFFFF, kBlue}},
    // The picture's (1, 0) is the hot spot: the pointer at screen (13, 22) on a grab whose
    // top-left is (10, 20) puts the picture's left pixel at column 2 of row 2.
    {"HotSpotAndGrabOriginPlaceIt",
     kBlack,
     Cursor({0, 0, 255, 255, 0, 255, 0, 255}, 13, 22, 1),
     10,
     20,
     2,
     {kBlack, kBlack, 0xFF0000, 0x00FF00}},
    {"ClippedAtTheRightEdge",
     kBlack,
     Cursor({0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255}, 3, 0),
     0,
     0,
     0,
     {kBlack, kBlack, kBlack, 0xFF0000}},
    {"ClippedAtTheLeftEdge",
     kBlack,
     Cursor({0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255}, -2, 1),
     0,
     0,
     1,
     {0x0000FF, kBlack, kBlack, kBlack}},
};

INSTANTIATE_TEST_SUITE_P(Cases, DrawCursor, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.Name; });

TEST(DrawCursorHidden, AHiddenOrUnknownPointerDrawsNothing) {
  TFixedCursor source;
  source.Info = Cursor({255, 255, 255, 255}, 1, 1);
  TNoSource pixels;
  TFrameStage loop(pixels, source);
  const TDIBitmap before = Grab(kBlack);
  TDIBitmap grab = before;
  source.Info.Showing = false;
  loop.DrawCursor(grab, 0, 0);
  EXPECT_EQ(grab.Bits, before.Bits);
  source.Info.Showing = true;
  source.Known = false;
  loop.DrawCursor(grab, 0, 0);
  EXPECT_EQ(grab.Bits, before.Bits);
}

}  // namespace
}  // namespace kestrova::test
