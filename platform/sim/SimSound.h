// The simulated desktop's sound: a tone of known frequency with silent markers at known virtual
// times, captured by a sound card whose clock may run apart from the desktop's and whose
// samples may reach the recorder late, so that a recording's sync can be measured exactly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace kestrova::platform::sim {

struct TSimToneSpec {
  double Frequency = 440;  // Hz
  std::int16_t Amplitude = 8000;
  // Silences: each from its virtual time (ms) for its length (ms).
  std::vector<std::pair<std::uint64_t, std::uint32_t>> Markers;
  // Not 0: each marker comes again every RepeatMs after its time.
  std::uint32_t RepeatMs = 0;
  // The sound card's clock against the desktop's, in millionths: 100 gives 100 samples more a
  // million than the desktop's time calls for.
  double DriftPpm = 0;
  // How long after its capture a sample reaches the recorder (the device's and server's buffers).
  std::uint32_t LatencyMs = 0;
  // Not empty: Open fails with this reason (no sound server, no microphone).
  std::string OpenFails;
};

class TSimToneSource : public TSoundSource {
 public:
  // nowMs gives the desktop's virtual time; startTick is the tick counter at virtual time 0.
  TSimToneSource(TSimToneSpec spec, std::function<std::uint64_t()> nowMs, std::uint32_t startTick);

  bool Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) override;
  TSoundRead Read(std::vector<std::int16_t>& samples) override;
  void Close() override { FOpen = false; }

  // Whether the tone is silent at virtual time ms (inside a marker).
  bool SilentAt(double ms) const;
  const TSimToneSpec& Spec() const { return FSpec; }
  // What was asked of the last Open.
  TSoundInput Input() const { return FInput; }
  static constexpr std::uint32_t kBufferMs = 10000;  // what the card holds before it overruns

 private:
  double CardRate() const;
  std::uint64_t SamplesBy(double ms) const;

  TSimToneSpec FSpec;
  std::function<std::uint64_t()> FNowMs;
  std::uint32_t FStartTick;
  TSoundFormat FFormat;
  TSoundInput FInput = TSoundInput::Off;
  bool FOpen = false;
  std::uint64_t FNext = 0;  // the card's next sample
};

}  // namespace kestrova::platform::sim
