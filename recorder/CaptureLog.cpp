#include "recorder/CaptureLog.h"

#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

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
#ifdef _WIN32
  std::FILE* f = std::fopen(fileName.c_str(), "ab");
  if (f == nullptr) return false;
  const bool written = std::fwrite(value.data(), 1, value.size(), f) == value.size();
  return std::fclose(f) == 0 && written;
#else
  // Never through a link: one planted under the log's name would have the log appended to its
  // target. Nor inherited by a program the recorder starts.
  const int fd =
      ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < value.size()) {
    const ssize_t n = ::write(fd, value.data() + done, value.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == value.size();
#endif
}

}  // namespace kestrova
