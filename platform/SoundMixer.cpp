#include "platform/SoundMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace kestrova::platform {
namespace {

std::int32_t Clip16(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

std::int32_t SampleOf(const unsigned char* p, TSampleType type) {
  switch (type) {
    case TSampleType::Int16: {
      std::int16_t v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case TSampleType::Int32: {
      std::int32_t v;
      std::memcpy(&v, p, sizeof v);
      return v >> 16;
    }
    case TSampleType::Float32: {
      float v;
      std::memcpy(&v, p, sizeof v);
      if (!(v == v)) return 0;  // NaN from a broken driver is silence, not a click
      const double scaled = std::clamp(static_cast<double>(v) * 32768.0, -32768.0, 32767.0);
      return static_cast<std::int32_t>(std::lrint(scaled));
    }
  }
  return 0;
}

std::size_t BytesOf(TSampleType type) {
  return type == TSampleType::Int16 ? 2 : 4;
}

}  // namespace

TCaptureClock::TCaptureClock(std::int32_t rate, std::int64_t windowMicros)
    : FRate(rate), FWindow(windowMicros) {
  if (rate <= 0) throw std::invalid_argument("capture clock: the rate must be positive");
}

void TCaptureClock::Add(std::vector<TSample>& q, std::size_t& head, TSample s,
                        std::int64_t window) {
  while (q.size() > head && q.back().Value >= s.Value) q.pop_back();
  q.push_back(s);
  while (q.size() - head > 1 && q[head].At < s.At - window) ++head;
  // The dropped front is reclaimed now and then, so the queue stays as small as the window.
  if (head > 64 && head * 2 > q.size()) {
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(head));
    head = 0;
  }
}

std::int64_t TCaptureClock::Arrived(std::size_t frames, std::int64_t nowMicros,
                                    std::int64_t latencyMicros) {
  FFrames += frames;
  const auto sinceFirst =
      static_cast<std::int64_t>(FFrames * 1000000 / static_cast<std::uint64_t>(FRate));
  Add(FArrivals, FArrivalHead, {nowMicros, nowMicros - sinceFirst}, FWindow);
  Add(FLatencies, FLatencyHead, {nowMicros, std::max<std::int64_t>(latencyMicros, 0)}, FWindow);
  return FArrivals[FArrivalHead].Value + sinceFirst - FLatencies[FLatencyHead].Value;
}

TSoundConverter::TSoundConverter(const TDeviceFormat& from, const TSoundFormat& to)
    : FFrom(from), FTo(to) {
  if (from.Channels < 1 || from.Channels > 32 || from.Rate < 1000 || from.Rate > 768000) {
    throw std::invalid_argument("unsupported device sound format");
  }
  if ((to.Channels != 1 && to.Channels != 2) || to.Rate < 1000 || to.Rate > 768000) {
    throw std::invalid_argument("unsupported recording sound format");
  }
}

void TSoundConverter::ReadFrame(const void* data, std::size_t index, std::int32_t frame[2]) const {
  if (data == nullptr) {
    frame[0] = frame[1] = 0;
    return;
  }
  const std::size_t bytes = BytesOf(FFrom.Type);
  const auto* p = static_cast<const unsigned char*>(data) +
                  index * static_cast<std::size_t>(FFrom.Channels) * bytes;
  const std::int32_t left = SampleOf(p, FFrom.Type);
  const std::int32_t right = FFrom.Channels > 1 ? SampleOf(p + bytes, FFrom.Type) : left;
  if (FTo.Channels == 1) {
    frame[0] = (left + right) / 2;
  } else {
    frame[0] = left;
    frame[1] = right;
  }
}

std::size_t TSoundConverter::Convert(const void* data, std::size_t count,
                                     std::vector<std::int16_t>& out) {
  const std::size_t before = out.size();
  const int channels = FTo.Channels;
  const std::int64_t from = FFrom.Rate, to = FTo.Rate;
  for (std::size_t i = 0; i < count; ++i) {
    std::int32_t cur[2] = {0, 0};
    ReadFrame(data, i, cur);
    if (from == to) {
      for (int c = 0; c < channels; ++c) out.push_back(static_cast<std::int16_t>(cur[c]));
      continue;
    }
    if (!FHavePrev) {
      std::copy(cur, cur + 2, FPrev);
      FHavePrev = true;
      continue;
    }
    // Output frames fall every `from` units; an input frame is `to` units long.
    for (; FPhase < to; FPhase += from) {
      for (int c = 0; c < channels; ++c) {
        const std::int64_t v =
            FPrev[c] + (static_cast<std::int64_t>(cur[c]) - FPrev[c]) * FPhase / to;
        out.push_back(static_cast<std::int16_t>(Clip16(v)));
      }
    }
    FPhase -= to;
    std::copy(cur, cur + 2, FPrev);
  }
  return (out.size() - before) / static_cast<std::size_t>(channels);
}

TSoundMixer::TSoundMixer(std::size_t streams, const TSoundFormat& format, const TLimits& limits)
    : FStreams(streams),
      FChannels(static_cast<std::size_t>(format.Channels)),
      FRate(format.Rate),
      FLimits(limits) {
  if (streams == 0 || (format.Channels != 1 && format.Channels != 2) || format.Rate <= 0 ||
      limits.CapacityFrames == 0) {
    throw std::invalid_argument("sound mixer: no streams, or an unsupported format");
  }
}

std::int64_t TSoundMixer::FramesOfMicros(std::int64_t micros) const {
  // Rounded to the nearest frame; the products stay far from overflow for centuries of micros.
  const std::int64_t scaled = micros * FRate;
  return scaled >= 0 ? (scaled + 500000) / 1000000 : -((-scaled + 500000) / 1000000);
}

void TSoundMixer::AppendSilence(TStream& s, std::int64_t frames) {
  // A gap longer than the whole buffer would only be dropped again: stop there, so a stream that
  // comes back after hours costs no more memory than the buffer.
  frames = std::min<std::int64_t>(frames, static_cast<std::int64_t>(FLimits.CapacityFrames));
  if (frames <= 0) return;
  s.Fifo.insert(s.Fifo.end(), static_cast<std::size_t>(frames) * FChannels, 0);
  s.EndFrame += frames;
}

void TSoundMixer::Push(std::size_t stream, const std::int16_t* samples, std::size_t frames,
                       std::int64_t lastMicros) {
  if (stream >= FStreams.size() || frames == 0) return;
  if (frames > FLimits.CapacityFrames) {  // the older ones would be dropped anyway
    const std::size_t excess = frames - FLimits.CapacityFrames;
    if (samples != nullptr) samples += excess * FChannels;
    frames = FLimits.CapacityFrames;
    FDropped += excess;
  }
  TStream& s = FStreams[stream];
  if (s.Ended) return;
  const auto count = static_cast<std::int64_t>(frames);
  if (!FHaveOrigin) {
    FHaveOrigin = true;
    FOriginMicros = lastMicros - (count - 1) * 1000000 / FRate;
  }
  const std::int64_t start = FramesOfMicros(lastMicros - FOriginMicros) - (count - 1);
  std::int64_t target = s.EndFrame;
  if (!s.Started) {
    s.Started = true;
    target = start;
  } else if (FStreams.size() > 1 && FLimits.ResyncMicros > 0 &&
             std::abs(start - s.EndFrame) > FramesOfMicros(FLimits.ResyncMicros)) {
    target = start;
  }
  std::int64_t skip = 0;
  if (target > s.EndFrame) {
    AppendSilence(s, target - s.EndFrame);
    target = s.EndFrame;  // where the data really lands, the gap having been capped
  } else {
    skip = std::min(count, s.EndFrame - target);
  }
  if (skip < count) {
    const auto n = static_cast<std::size_t>(count - skip) * FChannels;
    if (samples == nullptr) {
      s.Fifo.insert(s.Fifo.end(), n, 0);
    } else {
      const std::int16_t* from = samples + static_cast<std::size_t>(skip) * FChannels;
      s.Fifo.insert(s.Fifo.end(), from, from + n);
    }
    s.EndFrame += count - skip;
  }
  FLastMicros = lastMicros;
  FLastFrame = target + count - 1;
  HoldBackLaggards();
  Mix();
}

void TSoundMixer::EndStream(std::size_t stream) {
  if (stream >= FStreams.size()) return;
  FStreams[stream].Ended = true;
  Mix();
}

void TSoundMixer::HoldBackLaggards() {
  if (FStreams.size() < 2) return;
  std::int64_t ahead = std::numeric_limits<std::int64_t>::min();
  for (const TStream& s : FStreams) {
    if (!s.Ended) ahead = std::max(ahead, s.EndFrame);
  }
  const std::int64_t floor = ahead - FramesOfMicros(FLimits.LagMicros);
  for (TStream& s : FStreams) {
    if (!s.Ended && s.EndFrame < floor) AppendSilence(s, floor - s.EndFrame);
  }
}

void TSoundMixer::Mix() {
  std::int64_t ready = std::numeric_limits<std::int64_t>::max();
  std::int64_t all = FOutFrame;
  bool anyLive = false;
  for (const TStream& s : FStreams) {
    all = std::max(all, s.EndFrame);
    if (!s.Ended) {
      ready = std::min(ready, s.EndFrame);
      anyLive = true;
    }
  }
  const std::int64_t n = (anyLive ? ready : all) - FOutFrame;
  if (n <= 0) return;
  const auto samples = static_cast<std::size_t>(n) * FChannels;
  if (FStreams.size() == 1) {
    TStream& s = FStreams[0];
    Keep(s.Fifo.data(), static_cast<std::size_t>(n));
    s.Fifo.erase(s.Fifo.begin(), s.Fifo.begin() + static_cast<std::ptrdiff_t>(samples));
  } else {
    std::vector<std::int32_t> sum(samples, 0);
    for (TStream& s : FStreams) {
      const std::size_t have = std::min(samples, s.Fifo.size());
      for (std::size_t i = 0; i < have; ++i) sum[i] += s.Fifo[i];
      s.Fifo.erase(s.Fifo.begin(), s.Fifo.begin() + static_cast<std::ptrdiff_t>(have));
    }
    std::vector<std::int16_t> mixed(samples);
    for (std::size_t i = 0; i < samples; ++i) mixed[i] = static_cast<std::int16_t>(Clip16(sum[i]));
    Keep(mixed.data(), static_cast<std::size_t>(n));
  }
  FOutFrame += n;
  // An ended stream left behind keeps the invariant that every queue starts at FOutFrame.
  for (TStream& s : FStreams) s.EndFrame = std::max(s.EndFrame, FOutFrame);
}

void TSoundMixer::Keep(const std::int16_t* samples, std::size_t frames) {
  FOut.insert(FOut.end(), samples, samples + frames * FChannels);
  const std::size_t limit = FLimits.CapacityFrames * FChannels;
  if (FOut.size() > limit) {
    const std::size_t excess = FOut.size() - limit;
    FOut.erase(FOut.begin(), FOut.begin() + static_cast<std::ptrdiff_t>(excess));
    FDropped += excess / FChannels;
  }
}

TSoundRead TSoundMixer::Take(std::vector<std::int16_t>& out) {
  TSoundRead read;
  if (FOut.empty()) return read;
  read.Frames = FOut.size() / FChannels;
  out.insert(out.end(), FOut.begin(), FOut.end());
  FOut.clear();
  const std::int64_t behind = FLastFrame - (FOutFrame - 1);
  read.EndTick = TickOfMicros(FLastMicros - behind * 1000000 / FRate);
  return read;
}

}  // namespace kestrova::platform
