// The recording's sound: what coding a recorded second costs, the bytes a second it makes, and
// how far the sound strays from the recording's clock over ten simulated minutes with a sound
// card that drifts and hands over late.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/sim/SimSound.h"
#include "recorder/SoundEncoder.h"
#include "recorder/SoundStream.h"
#include "swfobjects/SoundTags.h"

namespace kestrova {
namespace {

// A second of something like speech over a hum: tones that glide, and noise.
std::vector<std::int16_t> Second(int rate, int channels) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 600);
  std::vector<std::int16_t> s;
  for (int i = 0; i < rate; ++i) {
    const double t = double(i) / rate;
    const double v = 5000 * std::sin(2 * M_PI * (180 + 60 * std::sin(2 * M_PI * 3 * t)) * t) +
                     1500 * std::sin(2 * M_PI * 50 * t) + noise(random);
    s.insert(s.end(), static_cast<std::size_t>(channels), static_cast<std::int16_t>(v));
  }
  return s;
}

// Codes recorded seconds a movie frame at a time; one iteration is one recorded second.
void BM_CodeASecond(benchmark::State& state) {
  TSoundOptions o;
  o.Coding = static_cast<TSoundEncoding>(state.range(0));
  o.Format = {static_cast<std::int32_t>(state.range(1)), static_cast<std::int32_t>(state.range(2))};
  if (o.Coding == TSoundEncoding::Mp3 && !Mp3EncoderBuiltIn()) {
    state.SkipWithError("no MP3 encoder in this build");
    return;
  }
  const std::vector<std::int16_t> second = Second(o.Format.Rate, o.Format.Channels);
  std::unique_ptr<TSoundEncoder> coder = MakeSoundEncoder(o);
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    for (int k = 0; k < 12; ++k) {
      const std::size_t from = std::size_t(k) * o.Format.Rate / 12;
      const std::size_t to = std::size_t(k + 1) * o.Format.Rate / 12;
      const auto block = coder->Encode(second.data() + from * o.Format.Channels, to - from, false);
      bytes += block->Data.size();
    }
  }
  state.counters["bytes_per_second"] =
      benchmark::Counter(double(bytes) / double(state.iterations()));
}
BENCHMARK(BM_CodeASecond)
    ->ArgNames({"coding", "rate", "channels"})
    ->Args({int(TSoundEncoding::Mp3), 22050, 1})
    ->Args({int(TSoundEncoding::Mp3), 44100, 2})
    ->Args({int(TSoundEncoding::Adpcm), 22050, 1})
    ->Args({int(TSoundEncoding::Adpcm), 44100, 2})
    ->Unit(benchmark::kMillisecond);

// Ten minutes read every 100 ms from a card 200 millionths fast that hands its samples over
// 40 ms late, laid on the clock and taken frame by frame; a 50 ms silence every 10 s is then
// looked for in what the frames hold. Counters: the largest and the mean distance (ms) of a
// silence from where the clock puts it.
void BM_SyncOverTenMinutes(benchmark::State& state) {
  constexpr std::uint64_t kMinutes = 10, kRate = 22050;
  double worst = 0, mean = 0;
  for (auto _ : state) {
    std::uint64_t now = 0;
    platform::sim::TSimToneSpec spec;
    spec.Frequency = 1000;
    spec.DriftPpm = 200;
    spec.LatencyMs = 40;
    spec.Markers = {{5000, 50}};
    spec.RepeatMs = 10000;
    platform::sim::TSimToneSource source(
        spec, [&now] { return now; }, 0);
    std::string whyNot;
    source.Open(platform::TSoundInput::Both, {std::int32_t(kRate), 1}, whyNot);
    TSoundOptions o;
    o.Coding = TSoundEncoding::Pcm;
    o.Format = {std::int32_t(kRate), 1};
    TSoundRecording sound(source, MakeSoundEncoder(o));
    std::vector<std::int16_t> heard;
    for (; now <= kMinutes * 60000; now += 100) {
      sound.Read(0, 0);
      // The frames the clock has closed by now less one turn, as the segment movie codes them.
      while (sound.FramesCoded() * 1000 / 12 + 200 < now) {
        const auto block = sound.NextBlock(false);
        const auto& data = static_cast<const TSWFSoundStreamBlock&>(*block).Data;
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
          heard.push_back(static_cast<std::int16_t>(data[i] | (data[i + 1] << 8)));
        }
      }
    }
    worst = mean = 0;
    int found = 0;
    std::size_t run = 0;
    for (std::size_t i = 0; i < heard.size(); ++i) {
      run = std::abs(heard[i]) < 100 ? run + 1 : 0;
      if (run != kRate * 30 / 1000) continue;
      const double at = double(i + 1 - run) * 1000 / kRate;
      const double due = 5000 + 10000 * std::round((at - 5000) / 10000);
      worst = std::max(worst, std::abs(at - due));
      mean += std::abs(at - due);
      ++found;
    }
    mean /= std::max(found, 1);
    state.counters["markers"] = found;
  }
  state.counters["worst_ms"] = worst;
  state.counters["mean_ms"] = mean;
}
BENCHMARK(BM_SyncOverTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
