#include "platform/Palette.h"

#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrova::platform {

namespace {

constexpr int kCubeLevels[6] = {0, 51, 102, 153, 204, 255};
constexpr int kGreyCount = 40;
static_assert(6 * 6 * 6 + kGreyCount == kPaletteSize, "the cube and the greys fill the palette");

// All greys in order of level, the cube's own included: t = 9 k + j is the j-th of the gap above
// cube level k, so its level is 51 k + round(51 j / 9) = round(17 t / 3).
constexpr int kGreyLevels = 46;
constexpr int GreyLevel(int t) {
  return (34 * t + 3) / 6;
}
constexpr int GreyIndex(int t) {
  // A cube grey is 36 k + 6 k + k; the others follow the cube, eight a gap: 216 + 8 k + j - 1.
  return t % 9 == 0 ? 43 * (t / 9) : 215 + t - t / 9;
}
static_assert(GreyLevel(kGreyLevels - 1) == 255 && GreyIndex(kGreyLevels - 1) == 215);

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
    int levels[kGreyLevels], indices[kGreyLevels], n = 0;
    for (int t = 0; t < kGreyLevels; ++t, ++n) {
      levels[n] = GreyLevel(t);
      indices[n] = GreyIndex(t);
      const auto level = static_cast<std::uint8_t>(levels[n]);
      Entries[indices[n]] = TRGBQuad{level, level, level, 0};
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

#if defined(__SSE2__)

namespace {

// Divisions by constants as a multiply and a 16-bit shift (_mm_mulhi_epu16), each checked over
// every dividend it can meet.
constexpr int kBy51Mul = 1286;  // x / 51: a channel's cube level; the nearest grey's group
constexpr int kBy9Mul = 7282;   // t / 9: the cube level below grey t
constexpr bool DividesExactly(int mul, int divisor, int maxDividend) {
  for (int n = 0; n <= maxDividend; ++n) {
    if ((n * mul) >> 16 != n / divisor) return false;
  }
  return true;
}
static_assert(DividesExactly(kBy51Mul, 51, 3 * 255));
constexpr bool StepsMatch() {  // the cube level nearest v as NearestIndex finds it
  for (int v = 0; v < 256; ++v) {
    if (((v + 25) * kBy51Mul) >> 16 != (2 * v + 51) / 102) return false;
  }
  return true;
}
static_assert(StepsMatch());
static_assert(DividesExactly(kBy9Mul, 9, kGreyLevels));

// Three times each squared distance, so that the distance to a grey needs no division:
// 3 |c - L|^2 = (r-g)^2 + (g-b)^2 + (b-r)^2 + (r+g+b - 3L)^2. Summed in 32 bits and narrowed
// with saturation at 32767, which is still more than three times any cube distance (at most
// 3 * 3 * 25^2), so the cube wins as it would have.
static_assert(32767 > 3 * 3 * 25 * 25);

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

inline __m128i Square(__m128i v) {
  return _mm_mullo_epi16(v, v);
}

// a^2 + b^2 + c^2 + d^2 for each 16-bit lane, saturated to 16 bits.
inline __m128i SumOfSquares(__m128i a, __m128i b, __m128i c, __m128i d) {
  const auto pairs = [](__m128i x, __m128i y) {
    const __m128i lo = _mm_unpacklo_epi16(x, y), hi = _mm_unpackhi_epi16(x, y);
    return std::pair{_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)};
  };
  const auto [abLo, abHi] = pairs(a, b);
  const auto [cdLo, cdHi] = pairs(c, d);
  return _mm_packs_epi32(_mm_add_epi32(abLo, cdLo), _mm_add_epi32(abHi, cdHi));
}

// Eight candidates, one per 16-bit lane: palette indices and three times their squared
// distances from the colours.
struct TCandidates8 {
  __m128i Index, Distance3;
};

[[gnu::always_inline]] inline TCandidates8 NearestCube8(__m128i r, __m128i g, __m128i b) {
  const __m128i c51 = _mm_set1_epi16(51);
  const auto step = [&](__m128i v) {
    return _mm_mulhi_epu16(_mm_add_epi16(v, _mm_set1_epi16(25)), _mm_set1_epi16(kBy51Mul));
  };
  const __m128i sr = step(r), sg = step(g), sb = step(b);
  const __m128i index = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(sr, _mm_set1_epi16(36)),
                                                    _mm_mullo_epi16(sg, _mm_set1_epi16(6))),
                                      sb);
  const __m128i error =
      _mm_add_epi16(_mm_add_epi16(Square(_mm_sub_epi16(_mm_mullo_epi16(sr, c51), r)),
                                  Square(_mm_sub_epi16(_mm_mullo_epi16(sg, c51), g))),
                    Square(_mm_sub_epi16(_mm_mullo_epi16(sb, c51), b)));
  return {index, _mm_add_epi16(error, _mm_add_epi16(error, error))};
}

