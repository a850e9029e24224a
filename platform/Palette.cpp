#include "platform/Palette.h"

#include <cstring>

namespace kestrova::platform {

namespace {

constexpr int kCubeLevels[6] = {0, 51, 102, 153, 204, 255};
constexpr int kGreyCount = 40;
static_assert(6 * 6 * 6 + kGreyCount == kPaletteSize, "the cube and the greys fill the palette");

struct TPaletteTables {
  std::array<TRGBQuad, kPaletteSize> Entries{};
  std::uint8_t CubeStep[256];           // channel value -> nearest cube level number
  std::uint8_t GreyBySum[3 * 255 + 1];  // r + g + b -> palette index of the nearest grey
  // The squared distances without multiplying per pixel: a channel's to its nearest cube level;
  // a channel's square; and for the nearest grey L of a sum s, 3 L^2 - 2 L s (with the squares of
  // the three channels, the squared distance to L).
  std::int32_t CubeError[256];
  std::int32_t Square[256];
  std::int32_t GreyTerm[3 * 255 + 1];

  TPaletteTables() {
    for (int r = 0; r < 6; ++r) {
      for (int g = 0; g < 6; ++g) {
        for (int b = 0; b < 6; ++b) {
          Entries[36 * r + 6 * g + b] = TRGBQuad{static_cast<std::uint8_t>(kCubeLevels[b]),
                                                 static_cast<std::uint8_t>(kCubeLevels[g]),
                                                 static_cast<std::uint8_t>(kCubeLevels[r]), 0};
        }
      }
    }
    // Grey levels, each with its palette index: the cube's own greys and 8 per gap.
    int levels[46], indices[46], n = 0;
    for (int k = 0; k < 6; ++k) {
      levels[n] = kCubeLevels[k];
      indices[n++] = 43 * k;  // 36k + 6k + k
      if (k == 5) break;
      for (int j = 1; j <= 8; ++j) {
        const int level = 51 * k + (51 * j * 2 + 9) / 18;  // 51k + round(51 j / 9)
        const int index = 216 + 8 * k + (j - 1);
        Entries[index] =
            TRGBQuad{static_cast<std::uint8_t>(level), static_cast<std::uint8_t>(level),
                     static_cast<std::uint8_t>(level), 0};
        levels[n] = level;
        indices[n++] = index;
      }
    }
    for (int v = 0; v < 256; ++v) CubeStep[v] = static_cast<std::uint8_t>((v * 2 + 51) / 102);
    // The grey nearest to a colour is the level nearest to its mean: compare 3 level with sum.
    for (int sum = 0; sum <= 3 * 255; ++sum) {
      int best = 0;
      for (int i = 1; i < n; ++i) {
        const int d = 3 * levels[i] - sum, e = 3 * levels[best] - sum;
        if (d * d < e * e || (d * d == e * e && indices[i] < indices[best])) best = i;
      }
      GreyBySum[sum] = static_cast<std::uint8_t>(indices[best]);
      GreyTerm[sum] = 3 * levels[best] * levels[best] - 2 * levels[best] * sum;
    }
    for (int v = 0; v < 256; ++v) {
      const int d = kCubeLevels[CubeStep[v]] - v;
      CubeError[v] = d * d;
      Square[v] = v * v;
    }
  }
};

const TPaletteTables& Tables() {
  static const TPaletteTables tables;
  return tables;
}

}  // namespace

const std::array<TRGBQuad, kPaletteSize>& FixedPalette() {
  return Tables().Entries;
}

std::uint8_t NearestIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const TPaletteTables& t = Tables();
  const int cube = 36 * t.CubeStep[red] + 6 * t.CubeStep[green] + t.CubeStep[blue];
  const int sum = red + green + blue;
  const int grey = t.GreyBySum[sum];
  const int dc = t.CubeError[red] + t.CubeError[green] + t.CubeError[blue];
  const int dg = t.Square[red] + t.Square[green] + t.Square[blue] + t.GreyTerm[sum];
  if (dg < dc || (dg == dc && grey < cube)) return static_cast<std::uint8_t>(grey);
  return static_cast<std::uint8_t>(cube);
}

void MapRow(const std::uint8_t* bgrx, std::uint8_t* indices, std::size_t count) {
  // Screens are mostly runs of one colour: remember the last pixel's answer.
  std::uint32_t last = 0;
  std::uint8_t lastIndex = NearestIndex(0, 0, 0);
  for (std::size_t i = 0; i < count; ++i, bgrx += 4) {
    std::uint32_t v = 0;
    std::memcpy(&v, bgrx, 3);
    v &= 0xFFFFFFu;
    if (v != last) {
      last = v;
      lastIndex = NearestIndex(bgrx[2], bgrx[1], bgrx[0]);
    }
    indices[i] = lastIndex;
  }
}

void SetFixedPalette(TDIBitmap& bitmap) {
  const auto& entries = FixedPalette();
  bitmap.Palette.assign(entries.begin(), entries.end());
}

}  // namespace kestrova::platform
