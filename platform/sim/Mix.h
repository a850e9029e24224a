// A small integer mixing hash: scripted desktops (the simulated one, the benchmark's X client)
// draw their text and grain from it, so the same script paints the same pictures everywhere.
#pragma once

#include <cstdint>

namespace kestrova::platform::sim {

constexpr std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace kestrova::platform::sim
