#include <gtest/gtest.h>

#include <set>
#include <vector>

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

// Every colour there is, through MapRow, against NearestIndex. Rows of several lengths, starting
// at several offsets, so that groups of pixels and the pixels left at the end of a row alike meet
// every colour; the fourth byte varies and must not matter.
TEST(Palette, MapRowAgreesWithNearestForEveryColour) {
  constexpr std::uint32_t kColours = 1u << 24;
  const std::size_t rowLengths[] = {4096, 4093, 31, 17, 15};
  std::vector<std::uint8_t> bgrx(4 * 4096 + 3);
  std::vector<std::uint8_t> out(4096 + 3);
  std::uint32_t next = 0;
  for (std::size_t row = 0; next < kColours; ++row) {
    const std::size_t length = rowLengths[row % std::size(rowLengths)];
    const std::size_t start = row % 4;  // pixels and indices off any alignment
    const std::uint32_t first = next;
    std::size_t n = 0;
    for (; n < length && next < kColours; ++n, ++next) {
      std::uint8_t* p = &bgrx[start + 4 * n];
      p[0] = static_cast<std::uint8_t>(next);
      p[1] = static_cast<std::uint8_t>(next >> 8);
      p[2] = static_cast<std::uint8_t>(next >> 16);
      p[3] = static_cast<std::uint8_t>(n * 37);
    }
    MapRow(&bgrx[start], &out[start], n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t c = first + static_cast<std::uint32_t>(i);
      ASSERT_EQ(out[start + i], NearestIndex(c >> 16, (c >> 8) & 0xFF, c & 0xFF))
          << "colour " << std::hex << c << std::dec << ", pixel " << i << " of " << n;
    }
  }
}

// Runs of one colour, the flat content MapRow takes a short cut on, between changes: runs of
// every length about the group size, each starting anywhere, repeating the previous run's colour
// or the colour before the row, or differing only in the fourth byte.
TEST(Palette, MapRowMapsRunsOfOneColour) {
  std::vector<std::uint32_t> pixels;
  std::uint32_t seed = 12345;
  const auto random = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int run = 0; run < 600; ++run) {
    const std::size_t length = random() % 40 + 1;
    std::uint32_t colour = random() >> 8;
    switch (random() % 4) {
      case 0:
        colour = pixels.empty() ? 0 : pixels.back() & 0xFFFFFF;  // the same colour goes on
        break;
      case 1:
        colour = 0;  // black, the colour a row starts out remembering
        break;
      default:
        break;
    }
    for (std::size_t i = 0; i < length; ++i) pixels.push_back(colour | (random() & 0xFF000000u));
  }
  for (std::size_t start : {0, 1, 5, 16, 33}) {
    const std::size_t count = pixels.size() - start;
    std::vector<std::uint8_t> bgrx(4 * count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t v = pixels[start + i];
      for (int k = 0; k < 4; ++k) bgrx[4 * i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    std::vector<std::uint8_t> out(count);
    MapRow(bgrx.data(), out.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t c = pixels[start + i];
      ASSERT_EQ(out[i], NearestIndex((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF))
          << "pixel " << i << " from " << start;
    }
  }
}

}  // namespace
}  // namespace kestrova::platform
