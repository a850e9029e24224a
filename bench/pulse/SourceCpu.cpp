// pulse_source_cpu SECONDS RATE CHANNELS mic|system|both
// Records from the running sound server for SECONDS, reading every 40 ms as a recorder at 25
// frames a second would, and prints the process's CPU time (the source's thread and libpulse's
// included) per recorded second, with how much was recorded and any problem.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/PulseSoundSource.h"

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrova::platform;
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SECONDS RATE CHANNELS mic|system|both\n", argv[0]);
    return 2;
  }
  const int seconds = std::atoi(argv[1]);
  const TSoundFormat format{std::atoi(argv[2]), std::atoi(argv[3])};
  const std::string what = argv[4];
  const TSoundInput input = what == "mic"      ? TSoundInput::Microphone
                            : what == "system" ? TSoundInput::System
                                               : TSoundInput::Both;
  pulse::TPulseSoundSource source;
  std::string whyNot;
  const double cpu0 = CpuSeconds();
  if (!source.Open(input, format, whyNot)) {
    std::fprintf(stderr, "%s\n", whyNot.c_str());
    return 1;
  }
  std::vector<std::int16_t> samples;
  std::size_t frames = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    samples.clear();
    frames += source.Read(samples).Frames;
  }
  const std::string problem = source.Problem();
  source.Close();
  const double cpu = CpuSeconds() - cpu0;
  const double recorded = static_cast<double>(frames) / format.Rate;
  std::printf(
      "%-6s %5d Hz %d ch: %.1f s recorded, CPU %.3f s, %.2f ms CPU per recorded second%s%s\n",
      what.c_str(), format.Rate, format.Channels, recorded, cpu,
      recorded > 0 ? cpu * 1000 / recorded : 0.0, problem.empty() ? "" : "; ", problem.c_str());
  return 0;
}
