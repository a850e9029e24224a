// Feeds arbitrary bytes to the JPEG size scan and the completeness check: they must answer or
// refuse cleanly, never read past the end.
#include <cstddef>
#include <cstdint>

#include "media/ImageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int32_t width = -1, height = -1;
  const bool found =
      kestrova::GetJPEGSize(std::span<const std::uint8_t>(data, size), width, height);
  if (!found && (width != -1 || height != -1)) __builtin_trap();
  kestrova::TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
  try {
    kestrova::CheckJPEGComplete(in);
    // A whole file starts with the start-of-image marker and holds an end-of-image marker.
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) __builtin_trap();
  } catch (const kestrova::EMediaError&) {
  }
  return 0;
}
