// The one fixed 256-colour palette of every 8-bit grab (a 6x6x6 colour cube and 40 greys between
// the cube's greys), with a fast exact nearest-colour mapping. Backends without a palette of
// their own map their pixels through it; the recorder and the tests read pictures back with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "media/DIBitmap.h"

namespace kestrova::platform {

inline constexpr int kPaletteSize = 256;

// Entries 0..215: the cube, index 36 r + 6 g + b over the levels 0, 51, 102, 153, 204, 255.
// Entries 216..255: greys, eight inside each gap between two cube levels.
const std::array<TRGBQuad, kPaletteSize>& FixedPalette();

// The entry nearest to the colour (least squared distance over red, green and blue; on a tie the
// lower index). Exact, and cheap: a few table look-ups and two distances.
std::uint8_t NearestIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Maps count pixels of blue-green-red-x bytes (32 bits each) to palette indices: each the
// NearestIndex of its pixel, the fourth byte ignored. Fast on runs of one colour and, on x86-64,
// sixteen pixels at a time on any content.
void MapRow(const std::uint8_t* bgrx, std::uint8_t* indices, std::size_t count);

// Gives the bitmap the fixed palette (256 entries).
void SetFixedPalette(TDIBitmap& bitmap);

}  // namespace kestrova::platform
