// The libpulse source against a real sound server. scripts/audio.sh starts PulseAudio (or
// PipeWire with pipewire-pulse) with a null sink, names it in KESTROVA_AUDIO_SINK and runs these;
// without it the tests that need a server skip, saying so.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/SoundMixer.h"
#include "platform/pulse/PulseSoundSource.h"

extern char** environ;

namespace kestrova::platform::pulse {
namespace {

std::uint32_t NowTick() {
  return TickOfMicros(std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
}

std::string Sink() {
  const char* sink = std::getenv("KESTROVA_AUDIO_SINK");
  return sink != nullptr ? sink : "";
}

#define REQUIRE_SERVER()                                                                 \
  if (Sink().empty()) {                                                                  \
    GTEST_SKIP() << "no sound server with a null sink (KESTROVA_AUDIO_SINK is not set: " \
                    "scripts/audio.sh starts one)";                                      \
  }

// The played signal: a 440 Hz tone at 12000 with a 20 ms silent marker every 5 s, from 5 s on.
constexpr int kPlayRate = 48000;
constexpr int kMarkerMillis = 20;
constexpr int kMarkerEvery = 5;

void WriteToneWav(const std::string& path, int seconds) {
  const std::uint32_t frames = static_cast<std::uint32_t>(seconds) * kPlayRate;
  std::vector<std::int16_t> pcm(frames * 2u);
  for (std::uint32_t k = 0; k < frames; ++k) {
    const std::uint32_t in = k % (kMarkerEvery * kPlayRate);
    const bool marker = k >= kMarkerEvery * kPlayRate && in < kPlayRate * kMarkerMillis / 1000;
    const auto v = static_cast<std::int16_t>(
        marker ? 0 : std::lrint(12000 * std::sin(2 * M_PI * 440.0 * k / kPlayRate)));
    pcm[2 * k] = pcm[2 * k + 1] = v;
  }
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  const std::uint32_t bytes = frames * 4u;
  f.write("RIFF", 4);
  u32(36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(kPlayRate);
  u32(kPlayRate * 4);
  u16(4);
  u16(16);
  f.write("data", 4);
  u32(bytes);
  f.write(reinterpret_cast<const char*>(pcm.data()), bytes);
  ASSERT_TRUE(f.good()) << path;
}

// A helper program (paplay, parecord) on a process of its own; Wait returns its exit status.
class TProcess {
 public:
  explicit TProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&FPid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) FPid = -1;
  }
  ~TProcess() {
    Interrupt();
    Wait();
  }
  bool Started() const { return FPid > 0; }
  void Interrupt() {
    if (FPid > 0) kill(FPid, SIGINT);
  }
  int Wait() {
    if (FPid <= 0) return -1;
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t FPid = -1;
};

// paplay of a file into the null sink.
TProcess Play(const std::string& wav) {
  return TProcess({"paplay", "--device=" + Sink(), "--latency-msec=300", wav});
}

// What a recording gave: the samples (first channel) and, for each sample, its capture tick
// as the reads' end ticks date it.
struct TTake {
  std::vector<std::int16_t> Left;
  std::vector<std::int64_t> TickOf;  // unwrapped, relative to the first read's end tick
  std::int32_t Rate = 0;
  std::uint32_t BaseTick = 0;  // the first read's end tick
};

TTake Record(TPulseSoundSource& source, const TSoundFormat& format, int millis) {
  TTake take;
  take.Rate = format.Rate;
  std::vector<std::int16_t> samples;
  bool first = true;
  std::uint32_t base = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));  // about a recorder's frame
    samples.clear();
    const TSoundRead r = source.Read(samples);
    if (r.Frames == 0) continue;
    if (first) {
      base = r.EndTick;
      take.BaseTick = base;
      first = false;
    }
    const auto endTick = static_cast<std::int32_t>(r.EndTick - base);
    for (std::size_t i = 0; i < r.Frames; ++i) {
      take.Left.push_back(samples[i * static_cast<std::size_t>(format.Channels)]);
      const auto back = static_cast<std::int64_t>(r.Frames - 1 - i) * 1000 / format.Rate;
      take.TickOf.push_back(endTick - back);
    }
  }
  return take;
}

