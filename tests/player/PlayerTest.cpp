#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "player/LosslessBitmap.h"
#include "player/Player.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

using namespace test;

constexpr std::uint32_t kWhite = 0xFFFFFF;

// Whether stage pixel px (one axis) has its centre in [lo, hi) twips.
bool CentreIn(int px, double lo, double hi) {
  const double c = px * 20 + 10;
  return c >= lo && c < hi;
}

std::unique_ptr<TSWFSetBackgroundColor> Background(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  auto bg = std::make_unique<TSWFSetBackgroundColor>();
  bg->BackgroundColor().SetRGB(SWFRGB(r, g, b));
  return bg;
}

// Checks every stage pixel against expected(x, y).
void ExpectStage(const TMoviePlayer& p, const std::function<std::uint32_t(int, int)>& expected,
                 const char* what) {
  int wrong = 0;
  for (int y = 0; y < p.Height(); ++y) {
    for (int x = 0; x < p.Width(); ++x) {
      const std::uint32_t want = expected(x, y), got = PixelAt(p, x, y);
      if (want != got && ++wrong <= 5) {
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << got
                      << ", expected " << want;
      }
    }
  }
  EXPECT_EQ(wrong, 0) << what;
}

TEST(Player, SolidRectangleOnAWhiteStageCoversThePixelsWhoseCentresItHolds) {
  TTestMovie movie(10, 8);
  // 15..95 twips across, 30..130 down: not on pixel boundaries.
  movie.Add(RectShape(1, 15, 30, 95, 130, SolidFill(200, 10, 20)));
  movie.Add(Place(1, 1));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  EXPECT_EQ(p->Width(), 10);
  EXPECT_EQ(p->Height(), 8);
  EXPECT_EQ(p->FrameNumber(), 0);
  ASSERT_TRUE(p->NextFrame());
  EXPECT_EQ(p->FrameNumber(), 1);
  ExpectStage(
      *p,
      [](int x, int y) { return CentreIn(x, 15, 95) && CentreIn(y, 30, 130) ? 0xC80A14u : kWhite; },
      "solid");
  EXPECT_FALSE(p->NextFrame());
  EXPECT_EQ(p->StopReason(), "");
  EXPECT_TRUE(p->Notes().empty());
}

TEST(Player, BackgroundColourAndPictureMovedThenRemoved) {
  TTestMovie movie(12, 6);
  movie.Add(Background(0, 0, 255));
  movie.Add(Bitmap24(1, 2, 2, {0x112233, 0x445566, 0x778899, 0xAABBCC}));
  movie.Add(RectShape(2, 0, 0, 40, 40, ImageFill(1, 0x41, PixelScale())));
  movie.Add(Place(1, 2));
  movie.ShowFrame();
  movie.Add(Move(1, 100, 40));  // 5 pixels right, 2 down
  movie.ShowFrame();
  movie.Add(Remove(1));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  const std::uint32_t texels[2][2] = {{0x112233, 0x445566}, {0x778899, 0xAABBCC}};
  auto pictureAt = [&](int left, int top) {
    return [&texels, left, top](int x, int y) -> std::uint32_t {
      if (x < left || x >= left + 2 || y < top || y >= top + 2) return 0x0000FF;
      return texels[y - top][x - left];
    };
  };
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(*p, pictureAt(0, 0), "placed");
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(*p, pictureAt(5, 2), "moved");
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p, [](int, int) { return 0x0000FFu; }, "removed");
  EXPECT_FALSE(p->NextFrame());
  EXPECT_EQ(p->FrameNumber(), 3);
}

// The recorder's pictures: a W x H bitmap on a rectangle whose right edge stands at W - 1 pixels,
// its fill shifted by (-5, -5) twips and scaled by (W - 1) * 20 / W + 15/4096 across and
// 20 + 15/4096 down, placed one row below the strip's top.
struct TRecorderStrip {
  int Width, Height, Top;
  friend void PrintTo(const TRecorderStrip& s, std::ostream* os) {
    *os << s.Width << " x " << s.Height << " at row " << s.Top;
  }
};

class RecorderGeometry : public ::testing::TestWithParam<TRecorderStrip> {};

