#include "recorder/SoundEncoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "swfobjects/SoundTags.h"

#ifdef KESTROVA_HAVE_LAME
#include <lame/lame.h>
#endif

namespace kestrova {

namespace {

const int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kIndexStep4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr std::size_t kAdpcmPacket = 4096;

// Whether a piece of n sample frames leaves, after its last code, padding bits enough for one more
// code, which a player cannot tell from sound.
bool AdpcmAmbiguous(std::size_t n, int channels) {
  const auto ch = static_cast<std::uint64_t>(channels);
  std::uint64_t bits = 2;
  for (std::uint64_t left = n; left != 0;) {
    const std::uint64_t packet = std::min<std::uint64_t>(left, kAdpcmPacket);
    bits += 22 * ch + 4 * ch * (packet - 1);
    left -= packet;
  }
  return (8 - bits % 8) % 8 >= 4 * ch;
}

class TBitWriter {
 public:
  explicit TBitWriter(std::vector<std::uint8_t>& out) : FOut(out) {}
  void Write(unsigned value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (FUsed == 0) FOut.push_back(0);
      if ((value >> i) & 1u) FOut.back() |= static_cast<std::uint8_t>(0x80u >> FUsed);
      FUsed = (FUsed + 1) & 7;
    }
  }

 private:
  std::vector<std::uint8_t>& FOut;
  int FUsed = 0;  // bits of the last byte in use
};

struct TAdpcmState {
  int Sample = 0, Index = 0;
  // Picks the code whose decoding comes nearest to x, and decodes it exactly as a player does,
  // so that coder and player never part.
  unsigned Encode(int x) {
    const int step = kStepTable[Index];
    int diff = x - Sample;
    unsigned code = 0;
    if (diff < 0) {
      code = 8;
      diff = -diff;
    }
    int part = step;
    for (unsigned mask = 4; mask != 0; mask >>= 1, part >>= 1) {
      if (diff >= part) {
        code |= mask;
        diff -= part;
      }
    }
    int delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    Sample = std::clamp(code & 8 ? Sample - delta : Sample + delta, -32768, 32767);
    Index = std::clamp(Index + kIndexStep4[code & 7], 0, 88);
    return code;
  }
};

class TPcmEncoder : public TSoundEncoder {
 public:
  explicit TPcmEncoder(const platform::TSoundFormat& f) : TSoundEncoder(TSoundEncoding::Pcm, f) {}
  std::unique_ptr<TSWFSoundStreamBlock> Encode(const std::int16_t* samples, std::size_t frames,
                                               bool) override {
    auto block = std::make_unique<TSWFSoundStreamBlock>();
    block->StreamSoundCompression = 3;
    const std::size_t n = frames * static_cast<std::size_t>(Format().Channels);
    block->Data.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::uint16_t>(samples[i]);
      block->Data.push_back(static_cast<std::uint8_t>(v & 0xFF));
      block->Data.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return block;
  }
  std::unique_ptr<TSWFSoundStreamHead2> Head(double fps) const override {
    return BasicHead(3, fps);
  }
};

class TAdpcmEncoder : public TSoundEncoder {
 public:
  explicit TAdpcmEncoder(const platform::TSoundFormat& f)
      : TSoundEncoder(TSoundEncoding::Adpcm, f) {}
  std::unique_ptr<TSWFSoundStreamBlock> Encode(const std::int16_t* samples, std::size_t frames,
                                               bool final) override {
    const auto ch = static_cast<std::size_t>(Format().Channels);
    FPiece.assign(FHeld.begin(), FHeld.end());
    FPiece.insert(FPiece.end(), samples, samples + frames * ch);
    FHeld.clear();
    std::size_t n = FPiece.size() / ch;
    // A piece whose last byte keeps room for a whole code after its end is read by players as
    // one sample longer: such a piece gives its last sample to the next (the last piece of all
    // repeats it instead), so that every frame decodes to the samples it was given.
    if (n != 0 && AdpcmAmbiguous(n, Format().Channels)) {
      if (final) {
        FPiece.insert(FPiece.end(), FPiece.end() - static_cast<std::ptrdiff_t>(ch), FPiece.end());
      } else {
        FHeld.assign(FPiece.end() - static_cast<std::ptrdiff_t>(ch), FPiece.end());
        FPiece.resize(FPiece.size() - ch);
      }
      n = FPiece.size() / ch;
    }
    auto block = std::make_unique<TSWFSoundStreamBlock>();
    block->StreamSoundCompression = 1;
    if (n != 0) EncodeAdpcm4(FPiece.data(), n, Format().Channels, block->Data, FIndex);
    return block;
  }
  std::unique_ptr<TSWFSoundStreamHead2> Head(double fps) const override {
    return BasicHead(1, fps);
  }

