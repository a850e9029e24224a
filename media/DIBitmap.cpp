#include "media/DIBitmap.h"

#include <stdexcept>
#include <string>

namespace kestrova {

std::int32_t TDIBitmap::StrideFor(std::int32_t width, std::uint16_t bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      throw std::invalid_argument("unsupported bits per pixel: " + std::to_string(bitCount));
  }
  if (width <= 0 || width > kMaxDimension) {
    throw std::invalid_argument("bitmap width out of range: " + std::to_string(width));
  }
  const std::int64_t bits = static_cast<std::int64_t>(width) * bitCount;
  return static_cast<std::int32_t>((bits + 31) / 32 * 4);
}

void TDIBitmap::Allocate(std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
  const std::int32_t stride = StrideFor(width, bitCount);
  const std::int64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
  if (rows == 0 || rows > kMaxDimension) {
    throw std::invalid_argument("bitmap height out of range: " + std::to_string(height));
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(rows);
  if (bytes > kMaxBytes) {
    throw std::invalid_argument("bitmap of " + std::to_string(bytes) + " bytes is too large");
  }
  Width = width;
  Height = height;
  BitCount = bitCount;
  BytesPerLine = stride;
  Bits.assign(static_cast<std::size_t>(bytes), 0);
}

}  // namespace kestrova