TEST_P(RecorderGeometry, MatchesTheNearestTexelAtEachPixelCentre) {
  const int w = GetParam().Width, h = GetParam().Height, top = GetParam().Top;
  const int stageHeight = top + h + 3;
  TTestMovie movie(w, stageHeight);
  Bytes raw;
  const int stride = (w + 3) & ~3;
  for (int i = 0; i < 256; ++i) raw.insert(raw.end(), {std::uint8_t(i), std::uint8_t(255 - i), 77});
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < stride; ++x) raw.push_back(std::uint8_t((x * 7 + y * 31) & 0xFF));
  }
  movie.Add(Lossless(1, 3, w, h, raw, false, 256));
  TSWFMatrix fillMatrix;
  fillMatrix.SetTranslate(-5, -5);
  fillMatrix.SetScale(float((w - 1) * 20.0 / w + 15.0 / 4096), float(20 + 15.0 / 4096));
  movie.Add(RectShape(2, 0, 0, (w - 1) * 20, h * 20, ImageFill(1, 0x41, fillMatrix.GetRec())));
  movie.Add(Place(1, 2, 0, (top + 1) * 20));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  ASSERT_TRUE(p->NextFrame());
  // As the file has them: 16.16 fixed.
  const double sx = fillMatrix.ScaleX() / 65536.0, sy = fillMatrix.ScaleY() / 65536.0;
  ExpectStage(
      *p,
      // clang 14 cannot capture structured bindings, hence the init-captures.
      [&, w = w, h = h, top = top](int x, int y) -> std::uint32_t {
        const double shapeX = x * 20 + 10, shapeY = y * 20 + 10 - (top + 1) * 20;
        if (shapeX >= (w - 1) * 20 || shapeY < 0 || shapeY >= h * 20) return kWhite;
        const int u = static_cast<int>(std::floor((shapeX + 5) / sx));
        const int v = static_cast<int>(std::floor((shapeY + 5) / sy));
        const std::uint8_t index = std::uint8_t((u * 7 + v * 31) & 0xFF);
        return (std::uint32_t(index) << 16) | ((255u - index) << 8) | 77u;
      },
      "strip");
  // What that means on the stage: the strip's last column and the row above it keep the stage,
  // its first row shows texel row 0, and the last stage column drawn shows the last texel.
  EXPECT_EQ(PixelAt(*p, w - 1, top + 1), kWhite);
  EXPECT_EQ(PixelAt(*p, 0, top), kWhite);
  EXPECT_EQ(PixelAt(*p, 0, top + 1) >> 16, 0u);
  EXPECT_EQ(PixelAt(*p, w - 2, top + 1) >> 16, std::uint32_t(((w - 1) * 7) & 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Strips, RecorderGeometry,
                         ::testing::Values(TRecorderStrip{50, 32, 0}, TRecorderStrip{97, 20, 33},
                                           TRecorderStrip{640, 32, 64}));

// Strips replace strips at their depths; the full picture at depth 0 stays beneath.
TEST(Player, StripsReplaceStripsAtTheirDepths) {
  TTestMovie movie(8, 8);
  std::uint16_t id = 1;
  auto strip = [&](std::uint16_t depth, int top, int rows, std::uint32_t colour) {
    const std::uint16_t bitmap = id++, shape = id++;
    movie.Add(Bitmap24(bitmap, 8, rows, std::vector<std::uint32_t>(8 * rows, colour)));
    movie.Add(RectShape(shape, 0, 0, 160, rows * 20, ImageFill(bitmap, 0x41, PixelScale())));
    movie.Add(Remove(depth));
    movie.Add(Place(depth, shape, 0, top * 20));
  };
  strip(0, 0, 8, 0x101010);
  movie.ShowFrame();
  strip(1, 0, 2, 0xAA0000);
  strip(3, 4, 2, 0x00AA00);
  movie.ShowFrame();
  strip(1, 0, 2, 0x0000AA);
  movie.ShowFrame();
  auto p = Play(movie.Save());
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p, [](int, int) { return 0x101010u; }, "full picture");
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p, [](int, int y) { return y < 2               ? 0xAA0000u
                                  : (y >= 4 && y < 6) ? 0x00AA00u
                                                      : 0x101010u; },
      "two strips");
  const std::uint64_t stripPixels = p->PixelsPainted();
  EXPECT_LT(stripPixels, 64u) << "only the strips' rows are painted again";
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p, [](int, int y) { return y < 2               ? 0x0000AAu
                                  : (y >= 4 && y < 6) ? 0x00AA00u
                                                      : 0x101010u; },
      "strip replaced");
  EXPECT_LT(p->PixelsPainted(), stripPixels);
}