// The nearest grey is the one nearest the mean. Three times the grey levels repeat every 51 sums
// (0, 18, 33, then 51 begins the next three), so the grey t, and the sum's distance from three
// times its level, follow from sum / 51 and the remainder's place among the midpoints 9, 25.5
// and 42. On a tie at a midpoint this takes the lower t, which is the lower index except where
// the upper is a cube grey: there the cube gives that same entry anyway (Nearest8).
[[gnu::always_inline]] inline TCandidates8 NearestGrey8(__m128i r, __m128i g, __m128i b) {
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(r, g), b);
  const __m128i q = _mm_mulhi_epu16(sum, _mm_set1_epi16(kBy51Mul));
  const __m128i rem = _mm_sub_epi16(sum, _mm_mullo_epi16(q, _mm_set1_epi16(51)));
  const __m128i above9 = _mm_cmpgt_epi16(rem, _mm_set1_epi16(9));
  const __m128i above25 = _mm_cmpgt_epi16(rem, _mm_set1_epi16(25));
  const __m128i above42 = _mm_cmpgt_epi16(rem, _mm_set1_epi16(42));
  const __m128i t = _mm_sub_epi16(_mm_add_epi16(q, _mm_add_epi16(q, q)),
                                  _mm_add_epi16(_mm_add_epi16(above9, above25), above42));
  const __m128i off =
      _mm_sub_epi16(rem, _mm_add_epi16(_mm_add_epi16(_mm_and_si128(above9, _mm_set1_epi16(18)),
                                                     _mm_and_si128(above25, _mm_set1_epi16(15))),
                                       _mm_and_si128(above42, _mm_set1_epi16(18))));
  // GreyIndex(t) for a grey between cube levels; a cube grey never comes nearer than the cube's
  // nearest entry, so its own index is never wanted.
  const __m128i index = _mm_sub_epi16(_mm_add_epi16(t, _mm_set1_epi16(215)),
                                      _mm_mulhi_epu16(t, _mm_set1_epi16(kBy9Mul)));
  return {index, SumOfSquares(_mm_sub_epi16(r, g), _mm_sub_epi16(g, b), _mm_sub_epi16(b, r), off)};
}

// NearestIndex of eight colours at once, one per 16-bit lane: the same answers.
[[gnu::always_inline]] inline __m128i Nearest8(__m128i r, __m128i g, __m128i b) {
  const TCandidates8 cube = NearestCube8(r, g, b), grey = NearestGrey8(r, g, b);
  // On a tie the cube: a grey between cube levels has a higher index than every cube entry, and
  // a cube grey as near as the cube's nearest is that entry, as each channel's nearest level is
  // unique (the levels are an odd 51 apart).
  return Select(_mm_cmplt_epi16(grey.Distance3, cube.Distance3), grey.Index, cube.Index);
}

// Eight pixels (two vectors of four, the fourth bytes cleared) to eight indices in 16-bit lanes.
[[gnu::always_inline]] inline __m128i Map8(__m128i lo, __m128i hi) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i red = _mm_packs_epi32(_mm_srli_epi32(lo, 16), _mm_srli_epi32(hi, 16));
  const __m128i green = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(lo, 8), byte),
                                        _mm_and_si128(_mm_srli_epi32(hi, 8), byte));
  const __m128i blue = _mm_packs_epi32(_mm_and_si128(lo, byte), _mm_and_si128(hi, byte));
  return Nearest8(red, green, blue);
}

// Maps whole groups of sixteen pixels; returns how many pixels it mapped, with the colour and
// index of the last of them.
std::size_t MapGroups(const std::uint8_t* bgrx, std::uint8_t* indices, std::size_t count,
                      std::uint32_t& last, std::uint8_t& lastIndex) {
  const __m128i rgb = _mm_set1_epi32(0xFFFFFF);
  const auto load = [&](const std::uint8_t* at) {
    return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), rgb);
  };
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16, bgrx += 64) {
    const __m128i p0 = load(bgrx), p1 = load(bgrx + 16), p2 = load(bgrx + 32), p3 = load(bgrx + 48);
    // A run of one colour costs one comparison, and no mapping when it goes on from the last.
    const std::uint32_t colour = static_cast<std::uint32_t>(_mm_cvtsi128_si32(p0));
    const __m128i same = _mm_set1_epi32(static_cast<int>(colour));
    const __m128i equal =
        _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi32(p0, same), _mm_cmpeq_epi32(p1, same)),
                      _mm_and_si128(_mm_cmpeq_epi32(p2, same), _mm_cmpeq_epi32(p3, same)));
    if (_mm_movemask_epi8(equal) == 0xFFFF) {
      if (colour != last) {
        last = colour;
        lastIndex = NearestIndex(bgrx[2], bgrx[1], bgrx[0]);
      }
      std::memset(indices + i, lastIndex, 16);
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(indices + i),
                     _mm_packus_epi16(Map8(p0, p1), Map8(p2, p3)));
    last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(p3, 12)));
    lastIndex = indices[i + 15];
  }
  return i;
}

}  // namespace

#endif

void MapRow(const std::uint8_t* bgrx, std::uint8_t* indices, std::size_t count) {
  // Screens are mostly runs of one colour: remember the last pixel's answer.
  std::uint32_t last = 0;
  std::uint8_t lastIndex = NearestIndex(0, 0, 0);
  std::size_t i = 0;
#if defined(__SSE2__)
  i = MapGroups(bgrx, indices, count, last, lastIndex);
#endif
  for (bgrx += 4 * i; i < count; ++i, bgrx += 4) {
    // Composed in registers: copying three bytes into a word stalled every pixel on the load
    // that had to wait for the partial stores.
    const std::uint32_t v = bgrx[0] | bgrx[1] << 8 | static_cast<std::uint32_t>(bgrx[2]) << 16;
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
