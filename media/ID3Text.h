// Text helpers shared by the ID3 readers (internal to the media library).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "swftools/Text.h"

namespace kestrova::id3 {

// ISO-8859-1 bytes as UTF-8.
inline std::string Latin1ToUTF8(std::span<const std::uint8_t> bytes) {
  std::string s;
  for (std::uint8_t c : bytes) AppendUtf8(s, c);
  return s;
}

// UTF-16 (byte order from its mark, big-endian without one) as UTF-8. Stops at a zero unit;
// lone surrogates become '?'.
inline std::string UTF16ToUTF8(std::span<const std::uint8_t> bytes) {
  bool little = false;
  std::size_t i = 0;
  if (bytes.size() >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    little = bytes[0] == 0xFF;
    i = 2;
  }
  std::u16string units;
  for (; i + 1 < bytes.size(); i += 2) {
    const auto unit =
        static_cast<char16_t>(little ? bytes[i] | bytes[i + 1] << 8 : bytes[i] << 8 | bytes[i + 1]);
    if (unit == 0) break;
    units += unit;
  }
  return Utf16ToUtf8(units, '?');
}

// Without leading and trailing blanks and control characters.
inline std::string Trim(const std::string& s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t a = 0, b = s.size();
  while (a < b && blank(s[a])) ++a;
  while (b > a && blank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// Without trailing ones only.
inline std::string TrimRight(const std::string& s) {
  std::size_t b = s.size();
  while (b > 0 && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(0, b);
}

}  // namespace kestrova::id3