// A sprite of three frames (red, green, blue) placed for five root frames, removed, then placed
// again: it starts at its frame 1, loops, and starts over when placed again.
TEST(Player, SpriteAdvancesWithItsParentLoopsAndRestarts) {
  TTestMovie movie(4, 4);
  const std::uint32_t colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  for (int i = 0; i < 3; ++i) {
    movie.Add(RectShape(std::uint16_t(1 + i), 0, 0, 80, 80,
                        SolidFill(colours[i] >> 16, (colours[i] >> 8) & 0xFF, colours[i] & 0xFF)));
  }
  auto sprite = std::make_unique<TSWFDefineSprite>();
  sprite->SpriteId = 10;
  sprite->FrameCount = 3;
  for (int i = 0; i < 3; ++i) {
    sprite->ControlTags.push_back(Remove(1));
    sprite->ControlTags.push_back(Place(1, std::uint16_t(1 + i)));
    sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
  }
  sprite->ControlTags.push_back(std::make_unique<TSWFEnd>());
  movie.Add(std::move(sprite));
  movie.ShowFrame();  // frame 1: empty
  movie.Add(Place(5, 10));
  movie.ShowFrame(5);  // frames 2-6
  movie.Add(Remove(5));
  movie.ShowFrame();  // frame 7
  movie.Add(Place(5, 10));
  movie.ShowFrame(2);  // frames 8-9
  const std::uint32_t expected[] = {kWhite,   0xFF0000, 0x00FF00, 0x0000FF, 0xFF0000,
                                    0x00FF00, kWhite,   0xFF0000, 0x00FF00};
  auto p = Play(movie.Save());
  for (std::uint32_t want : expected) {
    ASSERT_TRUE(p->NextFrame());
    EXPECT_EQ(PixelAt(*p, 2, 2), want) << "frame " << p->FrameNumber();
  }
  EXPECT_FALSE(p->NextFrame());
}

// Each format's texels for a 3 x 2 picture whose rows need padding, and what they become.
struct TFormatCase {
  const char* Name;
  std::function<std::unique_ptr<TSWFDefineBitsLossless>()> Make;
  std::uint32_t Expected[2][3];  // over the red stage
  friend void PrintTo(const TFormatCase& c, std::ostream* os) { *os << c.Name; }
};

Bytes Palette8() {
  // Three colours, then rows of 3 indices padded to 4 bytes; index 7 is past the table.
  Bytes raw = {10, 20, 30, 40, 50, 60, 250, 128, 0};
  raw.insert(raw.end(), {0, 1, 2, 0xEE, 2, 1, 7, 0xEE});
  return raw;
}

Bytes Pix15() {
  // Big-endian words: 0 rrrrr ggggg bbbbb; rows of 6 bytes padded to 8.
  auto word = [](unsigned r, unsigned g, unsigned b) {
    const unsigned v = (r << 10) | (g << 5) | b;
    return Bytes{std::uint8_t(v >> 8), std::uint8_t(v)};
  };
  Bytes raw;
  for (const Bytes& w : {word(31, 0, 0), word(0, 31, 0), word(0, 0, 31)})
    raw.insert(raw.end(), w.begin(), w.end());
  raw.insert(raw.end(), {0, 0});
  for (const Bytes& w : {word(1, 2, 3), word(16, 8, 4), word(31, 31, 31)})
    raw.insert(raw.end(), w.begin(), w.end());
  raw.insert(raw.end(), {0, 0});
  return raw;
}

Bytes Argb() {
  // Premultiplied: opaque, half (white at alpha 128 is 128,128,128), transparent.
  return {255, 1, 2, 3, 128, 128, 128, 128, 0,   0,   0,   0,
          255, 4, 5, 6, 64,  0,   64,  0,   255, 200, 100, 50};
}