// For a look at what was recorded: KESTROVA_AUDIO_KEEP=folder keeps each take there as a WAV.
void KeepTake(const TTake& t, const std::string& name) {
  const char* folder = std::getenv("KESTROVA_AUDIO_KEEP");
  if (folder == nullptr) return;
  std::ofstream f(std::string(folder) + "/" + name + ".wav", std::ios::binary);
  auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(t.Left.size() * 2);
  f.write("RIFF", 4);
  u32(36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(static_cast<std::uint32_t>(t.Rate));
  u32(static_cast<std::uint32_t>(t.Rate) * 2);
  u16(2);
  u16(16);
  f.write("data", 4);
  u32(bytes);
  f.write(reinterpret_cast<const char*>(t.Left.data()), bytes);
}

// Runs of near silence at least minMillis long after the first loud sample: (start, length).
std::vector<std::pair<std::size_t, std::size_t>> Silences(const TTake& t, int minMillis,
                                                          std::size_t from) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  const std::size_t min = static_cast<std::size_t>(t.Rate) * minMillis / 1000;
  for (std::size_t i = from; i < t.Left.size();) {
    if (std::abs(t.Left[i]) >= 200) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < t.Left.size() && std::abs(t.Left[j]) < 200) ++j;
    if (j - i >= min) runs.emplace_back(i, j - i);
    i = j;
  }
  return runs;
}

std::size_t Onset(const TTake& t) {
  for (std::size_t i = 0; i < t.Left.size(); ++i) {
    if (std::abs(t.Left[i]) > 1000) return i;
  }
  return t.Left.size();
}

// The silences of a take after its onset (the tone's last tenth of a second left out): markers
// (20 ms) and dropouts (any other length).
using TRuns = std::vector<std::pair<std::size_t, std::size_t>>;
std::pair<TRuns, TRuns> MarkersAndDropouts(const TTake& t, std::size_t onset) {
  TRuns markers, dropouts;
  for (const auto& s : Silences(t, 5, onset)) {
    if (s.first + s.second + static_cast<std::size_t>(t.Rate) / 10 >= t.Left.size()) continue;
    const double millis = static_cast<double>(s.second) * 1000 / t.Rate;
    (std::abs(millis - kMarkerMillis) <= 3.0 ? markers : dropouts).push_back(s);
  }
  return {markers, dropouts};
}

// A mono 16-bit WAV as parecord writes it (chunks walked to "data"); empty when unreadable.
TTake ReadWitness(const std::string& path) {
  TTake t;
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    std::uint32_t size = 0;
    std::memcpy(&size, &bytes[at + 4], 4);
    if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 16 <= bytes.size()) {
      std::memcpy(&t.Rate, &bytes[at + 12], 4);
    }
    if (std::memcmp(&bytes[at], "data", 4) == 0) {
      const std::size_t n = (bytes.size() - at - 8) / 2;
      t.Left.resize(n);
      std::memcpy(t.Left.data(), &bytes[at + 8], n * 2);
      break;
    }
    at += 8 + static_cast<std::size_t>(size) + (size & 1);
  }
  if (t.Rate <= 0) t.Left.clear();
  return t;
}

// A witness: the server's own recorder (parecord) on the sink's monitor beside ours, so that a
// dropout can be told to be the server's (a loaded machine starves PipeWire's graph) or ours.
class TWitness {
 public:
  TWitness()
      : FWav(testing::TempDir() + "kestrova_witness.wav"),
        FProcess({"parecord", "--device=" + Sink() + ".monitor", "--rate=44100", "--channels=1",
                  "--format=s16le", "--latency-msec=20", "--file-format=wav", FWav}) {}
  // Stops it; the dropouts it heard.
  std::size_t Dropouts();
  // After Dropouts: the milliseconds from each marker it heard to the next.
  std::vector<double> MarkerSpacing() const { return FSpacing; }

