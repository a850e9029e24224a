// A device-independent bitmap in memory: what a screen grab fills and what image files load into.
// Grabs, the BMP reader and the movie builder's images all pass pictures around as this value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrova {

// One colour table entry in the order BMP files store it.
struct TRGBQuad {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  std::uint8_t Reserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

struct TDIBitmap {
  std::int32_t Width = 0;
  // Positive: row 0 is the bottom row of the picture, as BMP files store them. Negative:
  // top-down. The row count is the absolute value.
  std::int32_t Height = 0;
  std::uint16_t BitCount = 0;     // 1, 4, 8, 16, 24 or 32
  std::uint32_t Compression = 0;  // 0 plain; 3 bit fields (16 and 32 bits, masks below)
  std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;
  std::vector<TRGBQuad> Palette;   // up to 256 entries, for 8 bits per pixel or fewer
  std::int32_t BytesPerLine = 0;   // row stride: the row's bits rounded up to 32
  std::vector<std::uint8_t> Bits;  // Rows() rows of BytesPerLine bytes

  std::int32_t Rows() const { return Height < 0 ? -Height : Height; }
  bool Empty() const { return Width <= 0 || Height == 0 || Bits.empty(); }
  std::uint8_t* Scanline(std::int32_t row) {
    return Bits.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(BytesPerLine);
  }
  const std::uint8_t* Scanline(std::int32_t row) const {
    return Bits.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(BytesPerLine);
  }

  // Largest width or row count accepted, and largest pixel buffer (bytes): a claimed size
  // beyond these is refused before anything is allocated.
  static constexpr std::int32_t kMaxDimension = 32768;
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

  // The stride of a row: its bits rounded up to a multiple of 32, in bytes. Throws
  // std::invalid_argument for a width or bit count out of range.
  static std::int32_t StrideFor(std::int32_t width, std::uint16_t bitCount);

  // Sets the format and allocates zeroed rows; the palette is left as it is. Throws
  // std::invalid_argument for sizes out of range (non-positive width, zero or too many rows,
  // an unknown bit count, more than kMaxBytes of pixels).
  void Allocate(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

  friend bool operator==(const TDIBitmap&, const TDIBitmap&) = default;
};

}  // namespace kestrova
