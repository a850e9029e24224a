// A recording's sound from its source to the movie: read every turn of the capture loop, laid
// on the recording's clock (SoundTimeline.h), coded a movie frame at a time (SoundEncoder.h) and
// put into each segment as a stream: a SoundStreamHead2 first, then one SoundStreamBlock before
// every ShowFrame.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "recorder/SegmentMovie.h"
#include "recorder/SoundEncoder.h"
#include "recorder/SoundTimeline.h"

namespace kestrova {

class TSoundRecording {
 public:
  static constexpr int kFramesPerSecond = 12;

  // source (not owned) is open already and outlives this.
  TSoundRecording(platform::TSoundSource& source, std::unique_ptr<TSoundEncoder> encoder);

  // Reads what the source captured and lays it on the recording's clock: a tick t is
  // (t - originTick) - excludedMs ms into the recording.
  void Read(std::uint32_t originTick, std::uint32_t excludedMs);
  // Reads what the source captured and lets it go (before the first frame, while paused).
  void Discard();
  // The block of the next movie frame (frames counted from the recording's first), coded;
  // final: the recording's last frame, which also takes what the coder holds back.
  std::unique_ptr<TSWFObject> NextBlock(bool final);
  std::unique_ptr<TSWFObject> Head() const;
  // The first sample frame of movie frame k.
  std::uint64_t FrameStart(std::uint64_t k) const;

  std::uint64_t FramesCoded() const { return FNextFrame; }
  const TSoundTimeline& Timeline() const { return FTimeline; }
  const TSoundEncoder& Encoder() const { return *FEncoder; }

 private:
  platform::TSoundSource& FSource;
  std::unique_ptr<TSoundEncoder> FEncoder;
  TSoundTimeline FTimeline;
  std::vector<std::int16_t> FRead, FFrame;
  std::uint64_t FNextFrame = 0;
};

// A segment's movie with the recording's sound. The blocks of the frames a ShowFrame closes are
// coded when the next turn of the loop first touches the movie: by then the source has handed
// over the sound of those frames' time, which at the ShowFrame itself was still in its buffers.
class TSoundSegmentMovie : public TForwardingSegmentMovie {
 public:
  // sound (not owned) outlives the movie; onFailure hears a failed write before it is thrown on.
  TSoundSegmentMovie(std::unique_ptr<TSegmentMovie> movie, TSoundRecording& sound,
                     std::function<void(const std::string&)> onFailure);

  std::uint32_t AddPicture(const TDIBitmap& picture) override;
  void SetBusy(bool busy) override;
  void RemoveObject(std::uint16_t depth) override;
  void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                   std::int32_t y) override;
  void ShowFrame(std::uint16_t count) override;
  std::uint16_t CalcFrameCount() override;
  void SaveToFile(const std::string& fileName) override;
  // Closes the frames still waiting for their sound (final: the recording ends with them).
  // Throws what the movie throws.
  void Close(bool final);

 private:
  void Catch(bool final = false);

  TSoundRecording& FSound;
  std::function<void(const std::string&)> FOnFailure;
  bool FHeadWritten = false;
  std::uint32_t FWaiting = 0;  // frames closed by ShowFrame whose blocks are not written yet
};

}  // namespace kestrova
