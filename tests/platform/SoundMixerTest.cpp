#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/SoundMixer.h"

namespace kestrova::platform {
namespace {

constexpr TSoundFormat kMono8k{8000, 1};  // one frame is 125 us: easy to place by hand

std::vector<std::int16_t> Constant(std::size_t frames, std::int16_t value, int channels = 1) {
  return std::vector<std::int16_t>(frames * static_cast<std::size_t>(channels), value);
}

TSoundMixer MakeMixer(std::size_t streams, std::size_t capacity = 80000, std::int64_t lag = 300000,
                      std::int64_t resync = 100000) {
  TSoundMixer::TLimits limits;
  limits.CapacityFrames = capacity;
  limits.LagMicros = lag;
  limits.ResyncMicros = resync;
  return TSoundMixer(streams, kMono8k, limits);
}

// Pushes frames of value for stream, ending (last frame) at lastMicros.
void PushConstant(TSoundMixer& m, std::size_t stream, std::size_t frames, std::int16_t value,
                  std::int64_t lastMicros) {
  const auto data = Constant(frames, value);
  m.Push(stream, data.data(), frames, lastMicros);
}

TEST(SoundTicks, MicrosBecomeWrappingMilliseconds) {
  struct TCase {
    std::int64_t Micros;
    std::uint32_t Tick;
  } cases[] = {
      {0, 0},
      {999, 0},
      {1000, 1},
      {4294967295999LL, 4294967295U},  // the last millisecond before the wrap
      {4294967296000LL, 0},            // 2^32 ms: the tick wraps as a 32-bit counter does
      {4294967296123456LL, 123U},
      {-1, 4294967295U},  // just before the clock's origin is the tick before 0
  };
  for (const TCase& c : cases) EXPECT_EQ(TickOfMicros(c.Micros), c.Tick) << c.Micros;
}

// A stream captured at 48 kHz in 10 ms fragments, each handed over latency plus some delay after
// its last frame was captured; the clock's estimate is compared with the true capture time.
TEST(CaptureClock, DatesFramesByTheEarliestArrivalAndTheSmallestLatency) {
  struct TCase {
    const char* What;
    double Drift;            // the device's clock against the monotonic one
    std::int64_t Latency;    // the device's latency, as the server reports it
    std::int64_t Spike;      // a bad report every 50 fragments (0: none)
    std::int64_t Tolerance;  // micros, once a window has passed
  } cases[] = {
      {"steady", 0.0, 5000, 0, 200},
      {"latency reports that jump up", 0.0, 5000, 400000, 200},
      {"latency reports below zero count as none", 0.0, 0, -60000, 200},
      {"a device clock 0.1% slow is followed", 0.001, 5000, 0, 5500},
      {"a device clock 0.1% fast is followed", -0.001, 5000, 0, 200},
  };
  const std::int32_t rate = 48000;
  const std::size_t fragment = 480;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TCaptureClock clock(rate);
    const std::int64_t t0 = 7000000000LL;
    std::int64_t worst = 0;
    for (std::size_t i = 1; i <= 2000; ++i) {  // 20 s
      const double lastFrame = static_cast<double>(i * fragment - 1);
      const auto truth = t0 + static_cast<std::int64_t>(lastFrame * 1e6 / rate * (1.0 + c.Drift));
      // Up to 12 ms of delivery jitter, none on every seventh fragment.
      const std::int64_t jitter = i % 7 == 0 ? 0 : static_cast<std::int64_t>((i * 7919) % 12000);
      const std::int64_t reported = c.Spike != 0 && i % 50 == 0 ? c.Spike : c.Latency;
      const std::int64_t estimate = clock.Arrived(fragment, truth + c.Latency + jitter, reported);
      EXPECT_LE(estimate, truth + c.Latency + jitter) << "dated after it arrived, fragment " << i;
      if (i > 600) worst = std::max(worst, std::abs(estimate - truth));
    }
    EXPECT_LE(worst, c.Tolerance);
  }
}

TEST(SoundMixer, OneStreamPassesThroughAndItsEndTickFollowsTheCaptureClock) {
  TSoundMixer m = MakeMixer(1);
  std::vector<std::int16_t> first(80), second(80);
  for (std::size_t i = 0; i < 80; ++i) {
    first[i] = static_cast<std::int16_t>(i);
    second[i] = static_cast<std::int16_t>(1000 + i);
  }
  const std::int64_t t0 = 5000000;
  m.Push(0, first.data(), 80, t0);
  // The device's clock runs slow against the monotonic clock: the second packet is dated 5 ms
  // later than its sample count says. Nothing is moved, but the end tick tells.
  m.Push(0, second.data(), 80, t0 + 80 * 125 + 5000);
  std::vector<std::int16_t> out;
  const TSoundRead r = m.Take(out);
  ASSERT_EQ(r.Frames, 160u);
  std::vector<std::int16_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(out, expected);
  EXPECT_EQ(r.EndTick, TickOfMicros(t0 + 80 * 125 + 5000));
  EXPECT_EQ(m.Take(out).Frames, 0u);
}

TEST(SoundMixer, EndTickWrapsWithTheClock) {
  TSoundMixer m = MakeMixer(1);
  const std::int64_t nearWrap = 4294967296000LL - 3000;  // 3 ms before 2^32 ms
  PushConstant(m, 0, 80, 1, nearWrap);                   // 10 ms of sound
  PushConstant(m, 0, 80, 1, nearWrap + 10000);           // the next 10 ms, past the wrap
  std::vector<std::int16_t> out;
  const TSoundRead r = m.Take(out);
  EXPECT_EQ(r.Frames, 160u);
  EXPECT_EQ(r.EndTick, 7u);
  EXPECT_EQ(static_cast<std::uint32_t>(r.EndTick - 4294967293U), 10u);
}

TEST(SoundMixer, TwoStreamsAreAddedWithClipping) {
  TSoundMixer m = MakeMixer(2);
  const std::vector<std::int16_t> a = {100, 30000, -30000, 5, 0, -32768, 32767, 1};
  const std::vector<std::int16_t> b = {-50, 10000, -10000, -5, 0, -1, 1, 1};
  const std::vector<std::int16_t> sum = {50, 32767, -32768, 0, 0, -32768, 32767, 2};
  m.Push(0, a.data(), a.size(), 1000000);
  std::vector<std::int16_t> out;
  EXPECT_EQ(m.Take(out).Frames, 0u) << "the other stream is waited for";
  m.Push(1, b.data(), b.size(), 1000000);
  const TSoundRead r = m.Take(out);
  EXPECT_EQ(out, sum);
  EXPECT_EQ(r.EndTick, 1000u);
}

TEST(SoundMixer, StreamsMeetWhereTheirCaptureTimesSay) {
  struct TCase {
    const char* What;
    std::int64_t SecondStartsLaterMicros;  // the second stream's first frame against the first's
    std::size_t SilentFrames;              // frames of the first stream alone at the start
  } cases[] = {
      {"together", 0, 0},
      {"second 10 ms later", 10000, 80},
      {"second 1 frame later", 125, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSoundMixer m = MakeMixer(2);
    const std::int64_t t0 = 2000000;
    PushConstant(m, 0, 400, 100, t0 + 399 * 125);
    PushConstant(m, 1, 400, 7, t0 + c.SecondStartsLaterMicros + 399 * 125);
    std::vector<std::int16_t> out;
    m.Take(out);
    ASSERT_GE(out.size(), 400u);
    for (std::size_t i = 0; i < 400; ++i) {
      ASSERT_EQ(out[i], i < c.SilentFrames ? 100 : 107) << "frame " << i;
    }
  }
}

TEST(SoundMixer, ALateStreamIsWaitedForUpToTheLagAndThenCountsAsSilent) {
  // Lag 50 ms = 400 frames. Stream 0 delivers 1 s; stream 1 nothing.
  TSoundMixer m = MakeMixer(2, 80000, 50000);
  const std::int64_t t0 = 1000000;
  PushConstant(m, 0, 8000, 10, t0 + 7999 * 125);
  std::vector<std::int16_t> out;
  TSoundRead r = m.Take(out);
  EXPECT_EQ(r.Frames, 8000u - 400u);
  EXPECT_EQ(r.EndTick, TickOfMicros(t0 + (8000 - 400 - 1) * 125));
  // Stream 1 now delivers the whole second late: the part already mixed without it is dropped,
  // the rest lands where its capture time says.
  PushConstant(m, 1, 8000, 1, t0 + 7999 * 125);
  out.clear();
  r = m.Take(out);
  ASSERT_EQ(r.Frames, 400u);
  for (std::int16_t v : out) ASSERT_EQ(v, 11);
}

TEST(SoundMixer, AFailedStreamHoldsNothingBack) {
  TSoundMixer m = MakeMixer(2);
  PushConstant(m, 0, 100, 3, 1000000);
  std::vector<std::int16_t> out;
  EXPECT_EQ(m.Take(out).Frames, 0u);
  m.EndStream(1);
  EXPECT_EQ(m.Take(out).Frames, 100u);
  PushConstant(m, 0, 100, 3, 1000000 + 100 * 125);
  EXPECT_EQ(m.Take(out).Frames, 100u);
  for (std::int16_t v : out) ASSERT_EQ(v, 3);
}

TEST(SoundMixer, AStreamThatJumpsIsPutBackOnItsTimeWhenMixing) {
  struct TCase {
    const char* What;
    std::int64_t JumpMicros;   // how far the second packet of stream 1 is from where it should be
    std::int64_t ShiftFrames;  // where its samples land against the plain continuation
  } cases[] = {
      {"jitter within the limit stays put", 30000, 0},
      {"a 200 ms dropout leaves silence", 200000, 1600},
      {"a 200 ms early stamp drops the overlap", -200000, -1600},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSoundMixer m = MakeMixer(2, 80000, 10000000, 100000);
    const std::int64_t t0 = 10000000;
    // Stream 0: a steady 1 (3 s); stream 1: 2000 frames of 0 then 2000 frames of 100.
    PushConstant(m, 0, 24000, 1, t0 + 23999 * 125);
    PushConstant(m, 1, 2000, 0, t0 + 1999 * 125);
    PushConstant(m, 1, 2000, 100, t0 + (3999 * 125) + c.JumpMicros);
    std::vector<std::int16_t> out;
    m.Take(out);
    // The first frame of 100 in the mix:
    std::int64_t first = -1;
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (out[i] == 101) {
        first = static_cast<std::int64_t>(i);
        break;
      }
    }
    const std::int64_t expected = c.ShiftFrames < 0 ? 2000 : 2000 + c.ShiftFrames;
    EXPECT_EQ(first, expected);
    // Whatever moved, the sound never overlaps itself: the 100s that land are contiguous.
    std::size_t loud = 0;
    for (std::int16_t v : out) loud += v == 101 ? 1 : 0;
    EXPECT_EQ(static_cast<std::int64_t>(loud), c.ShiftFrames < 0 ? 2000 + c.ShiftFrames : 2000);
  }
}

TEST(SoundMixer, TheBufferKeepsTheNewestAndCountsWhatItDropped) {
  TSoundMixer m = MakeMixer(1, 1000);
  std::vector<std::int16_t> ramp(2500);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i);
  const std::int64_t t0 = 3000000;
  m.Push(0, ramp.data(), 1200, t0 + 1199 * 125);
  m.Push(0, ramp.data() + 1200, 1300, t0 + 2499 * 125);  // more than the whole buffer at once
  std::vector<std::int16_t> out;
  const TSoundRead r = m.Take(out);
  ASSERT_EQ(r.Frames, 1000u);
  EXPECT_EQ(out.front(), 1500);
  EXPECT_EQ(out.back(), 2499);
  EXPECT_EQ(m.DroppedFrames(), 1500u);
  EXPECT_EQ(r.EndTick, TickOfMicros(t0 + 2499 * 125));
}

