// A recording's sound: the coders against the player's decoder, the sound laid on the
// recording's clock, and whole recordings on the simulated desktop whose tone has silent markers
// at known times, played back the way export plays them and measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "player/Player.h"
#include "player/SoundDecoder.h"
#include "player/SoundTrack.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Session.h"
#include "recorder/SoundEncoder.h"
#include "recorder/SoundTimeline.h"
#include "swfobjects/SoundTags.h"
#include "swfstreams/SWFStreams.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

using namespace platform;
using platform::sim::TSimToneSpec;

// A tone with silences, at rate, interleaved over channels.
std::vector<std::int16_t> Tone(int rate, int channels, double seconds,
                               const std::vector<std::pair<double, double>>& silentMs) {
  std::vector<std::int16_t> out;
  const auto n = static_cast<std::size_t>(seconds * rate);
  for (std::size_t i = 0; i < n; ++i) {
    const double ms = 1000.0 * double(i) / rate;
    bool silent = false;
    for (const auto& [from, to] : silentMs) silent = silent || (ms >= from && ms < to);
    const double v = silent ? 0 : 8000 * std::sin(2 * M_PI * 440 * ms / 1000);
    out.insert(out.end(), static_cast<std::size_t>(channels),
               static_cast<std::int16_t>(std::lround(v)));
  }
  return out;
}

// The starts (ms) of the silences of at least minMs in interleaved stereo at kMixRate, where a
// tone was.
std::vector<double> Silences(const std::vector<std::int16_t>& stereo, double minMs) {
  std::vector<double> starts;
  const std::size_t frames = stereo.size() / 2;
  const auto need = static_cast<std::size_t>(minMs * kMixRate / 1000);
  std::size_t run = 0;
  bool heardTone = false;
  for (std::size_t i = 0; i < frames; ++i) {
    if (std::abs(stereo[2 * i]) < 300) {
      ++run;
      if (run == need && heardTone) starts.push_back(1000.0 * double(i + 1 - need) / kMixRate);
    } else {
      run = 0;
      heardTone = true;
    }
  }
  return starts;
}

// ---- The coders, against the player's decoder ----

struct TCoderCase {
  const char* Name;
  TSoundEncoding Coding;
  int Rate, Channels;
  double MaxErrorRms;  // against the input, for the same rate as the mix
};

void PrintTo(const TCoderCase& c, std::ostream* os) {
  *os << c.Name;
}

class Coder : public ::testing::TestWithParam<TCoderCase> {};

TEST_P(Coder, DecodesBackToWhatWasCodedInStepWithTheFrames) {
  const TCoderCase& c = GetParam();
  if (c.Coding == TSoundEncoding::Mp3 && (!Mp3EncoderBuiltIn() || !SoundFormatDecoded(2))) {
    GTEST_SKIP() << "this build codes or decodes no MP3";
  }
  TSoundOptions options;
  options.Format = {c.Rate, c.Channels};
  options.Coding = c.Coding;
  std::unique_ptr<TSoundEncoder> coder = MakeSoundEncoder(options);
  const std::vector<std::int16_t> input = Tone(c.Rate, c.Channels, 2.0, {{700, 760}, {1500, 1540}});
  const std::unique_ptr<TSWFSoundStreamHead2> head = coder->Head(12);
  EXPECT_EQ(head->StreamSoundRate, SoundRateCode(c.Rate));
  EXPECT_EQ(head->StreamSoundType, c.Channels == 2);

  // Frame by frame, as the recording hands them over: frame k holds [k rate / 12, (k+1) rate / 12).
  const std::size_t frames = input.size() / c.Channels;
  TSoundDecoder decoder(
      {head->StreamSoundCompression, head->StreamSoundRate, true, head->StreamSoundType});
  std::vector<std::int16_t> decoded;
  std::uint32_t mp3Samples = 0;
  std::uint16_t firstSeek = 0;
  for (std::size_t k = 0;; ++k) {
    const std::size_t from = k * c.Rate / 12, to = std::min(frames, (k + 1) * c.Rate / 12);
    if (from >= frames) break;
    const bool final = to == frames;
    const auto block = coder->Encode(input.data() + from * c.Channels, to - from, final);
    if (k == 0) firstSeek = block->SeekSamples;
    mp3Samples += block->SampleCount;
    const std::size_t before = decoded.size();
    decoder.Feed(block->Data.data(), block->Data.size(), decoded);
    if (c.Coding != TSoundEncoding::Mp3 && c.Rate == kMixRate) {
      // ADPCM may pass a frame's last sample to the next frame's block.
      EXPECT_NEAR(double(decoded.size() - before) / 2, double(to - from), 1) << "frame " << k;
    }
    if (final) break;
  }
  std::size_t skip = 0;
  if (c.Coding == TSoundEncoding::Mp3) {
    EXPECT_EQ(firstSeek, head->LatencySeek) << "the first frame starts after the coder's delay";
    EXPECT_EQ(std::size_t(mp3Samples) * kMixRate / c.Rate * 2, decoded.size())
        << "the blocks' sample counts are what they decode to";
    skip = std::size_t(firstSeek) * kMixRate / c.Rate;
  }
  ASSERT_GE(decoded.size() / 2, skip + frames * kMixRate / c.Rate - 2);
  if (c.Coding != TSoundEncoding::Mp3) {
    EXPECT_EQ(decoded.size() / 2, frames * kMixRate / c.Rate) << "no sample more or less in all";
  }
  const std::vector<std::int16_t> heard(decoded.begin() + static_cast<std::ptrdiff_t>(skip * 2),
                                        decoded.end());
  // The silences are where they were, to the millisecond or two.
  const std::vector<double> silences = Silences(heard, 20);
  ASSERT_EQ(silences.size(), 2u);
  EXPECT_NEAR(silences[0], 700, 2.5);
  EXPECT_NEAR(silences[1], 1500, 2.5);
  if (c.Rate == kMixRate) {
    double error = 0;
    for (std::size_t i = 0; i < frames; ++i) {
      const double d = double(heard[2 * i]) - input[i * c.Channels];
      error += d * d;
    }
    EXPECT_LE(std::sqrt(error / double(frames)), c.MaxErrorRms);
  }
}

