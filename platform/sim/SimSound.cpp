#include "platform/sim/SimSound.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrova::platform::sim {

TSimToneSource::TSimToneSource(TSimToneSpec spec, std::function<std::uint64_t()> nowMs,
                               std::uint32_t startTick)
    : FSpec(std::move(spec)), FNowMs(std::move(nowMs)), FStartTick(startTick) {}

double TSimToneSource::CardRate() const {
  return FFormat.Rate * (1.0 + FSpec.DriftPpm / 1e6);
}

std::uint64_t TSimToneSource::SamplesBy(double ms) const {
  return ms <= 0 ? 0 : static_cast<std::uint64_t>(std::floor(ms * CardRate() / 1000.0));
}

bool TSimToneSource::Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) {
  if (!FSpec.OpenFails.empty()) {
    whyNot = FSpec.OpenFails;
    return false;
  }
  FFormat = format;
  FInput = input;
  FOpen = true;
  FNext = SamplesBy(double(FNowMs()) - FSpec.LatencyMs);
  return true;
}

bool TSimToneSource::SilentAt(double ms) const {
  for (const auto& [at, length] : FSpec.Markers) {
    const double since = ms - double(at);
    if (since < 0) continue;
    if ((FSpec.RepeatMs != 0 ? std::fmod(since, FSpec.RepeatMs) : since) < length) return true;
  }
  return false;
}

TSoundRead TSimToneSource::Read(std::vector<std::int16_t>& samples) {
  TSoundRead read;
  if (!FOpen) return read;
  const double capturedBy = double(FNowMs()) - FSpec.LatencyMs;
  const std::uint64_t end = SamplesBy(capturedBy);
  // A card not read for longer than its buffer holds keeps only the newest sound.
  const std::uint64_t held = SamplesBy(kBufferMs);
  if (end > FNext + held) FNext = end - held;
  const double rate = CardRate();
  const auto channels = static_cast<std::size_t>(std::max(1, FFormat.Channels));
  for (std::uint64_t n = FNext; n < end; ++n) {
    const double ms = double(n) * 1000.0 / rate;
    const double value =
        SilentAt(ms)
            ? 0.0
            : FSpec.Amplitude * std::sin(2 * std::numbers::pi * FSpec.Frequency * ms / 1000.0);
    samples.insert(samples.end(), channels, static_cast<std::int16_t>(std::lround(value)));
  }
  read.Frames = static_cast<std::size_t>(end - FNext);
  FNext = end;
  read.EndTick = static_cast<std::uint32_t>(FStartTick + std::llround(std::max(0.0, capturedBy)));
  return read;
}

}  // namespace kestrova::platform::sim