Bytes PaletteAlpha() {
  Bytes raw = {0, 0, 0, 0, 100, 50, 0, 128};
  raw.insert(raw.end(), {0, 1, 1, 0, 1, 0, 9, 0});
  return raw;
}

// Premultiplied colour c at alpha a over the red stage, channel by channel.
std::uint32_t Over(std::uint32_t c, unsigned a) {
  std::uint32_t out = 0;
  const std::uint32_t stage = 0xFF0000;
  for (int shift = 0; shift < 24; shift += 8) {
    const unsigned d = (stage >> shift) & 0xFF, s = (c >> shift) & 0xFF;
    out |= ((s + (d * (255 - a) + 127) / 255) & 0xFF) << shift;
  }
  return out;
}

std::uint32_t Five(unsigned r, unsigned g, unsigned b) {
  auto e = [](unsigned v) { return std::uint32_t(std::lround(v * 255.0 / 31.0)); };
  return (e(r) << 16) | (e(g) << 8) | e(b);
}

const TFormatCase kFormats[] = {
    {"8-bit colour-mapped",
     [] { return Lossless(1, 3, 3, 2, Palette8(), false, 3); },
     {{0x0A141E, 0x28323C, 0xFA8000}, {0xFA8000, 0x28323C, 0x000000}}},
    {"15-bit",
     [] { return Lossless(1, 4, 3, 2, Pix15()); },
     {{0xFF0000, 0x00FF00, 0x0000FF}, {Five(1, 2, 3), Five(16, 8, 4), 0xFFFFFF}}},
    {"24-bit",
     [] {
       return Bitmap24(1, 3, 2, {1, 2, 3, 0x040506, 0x070809, 0xFFFFFF});
     },
     {{1, 2, 3}, {0x040506, 0x070809, 0xFFFFFF}}},
    {"32-bit with alpha",
     [] { return Lossless(1, 5, 3, 2, Argb(), true); },
     {{0x010203, Over(0x808080, 128), 0xFF0000}, {0x040506, Over(0x004000, 64), 0xC86432}}},
    {"colour-mapped with alpha",
     [] { return Lossless(1, 3, 3, 2, PaletteAlpha(), true, 2); },
     {{0xFF0000, Over(0x643200, 128), Over(0x643200, 128)},
      {Over(0x643200, 128), 0xFF0000, 0xFF0000}}},
};

class BitmapFormats : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(BitmapFormats, UnpackAndBlendOverTheStage) {
  const TFormatCase& c = GetParam();
  TTestMovie movie(5, 4);
  movie.Add(Background(255, 0, 0));
  movie.Add(c.Make());
  movie.Add(RectShape(2, 0, 0, 60, 40, ImageFill(1, 0x43, PixelScale())));
  movie.Add(Place(1, 2, 20, 20));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p,
      [&](int x, int y) {
        if (x < 1 || x > 3 || y < 1 || y > 2) return 0xFF0000u;
        return c.Expected[y - 1][x - 1];
      },
      c.Name);
  EXPECT_TRUE(p->Notes().empty()) << p->Notes().front();
}