const TCoderCase kCoders[] = {
    {"PcmIsExact", TSoundEncoding::Pcm, 44100, 2, 0},
    {"PcmMono22050", TSoundEncoding::Pcm, 22050, 1, 0},
    {"AdpcmStereo44100", TSoundEncoding::Adpcm, 44100, 2, 120},
    {"AdpcmMono44100", TSoundEncoding::Adpcm, 44100, 1, 120},
    {"AdpcmMono22050", TSoundEncoding::Adpcm, 22050, 1, 0},
    {"AdpcmMono11025", TSoundEncoding::Adpcm, 11025, 1, 0},
    {"Mp3Stereo44100", TSoundEncoding::Mp3, 44100, 2, 800},
    {"Mp3Mono22050", TSoundEncoding::Mp3, 22050, 1, 0},
};
INSTANTIATE_TEST_SUITE_P(Cases, Coder, ::testing::ValuesIn(kCoders),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SoundCoder, RefusesWhatAMovieCannotCarry) {
  const struct {
    TSoundEncoding Coding;
    int Rate, Channels;
    const char* Says;
  } cases[] = {
      {TSoundEncoding::Adpcm, 48000, 2, "48000"},
      {TSoundEncoding::Pcm, 44100, 3, "3"},
      {TSoundEncoding::Mp3, 5512, 1, "5512"},
  };
  for (const auto& c : cases) {
    TSoundOptions o;
    o.Format = {c.Rate, c.Channels};
    o.Coding = c.Coding;
    try {
      MakeSoundEncoder(o);
      ADD_FAILURE() << "accepted " << c.Rate << " Hz, " << c.Channels << " channels";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.Says), std::string::npos) << e.what();
    }
  }
}

// ---- The sound on the recording's clock ----

struct TPiece {
  std::size_t Frames;
  double EndMs;
};
struct TTimelineCase {
  const char* Name;
  std::vector<TPiece> Pieces;  // at 1000 Hz, mono: a sample frame a millisecond
  std::uint64_t End, Silence, Dropped, Stretched;
};

