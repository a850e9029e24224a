// Feeds arbitrary bytes to the sound readers: as a WAV file and as an MP3 file (which runs the
// ID3v1, ID3v2 and MPEG audio readers). Content they cannot take is refused with EMediaError
// (EStreamError for a read past the end); what they accept must describe audio data within the
// file and a duration the frames or samples present could give.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "media/SoundReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  for (const TSoundKind kind : {TSoundKind::Wave, TSoundKind::MP3}) {
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    TWaveReader w;
    try {
      w.ReadFromStream(in, kind);
    } catch (const EMediaError&) {
      continue;
    } catch (const EStreamError&) {
      continue;
    }
    if (std::uint64_t{w.DataOffset} + w.DataSize > size) __builtin_trap();
    if (!std::isfinite(w.Duration) || w.Duration < 0) __builtin_trap();
    // Audio frames hold at least 384 samples in 4 bytes or more: no file holds more frames
    // than a quarter of its bytes.
    if (w.MPEG.Frame.Found && w.FrameCount > size / 4 + 1) __builtin_trap();
    if (w.MPEG.Frame.Found && w.SampleCount > static_cast<std::int64_t>(size) * 1152)
      __builtin_trap();
  }
  return 0;
}
