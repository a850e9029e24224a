#include "recorder/CaptureLog.h"

#include <cstdio>

namespace kestrova {

namespace {

void PutLength32(std::vector<std::uint8_t>& out, std::size_t n) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> EncodeLogValue(const std::string& text) {
  // Texts reach the recorder as UTF-8 already, so a byte of 128 or above means a character of
  // 128 or above, and the UTF-8 form is the text itself.
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 128;
  std::vector<std::uint8_t> out;
  if (!ascii) {
    out.push_back(20);
    PutLength32(out, text.size());
  } else if (text.size() <= 255) {
    out.push_back(6);
    out.push_back(static_cast<std::uint8_t>(text.size()));
  } else {
    out.push_back(12);
    PutLength32(out, text.size());
  }
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

bool WriteLog(const std::string& fileName, const std::string& text) {
  const std::vector<std::uint8_t> value = EncodeLogValue(text);
  std::FILE* f = std::fopen(fileName.c_str(), "ab");
  if (f == nullptr) return false;
  const bool written = std::fwrite(value.data(), 1, value.size(), f) == value.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace kestrova