TEST(SoundTimeline, PlacesSoundByTheClock) {
  const TTimelineCase cases[] = {
      {"InStep", {{100, 99}, {100, 199}}, 200, 0, 0, 0},
      {"JitterWithinToleranceIsLeft", {{100, 99}, {100, 201}}, 200, 0, 0, 0},
      {"AGapBecomesSilence", {{100, 99}, {100, 399}}, 400, 200, 0, 0},
      {"SoundForTimeFilledIsDropped", {{100, 99}, {100, 149}}, 150, 0, 50, 0},
      {"ASmallDriftIsStretchedOut", {{100, 99}, {100, 209}}, 210, 0, 0, 10},
      {"ASmallDriftTheOtherWayIsSqueezed", {{100, 99}, {100, 189}}, 190, 0, 0, 10},
      {"BeforeTheFirstFrameIsDropped", {{100, 49}}, 50, 0, 50, 0},
      {"AllBeforeTheFirstFrame", {{100, -1}}, 0, 0, 100, 0},
      {"MoreThanMayBeHeldLosesTheOldest", {{3000, 2999}}, 3000, 0, 1000, 0},
  };
  for (const auto& c : cases) {
    TSoundTimeline t(1000, 1, 2000);
    std::int16_t value = 1;
    for (const TPiece& p : c.Pieces) {
      std::vector<std::int16_t> s(p.Frames, value++);
      t.Place(s.data(), p.Frames, p.EndMs);
    }
    EXPECT_EQ(t.End(), c.End) << c.Name;
    EXPECT_EQ(t.Stats().SilenceAdded, c.Silence) << c.Name;
    EXPECT_EQ(t.Stats().Dropped, c.Dropped) << c.Name;
    EXPECT_EQ(t.Stats().Stretched, c.Stretched) << c.Name;
  }
}

TEST(SoundTimeline, TakesSamplesByNumberWithSilenceForWhatIsMissing) {
  TSoundTimeline t(1000, 2, 10000);
  std::vector<std::int16_t> s;
  for (int i = 0; i < 100; ++i) s.insert(s.end(), {std::int16_t(i + 1), std::int16_t(-i - 1)});
  t.Place(s.data(), 100, 149);  // frames 50..149
  std::vector<std::int16_t> out;
  t.Take(0, 60, out);
  ASSERT_EQ(out.size(), 120u);
  EXPECT_EQ(out[0], 0) << "nothing was captured for the first 50 ms";
  EXPECT_EQ(out[100], 1);
  EXPECT_EQ(out[101], -1);
  out.clear();
  t.Take(60, 200, out);
  ASSERT_EQ(out.size(), 280u);
  EXPECT_EQ(out[0], 11);
  EXPECT_EQ(out[2 * 89], 100);
  EXPECT_EQ(out[2 * 90], 0) << "past what was captured";
  // Sound for the time already given to frames comes too late and is dropped.
  t.Place(s.data(), 100, 199);
  EXPECT_EQ(t.End(), 200u);
  EXPECT_EQ(t.Stats().Dropped, 100u);
}

// ---- Whole recordings on the simulated desktop ----

constexpr std::uint64_t kPauseAt = 20000, kResumeAt = 23000, kStopAt = 65000;
// Markers: near the start, across the first segment boundary, before and after the pause, after
// a minute.
const std::vector<std::uint64_t> kMarkers = {1500, 9980, 15000, 26000, 44000, 62000};

struct TSyncCase {
  const char* Name;
  TSoundEncoding Coding;
  int Rate, Channels;
  double DriftPpm;
  std::uint32_t LatencyMs;
};

void PrintTo(const TSyncCase& c, std::ostream* os) {
  *os << c.Name;
}

class TPauseUser : public TSessionObserver {
 public:
  TPauseUser(TRecordingSession& s, TClock& c, std::string out) : S(s), C(c), Out(std::move(out)) {}
  void Started() override { Start = C.TickCount(); }
  void Pump() override {
    const std::uint32_t now = C.TickCount() - Start;
    if (now >= kPauseAt && !Paused) Paused = S.Pause();
    if (now >= kResumeAt && Paused && !Resumed) Resumed = S.Resume();
    if (now >= kStopAt) S.Stop(Out);
  }
  TRecordingSession& S;
  TClock& C;
  std::string Out;
  std::uint32_t Start = 0;
  bool Paused = false, Resumed = false;
};

// The movie's sound as export mixes it: 16-bit stereo at kMixRate.
std::vector<std::int16_t> MixedSound(const std::string& movie, int& frames,
                                     std::vector<std::string>& notes) {
  TMoviePlayer player(movie);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
  TSoundTrack sound(player.FrameRate(), file.get());
  player.SetSoundListener(&sound);
  frames = 0;
  while (player.SkipFrame()) sound.MixTo(frames++);
  sound.MixTo(frames);
  notes = sound.Notes();
  std::fflush(file.get());
  std::vector<std::int16_t> out(static_cast<std::size_t>(std::ftell(file.get())) / 2);
  std::rewind(file.get());
  EXPECT_EQ(std::fread(out.data(), 2, out.size(), file.get()), out.size());
  return out;
}

class SoundSync : public TempHome, public ::testing::WithParamInterface<TSyncCase> {};

