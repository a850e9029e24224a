// Helpers of the media tests: fixture paths and bytes, little BMP and RIFF builders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "swftools/Stream.h"

namespace kestrova::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string MediaFixture(const std::string& name) {
  return std::string(KESTROVA_TEST_DATA) + "/media/" + name;
}

inline Bytes FixtureBytes(const std::string& name) {
  return ReadFileBytes(MediaFixture(name));
}

inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

inline void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP file with a 40-byte info header: the table (colours or masks) and pixel bytes follow it.
inline Bytes MakeBMP(std::int32_t width, std::int32_t height, std::uint16_t bits,
                     std::uint32_t compression, const Bytes& table, const Bytes& pixels) {
  Bytes b{'B', 'M'};
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(table.size());
  Put32(b, offset + static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1);
  Put16(b, bits);
  Put32(b, compression);
  Put32(b, static_cast<std::uint32_t>(pixels.size()));
  for (int i = 0; i < 4; ++i) Put32(b, 0);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// A grey ramp colour table of n entries.
inline Bytes GreyTable(int n) {
  Bytes t;
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    t.insert(t.end(), {v, v, v, 0});
  }
  return t;
}

}  // namespace kestrova::test
