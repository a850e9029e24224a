// Plays up to kFrames frames of the input with the project's player, drawing every other one, as
// `frames` and `export` do. The player's documented failures (EPlayerError, EStreamError) are an
// answer; anything else is a finding. Stages larger than kMaxPixels are left out: drawing them
// is slow, not wrong, and would only make fuzzing crawl.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "player/Player.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/ZStream.h"

namespace {

constexpr int kFrames = 40;
constexpr double kMaxPixels = 256.0 * 256.0;

// The stage the header claims, in pixels; 0 when the header cannot be read.
double StagePixels(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  try {
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    TSWFStreamReader header;
    if (!header.CheckHeader(in)) return 0;
    in.SetPosition(0);
    header.ReadHeader(in, 1);
    if (header.Compressed()) {
      TZDecompressionStream z(in);
      header.ReadHeader(z, 2);
    } else {
      header.ReadHeader(in, 2);
    }
    const TRect& f = header.FrameSize;
    return ((double(f.Right) - f.Left) / 20.0) * ((double(f.Bottom) - f.Top) / 20.0);
  } catch (const EStreamError&) {
    return 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  if (StagePixels(data, size) > kMaxPixels) return 0;
  try {
    TMoviePlayer player(
        std::make_unique<TMemoryStream>(std::vector<std::uint8_t>(data, data + size)));
    for (int frame = 1; frame <= kFrames; ++frame) {
      if (!(frame % 2 == 1 ? player.NextFrame() : player.SkipFrame())) break;
    }
    player.Draw();
    // Whatever the movie held, the pixels stay opaque.
    const std::uint8_t* pixels = player.Pixels();
    const std::size_t count = std::size_t(player.Width()) * std::size_t(player.Height());
    for (std::size_t i = 0; i < count; ++i) {
      if (pixels[4 * i + 3] != 255) std::abort();
    }
  } catch (const EPlayerError&) {
  } catch (const EStreamError&) {
  }
  return 0;
}