 private:
  int FIndex[2] = {0, 0};
  std::vector<std::int16_t> FHeld, FPiece;  // a sample frame held back, and the piece coded
};

#ifdef KESTROVA_HAVE_LAME

// The length and sample count of the MPEG audio layer III frame whose header is at p, or 0 when
// no such header is there.
struct TMp3FrameInfo {
  std::size_t Length = 0;
  std::uint32_t Samples = 0;
};
TMp3FrameInfo Mp3Frame(const std::uint8_t* p, std::size_t size) {
  static const int kRates1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int kRates2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const int kFreq[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return {};
  const int version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
  const int rateIndex = p[2] >> 4, freqIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || freqIndex == 3) return {};
  const int freq = kFreq[version][freqIndex];
  const bool mpeg1 = version == 3;
  const int kbps = mpeg1 ? kRates1[rateIndex] : kRates2[rateIndex];
  TMp3FrameInfo info;
  info.Length = static_cast<std::size_t>((mpeg1 ? 144 : 72) * kbps * 1000 / freq + padding);
  info.Samples = mpeg1 ? 1152 : 576;
  return info;
}

class TMp3Encoder : public TSoundEncoder {
 public:
  TMp3Encoder(const TSoundOptions& options, std::int32_t kbps)
      : TSoundEncoder(TSoundEncoding::Mp3, options.Format), FLame(lame_init()) {
    if (FLame == nullptr) throw std::runtime_error("the MP3 encoder could not be started");
    const platform::TSoundFormat& f = options.Format;
    lame_set_in_samplerate(FLame, f.Rate);
    lame_set_out_samplerate(FLame, f.Rate);
    lame_set_num_channels(FLame, f.Channels);
    lame_set_mode(FLame, f.Channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(FLame, kbps);
    // Quality 7 costs a fraction of the default's time; a voice and a desktop's sounds lose
    // nothing one hears at these rates.
    lame_set_quality(FLame, 7);
    // No info frame ahead of the sound (a stream has no file to describe), and every frame
    // decodable by itself: a stream that starts at a segment or a part must not lean on the
    // bytes of frames a player never saw.
    lame_set_bWriteVbrTag(FLame, 0);
    lame_set_disable_reservoir(FLame, 1);
    if (lame_init_params(FLame) < 0) {
      lame_close(FLame);
      throw std::invalid_argument("the MP3 encoder refuses " + std::to_string(kbps) +
                                  " kbit/s at " + std::to_string(f.Rate) + " Hz");
    }
    // What a decoder puts before the first sample: the coder's own delay and the decoder's
    // synthesis filter (528 + 1 samples).
    FDelay = lame_get_encoder_delay(FLame) + 529;
  }
  ~TMp3Encoder() override { lame_close(FLame); }

  std::unique_ptr<TSWFSoundStreamBlock> Encode(const std::int16_t* samples, std::size_t frames,
                                               bool final) override {
    const std::size_t start = FPending.size();
    FPending.resize(start + frames * 5 / 4 + 7200);
    int n = 0;
    if (frames != 0) {
      auto* pcm = const_cast<short*>(reinterpret_cast<const short*>(samples));
      auto* out = FPending.data() + start;
      const int size = static_cast<int>(FPending.size() - start);
      n = Format().Channels == 2
              ? lame_encode_buffer_interleaved(FLame, pcm, static_cast<int>(frames), out, size)
              : lame_encode_buffer(FLame, pcm, pcm, static_cast<int>(frames), out, size);
    }
    FPending.resize(start + static_cast<std::size_t>(std::max(n, 0)));
    if (final) {
      const std::size_t at = FPending.size();
      FPending.resize(at + 7200);
      const int tail = lame_encode_flush(FLame, FPending.data() + at, 7200);
      FPending.resize(at + static_cast<std::size_t>(std::max(tail, 0)));
    }
    auto block = std::make_unique<TSWFSoundStreamBlock>();
    block->StreamSoundCompression = 2;
    // Where this frame's sound starts in what the decoder gives out, counted from the first
    // sample the block's data decodes to.
    const std::int64_t seek = static_cast<std::int64_t>(FIn) + FDelay - std::int64_t(FOut);
    block->SeekSamples = static_cast<std::uint16_t>(std::clamp<std::int64_t>(seek, 0, 0xFFFF));
    TakeWholeFrames(*block);
    FIn += frames;
    return block;
  }

  std::unique_ptr<TSWFSoundStreamHead2> Head(double fps) const override {
    auto head = BasicHead(2, fps);
    head->LatencySeek = static_cast<std::int16_t>(FDelay);
    return head;
  }

 private:
  void TakeWholeFrames(TSWFSoundStreamBlock& block) {
    std::size_t at = 0;
    std::uint32_t samples = 0;
    while (true) {
      const TMp3FrameInfo info = Mp3Frame(FPending.data() + at, FPending.size() - at);
      if (info.Length == 0 || at + info.Length > FPending.size()) break;
      at += info.Length;
      samples += info.Samples;
    }
    block.Data.assign(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(at));
    FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(at));
    block.SampleCount = static_cast<std::uint16_t>(std::min<std::uint32_t>(samples, 0xFFFF));
    FOut += samples;
  }