INSTANTIATE_TEST_SUITE_P(Lossless, BitmapFormats, ::testing::ValuesIn(kFormats),
                         [](const auto& info) {
                           std::string n = info.param.Name;
                           for (char& ch : n) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

// A 2 x 2 bitmap in a 4 x 4 pixel rectangle: clipped fills leave the rest untouched, repeating
// fills tile it.
TEST(Player, ClippedAndRepeatingFills) {
  for (std::uint8_t type : {0x41, 0x43, 0x40, 0x42}) {
    TTestMovie movie(4, 4);
    movie.Add(Bitmap24(1, 2, 2, {0x000001, 0x000002, 0x000003, 0x000004}));
    movie.Add(RectShape(2, 0, 0, 80, 80, ImageFill(1, type, PixelScale())));
    movie.Add(Place(1, 2));
    movie.ShowFrame();
    auto p = Play(movie.Save());
    ASSERT_TRUE(p->NextFrame());
    const bool clipped = type & 1;
    ExpectStage(
        *p,
        [&](int x, int y) -> std::uint32_t {
          if (clipped && (x >= 2 || y >= 2)) return kWhite;
          return std::uint32_t(1 + (x % 2) + 2 * (y % 2));
        },
        clipped ? "clipped" : "repeating");
  }
}

TEST(Player, ColourTransformAndPlaceObjectOne) {
  TTestMovie movie(4, 2);
  movie.Add(RectShape(1, 0, 0, 40, 40, SolidFill(100, 200, 40)));
  auto p1 = std::make_unique<TSWFPlaceObject>();
  p1->Depth = 1;
  p1->SetCharacterId(1);
  movie.Add(std::move(p1));
  auto p2 = Place(2, 1, 40, 0);
  p2->ColorTransform().SetMultR(128);  // halves red
  p2->ColorTransform().SetMultG(256);
  p2->ColorTransform().SetMultB(256);
  p2->ColorTransform().SetAddB(100);
  movie.Add(std::move(p2));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  ASSERT_TRUE(p->NextFrame());
  EXPECT_EQ(PixelAt(*p, 0, 0), 0x64C828u);
  EXPECT_EQ(PixelAt(*p, 1, 1), 0x64C828u);
  EXPECT_EQ(PixelAt(*p, 2, 0), 0x32C88Cu);
}

// A quarter turn: x' = -y, y' = x, then moved right by the picture's height.
TEST(Player, RotatedPlacementSamplesThroughTheInverse) {
  TTestMovie movie(6, 6);
  std::vector<std::uint32_t> rgb;
  for (int i = 0; i < 6; ++i) rgb.push_back(0x100000u * (i + 1));
  movie.Add(Bitmap24(1, 3, 2, rgb));
  movie.Add(RectShape(2, 0, 0, 60, 40, ImageFill(1, 0x41, PixelScale())));
  auto place = Place(1, 2);
  place->Matrix().SetRec(MakeMatrix(true, true, 0, 0, -65536, 65536, 40, 0));
  movie.Add(std::move(place));
  movie.ShowFrame();
  auto p = Play(movie.Save());
  ASSERT_TRUE(p->NextFrame());
  ExpectStage(
      *p,
      [&](int x, int y) -> std::uint32_t {
        // Stage centre (cx, cy) came from shape point (cy, 40 - cx).
        const double cx = x * 20 + 10, cy = y * 20 + 10;
        const double sx = cy, sy = 40 - cx;
        if (sx < 0 || sx >= 60 || sy < 0 || sy >= 40) return kWhite;
        return rgb[int(sy / 20) * 3 + int(sx / 20)];
      },
      "rotated");
}

// Drawing only what changed must give the same pixels as drawing everything afresh.
TEST(Player, IncrementalDrawingEqualsAFullDrawing) {
  TTestMovie movie(40, 30);
  movie.Add(Background(9, 9, 9));
  std::uint16_t id = 1;
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8) & 0xFFFFFF; };
  for (int frame = 0; frame < 12; ++frame) {
    for (int k = 0; k < 3; ++k) {
      const std::uint16_t depth = std::uint16_t(1 + next() % 6);
      const int w = 1 + next() % 12, h = 1 + next() % 9, x = next() % 600, y = next() % 500;
      std::vector<std::uint32_t> rgb;
      for (int i = 0; i < w * h; ++i) rgb.push_back(next());
      const std::uint16_t bitmap = id++, shape = id++;
      movie.Add(Bitmap24(bitmap, w, h, rgb));
      movie.Add(RectShape(shape, 0, 0, w * 20, h * 20, ImageFill(bitmap, 0x41, PixelScale(-3, 7))));
      movie.Add(Remove(depth));
      movie.Add(Place(depth, shape, x, y));
    }
    if (frame % 4 == 3) movie.Add(Move(std::uint16_t(1 + next() % 6), next() % 700, next() % 500));
    if (frame % 5 == 4) movie.Add(Remove(std::uint16_t(1 + next() % 6)));
    movie.ShowFrame();
  }
  const Bytes file = movie.Save();
  auto incremental = Play(file);
  for (int frame = 1; frame <= 12; ++frame) {
    ASSERT_TRUE(incremental->NextFrame());
    auto fresh = Play(file);
    for (int i = 1; i < frame; ++i) ASSERT_TRUE(fresh->SkipFrame());
    ASSERT_TRUE(fresh->NextFrame());
    EXPECT_EQ(fresh->PixelsPainted(), 40u * 30u);
    EXPECT_TRUE(std::equal(fresh->Pixels(), fresh->Pixels() + 40 * 30 * 4, incremental->Pixels()))
        << "frame " << frame;
  }
}

