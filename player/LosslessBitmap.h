// Unpacks the pixel data of DefineBitsLossless and DefineBitsLossless2 into texels the renderer
// samples: every format (colour-mapped, 15-bit, 24/32-bit, with and without alpha).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrova {

// Texels in rows, top first; each is premultiplied RGBA packed as R | G << 8 | B << 16 | A << 24
// (the bytes R, G, B, A in memory order).
struct TTexture {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Texels;
  bool Opaque = true;  // every alpha is 255
};

// What a lossless bitmap tag says about its pixels.
struct TLosslessHeader {
  bool WithAlpha = false;  // DefineBitsLossless2
  std::uint8_t Format = 0;
  std::uint16_t Width = 0, Height = 0;
  std::uint8_t ColorTableSize = 0;  // colours minus 1, format 3 only
};

// The most texels one bitmap may unpack to (256 MB of texels).
inline constexpr std::uint64_t kMaxTexels = 64ull << 20;

// Inflates the zlib data and unpacks it. Throws EPlayerError saying what is wrong for a format
// that does not exist (or 15-bit with alpha), a bitmap above kMaxTexels, corrupt zlib data or
// data shorter than the pixels need. Palette indices past the table give transparent black
// (opaque black without alpha).
TTexture DecodeLossless(const TLosslessHeader& header, const std::uint8_t* data, std::size_t size);

// Inflates exactly want bytes of zlib data (the caller has bounded want). Throws EPlayerError
// when the data is corrupt or yields fewer.
std::vector<std::uint8_t> Inflate(const std::uint8_t* data, std::size_t size, std::uint64_t want);

// 5-bit colour channel to 8 bits, the full range kept (0 -> 0, 31 -> 255).
inline std::uint8_t Expand5(unsigned v) {
  return static_cast<std::uint8_t>((v * 255 + 15) / 31);
}

}  // namespace kestrova
