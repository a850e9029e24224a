// The movie's sound as one track: event sounds started on the main timeline and its stream sound,
// decoded and mixed at the frames they belong to, written as raw 16-bit little-endian stereo at
// kMixRate, the way ffmpeg reads "-f s16le -ac 2 -ar 44100".
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/MediaBudget.h"
#include "player/Player.h"
#include "player/SoundDecoder.h"

namespace kestrova {

class TSoundTrack : public TSoundListener {
 public:
  // Writes to out (not owned) the sound of a movie playing at fps frames a second.
  TSoundTrack(double fps, std::FILE* out);
  ~TSoundTrack() override;

  void SoundTag(const TSWFObject& tag, int frame) override;
  // Mixes and writes the track up to the start of the frame (frames counted from 0), so that a
  // movie of n frames gives a track of n frames' length. Called after each frame is run, it keeps
  // what is held in memory to the sounds playing. Throws EPlayerError when the file
  // cannot be written.
  void MixTo(int frame);

  // Whether any sound was started; a track without is silence and needs no writing.
  bool HasSound() const { return FHasSound; }
  // What could not be played (a format not decoded, damaged data), each kind said once.
  const std::vector<std::string>& Notes() const { return FNotes; }

 private:
  struct TDecoded {
    std::vector<std::int16_t> Samples;  // interleaved stereo at kMixRate
    TBudgetClaim Claim;
  };
  struct TVoice {
    std::uint16_t Id = 0;
    std::shared_ptr<const TDecoded> Sound;
    std::size_t Begin = 0, End = 0, At = 0;  // in frames of the decoded sound
    int LoopsLeft = 0;
    std::uint64_t StartSample = 0;  // the voice is silent until then
  };

  std::uint64_t SampleOf(int frame) const;
  void Define(const TSWFObject& tag);
  void Start(const TSWFObject& tag, int frame);
  void StreamHead(const TSWFObject& tag);
  void StreamBlock(const TSWFObject& tag, int frame);
  void Note(const std::string& text);

  double FFps;
  std::FILE* FOut;
  std::uint64_t FNow = 0;  // sample frames written
  bool FHasSound = false;
  std::map<std::uint16_t, std::shared_ptr<const TDecoded>> FSounds;
  std::vector<TVoice> FVoices;
  // The stream sound: decoded samples waiting to be mixed, the first of them at FStreamAt.
  std::unique_ptr<TSoundDecoder> FStream;
  TSoundCoding FStreamCoding;
  std::vector<std::int16_t> FStreamSamples;
  std::uint64_t FStreamAt = 0;
  std::uint64_t FStreamSkip = 0;  // decoded samples still to skip at the stream's start
  bool FStreamStarted = false;    // a block came since the head
  int FStreamRate = kMixRate;
  std::vector<std::string> FNotes;
};

}  // namespace kestrova
