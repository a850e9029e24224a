#include <gtest/gtest.h>

#include <set>

#include "platform/Palette.h"

namespace kestrova::platform {
namespace {

int BruteNearest(int r, int g, int b) {
  const auto& p = FixedPalette();
  int best = 0, bestD = 1 << 30;
  for (int i = 0; i < kPaletteSize; ++i) {
    const int d = (p[i].Red - r) * (p[i].Red - r) + (p[i].Green - g) * (p[i].Green - g) +
                  (p[i].Blue - b) * (p[i].Blue - b);
    if (d < bestD) best = i, bestD = d;
  }
  return best;
}

TEST(Palette, HasACubeAndDistinctGreys) {
  const auto& p = FixedPalette();
  EXPECT_EQ(p[0], (TRGBQuad{0, 0, 0, 0}));
  EXPECT_EQ(p[215], (TRGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(p[36 * 5], (TRGBQuad{0, 0, 255, 0}));  // pure red: blue, green, red order
  std::set<std::uint32_t> colours;
  for (const TRGBQuad& e : p) colours.insert(e.Red << 16 | e.Green << 8 | e.Blue);
  EXPECT_EQ(colours.size(), 256u);
  for (int i = 216; i < 256; ++i) {
    EXPECT_EQ(p[i].Red, p[i].Green);
    EXPECT_EQ(p[i].Red, p[i].Blue);
  }
}

TEST(Palette, EveryEntryMapsToItself) {
  const auto& p = FixedPalette();
  for (int i = 0; i < kPaletteSize; ++i)
    EXPECT_EQ(NearestIndex(p[i].Red, p[i].Green, p[i].Blue), i);
}

TEST(Palette, NearestAgreesWithExhaustiveSearch) {
  // Every colour on a lattice of step 5, plus the greys and their neighbours, where ties lie.
  for (int r = 0; r < 256; r += 5) {
    for (int g = 0; g < 256; g += 5) {
      for (int b = 0; b < 256; b += 5) {
        ASSERT_EQ(NearestIndex(r, g, b), BruteNearest(r, g, b)) << r << "," << g << "," << b;
      }
    }
  }
  for (int v = 0; v < 256; ++v) {
    for (int d = -3; d <= 3; ++d) {
      const int w = std::clamp(v + d, 0, 255);
      ASSERT_EQ(NearestIndex(v, v, w), BruteNearest(v, v, w)) << v << "," << w;
    }
  }
}

TEST(Palette, MapRowMapsEachPixel) {
  const std::uint8_t bgrx[] = {0, 0, 255, 9, 0, 0, 255, 7, 255, 255, 255, 0, 10, 10, 10, 0};
  std::uint8_t out[4];
  MapRow(bgrx, out, 4);
  EXPECT_EQ(out[0], 180);
  EXPECT_EQ(out[1], 180);
  EXPECT_EQ(out[2], 215);
  EXPECT_EQ(out[3], NearestIndex(10, 10, 10));
}

}  // namespace
}  // namespace kestrova::platform
