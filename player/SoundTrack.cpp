#include "player/SoundTrack.h"

#include <algorithm>
#include <cmath>

#include "swfobjects/SWFObjects.h"

namespace kestrova {

namespace {

// The most sample frames of stream sound held ahead of the mix (a minute): a stream whose blocks
// carry more sound than their frames last is cut rather than growing without end.
constexpr std::size_t kMaxStreamAhead = std::size_t(kMixRate) * 60;

}  // namespace

TSoundTrack::TSoundTrack(double fps, std::FILE* out) : FFps(fps > 0 ? fps : 12), FOut(out) {}

TSoundTrack::~TSoundTrack() = default;

std::uint64_t TSoundTrack::SampleOf(int frame) const {
  return static_cast<std::uint64_t>(std::llround(frame * double(kMixRate) / FFps));
}

void TSoundTrack::Note(const std::string& text) {
  if (std::find(FNotes.begin(), FNotes.end(), text) == FNotes.end()) FNotes.push_back(text);
}

void TSoundTrack::SoundTag(const TSWFObject& tag, int frame) {
  switch (tag.TagID) {
    case 14:
      Define(tag);
      break;
    case 15:
      Start(tag, frame);
      break;
    case 18:
    case 45:
      StreamHead(tag);
      break;
    case 19:
      StreamBlock(tag, frame);
      break;
    default:
      break;
  }
}

void TSoundTrack::Define(const TSWFObject& tag) {
  const auto& def = static_cast<const TSWFDefineSound&>(tag);
  if (FSounds.count(def.SoundId)) return;
  const TSoundCoding coding{def.SoundFormat, def.SoundRate, def.SoundSize, def.SoundType};
  if (!SoundFormatDecoded(coding.Format)) {
    Note("sounds of format " + std::to_string(coding.Format) + " are not played");
    return;
  }
  auto decoded = std::make_shared<TDecoded>();
  try {
    // The decoded sound is counted before it is made: its data may claim hours.
    static const int kRates[4] = {5512, 11025, 22050, 44100};
    const double seconds = double(def.SoundSampleCount) / kRates[def.SoundRate & 3];
    const std::uint64_t claimed = static_cast<std::uint64_t>(seconds * kMixRate * 4) + (1 << 16);
    decoded->Claim = TBudgetClaim(TMediaBudget::Default(), claimed, "a decoded sound");
    TSoundDecoder decoder(coding);
    // The sample count is the length the author gave the sound, and the most it plays: a
    // decoder may give a little more (MP3 padding), and a damaged file may hold more.
    const std::size_t want = static_cast<std::size_t>(seconds * kMixRate) * 2;
    decoder.Feed(def.Data.data(), def.Data.size(), decoded->Samples, want);
  } catch (const std::exception& e) {
    Note("sound " + std::to_string(def.SoundId) + " is not played: " + e.what());
    if (decoded->Samples.empty()) return;
  }
  FSounds[def.SoundId] = std::move(decoded);
}

void TSoundTrack::Start(const TSWFObject& tag, int frame) {
  const auto& start = static_cast<const TSWFStartSound&>(tag);
  auto playing = [&](const TVoice& v) { return v.Id == start.SoundId; };
  if (start.SyncStop) {
    FVoices.erase(std::remove_if(FVoices.begin(), FVoices.end(), playing), FVoices.end());
    return;
  }
  if (start.SyncNoMultiple && std::any_of(FVoices.begin(), FVoices.end(), playing)) return;
  const auto found = FSounds.find(start.SoundId);
  if (found == FSounds.end()) return;  // said when it was defined, or never defined
  if (!start.EnvelopeRecords.empty()) Note("sound envelopes are not applied");
  TVoice v;
  v.Id = start.SoundId;
  v.Sound = found->second;
  const std::size_t frames = v.Sound->Samples.size() / 2;
  // In and out points count samples at 44 kHz, which is the mix rate.
  v.Begin = start.HasInPoint ? std::min<std::size_t>(start.InPoint(), frames) : 0;
  v.End = start.HasOutPoint ? std::min<std::size_t>(start.OutPoint(), frames) : frames;
  if (v.End <= v.Begin) return;
  v.At = v.Begin;
  v.LoopsLeft = start.HasLoops ? std::max<int>(1, start.LoopCount()) : 1;
  v.StartSample = SampleOf(frame);
  FVoices.push_back(std::move(v));
  FHasSound = true;
}

namespace {
const int kRates[4] = {5512, 11025, 22050, 44100};

// Where the sound of an MP3 block's frame starts in what its data decodes to.
std::uint16_t Mp3SeekSamples(const TSWFSoundStreamBlock& block) {
  if (block.StreamSoundCompression == 2) return block.SeekSamples;
  // Read from a file: the sample count and the seek stand before the MP3 frames.
  if (block.Data.size() < 4) return 0;
  return static_cast<std::uint16_t>(block.Data[2] | (block.Data[3] << 8));
}
}  // namespace

void TSoundTrack::StreamHead(const TSWFObject& tag) {
  const auto& head = static_cast<const TSWFSoundStreamHead&>(tag);
  FStreamCoding = {head.StreamSoundCompression, head.StreamSoundRate, head.StreamSoundSize,
                   head.StreamSoundType};
  FStream.reset();
  FStreamSamples.clear();
  FStreamStarted = false;
  if (!SoundFormatDecoded(FStreamCoding.Format)) {
    Note("stream sound of format " + std::to_string(FStreamCoding.Format) + " is not played");
    return;
  }
  FStream = std::make_unique<TSoundDecoder>(FStreamCoding);
  FStreamRate = kRates[FStreamCoding.RateCode & 3];
}

void TSoundTrack::StreamBlock(const TSWFObject& tag, int frame) {
  if (!FStream) return;
  const auto& block = static_cast<const TSWFSoundStreamBlock&>(tag);
  const std::uint64_t due = SampleOf(frame);
  // A block plays from its frame on: a stream that paused for some frames resumes in step.
  const std::uint64_t queuedEnd = FStreamAt + FStreamSamples.size() / 2;
  if (!FStreamSamples.empty() && queuedEnd + kMaxStreamAhead < due) {
    // Far behind (the track was not mixed frame by frame): what is queued would play late.
    FStreamSamples.clear();
  }
  // MP3 blocks carry whole MP3 frames, which need not end where the movie's frames do: a stream
  // a little behind its frames is in step, and silence put in would only move it out.
  const std::uint64_t slack = FStreamCoding.Format == 2 ? kMixRate / 4 : 0;
  if (!FStreamStarted) {
    FStreamAt = std::max(due, FNow);
    FStreamStarted = true;
    // MP3 decodes to the coders' delay before the frame's first sample: the first block says
    // how much to pass over, and the stream starts that far in.
    FStreamSkip = FStreamCoding.Format == 2
                      ? std::uint64_t(Mp3SeekSamples(block)) * kMixRate / FStreamRate
                      : 0;
  } else if (FStreamSamples.empty()) {
    FStreamAt = FStreamAt + slack < due ? std::max(due, FNow) : std::max(FStreamAt, FNow);
  } else if (queuedEnd + slack < due) {
    FStreamSamples.resize(FStreamSamples.size() + (due - queuedEnd) * 2, 0);
  }
  // A block read from a file keeps MP3's sample count and seek before the frames.
  const std::size_t skip =
      FStreamCoding.Format == 2 ? std::min<std::size_t>(4, block.Data.size()) : 0;
  try {
    FStream->Feed(block.Data.data() + skip, block.Data.size() - skip, FStreamSamples,
                  kMaxStreamAhead * 2);
    const std::size_t lead =
        static_cast<std::size_t>(std::min<std::uint64_t>(FStreamSkip, FStreamSamples.size() / 2));
    FStreamSamples.erase(FStreamSamples.begin(),
                         FStreamSamples.begin() + static_cast<std::ptrdiff_t>(lead * 2));
    FStreamSkip -= lead;
  } catch (const std::exception& e) {
    Note(std::string("the stream sound is damaged and stops: ") + e.what());
    FStream.reset();
  }
  FHasSound = true;
}

void TSoundTrack::MixTo(int frame) {
  const std::uint64_t target = SampleOf(frame);
  std::vector<std::int32_t> mix;
  std::vector<std::uint8_t> bytes;
  while (FNow < target) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(target - FNow, 8192));
    mix.assign(count * 2, 0);
    for (TVoice& v : FVoices) {
      std::size_t i = v.StartSample > FNow ? static_cast<std::size_t>(v.StartSample - FNow) : 0;
      while (i < count && v.LoopsLeft > 0) {
        const std::size_t n = std::min(count - i, v.End - v.At);
        const std::int16_t* src = v.Sound->Samples.data() + v.At * 2;
        for (std::size_t k = 0; k < n * 2; ++k) mix[i * 2 + k] += src[k];
        i += n;
        v.At += n;
        if (v.At >= v.End) {
          v.At = v.Begin;
          --v.LoopsLeft;
        }
      }
    }
    FVoices.erase(std::remove_if(FVoices.begin(), FVoices.end(),
                                 [](const TVoice& v) { return v.LoopsLeft <= 0; }),
                  FVoices.end());
    if (!FStreamSamples.empty() && FStreamAt < FNow + count) {
      const std::size_t offset = FStreamAt > FNow ? static_cast<std::size_t>(FStreamAt - FNow) : 0;
      const std::size_t n = std::min(count - offset, FStreamSamples.size() / 2);
      for (std::size_t k = 0; k < n * 2; ++k) mix[offset * 2 + k] += FStreamSamples[k];
      FStreamSamples.erase(FStreamSamples.begin(),
                           FStreamSamples.begin() + static_cast<std::ptrdiff_t>(n * 2));
      FStreamAt = FNow + offset + n;
    }
    bytes.resize(count * 4);
    for (std::size_t k = 0; k < count * 2; ++k) {
      const std::int32_t v = std::clamp(mix[k], -32768, 32767);
      bytes[k * 2] = static_cast<std::uint8_t>(v & 0xFF);
      bytes[k * 2 + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), FOut) != bytes.size()) {
      throw EPlayerError("the sound track cannot be written");
    }
    FNow += count;
  }
}

}  // namespace kestrova