 private:
  std::vector<double> FSpacing;
  std::string FWav;
  TProcess FProcess;
};

double ZeroCrossingHz(const TTake& t, std::size_t from, std::size_t count) {
  std::size_t crossings = 0;
  for (std::size_t i = from + 1; i < from + count && i < t.Left.size(); ++i) {
    crossings += (t.Left[i - 1] < 0) != (t.Left[i] < 0);
  }
  return crossings / 2.0 / (static_cast<double>(count) / t.Rate);
}

std::size_t TWitness::Dropouts() {
  FProcess.Interrupt();
  FProcess.Wait();
  const TTake heard = ReadWitness(FWav);
  if (heard.Left.empty()) return 0;
  const auto [markers, dropouts] = MarkersAndDropouts(heard, Onset(heard));
  for (std::size_t k = 1; k < markers.size(); ++k) {
    FSpacing.push_back(static_cast<double>(markers[k].first - markers[k - 1].first) * 1000 /
                       heard.Rate);
  }
  return dropouts.size();
}

// The pitch as most half seconds from `from` on hear it: a dropout spoils one, not the answer.
double MedianHz(const TTake& t, std::size_t from, int halfSeconds) {
  std::vector<double> hz;
  const std::size_t half = static_cast<std::size_t>(t.Rate) / 2;
  for (int k = 0; k < halfSeconds; ++k) hz.push_back(ZeroCrossingHz(t, from + k * half, half));
  std::sort(hz.begin(), hz.end());
  return hz.empty() ? 0 : hz[hz.size() / 2];
}

TEST(PulseSoundSource, NoServerIsAClearRefusal) {
  TPulseOptions options;
  options.Server = "unix:/nonexistent/kestrova-no-such-server";
  TPulseSoundSource source(options);
  std::string whyNot;
  EXPECT_FALSE(source.Open(TSoundInput::System, {44100, 2}, whyNot));
  EXPECT_NE(whyNot.find("No sound server answers"), std::string::npos) << whyNot;
  EXPECT_EQ(whyNot.find('\n'), std::string::npos);
  std::vector<std::int16_t> samples;
  EXPECT_EQ(source.Read(samples).Frames, 0u);
  EXPECT_TRUE(samples.empty());
}

TEST(PulseSoundSource, RefusesFormatsAMovieCannotCarry) {
  TPulseOptions options;
  options.Server = "unix:/nonexistent/kestrova-no-such-server";
  TPulseSoundSource source(options);
  const TSoundFormat bad[] = {{44100, 3}, {0, 2}, {-22050, 1}};
  for (const TSoundFormat& f : bad) {
    std::string whyNot;
    EXPECT_FALSE(source.Open(TSoundInput::Microphone, f, whyNot));
    EXPECT_FALSE(whyNot.empty());
  }
  std::string whyNot;
  EXPECT_FALSE(source.Open(TSoundInput::Off, {44100, 2}, whyNot));
}

