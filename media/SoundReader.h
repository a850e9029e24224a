// The format of a WAV or MP3 file: what writing it as SWF sound needs (encoding, channels, rate,
// sample size and count, where the audio data lies, and for MPEG audio the frame layout).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/MPEGaudio.h"
#include "media/MediaBudget.h"
#include "media/MediaError.h"
#include "swftools/Stream.h"

namespace kestrova {

// WAVE format codes.
inline constexpr std::int16_t kWaveFormatPCM = 1;
inline constexpr std::int16_t kWaveFormatADPCM = 2;
inline constexpr std::int16_t kWaveFormatMPEG = 80;
inline constexpr std::int16_t kWaveFormatMPEGLayer3 = 85;
// The format code given to a bare MP3 file.
inline constexpr std::int16_t kWaveFormatMP3File = 336;

enum class TSoundKind { None, Wave, MP3 };
// By the file's extension, upper-cased: ".WAV", ".MP3", or neither.
TSoundKind SoundKindOf(const std::string& fileName);

class TWaveReader {
 public:
  // Bytes of an over-long "fmt " chunk that are read.
  static constexpr std::uint32_t kMaxFmtBytes = 256;

  std::int16_t FormatTag = 0;  // kWaveFormat...
  std::uint16_t Channels = 0;
  std::uint32_t SamplesPerSec = 0;
  std::uint16_t BitsPerSample = 0;  // 16 for MPEG audio
  std::int64_t SampleCount = 0;     // per channel
  std::uint32_t FmtOffset = 0, FmtSize = 0;
  // The audio data: the "data" chunk's bytes, or a bare MP3 file's frames (without its tags).
  std::uint32_t DataOffset = 0, DataSize = 0;
  // MPEG audio only.
  std::uint16_t SamplesPerFrame = 0;
  std::uint16_t FrameSize = 0;  // bytes of the first frame
  std::uint32_t FrameCount = 0;
  std::uint16_t BitRate = 0;  // kbit/s
  double Duration = 0;        // seconds
  // MPEG audio only: the frame search, VBR header and ID3 tags behind the fields above.
  TMPEGaudio MPEG;
  // What the file lacks that its chunks claim: the "data" chunk cut short (the audio data above
  // is then what the file has). Empty when the file is complete.
  std::string Shortfall;
  // The budget ReadData counts the audio data against. Not owned.
  TMediaBudget* Budget = &TMediaBudget::Default();

  TWaveReader() = default;
  // Reads the format of a ".WAV" or ".MP3" file, chosen by the extension; any other extension
  // leaves every field 0. Throws EMediaError (its message names the file) for a file that is not
  // the sound its name says (not a RIFF WAVE form, a chunk past its form, no "fmt " or "data"
  // chunk, no MPEG audio frame), EStreamError when the file cannot be opened or read. Only the
  // headers are read, by seeking, whatever the file's size.
  explicit TWaveReader(const std::string& fileName);

  // The same over a stream holding the whole file; the fields are reset first. Throws
  // EMediaError (without a file name) and EStreamError as the constructor does.
  void ReadFromStream(TStream& stream, TSoundKind kind);

  // The audio data (DataSize bytes at DataOffset) of the stream the format was read from, read
  // once. Its bytes are counted against Budget by claim, which the caller keeps while it holds
  // them. Throws EMediaError when they do not fit the budget or lie past the stream's end,
  // EStreamError when they cannot be read.
  std::vector<std::uint8_t> ReadData(TStream& stream, TBudgetClaim& claim) const;

 private:
  void ReadWave(TStream& stream);
  void ReadFormat(TStream& stream);
  void TakeMPEG(TStream& stream, std::int64_t offset, std::int64_t size);
};

}  // namespace kestrova
