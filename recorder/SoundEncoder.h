// The coders of a recording's sound: each movie frame's samples become that frame's
// SoundStreamBlock, in MP3 (through libmp3lame, where the build found it), the movie format's
// own 4-bit ADPCM, or plain 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kestrova {

class TSWFSoundStreamHead2;
class TSWFSoundStreamBlock;

// How a recording's sound is coded in the movie.
enum class TSoundEncoding {
  Mp3,    // the default where the MP3 encoder is built in
  Adpcm,  // the movie format's own 4-bit ADPCM: always there
  Pcm,    // uncompressed, little-endian: for tests
};

// The sound a recording carries (none unless asked: then the platform's TSoundSource is used).
struct TSoundOptions {
  platform::TSoundInput Input = platform::TSoundInput::Off;
  platform::TSoundFormat Format;  // what the movie carries
  TSoundEncoding Coding = TSoundEncoding::Mp3;
  std::int32_t Mp3Kbps = 0;  // 0: a bit rate that suits Format
};

// Whether this build has the MP3 encoder (libmp3lame was found when it was configured).
bool Mp3EncoderBuiltIn();
// "mp3", "adpcm", "pcm".
const char* SoundEncodingName(TSoundEncoding coding);
// The MP3 bit rate used when none is asked: 32 kbit/s a channel at 22050 Hz, 64 at 44100.
std::int32_t DefaultMp3Kbps(const platform::TSoundFormat& format);
// The movie's rate code (0 5512, 1 11025, 2 22050, 3 44100 Hz); -1 for any other rate.
int SoundRateCode(std::int32_t rate);

// One coder for the whole recording: the stream goes on across segments, so that the join finds
// one continuous stream.
class TSoundEncoder {
 public:
  virtual ~TSoundEncoder() = default;
  // Codes one movie frame's samples (frames sample frames, interleaved when stereo) into a block.
  // final: the last frame of the recording, which also takes what the coder still holds.
  virtual std::unique_ptr<TSWFSoundStreamBlock> Encode(const std::int16_t* samples,
                                                       std::size_t frames, bool final) = 0;
  // The stream's head for a movie of fps frames a second.
  virtual std::unique_ptr<TSWFSoundStreamHead2> Head(double fps) const = 0;
  const platform::TSoundFormat& Format() const { return FFormat; }
  TSoundEncoding Coding() const { return FCoding; }

 protected:
  TSoundEncoder(TSoundEncoding coding, const platform::TSoundFormat& format)
      : FFormat(format), FCoding(coding) {}
  // The head's fields every coder shares.
  std::unique_ptr<TSWFSoundStreamHead2> BasicHead(std::uint8_t compression, double fps) const;

 private:
  platform::TSoundFormat FFormat;
  TSoundEncoding FCoding;
};

// Makes the coder asked for. Throws std::invalid_argument for a rate the movie cannot carry
// (not 5512, 11025, 22050 or 44100; MP3 also not 5512), a channel count other than 1 or 2 or a
// bit rate libmp3lame refuses, and std::runtime_error for MP3 in a build without it.
std::unique_ptr<TSoundEncoder> MakeSoundEncoder(const TSoundOptions& options);

// SWF's ADPCM with 4-bit codes: packets of up to 4096 sample frames, each opening with every
// channel's sample and step index. Appends the coded piece (its 2-bit code size first) to out.
// index holds each channel's step index, carried from one piece to the next so that a stream
// does not start over from the smallest step every frame.
void EncodeAdpcm4(const std::int16_t* samples, std::size_t frames, int channels,
                  std::vector<std::uint8_t>& out, int index[2]);

}  // namespace kestrova