TEST(Player, UnsupportedContentIsSaidOncePerMovie) {
  TTestMovie movie(4, 4);
  for (std::uint16_t id : {1, 2}) {
    auto shape = RectShape(id, 0, 0, 40, 40, SolidFill(1, 2, 3));
    auto curve = std::make_unique<TSWFCurvedEdgeRecord>();
    curve->ControlDeltaX = 10;
    curve->AnchorDeltaY = 10;
    shape->Edges.insert(shape->Edges.begin() + 2, std::move(curve));
    movie.Add(std::move(shape));
    movie.Add(Place(id, id));
  }
  for (int i = 0; i < 2; ++i) {
    auto action = std::make_unique<TSWFDoAction>();
    action->Actions().push_back(std::make_unique<TSWFActionStop>());
    movie.Add(std::move(action));
    movie.ShowFrame();
  }
  auto p = Play(movie.Save());
  while (p->NextFrame()) {
  }
  EXPECT_EQ(p->FrameNumber(), 2);
  const std::vector<std::string> expected = {"curved edges are not drawn",
                                             "scripts (actions) are not run"};
  EXPECT_EQ(p->Notes(), expected);
}

// ---- damaged movies ----

Bytes ThreeFrames(bool compressed) {
  TTestMovie movie(4, 4);
  movie.SetCompressed(compressed);
  for (std::uint32_t c : {0x111111u, 0x222222u, 0x333333u}) {
    const std::uint16_t id = std::uint16_t(c & 0xF);
    movie.Add(Bitmap24(id, 4, 4, std::vector<std::uint32_t>(16, c)));
    movie.Add(RectShape(std::uint16_t(id + 10), 0, 0, 80, 80, ImageFill(id, 0x41, PixelScale())));
    movie.Add(Remove(1));
    movie.Add(Place(1, std::uint16_t(id + 10)));
    movie.ShowFrame();
  }
  return movie.Save();
}

TEST(Player, CutShortPlaysAsFarAsItCanAndSaysWhere) {
  for (bool compressed : {false, true}) {
    Bytes file = ThreeFrames(compressed);
    // Cut inside the last frame's bitmap (the compressed one's zlib data ends early).
    file.resize(file.size() - (compressed ? 20 : 60));
    auto p = Play(file);
    ASSERT_TRUE(p->NextFrame());
    ASSERT_TRUE(p->NextFrame());
    EXPECT_EQ(PixelAt(*p, 1, 1), 0x222222u);
    EXPECT_FALSE(p->NextFrame());
    EXPECT_EQ(p->FrameNumber(), 2);
    EXPECT_EQ(PixelAt(*p, 1, 1), 0x222222u) << "the last good frame stays";
    EXPECT_NE(p->StopReason().find("stopped after frame 2: "), std::string::npos)
        << p->StopReason();
    EXPECT_NE(p->StopReason().find("offset"), std::string::npos) << p->StopReason();
  }
}

TEST(Player, EveryTruncationStopsCleanly) {
  const Bytes file = ThreeFrames(false);
  for (std::size_t size = 0; size < file.size(); ++size) {
    const Bytes cut(file.begin(), file.begin() + size);
    try {
      auto p = Play(cut);
      int frames = 0;
      while (p->NextFrame()) ++frames;
      EXPECT_LE(frames, 3);
    } catch (const EPlayerError&) {
      EXPECT_LT(size, 30u) << "only a cut header refuses the movie";
    }
  }
}

