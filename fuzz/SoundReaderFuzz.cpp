// Feeds arbitrary bytes to the sound readers: as a WAV file and as an MP3 file (which runs the
// ID3v1, ID3v2 and MPEG audio readers). They never throw for content; the audio data they
// report must lie within the file.
#include <cstddef>
#include <cstdint>

#include "media/SoundReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  for (const TSoundKind kind : {TSoundKind::Wave, TSoundKind::MP3}) {
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    TWaveReader w;
    w.ReadFromStream(in, kind);
    if (std::uint64_t{w.DataOffset} + w.DataSize > size) __builtin_trap();
    if (w.Duration < 0 || w.Duration != w.Duration) __builtin_trap();
  }
  return 0;
}
