// Text helpers shared by the ID3 readers (internal to the media library).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestrova::id3 {

// ISO-8859-1 bytes as UTF-8.
inline std::string Latin1ToUTF8(std::span<const std::uint8_t> bytes) {
  std::string s;
  for (std::uint8_t c : bytes) {
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else {
      s += static_cast<char>(0xC0 | c >> 6);
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
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
  auto unit = [&](std::size_t at) -> std::uint32_t {
    return little ? bytes[at] | bytes[at + 1] << 8 : bytes[at] << 8 | bytes[at + 1];
  };
  std::string s;
  for (; i + 1 < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = '?';
    }
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else if (c < 0x800) {
      s += static_cast<char>(0xC0 | c >> 6);
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += static_cast<char>(0xE0 | c >> 12);
      s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | c >> 18);
      s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s;
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