TEST(Player, DamagedTagsAndBitmapsAreSkippedAndSaid) {
  TTestMovie movie(4, 4);
  auto broken = Bitmap24(1, 4, 4, std::vector<std::uint32_t>(16, 0x123456));
  broken->Data.resize(broken->Data.size() / 2);  // zlib data cut short
  movie.Add(std::move(broken));
  movie.Add(RectShape(2, 0, 0, 80, 80, ImageFill(1, 0x41, PixelScale())));
  movie.Add(Place(1, 2));
  movie.ShowFrame();
  movie.ShowFrame();
  Bytes file = movie.Save();
  // A DefineShape2 whose fill type names no fill style (0x33), inserted before the last
  // ShowFrame: body = id 9, empty RECT, one fill of type 0x33.
  const Bytes badShape = {0x85, 0x05, 9, 0, 0x00, 0x01, 0x33};
  file.insert(file.end() - 2, badShape.begin(), badShape.end());
  const std::uint32_t length = static_cast<std::uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[4 + i] = std::uint8_t(length >> (8 * i));
  auto p = Play(file);
  ASSERT_TRUE(p->NextFrame());
  EXPECT_EQ(PixelAt(*p, 1, 1), kWhite);
  ASSERT_TRUE(p->NextFrame());
  EXPECT_FALSE(p->NextFrame());
  EXPECT_EQ(p->StopReason(), "");
  ASSERT_EQ(p->Notes().size(), 2u);
  EXPECT_EQ(p->Notes()[0].rfind("bitmap 1 is not drawn: its pixel data", 0), 0u) << p->Notes()[0];
  EXPECT_EQ(p->Notes()[1].rfind("DefineShape2 at offset", 0), 0u) << p->Notes()[1];
}

// A looping sprite that places two copies of itself: the nesting and the number of objects on
// show stay bounded however long it plays.
TEST(Player, SpritesPlacingThemselvesDoNotRunAway) {
  TTestMovie movie(4, 4);
  movie.Add(RectShape(2, 0, 0, 40, 40, SolidFill(1, 2, 3)));
  auto sprite = std::make_unique<TSWFDefineSprite>();
  sprite->SpriteId = 1;
  sprite->FrameCount = 2;
  sprite->ControlTags.push_back(Place(1, 1));
  sprite->ControlTags.push_back(Place(2, 1));
  sprite->ControlTags.push_back(Place(3, 2));
  sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
  sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
  movie.Add(std::move(sprite));
  movie.Add(Place(1, 1));
  movie.ShowFrame(5);
  auto p = Play(movie.Save());
  int frames = 0;
  while (p->NextFrame()) ++frames;
  EXPECT_EQ(frames, 5);
  EXPECT_EQ(PixelAt(*p, 0, 0), 0x010203u);
  EXPECT_NE(std::find(p->Notes().begin(), p->Notes().end(),
                      "placements beyond 16384 objects on show were refused"),
            p->Notes().end());
}

TEST(Player, RefusesWhatIsNoMovie) {
  EXPECT_THROW(Play(Bytes{'G', 'I', 'F', '8', '9', 'a'}), EPlayerError);
  EXPECT_THROW(Play(Bytes{'F', 'W', 'S'}), EPlayerError);
  TTestMovie huge(20000, 20000);
  EXPECT_THROW(Play(huge.Save()), EPlayerError);
  TTestMovie empty(0, 0);
  EXPECT_THROW(Play(empty.Save()), EPlayerError);
  EXPECT_THROW(TMoviePlayer("/nonexistent/movie.swf"), EStreamError);
}

// A movie written byte by byte: a grey stage, a DefineShape with a solid green fill 2 x 1
// pixels, placed at depth 1 by PlaceObject2, one frame, End.
TEST(Player, HandWrittenMovie) {
  const Bytes file = {
      'F', 'W', 'S', 5, 0, 0, 0, 0, 0x50, 0x00, 0x28, 0x00, 0x01,
      0x40,                          // RECT nbits 10: 0, 80, 0, 40 twips (4 x 2 pixels)
      0x00, 12, 1, 0,                // 12 fps, 1 frame
      0x43, 0x02, 0x80, 0x80, 0x80,  // SetBackgroundColor (9, 3 bytes) grey
      0x93, 0x00,                    // DefineShape (2), 19 bytes:
      1, 0,                          //   id 1
      0x00,                          //   empty RECT
      1, 0x00, 0, 200, 0,            //   one solid fill: green
      0,                             //   no line styles
      0x10,                          //   1 fill bit, 0 line bits
      // Style change 000100 with fill style 1 in one bit; edges (NumBits - 2, general 0, vertical):
      // 11 0101 00 +40 | 11 0100 01 +20 | 11 0101 00 -40 | 11 0100 01 -20 | end 000000.
      0x13, 0xA8, 0xA3, 0x45, 0x4D, 0x4B, 0x1A, 0x36, 0x00, 0x85,
      0x06,                          // PlaceObject2 (26), 5 bytes: character 1, depth 1
      0x02, 1, 0, 1, 0, 0x40, 0x00,  // ShowFrame
      0x00, 0x00,                    // End
  };
  Bytes patched = file;
  patched[4] = static_cast<std::uint8_t>(patched.size());
  auto p = Play(patched);
  ASSERT_TRUE(p->NextFrame()) << p->StopReason();
  EXPECT_TRUE(p->Notes().empty()) << p->Notes().front();
  ExpectStage(
      *p, [](int x, int y) { return x < 2 && y < 1 ? 0x00C800u : 0x808080u; }, "hand");
  EXPECT_FALSE(p->NextFrame());
  EXPECT_EQ(p->StopReason(), "");
}

