// What every real sound source does between the device and TSoundSource::Read, kept free of any
// sound API so that it can be tested without a server: converting a device's samples to the
// recording's format, mixing several capture streams on one timeline, and the bounded buffer
// between the capture thread and the recorder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace kestrova::platform {

// The TClock tick (milliseconds, wrapping at 2^32) of a time on the monotonic clock given in
// microseconds; a monotonic TClock counts the same milliseconds truncated to 32 bits.
constexpr std::uint32_t TickOfMicros(std::int64_t micros) {
  const std::int64_t ms = micros >= 0 ? micros / 1000 : -((-micros + 999) / 1000);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

// Dates the frames of one capture stream on the monotonic clock from when they arrive and the
// latency the server reports. Both are noisy: a fragment is handed over some time after its last
// frame was captured (never before), and a server's latency report can jump (PulseAudio's
// interpolation drifts by tens of milliseconds on a resampled stream). So each is taken at its
// least over a sliding window: the earliest arrival a frame count allows and the smallest latency
// reported, never below zero. The window is short enough to follow the device's clock drift (5 ms
// behind at a drift of 0.1%) and long enough to ride out a server that stalls for seconds.
class TCaptureClock {
 public:
  // Throws std::invalid_argument for a rate that is not positive.
  explicit TCaptureClock(std::int32_t rate, std::int64_t windowMicros = 5000000);
  // frames more frames arrived at nowMicros, with latencyMicros reported still behind the last of
  // them. Returns the capture time of that last frame.
  std::int64_t Arrived(std::size_t frames, std::int64_t nowMicros, std::int64_t latencyMicros);

 private:
  struct TSample {
    std::int64_t At, Value;
  };
  // A sliding minimum: values kept increasing, the oldest dropped as the window passes.
  static void Add(std::vector<TSample>& q, std::size_t& head, TSample s, std::int64_t window);

  std::int32_t FRate;
  std::int64_t FWindow;
  std::uint64_t FFrames = 0;
  std::vector<TSample> FArrivals, FLatencies;
  std::size_t FArrivalHead = 0, FLatencyHead = 0;
};

// The sample layouts devices hand over.
enum class TSampleType { Int16, Int32, Float32 };

struct TDeviceFormat {
  std::int32_t Rate = 48000;
  std::int32_t Channels = 2;  // the first two are left and right
  TSampleType Type = TSampleType::Float32;
};

// Turns a device's samples into 16-bit samples of the recording's rate and channels: floats are
// clipped, a mono recording takes the mean of left and right, a stereo one from a mono device
// repeats it, and the rate is changed by linear interpolation that carries its phase from one
// call to the next, so packet boundaries leave no mark.
class TSoundConverter {
 public:
  // Throws std::invalid_argument for a format with no channels, more than 32 or a rate outside
  // 1000..768000.
  TSoundConverter(const TDeviceFormat& from, const TSoundFormat& to);
  // Appends the converted frames of count device frames at data (nullptr: that much silence).
  // Returns the number of frames appended.
  std::size_t Convert(const void* data, std::size_t count, std::vector<std::int16_t>& out);
  const TDeviceFormat& From() const { return FFrom; }
  const TSoundFormat& To() const { return FTo; }

 private:
  void ReadFrame(const void* data, std::size_t index, std::int32_t frame[2]) const;

  TDeviceFormat FFrom;
  TSoundFormat FTo;
  // Resampling: the position of the next output frame between FPrev (0) and the next input
  // frame (1), in 1/FTo.Rate steps of FFrom.Rate.
  std::int64_t FPhase = 0;
  std::int32_t FPrev[2] = {0, 0};
  bool FHavePrev = false;
};

// The capture streams of one recording (the microphone, the output's monitor) put on one timeline
// by their capture times and mixed sample by sample with clipping, then kept in a bounded buffer
// until the recorder reads them. Times are microseconds of the monotonic clock. Not thread-safe:
// the owner locks.
//
// A stream that delivers late is waited for up to the lag limit; beyond it the others go on and
// it counts as silent, and what it delivers afterwards for a time already mixed is dropped.
// With resynchronisation, a stream whose data arrives farther than resyncMicros from where its
// previous data ended (a dropout, a device that stalled) is put back where its capture time says,
// with silence in the gap or the overlap dropped. A single stream is never moved: the recorder
// corrects its drift by the end ticks.
class TSoundMixer {
 public:
  struct TLimits {
    std::size_t CapacityFrames = 0;  // the buffer the recorder reads; the oldest go beyond it
    std::int64_t LagMicros = 300000;
    std::int64_t ResyncMicros = 100000;  // 0: never
  };
  // Throws std::invalid_argument for no streams, a format that is not 1 or 2 channels at a
  // positive rate, or no capacity.
  TSoundMixer(std::size_t streams, const TSoundFormat& format, const TLimits& limits);

  // frames frames of stream (interleaved, in the mixer's format; nullptr: silence, a hole the
  // server reported), the last of which was captured at lastMicros.
  void Push(std::size_t stream, const std::int16_t* samples, std::size_t frames,
            std::int64_t lastMicros);
  // The stream delivers no more (it failed): the others no longer wait for it.
  void EndStream(std::size_t stream);
  // Appends every mixed frame not yet taken; EndTick is the capture tick of the last of them.
  TSoundRead Take(std::vector<std::int16_t>& out);

  // Frames lost because nobody took them before the buffer was full, since construction.
  std::uint64_t DroppedFrames() const { return FDropped; }
  std::size_t BufferedFrames() const { return FOut.size() / FChannels; }

 private:
  struct TStream {
    std::vector<std::int16_t> Fifo;  // starts at FOutFrame
    std::int64_t EndFrame = 0;       // the timeline frame after the last one held
    bool Started = false;
    bool Ended = false;
  };
  std::int64_t FramesOfMicros(std::int64_t micros) const;
  void AppendSilence(TStream& s, std::int64_t frames);
  void HoldBackLaggards();
  void Mix();
  void Keep(const std::int16_t* samples, std::size_t frames);

  std::vector<TStream> FStreams;
  std::size_t FChannels;
  std::int32_t FRate;
  TLimits FLimits;
  bool FHaveOrigin = false;
  std::int64_t FOriginMicros = 0;  // the capture time of timeline frame 0
  std::int64_t FOutFrame = 0;      // the timeline frame after the last one mixed
  // The latest capture time a stream reported, for the timeline frame it belongs to: the end
  // tick follows the capture clock, not the sample count, so the recorder sees the drift.
  std::int64_t FLastMicros = 0;
  std::int64_t FLastFrame = 0;
  std::vector<std::int16_t> FOut;  // mixed, not yet taken
  std::uint64_t FDropped = 0;
};

}  // namespace kestrova::platform