  lame_t FLame;
  std::vector<std::uint8_t> FPending;  // coded bytes not yet in a block: a frame not yet whole
  std::uint64_t FIn = 0, FOut = 0;     // sample frames given to the coder, and in blocks
  int FDelay = 0;
};

#endif

}  // namespace

bool Mp3EncoderBuiltIn() {
#ifdef KESTROVA_HAVE_LAME
  return true;
#else
  return false;
#endif
}

const char* SoundEncodingName(TSoundEncoding coding) {
  switch (coding) {
    case TSoundEncoding::Mp3:
      return "mp3";
    case TSoundEncoding::Adpcm:
      return "adpcm";
    case TSoundEncoding::Pcm:
      return "pcm";
  }
  return "?";
}

std::int32_t DefaultMp3Kbps(const platform::TSoundFormat& format) {
  const std::int32_t perChannel = format.Rate >= 44100 ? 64 : format.Rate >= 22050 ? 32 : 24;
  return perChannel * std::max(1, format.Channels);
}

int SoundRateCode(std::int32_t rate) {
  switch (rate) {
    case 5512:
      return 0;
    case 11025:
      return 1;
    case 22050:
      return 2;
    case 44100:
      return 3;
    default:
      return -1;
  }
}

std::unique_ptr<TSWFSoundStreamHead2> TSoundEncoder::BasicHead(std::uint8_t compression,
                                                               double fps) const {
  auto head = std::make_unique<TSWFSoundStreamHead2>();
  const auto rate = static_cast<std::uint8_t>(SoundRateCode(FFormat.Rate));
  head->PlaybackSoundRate = head->StreamSoundRate = rate;
  head->PlaybackSoundSize = head->StreamSoundSize = true;
  head->PlaybackSoundType = head->StreamSoundType = FFormat.Channels == 2;
  head->StreamSoundCompression = compression;
  head->StreamSoundSampleCount =
      static_cast<std::uint16_t>(std::lround(FFormat.Rate / (fps > 0 ? fps : 12)));
  return head;
}

void EncodeAdpcm4(const std::int16_t* samples, std::size_t frames, int channels,
                  std::vector<std::uint8_t>& out, int index[2]) {
  TBitWriter bits(out);
  bits.Write(2, 2);  // codes of 4 bits
  const auto ch = static_cast<std::size_t>(channels);
  for (std::size_t begin = 0; begin < frames; begin += kAdpcmPacket) {
    const std::size_t end = std::min(frames, begin + kAdpcmPacket);
    TAdpcmState state[2];
    for (std::size_t c = 0; c < ch; ++c) {
      state[c].Sample = samples[begin * ch + c];
      state[c].Index = std::clamp(index[c], 0, 88);
      bits.Write(static_cast<std::uint16_t>(state[c].Sample), 16);
      bits.Write(static_cast<unsigned>(state[c].Index), 6);
    }
    for (std::size_t f = begin + 1; f < end; ++f) {
      for (std::size_t c = 0; c < ch; ++c) bits.Write(state[c].Encode(samples[f * ch + c]), 4);
    }
    for (std::size_t c = 0; c < ch; ++c) index[c] = state[c].Index;
  }
}

std::unique_ptr<TSoundEncoder> MakeSoundEncoder(const TSoundOptions& options) {
  const platform::TSoundFormat& f = options.Format;
  if (SoundRateCode(f.Rate) < 0) {
    throw std::invalid_argument("a movie carries sound at 5512, 11025, 22050 or 44100 Hz, not " +
                                std::to_string(f.Rate));
  }
  if (f.Channels != 1 && f.Channels != 2) {
    throw std::invalid_argument("sound has 1 or 2 channels, not " + std::to_string(f.Channels));
  }
  switch (options.Coding) {
    case TSoundEncoding::Pcm:
      return std::make_unique<TPcmEncoder>(f);
    case TSoundEncoding::Adpcm:
      return std::make_unique<TAdpcmEncoder>(f);
    case TSoundEncoding::Mp3:
      break;
  }
  if (f.Rate == 5512) throw std::invalid_argument("MP3 sound is not carried at 5512 Hz");
#ifdef KESTROVA_HAVE_LAME
  const std::int32_t kbps = options.Mp3Kbps > 0 ? options.Mp3Kbps : DefaultMp3Kbps(f);
  return std::make_unique<TMp3Encoder>(options, kbps);
#else
  throw std::runtime_error("this build has no MP3 encoder (libmp3lame was not found)");
#endif
}

}  // namespace kestrova