TEST_P(SoundSync, MarkersLineUpWithTheFramesAcrossSegmentsAPauseAndAMinute) {
  const TSyncCase& c = GetParam();
  if (c.Coding == TSoundEncoding::Mp3 && (!Mp3EncoderBuiltIn() || !SoundFormatDecoded(2))) {
    GTEST_SKIP() << "this build codes or decodes no MP3";
  }
  TSimConfig config;
  config.Width = 64;
  config.Height = 48;
  config.TimeLimitMs = kStopAt + 20000;
  config.Tone.Frequency = 1000;
  config.Tone.DriftPpm = c.DriftPpm;
  config.Tone.LatencyMs = c.LatencyMs;
  for (const std::uint64_t at : kMarkers) config.Tone.Markers.push_back({at, 120});
  TSimDesktop desktop(config);
  TPosixFileLocations files;
  desktop.SetFiles(&files);
  std::vector<TGrabTruth> grabs;
  desktop.OnGrab = [&](const platform::sim::TSimGrabRecord& g) {
    grabs.push_back({g.AtMs, g.Window, g.Rect, desktop.Compose(g.Window, g.Rect, true)});
  };
  // Each marker also shows on the screen: a patch of the wallpaper changes colour.
  for (std::size_t i = 0; i < kMarkers.size(); ++i) {
    desktop.Add({kMarkers[i],
                 TSimActionKind::Paint,
                 "",
                 0,
                 {0, 0, 16, 16},
                 static_cast<std::int32_t>(i % 2 ? 0xFFFFFF : 0xFF0000)});
  }
  std::ostringstream diagnostics;
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Sound.Input = TSoundInput::Both;
  options.Sound.Format = {c.Rate, c.Channels};
  options.Sound.Coding = c.Coding;
  options.Diagnostics = &diagnostics;
  TRecordingSession session(desktop.Platform(), options);
  const std::string output = Dir + "/sound.swf";
  TPauseUser user(session, *desktop.Platform().Clock, output);
  session.SetObserver(&user);
  const TSessionResult result = session.Start(TCaptureTarget::FullScreen());
  ASSERT_TRUE(result.Saved) << result.Problem << diagnostics.str();
  EXPECT_EQ(diagnostics.str(), "");
  EXPECT_EQ(desktop.Sound().Input(), TSoundInput::Both);

  const TFrameCheck check = CheckFrames(output, grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_EQ(check.Info.StreamBlocks, check.Info.FramesPlayed);
  EXPECT_EQ(check.Info.SpriteStreamBlocks, 0u) << "the segments' sound moved to the main timeline";

  // One stream on the main timeline: one head, a block in every frame.
  TSWFStreamReader reader;
  reader.LoadFromFile(output);
  reader.ParseTags(false);
  int heads = 0, blocks = 0, shown = 0;
  for (const auto& info : reader.TagList) {
    heads += info->TagID == 45;
    blocks += info->TagID == 19;
    shown += info->TagID == 1;
  }
  EXPECT_EQ(heads, 1);
  EXPECT_EQ(blocks, shown);

  int frames = 0;
  std::vector<std::string> notes;
  const std::vector<std::int16_t> mix = MixedSound(output, frames, notes);
  EXPECT_TRUE(notes.empty()) << notes.front();
  // The movie lasts as long as the recording's clock ran: the grabs' span less the pause.
  ASSERT_GE(grabs.size(), 2u);
  std::uint64_t lastBeforePause = 0, firstAfterPause = 0;
  for (const TGrabTruth& g : grabs) {
    if (g.AtMs < kPauseAt + 100) lastBeforePause = g.AtMs;
    if (firstAfterPause == 0 && g.AtMs > kPauseAt + 100) firstAfterPause = g.AtMs;
  }
  const double origin = double(grabs.front().AtMs);
  const double paused = double(firstAfterPause - lastBeforePause) - kFramePeriodMs;
  const double clockMs = double(grabs.back().AtMs) - origin - paused;
  EXPECT_NEAR(frames * 1000.0 / 12, clockMs, 1000.0 / 12) << "frames follow the clock";
  EXPECT_NEAR(double(mix.size() / 2) * 1000 / kMixRate, frames * 1000.0 / 12, 1)
      << "the sound lasts as long as the frames";

  // Every marker heard where the clock puts it, the one in the pause not at all.
  std::vector<double> expected;
  for (const std::uint64_t at : kMarkers) {
    if (at >= kPauseAt && at < kResumeAt) continue;
    expected.push_back(double(at) - origin - (at >= kResumeAt ? paused : 0));
  }
  const std::vector<double> heard = Silences(mix, 80);
  ASSERT_EQ(heard.size(), expected.size());
  for (std::size_t i = 0; i < heard.size(); ++i) {
    EXPECT_NEAR(heard[i], expected[i], 1000.0 / 12) << "marker " << i << " of " << heard.size();
    // The recording's own error, far inside a frame: the clock's whole milliseconds, the
    // coders' frames, and the drift the timeline lets stand.
    EXPECT_NEAR(heard[i], expected[i], 8) << "marker " << i;
  }
}

const TSyncCase kSyncCases[] = {
    {"PcmStereo44100", TSoundEncoding::Pcm, 44100, 2, 0, 0},
    {"AdpcmMono22050ASlowCardLate", TSoundEncoding::Adpcm, 22050, 1, -400, 45},
    {"Mp3Stereo44100AFastCardLate", TSoundEncoding::Mp3, 44100, 2, 400, 70},
    {"Mp3Mono22050", TSoundEncoding::Mp3, 22050, 1, 0, 20},
};
INSTANTIATE_TEST_SUITE_P(Cases, SoundSync, ::testing::ValuesIn(kSyncCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A recording left in its folder (discarded, or cut off by a crash) and joined later by recover
// keeps its sound: the same join takes the segments' streams onto the movie's timeline.
class SoundRecovered : public TempHome {};

TEST_F(SoundRecovered, TheJoinOfALeftRecordingKeepsItsSound) {
  TSimConfig config;
  config.Width = 64;
  config.Height = 48;
  config.TimeLimitMs = 60000;
  config.Tone.Markers = {{4000, 120}, {14000, 120}};
  TSimDesktop desktop(config);
  TPosixFileLocations files;
  desktop.SetFiles(&files);
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Sound.Input = TSoundInput::System;
  options.Sound.Coding = TSoundEncoding::Adpcm;
  TRecordingSession session(desktop.Platform(), options);
  struct TDiscarder : TSessionObserver {
    TRecordingSession* S = nullptr;
    TClock* C = nullptr;
    std::uint32_t Start = 0;
    void Started() override { Start = C->TickCount(); }
    void Pump() override {
      if (C->TickCount() - Start >= 16000) S->Discard();
    }
  } user;
  user.S = &session;
  user.C = desktop.Platform().Clock;
  session.SetObserver(&user);
  session.Start(TCaptureTarget::FullScreen());
  ASSERT_TRUE(Exists(session.RecordingFolder)) << "a discarded recording is left for recovery";
  const std::string output = Dir + "/recovered.swf";
  const TFolderJoin join = JoinRecordingFolder(session.RecordingFolder, output, {}, 64, 48, {}, "");
  EXPECT_TRUE(join.Warnings.empty()) << join.Warnings.front();
  int frames = 0;
  std::vector<std::string> notes;
  const std::vector<std::int16_t> mix = MixedSound(output, frames, notes);
  EXPECT_NEAR(frames / 12.0, 16, 0.3);
  const std::vector<double> heard = Silences(mix, 80);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_NEAR(heard[1] - heard[0], 10000, 10) << "across the segments, in step";
}

class SoundRefused : public TempHome {};

TEST_F(SoundRefused, TheRecordingGoesOnSilentAndSaysWhy) {
  TSimConfig config;
  config.Width = 64;
  config.Height = 48;
  config.TimeLimitMs = 20000;
  config.Tone.OpenFails = "no sound server is running";
  TSimDesktop desktop(config);
  TPosixFileLocations files;
  desktop.SetFiles(&files);
  std::ostringstream diagnostics;
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Sound.Input = TSoundInput::Microphone;
  options.Diagnostics = &diagnostics;
  TRecordingSession session(desktop.Platform(), options);
  struct TStopper : TSessionObserver {
    TRecordingSession* S;
    std::string Out;
    TClock* C;
    std::uint32_t Start = 0;
    void Started() override { Start = C->TickCount(); }
    void Pump() override {
      if (C->TickCount() - Start >= 3000) S->Stop(Out);
    }
  } stopper;
  stopper.S = &session;
  stopper.Out = Dir + "/silent.swf";
  stopper.C = desktop.Platform().Clock;
  session.SetObserver(&stopper);
  const TSessionResult result = session.Start(TCaptureTarget::FullScreen());
  ASSERT_TRUE(result.Saved) << result.Problem;
  EXPECT_NE(diagnostics.str().find("no sound is recorded: no sound server is running"),
            std::string::npos)
      << diagnostics.str();
  TSWFStreamReader reader;
  reader.LoadFromFile(stopper.Out);
  reader.ParseTags(false);
  for (const auto& info : reader.TagList) EXPECT_NE(info->TagID, 45) << "no sound, no head";
}

}  // namespace
}  // namespace kestrova::test
