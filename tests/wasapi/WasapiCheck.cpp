// wasapi_check.exe mic|system|both TONE_HZ
// Checks the WASAPI source on a real Windows sound stack (under Wine, its PulseAudio driver over
// the test server of scripts/audio.sh): it records 44100 Hz stereo for 3 s and wants as many
// frames as the time allows, end ticks on the tick counter, and, when TONE_HZ is not 0, the tone
// the test plays at its frequency (counted from the first packet, Wine being slow to start). Exit
// status 0 when all holds, 1 when not, 3 when the input cannot be opened (printed: Wine 8 has no
// loopback).
#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/WasapiSound.h"

int main(int argc, char** argv) {
  using namespace kestrova::platform;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s mic|system|both TONE_HZ\n", argv[0]);
    return 2;
  }
  const std::string what = argv[1];
  const double tone = std::atof(argv[2]);
  const TSoundInput input = what == "mic"      ? TSoundInput::Microphone
                            : what == "system" ? TSoundInput::System
                                               : TSoundInput::Both;
  const TSoundFormat format{44100, 2};
  win32::TWasapiSoundSource source;
  std::string whyNot;
  if (!source.Open(input, format, whyNot)) {
    std::printf("%s: cannot open: %s\n", what.c_str(), whyNot.c_str());
    return 3;
  }
  std::vector<std::int16_t> samples;
  std::size_t frames = 0, firstFrames = 0;
  std::uint32_t firstTick = 0, lastTick = 0;
  int failures = 0;
  // Wine's driver takes a while to deliver the first packet; the 3 s start from there.
  for (int i = 0; i < 250 && source.Read(samples).Frames == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  samples.clear();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const TSoundRead r = source.Read(samples);
    if (r.Frames == 0) continue;
    if (frames == 0) {
      firstTick = r.EndTick;
      firstFrames = r.Frames;
    }
    lastTick = r.EndTick;
    frames += r.Frames;
    // The newest sample cannot have been captured after it was read, nor long before.
    const auto age =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(GetTickCount64()) - r.EndTick);
    if (age < -20 || age > 500) {
      std::printf("%s: end tick %u is %d ms from the tick counter\n", what.c_str(), r.EndTick, age);
      ++failures;
    }
  }
  const std::string problem = source.Problem();
  source.Close();
  std::size_t crossings = 0;
  for (std::size_t i = 2; i < samples.size(); i += 2)
    crossings += (samples[i - 2] < 0) != (samples[i] < 0);
  const double seconds = static_cast<double>(frames) / format.Rate;
  const double hz = seconds > 0 ? crossings / 2.0 / seconds : 0;
  std::printf("%s: %.2f s recorded, end ticks over %d ms, %.1f Hz%s%s\n", what.c_str(), seconds,
              static_cast<std::int32_t>(lastTick - firstTick), hz, problem.empty() ? "" : ", ",
              problem.c_str());
  if (seconds < 2.0 || seconds > 4.5) ++failures;
  // After the first read, the end ticks move as the samples do.
  const double afterFirst = static_cast<double>(frames - firstFrames) * 1000 / format.Rate;
  if (std::abs(static_cast<std::int32_t>(lastTick - firstTick) - afterFirst) > 100) ++failures;
  if (tone > 0 && std::abs(hz - tone) > 2.0) ++failures;
  if (!problem.empty()) ++failures;
  return failures == 0 ? 0 : 1;
}
