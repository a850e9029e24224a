// Decodes the sound formats of SWF movies (uncompressed PCM, ADPCM, MP3) into 16-bit stereo at
// 44100 Hz, the rate the movie's sound is mixed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova {

inline constexpr int kMixRate = 44100;

// How a sound's data is coded, as DefineSound and SoundStreamHead say it.
struct TSoundCoding {
  std::uint8_t Format = 0;    // 0 raw, 1 ADPCM, 2 MP3, 3 raw little-endian; others are not decoded
  std::uint8_t RateCode = 3;  // 5512, 11025, 22050, 44100 Hz
  bool Bits16 = true;
  bool Stereo = false;
};

// Whether the format is one this build decodes (MP3 needs libmpg123).
bool SoundFormatDecoded(std::uint8_t format);

// Decodes one sound, piece by piece (a stream's blocks, or an event sound's data at once).
// Samples are appended to out as interleaved left/right pairs at kMixRate.
class TSoundDecoder {
 public:
  // Throws EPlayerError for a format that is not decoded.
  explicit TSoundDecoder(const TSoundCoding& coding);
  ~TSoundDecoder();
  TSoundDecoder(const TSoundDecoder&) = delete;
  TSoundDecoder& operator=(const TSoundDecoder&) = delete;

  // Decodes one piece. An ADPCM piece is whole (its own code size and packets); MP3 and PCM may
  // be cut anywhere. Throws EPlayerError when the data is damaged beyond decoding (what was
  // decoded before stays in out). Decoding stops once out holds maxOut samples, so data that
  // claims little and expands much cannot fill the memory.
  void Feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
            std::size_t maxOut = kDefaultMaxOut);

  // Ten minutes of the mix.
  static constexpr std::size_t kDefaultMaxOut = std::size_t(kMixRate) * 2 * 600;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace kestrova
