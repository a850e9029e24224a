// The pointer drawn into the staged picture: blended in 32 bits by its alpha with the pixel
// under it, once, its hot spot at the pointer, clipped at the picture's edges.
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

// A screen of one colour, as a capture source gives it: 32-bit, top-down.
class TUniformSource : public TCaptureSource {
 public:
  bool Capture(TWindowHandle, const TScreenRect& rect, TDIBitmap& frame, TDamage& damage) override {
    damage.SetAll();
    PrepareFrame(frame, rect.Width(), rect.Height());
    for (std::int32_t y = 0; y < rect.Height(); ++y) {
      for (std::int32_t x = 0; x < rect.Width(); ++x) {
        std::uint8_t* p = frame.Scanline(y) + 4 * x;
        p[0] = Colour & 0xFF;
        p[1] = Colour >> 8 & 0xFF;
        p[2] = Colour >> 16 & 0xFF;
        p[3] = 0xA5;  // means nothing, and must not show
      }
    }
    return true;
  }
  std::uint32_t Colour = 0;
};

std::uint8_t Index(std::uint32_t rgb) {
  return NearestIndex(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
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

// Row y (from the top) of a staged picture: palette indices, or 0xRRGGBB of 32-bit pixels.
std::vector<std::uint32_t> Row(const TDIBitmap& b, int y) {
  const std::uint8_t* p = PictureRow(b, y);
  std::vector<std::uint32_t> row;
  for (int x = 0; x < b.Width; ++x) {
    if (b.BitCount == 8) {
      row.push_back(p[x]);
    } else {
      const std::uint8_t* q = p + 4 * x;
      EXPECT_EQ(q[3], 0) << "the fourth byte of a 32-bit picture";
      row.push_back(std::uint32_t{q[2]} << 16 | q[1] << 8 | q[0]);
    }
  }
  return row;
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

// The pointer is blended in 32 bits; a palette picture is that blend mapped to the palette.
TEST_P(DrawCursor, BlendsOnceAtTheHotSpot) {
  const TCase& c = GetParam();
  for (const TColourDepth colours : {TColourDepth::Rgb32, TColourDepth::Palette256}) {
    SCOPED_TRACE(colours == TColourDepth::Rgb32 ? "32-bit" : "palette");
    TFixedCursor pointer;
    pointer.Info = c.Pointer;
    TUniformSource screen;
    screen.Colour = c.Under;
    TFrameStage stage(screen, pointer);
    stage.SetColours(colours);
    TStagedFrame staged;
    ASSERT_TRUE(stage.Capture(0, {c.Left, c.Top, c.Left + 4, c.Top + 3}, staged));
    const auto colour = [&](std::uint32_t rgb) {
      return colours == TColourDepth::Rgb32 ? rgb : std::uint32_t{Index(rgb)};
    };
    std::vector<std::uint32_t> expected;
    for (std::uint32_t rgb : c.Expected) expected.push_back(colour(rgb));
    EXPECT_EQ(Row(*staged.Picture, c.RowChecked), expected);
    // The other rows are untouched.
    for (int y = 0; y < staged.Picture->Rows(); ++y) {
      if (y != c.RowChecked) {
        EXPECT_EQ(Row(*staged.Picture, y), std::vector<std::uint32_t>(4, colour(c.Under))) << y;
      }
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
  TFixedCursor pointer;
  pointer.Info = Cursor({255, 255, 255, 255}, 1, 1);
  TUniformSource screen;
  TFrameStage stage(screen, pointer);
  stage.SetColours(TColourDepth::Rgb32);
  const std::vector<std::uint32_t> black(4, 0);
  for (const bool showing : {false, true}) {
    pointer.Info.Showing = showing;
    pointer.Known = !showing;
    TStagedFrame staged;
    ASSERT_TRUE(stage.Capture(0, {0, 0, 4, 3}, staged));
    for (int y = 0; y < 3; ++y) EXPECT_EQ(Row(*staged.Picture, y), black) << showing << y;
  }
}

}  // namespace
}  // namespace kestrova::test