TEST(SoundMixer, AHugeGapCostsNoMoreThanTheBuffer) {
  TSoundMixer m = MakeMixer(2, 800);
  PushConstant(m, 0, 10, 1, 1000000);
  PushConstant(m, 1, 10, 1, 1000000);
  // Stream 1 comes back a day later: the silence it would need is capped by the buffer.
  PushConstant(m, 1, 10, 1, 1000000 + 86400LL * 1000000);
  PushConstant(m, 0, 10, 1, 1000000 + 86400LL * 1000000);
  std::vector<std::int16_t> out;
  m.Take(out);
  EXPECT_LE(out.size(), 800u);
  EXPECT_LE(m.BufferedFrames(), 800u);
}

TEST(SoundMixer, RejectsWhatItCannotMix) {
  TSoundMixer::TLimits limits;
  limits.CapacityFrames = 100;
  EXPECT_THROW(TSoundMixer(0, kMono8k, limits), std::invalid_argument);
  EXPECT_THROW(TSoundMixer(1, TSoundFormat{8000, 3}, limits), std::invalid_argument);
  limits.CapacityFrames = 0;
  EXPECT_THROW(TSoundMixer(1, kMono8k, limits), std::invalid_argument);
}

// --- conversion ---------------------------------------------------------------------------

template <class T>
std::vector<unsigned char> Bytes(const std::vector<T>& values) {
  std::vector<unsigned char> bytes(values.size() * sizeof(T));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

TEST(SoundConverter, SampleTypesAndChannels) {
  struct TCase {
    const char* What;
    TDeviceFormat From;
    TSoundFormat To;
    std::vector<unsigned char> Input;
    std::size_t Frames;
    std::vector<std::int16_t> Expected;
  } cases[] = {
      {"float stereo, clipped",
       {8000, 2, TSampleType::Float32},
       {8000, 2},
       Bytes<float>({0.5f, -0.5f, 1.5f, -1.5f, 0.0f, NAN}),
       3,
       {16384, -16384, 32767, -32768, 0, 0}},
      {"float stereo to mono takes the mean",
       {8000, 2, TSampleType::Float32},
       {8000, 1},
       Bytes<float>({0.5f, 0.25f, -1.0f, 1.0f}),
       2,
       {12288, 0}},
      {"int16 mono to stereo repeats it",
       {8000, 1, TSampleType::Int16},
       {8000, 2},
       Bytes<std::int16_t>({7, -9}),
       2,
       {7, 7, -9, -9}},
      {"int32 keeps the top 16 bits",
       {8000, 1, TSampleType::Int32},
       {8000, 1},
       Bytes<std::int32_t>({0x12345678, -65536}),
       2,
       {0x1234, -1}},
      {"six channels: front left and right",
       {8000, 6, TSampleType::Int16},
       {8000, 2},
       Bytes<std::int16_t>({1, 2, 3, 4, 5, 6, 10, 20, 30, 40, 50, 60}),
       2,
       {1, 2, 10, 20}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSoundConverter conv(c.From, c.To);
    std::vector<std::int16_t> out;
    EXPECT_EQ(conv.Convert(c.Input.data(), c.Frames, out), c.Frames);
    EXPECT_EQ(out, c.Expected);
    out.clear();
    EXPECT_EQ(conv.Convert(nullptr, 2, out), 2u) << "a hole is silence";
    EXPECT_EQ(out, std::vector<std::int16_t>(2u * static_cast<std::size_t>(c.To.Channels), 0));
  }
}

TEST(SoundConverter, ResamplingKeepsPitchLengthAndIgnoresPacketBoundaries) {
  struct TCase {
    std::int32_t From, To;
  } cases[] = {{48000, 44100}, {48000, 22050}, {44100, 48000}, {16000, 44100}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.From) + " -> " + std::to_string(c.To));
    const std::size_t n = static_cast<std::size_t>(c.From);  // one second
    std::vector<float> tone(n);
    for (std::size_t i = 0; i < n; ++i) {
      tone[i] =
          0.5f * static_cast<float>(std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / c.From));
    }
    const TDeviceFormat from{c.From, 1, TSampleType::Float32};
    TSoundConverter whole(from, {c.To, 1});
    std::vector<std::int16_t> once;
    whole.Convert(tone.data(), n, once);
    // The same second in packets of awkward sizes comes out sample for sample the same.
    TSoundConverter pieces(from, {c.To, 1});
    std::vector<std::int16_t> parts;
    for (std::size_t at = 0, k = 0; at < n; ++k) {
      const std::size_t size = std::min<std::size_t>(n - at, 1 + (k * 37) % 480);
      pieces.Convert(tone.data() + at, size, parts);
      at += size;
    }
    EXPECT_EQ(parts, once);
    EXPECT_NEAR(static_cast<double>(once.size()), c.To, 2.0);
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < once.size(); ++i) crossings += (once[i - 1] < 0) != (once[i] < 0);
    EXPECT_NEAR(static_cast<double>(crossings) / 2.0, 440.0, 1.0);
  }
}

TEST(SoundConverter, RejectsFormatsItCannotConvert) {
  EXPECT_THROW(TSoundConverter({48000, 0, TSampleType::Int16}, {44100, 1}), std::invalid_argument);
  EXPECT_THROW(TSoundConverter({48000, 33, TSampleType::Int16}, {44100, 1}), std::invalid_argument);
  EXPECT_THROW(TSoundConverter({0, 2, TSampleType::Int16}, {44100, 1}), std::invalid_argument);
  EXPECT_THROW(TSoundConverter({48000, 2, TSampleType::Int16}, {44100, 3}), std::invalid_argument);
}

}  // namespace
}  // namespace kestrova::platform
