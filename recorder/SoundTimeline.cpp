#include "recorder/SoundTimeline.h"

#include <algorithm>
#include <cmath>

namespace kestrova {

TSoundTimeline::TSoundTimeline(std::int32_t rate, std::int32_t channels, std::uint32_t maxHeldMs)
    : FRate(std::max(rate, 1)),
      FChannels(std::clamp(channels, 1, 2)),
      FMaxHeld(std::uint64_t(maxHeldMs) * std::uint64_t(FRate) / 1000) {}

void TSoundTimeline::Place(const std::int16_t* samples, std::size_t frames, double endMs) {
  if (frames == 0) return;
  const auto ch = static_cast<std::size_t>(FChannels);
  // The piece's first sample frame, where the clock says it belongs.
  std::int64_t due = std::llround(endMs * FRate / 1000.0) + 1 - static_cast<std::int64_t>(frames);
  if (due < 0) {
    // Captured before the first frame: only the rest belongs to the recording.
    const std::uint64_t early = static_cast<std::uint64_t>(-due);
    if (early >= frames) {
      FStats.Dropped += frames;
      return;
    }
    FStats.Dropped += early;
    samples += early * ch;
    frames -= early;
    due = 0;
  }
  const std::int64_t error = due - static_cast<std::int64_t>(FEnd);
  FStats.LastError = error;
  const double errorMs = 1000.0 * double(error) / FRate;
  if (std::abs(errorMs) <= kToleranceMs) {
    Append(samples, frames);
  } else if (std::abs(errorMs) <= kStretchMs) {
    // The sound card's clock and the recording's part a little: this piece is stretched or
    // squeezed by the difference, sample frames repeated or left out evenly through it.
    const std::int64_t target = static_cast<std::int64_t>(frames) + error;
    if (target <= 0) {
      FStats.Dropped += frames;
      return;
    }
    std::vector<std::int16_t> stretched(static_cast<std::size_t>(target) * ch);
    for (std::size_t i = 0; i < static_cast<std::size_t>(target); ++i) {
      const std::size_t from = std::min<std::size_t>(
          frames - 1, static_cast<std::size_t>(i * double(frames) / double(target)));
      for (std::size_t c = 0; c < ch; ++c) stretched[i * ch + c] = samples[from * ch + c];
    }
    FStats.Stretched += static_cast<std::uint64_t>(std::abs(error));
    Append(stretched.data(), static_cast<std::size_t>(target));
  } else if (error > 0) {
    AppendSilence(static_cast<std::uint64_t>(error));
    Append(samples, frames);
  } else {
    const auto overlap = static_cast<std::size_t>(-error);
    if (overlap >= frames) {
      FStats.Dropped += frames;
      return;
    }
    FStats.Dropped += overlap;
    Append(samples + overlap * ch, frames - overlap);
  }
  Bound();
}

void TSoundTimeline::Append(const std::int16_t* samples, std::size_t frames) {
  FHeld.insert(FHeld.end(), samples, samples + frames * static_cast<std::size_t>(FChannels));
  FEnd += frames;
}

void TSoundTimeline::AppendSilence(std::uint64_t frames) {
  FStats.SilenceAdded += frames;
  // A gap longer than what may be held is not filled sample by sample: Bound would drop it.
  if (frames > FMaxHeld) {
    FHeld.clear();
    FEnd += frames;
    FBase = FEnd;
    return;
  }
  FHeld.insert(FHeld.end(), static_cast<std::size_t>(frames) * FChannels, 0);
  FEnd += frames;
}

void TSoundTimeline::Bound() {
  if (FEnd - FBase <= FMaxHeld) return;
  const std::uint64_t excess = FEnd - FBase - FMaxHeld;
  FStats.Dropped += excess;
  FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(excess * FChannels));
  FBase += excess;
}

void TSoundTimeline::Take(std::uint64_t from, std::uint64_t to, std::vector<std::int16_t>& out) {
  const auto ch = static_cast<std::size_t>(FChannels);
  for (std::uint64_t n = from; n < to; ++n) {
    if (n >= FBase && n < FEnd) {
      const std::size_t at = static_cast<std::size_t>(n - FBase) * ch;
      for (std::size_t c = 0; c < ch; ++c) out.push_back(FHeld[at + c]);
    } else {
      out.insert(out.end(), ch, 0);
      if (n >= FEnd) ++FStats.SilenceAdded;
    }
  }
  // What was taken is gone; the time up to `to` counts as filled.
  const std::uint64_t forget = std::min(std::max(to, FBase), FEnd) - FBase;
  FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(forget * ch));
  FBase += forget;
  if (FEnd < to) FEnd = FBase = to;
}

}  // namespace kestrova
