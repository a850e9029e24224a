// The recording's sound laid on the recording's clock: sample n belongs to the time n / rate
// seconds after the first frame, pauses left out. What a source hands over is placed by the time
// it says its last sample was captured; gaps become silence, sound for a time already filled is
// dropped, and a sound card whose clock runs apart from the recording's is pulled back by
// repeating or dropping a few samples. Frames of the movie then take their samples by number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace kestrova {

class TSoundTimeline {
 public:
  // maxHeldMs bounds the sound held for frames not yet written: beyond it the oldest goes.
  TSoundTimeline(std::int32_t rate, std::int32_t channels, std::uint32_t maxHeldMs = 10000);

  // Places frames sample frames (interleaved) whose last was captured endMs after the first
  // frame's time (negative: before it; such samples are dropped).
  void Place(const std::int16_t* samples, std::size_t frames, double endMs);
  // Appends to out the sample frames [from, to), silence where there are none, and forgets what
  // comes before to; sound arriving later for that time is dropped. from is at least the end of
  // the last Take.
  void Take(std::uint64_t from, std::uint64_t to, std::vector<std::int16_t>& out);
  // The sample frame after the last placed or taken.
  std::uint64_t End() const { return FEnd; }

  // What the placing did, in sample frames, for the diagnostics and the benchmark.
  struct TStats {
    std::uint64_t SilenceAdded = 0;  // gaps filled (a source that stalled or started late)
    std::uint64_t Dropped = 0;       // sound for time already filled or given up
    std::uint64_t Stretched = 0;     // frames repeated or dropped to follow the clock
    std::int64_t LastError = 0;      // where the last piece was due against where it went
  };
  const TStats& Stats() const { return FStats; }

  // Within this many ms the sound is taken as in step; up to kStretchMs off it is pulled back by
  // stretching the piece; beyond, silence fills the gap or the overlap is dropped.
  static constexpr double kToleranceMs = 3;
  static constexpr double kStretchMs = 20;

 private:
  void Append(const std::int16_t* samples, std::size_t frames);
  void AppendSilence(std::uint64_t frames);
  void Bound();

  std::int32_t FRate, FChannels;
  std::uint64_t FMaxHeld;
  std::deque<std::int16_t> FHeld;  // sample frames [FBase, FEnd)
  std::uint64_t FBase = 0, FEnd = 0;
  TStats FStats;
};

}  // namespace kestrova
