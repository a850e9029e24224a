// Feeds arbitrary bytes to the JPEG size scan: it must answer, never throw or read past the end.
#include <cstddef>
#include <cstdint>

#include "media/ImageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int32_t width = -1, height = -1;
  const bool found =
      kestrova::GetJPEGSize(std::span<const std::uint8_t>(data, size), width, height);
  if (!found && (width != -1 || height != -1)) __builtin_trap();
  return 0;
}