// The tone played into the null sink comes back from its monitor at its pitch, without a gap
// other than the markers, and the markers lie 5 s apart on the end ticks' clock.
TEST(PulseSoundSource, SystemRecordsTheToneWithoutDropoutsAndWithTrueTicks) {
  REQUIRE_SERVER();
  const int seconds = std::getenv("KESTROVA_AUDIO_SECONDS") != nullptr
                          ? std::max(12, std::atoi(std::getenv("KESTROVA_AUDIO_SECONDS")))
                          : 30;
  const std::string wav = testing::TempDir() + "kestrova_tone.wav";
  WriteToneWav(wav, seconds + 1);
  const TSoundFormat format{44100, 2};
  TPulseSoundSource source;
  std::string whyNot;
  ASSERT_TRUE(source.Open(TSoundInput::System, format, whyNot)) << whyNot;
  // An idle null sink's monitor takes a moment to start delivering; the tone starts after it.
  std::vector<std::int16_t> scratch;
  for (int i = 0; i < 100 && source.Read(scratch).Frames == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::uint32_t playTick = NowTick();
  TWitness witness;
  TProcess player = Play(wav);
  ASSERT_TRUE(player.Started());
  const TTake take = Record(source, format, (seconds + 2) * 1000);
  KeepTake(take, "system");
  const std::size_t witnessDropouts = witness.Dropouts();
  EXPECT_EQ(player.Wait(), 0);
  EXPECT_EQ(source.Problem(), "");
  const std::vector<std::int64_t> latencies = source.Latencies();
  source.Close();

  const std::size_t onset = Onset(take);
  ASSERT_LT(onset, take.Left.size()) << "no tone was recorded";
  EXPECT_NEAR(MedianHz(take, onset + 4410, 8), 440.0, 1.0);
  // A silence after the onset is a marker (20 ms; the tone's own approach to zero makes it a
  // little longer) or a dropout.
  const auto [markers, dropouts] = MarkersAndDropouts(take, onset);
  if (witnessDropouts > 0) {
    GTEST_SKIP() << "the server dropped sound for its own recorder too (" << witnessDropouts
                 << " times; " << dropouts.size()
                 << " for ours): the machine is too loaded to judge dropouts and timing";
  }
  EXPECT_EQ(dropouts.size(), 0u) << "dropouts the server's own recorder did not have";
  ASSERT_GE(markers.size(), static_cast<std::size_t>(seconds / kMarkerEvery - 1))
      << "markers missing";
  // Between markers nothing is lost: 5 s apart by the sample count, and by the end ticks within
  // the read jitter. From the onset to the first one the server may have had its say (PulseAudio
  // rewinds a sink when a stream starts), so that stretch is looser.
  std::size_t previous = onset;
  for (std::size_t k = 0; k < markers.size(); ++k) {
    SCOPED_TRACE("marker " + std::to_string(k + 1));
    const std::size_t at = markers[k].first;
    const double bySamples = static_cast<double>(at - previous) * 1000 / 44100;
    const double byTicks = static_cast<double>(take.TickOf[at] - take.TickOf[previous]);
    // The stretch the server's own recorder heard: a server may lengthen one (PipeWire on a
    // loaded machine, by a quantum); ours must then be as long as the one it gave its recorder.
    const std::vector<double> heard = witness.MarkerSpacing();
    const bool sameMarkers = heard.size() + 1 == markers.size();
    const double expected = k > 0 && sameMarkers ? heard[k - 1] : 5000.0;
    EXPECT_NEAR(bySamples, expected, k == 0 ? 30.0 : 2.0);
    EXPECT_NEAR(byTicks, bySamples, 15.0);
    previous = at;
  }
  // Against the clock: the tone reached the monitor after paplay was started, and not later than
  // its 300 ms buffer, the server's latency and a process start allow.
  const auto onsetTick = static_cast<std::uint32_t>(take.BaseTick + take.TickOf[onset]);
  const auto late = static_cast<std::int32_t>(onsetTick - playTick);
  EXPECT_GE(late, 0) << "the end ticks date the sound before it was played";
  EXPECT_LE(late, 1500) << "the end ticks date the sound long after it was played";
  std::printf("tone captured %d ms after paplay started; latency reported %lld us; %zu markers\n",
              late, static_cast<long long>(latencies.empty() ? 0 : latencies[0]), markers.size());
}

// The default input (a null source, or the sink's monitor set as default) delivers in real time
// in the format asked, and its end ticks keep pace with its samples.
TEST(PulseSoundSource, MicrophoneDeliversAtItsRate) {
  REQUIRE_SERVER();
  const TSoundFormat formats[] = {{22050, 1}, {44100, 2}};
  for (const TSoundFormat& format : formats) {
    SCOPED_TRACE(std::to_string(format.Rate) + " Hz, " + std::to_string(format.Channels));
    TPulseSoundSource source;
    std::string whyNot;
    ASSERT_TRUE(source.Open(TSoundInput::Microphone, format, whyNot)) << whyNot;
    std::vector<std::int16_t> samples;
    TSoundRead first;
    for (int i = 0; i < 100 && first.Frames == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      samples.clear();
      first = source.Read(samples);
    }
    ASSERT_GT(first.Frames, 0u) << "nothing arrived in 5 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    samples.clear();
    const TSoundRead rest = source.Read(samples);
    EXPECT_EQ(samples.size(), rest.Frames * static_cast<std::size_t>(format.Channels));
    const double byTicks = static_cast<std::int32_t>(rest.EndTick - first.EndTick);
    const double bySamples = static_cast<double>(rest.Frames) * 1000 / format.Rate;
    EXPECT_NEAR(byTicks, bySamples, 40.0);
    EXPECT_NEAR(bySamples, 3000.0, 150.0);
    EXPECT_EQ(source.Problem(), "");
    source.Close();
    samples.clear();
    EXPECT_EQ(source.Read(samples).Frames, 0u) << "nothing after Close";
  }
}

// Both: the microphone and the monitor mixed; the tone played comes through at its pitch and
// no louder than the two inputs allow.
TEST(PulseSoundSource, BothMixesTheMonitorWithTheMicrophone) {
  REQUIRE_SERVER();
  const std::string wav = testing::TempDir() + "kestrova_tone_short.wav";
  WriteToneWav(wav, 4);
  const TSoundFormat format{22050, 1};
  TPulseSoundSource source;
  std::string whyNot;
  ASSERT_TRUE(source.Open(TSoundInput::Both, format, whyNot)) << whyNot;
  std::vector<std::int16_t> scratch;
  for (int i = 0; i < 100 && source.Read(scratch).Frames == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  TWitness witness;
  TProcess player = Play(wav);
  ASSERT_TRUE(player.Started());
  const TTake take = Record(source, format, 5500);
  KeepTake(take, "both");
  const std::size_t witnessDropouts = witness.Dropouts();
  EXPECT_EQ(player.Wait(), 0);
  EXPECT_EQ(source.Problem(), "");
  EXPECT_EQ(source.Latencies().size(), 2u);
  const std::size_t onset = Onset(take);
  ASSERT_LT(onset + 3 * 22050, take.Left.size()) << "the tone did not come through the mix";
  EXPECT_NEAR(MedianHz(take, onset + 2205, 5), 440.0, 1.0);
  if (witnessDropouts > 0) {
    GTEST_SKIP() << "the server dropped sound for its own recorder too (" << witnessDropouts
                 << " times): the machine is too loaded to look for holes in the mix";
  }
  // Every sample after the onset until the tone ends is loud: the mix has no holes.
  const auto silences = Silences(take, 5, onset);
  for (const auto& s : silences) {
    EXPECT_GE(s.first + s.second, onset + 3 * 22050) << "a hole at " << s.first;
  }
}

// The server dies under a running recording: Read goes on giving nothing and never blocks, and
// Problem says what happened. scripts/audio.sh runs this last, naming the server's process.
TEST(PulseSoundSource, TheServerGoingAwayIsAProblemNotAHang) {
  const char* pid = std::getenv("KESTROVA_AUDIO_SERVER_PID");
  if (pid == nullptr || Sink().empty()) {
    GTEST_SKIP() << "needs a server of its own to stop (KESTROVA_AUDIO_SERVER_PID, set by "
                    "scripts/audio.sh for its last run)";
  }
  TPulseSoundSource source;
  std::string whyNot;
  ASSERT_TRUE(source.Open(TSoundInput::Both, {44100, 2}, whyNot)) << whyNot;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(kill(static_cast<pid_t>(std::atoi(pid)), SIGTERM), 0);
  std::string problem;
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 100 && problem.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    source.Read(samples);
    problem = source.Problem();
  }
  EXPECT_NE(problem.find("sound server"), std::string::npos) << problem;
  samples.clear();
  source.Read(samples);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  samples.clear();
  EXPECT_EQ(source.Read(samples).Frames, 0u) << "sound after the server went away";
  source.Close();
}

}  // namespace
}  // namespace kestrova::platform::pulse