TEST(LosslessBitmap, RefusesImpossibleBitmapsWithoutAllocating) {
  const Bytes data = Deflate(Bytes(16, 0));
  TLosslessHeader h;
  h.Format = 5;
  h.Width = 65535;
  h.Height = 65535;
  EXPECT_THROW(DecodeLossless(h, data.data(), data.size()), EPlayerError);
  h.Width = 2;
  h.Height = 2;
  h.Format = 6;
  EXPECT_THROW(DecodeLossless(h, data.data(), data.size()), EPlayerError);
  h.Format = 4;
  h.WithAlpha = true;
  EXPECT_THROW(DecodeLossless(h, data.data(), data.size()), EPlayerError);
  h.Format = 5;
  h.WithAlpha = false;
  const Bytes garbage = {1, 2, 3, 4, 5};
  EXPECT_THROW(DecodeLossless(h, garbage.data(), garbage.size()), EPlayerError);
  EXPECT_EQ(DecodeLossless(h, data.data(), data.size()).Texels.size(), 4u);
}

// Eight strips of noise, each its own bitmap of about 2 KB, stay on the stage. Under a budget of
// 1 KB each goes to the spill file as soon as it is defined and is drawn from there, pixel for
// pixel: the movie plays in memory that does not grow with its pictures.
TEST(Player, BitmapsBeyondTheMemoryBudgetAreDrawnFromTheSpillFile) {
  constexpr int kSize = 64, kRows = 8;
  auto noise = [](int x, int y) {
    return (static_cast<std::uint32_t>(x * 7919 + y * 104729) * 2654435761u) >> 8;
  };
  TTestMovie movie(kSize, kSize);
  for (int strip = 0; strip < kSize / kRows; ++strip) {
    std::vector<std::uint32_t> colours;
    for (int y = 0; y < kRows; ++y) {
      for (int x = 0; x < kSize; ++x) colours.push_back(noise(x, strip * kRows + y));
    }
    const auto bitmap = static_cast<std::uint16_t>(2 * strip + 1);
    const auto shape = static_cast<std::uint16_t>(bitmap + 1);
    movie.Add(Bitmap24(bitmap, kSize, kRows, colours));
    movie.Add(
        RectShape(shape, 0, 0, kSize * 20, kRows * 20, ImageFill(bitmap, 0x41, PixelScale())));
    movie.Add(Place(static_cast<std::uint16_t>(strip + 1), shape, 0, strip * kRows * 20));
    movie.ShowFrame();
  }
  const auto file = movie.Save();
  for (const std::uint64_t budget : {std::uint64_t(1) << 10, std::uint64_t(8) << 20}) {
    SCOPED_TRACE(budget);
    auto p = Play(file);
    p->SetBitmapMemoryBudget(budget);
    int frames = 0;
    while (p->NextFrame()) ++frames;
    EXPECT_EQ(frames, kSize / kRows);
    EXPECT_TRUE(p->StopReason().empty()) << p->StopReason();
    EXPECT_EQ(p->SpilledBytes() > 0, budget < (1u << 20));
    ExpectStage(
        *p, [&](int x, int y) { return noise(x, y) & 0xFFFFFF; }, "every strip");
  }
}

}  // namespace
}  // namespace kestrova
