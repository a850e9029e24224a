#include "player/SoundDecoder.h"

#include <algorithm>
#include <string>

#include "player/Player.h"

#ifdef KESTROVA_HAVE_MPG123
#include <mpg123.h>
#endif

namespace kestrova {

namespace {

const int kRates[4] = {5512, 11025, 22050, 44100};

// Brings frames at one rate to kMixRate by linear interpolation, across pieces.
class TResampler {
 public:
  explicit TResampler(int rate) : FStep(double(rate) / kMixRate) {}
  // stereo holds interleaved pairs at the source rate.
  void Push(const std::vector<std::int16_t>& stereo, std::vector<std::int16_t>& out,
            std::size_t maxOut) {
    if (FStep == 1.0) {
      const std::size_t room = maxOut > out.size() ? maxOut - out.size() : 0;
      out.insert(out.end(), stereo.begin(),
                 stereo.begin() + static_cast<std::ptrdiff_t>(std::min(room, stereo.size())));
      return;
    }
    for (std::size_t i = 0; i + 1 < stereo.size() && out.size() < maxOut; i += 2) {
      const int l = stereo[i], r = stereo[i + 1];
      if (!FHavePrevious) {
        FL = l;
        FR = r;
        FHavePrevious = true;
      }
      // Output positions between the previous source frame (0) and this one (1).
      while (FPosition < 1.0) {
        out.push_back(static_cast<std::int16_t>(FL + (l - FL) * FPosition));
        out.push_back(static_cast<std::int16_t>(FR + (r - FR) * FPosition));
        FPosition += FStep;
      }
      FPosition -= 1.0;
      FL = l;
      FR = r;
    }
  }

 private:
  double FStep;
  double FPosition = 0;
  bool FHavePrevious = false;
  int FL = 0, FR = 0;
};

// Reads bits most significant first; past the end it says so rather than reading on.
class TBitReader {
 public:
  TBitReader(const std::uint8_t* data, std::size_t size) : FData(data), FBits(size * 8) {}
  bool Has(std::size_t n) const { return FAt + n <= FBits; }
  unsigned Read(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++FAt) v = (v << 1) | ((FData[FAt / 8] >> (7 - FAt % 8)) & 1);
    return v;
  }

 private:
  const std::uint8_t* FData;
  std::size_t FBits, FAt = 0;
};

const int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Index changes by code magnitude, for codes of 2 to 5 bits.
const int kIndex2[2] = {-1, 2};
const int kIndex3[4] = {-1, -1, 2, 4};
const int kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
const int kIndex5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
const int* const kIndexTables[4] = {kIndex2, kIndex3, kIndex4, kIndex5};

struct TAdpcmChannel {
  int Sample = 0, Index = 0;
  void Decode(unsigned code, int bits) {
    const int magnitudeBits = bits - 1;
    const unsigned magnitude = code & ((1u << magnitudeBits) - 1);
    const int step = kStepTable[Index];
    int diff = step >> magnitudeBits;
    for (int i = 0; i < magnitudeBits; ++i) {
      if (magnitude & (1u << (magnitudeBits - 1 - i))) diff += step >> i;
    }
    Sample =
        std::clamp(code & (1u << magnitudeBits) ? Sample - diff : Sample + diff, -32768, 32767);
    Index = std::clamp(Index + kIndexTables[bits - 2][magnitude], 0, 88);
  }
};

// One ADPCM piece: a 2-bit code size, then packets of 4096 frames, each opening with every
// channel's first sample and step index.
void DecodeAdpcm(const std::uint8_t* data, std::size_t size, int channels,
                 std::vector<std::int16_t>& frames, std::size_t maxFrames) {
  TBitReader in(data, size);
  if (!in.Has(2)) return;
  const int bits = static_cast<int>(in.Read(2)) + 2;
  TAdpcmChannel ch[2];
  while (in.Has(22u * channels) && frames.size() / 2 < maxFrames) {
    for (int c = 0; c < channels; ++c) {
      ch[c].Sample = static_cast<std::int16_t>(in.Read(16));
      ch[c].Index = static_cast<int>(in.Read(6));
      ch[c].Index = std::min(ch[c].Index, 88);
    }
    auto emit = [&] {
      frames.push_back(static_cast<std::int16_t>(ch[0].Sample));
      frames.push_back(static_cast<std::int16_t>(ch[channels - 1].Sample));
    };
    emit();
    for (int n = 1; n < 4096 && in.Has(std::size_t(bits) * channels); ++n) {
      for (int c = 0; c < channels; ++c) ch[c].Decode(in.Read(bits), bits);
      emit();
    }
  }
}

}  // namespace

bool SoundFormatDecoded(std::uint8_t format) {
#ifdef KESTROVA_HAVE_MPG123
  if (format == 2) return true;
#endif
  return format == 0 || format == 1 || format == 3;
}

struct TSoundDecoder::TImpl {
  TSoundCoding Coding;
  std::unique_ptr<TResampler> Resampler;  // PCM and ADPCM at their own rate
  std::vector<std::uint8_t> Carry;        // a PCM frame cut between pieces
#ifdef KESTROVA_HAVE_MPG123
  mpg123_handle* Mp3 = nullptr;
  std::unique_ptr<TResampler> Mp3Resampler;
  int Mp3Channels = 1;
  ~TImpl() {
    if (Mp3) mpg123_delete(Mp3);
  }
  void FeedMp3(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
               std::size_t maxOut);
  void DrainMp3(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
                std::size_t maxOut);
#endif
  void FeedPcm(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
               std::size_t maxOut);
  void FeedPcmPiece(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
                    std::size_t maxOut);
};

TSoundDecoder::TSoundDecoder(const TSoundCoding& coding) : FImpl(std::make_unique<TImpl>()) {
  if (!SoundFormatDecoded(coding.Format)) {
    throw EPlayerError("sound format " + std::to_string(coding.Format) + " is not decoded");
  }
  FImpl->Coding = coding;
  FImpl->Resampler = std::make_unique<TResampler>(kRates[coding.RateCode & 3]);
#ifdef KESTROVA_HAVE_MPG123
  if (coding.Format == 2) {
    int error = MPG123_OK;
    FImpl->Mp3 = mpg123_new(nullptr, &error);
    if (!FImpl->Mp3) throw EPlayerError("the MP3 decoder cannot start");
    mpg123_param(FImpl->Mp3, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(FImpl->Mp3);
    for (long rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
      mpg123_format(FImpl->Mp3, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_feed(FImpl->Mp3) != MPG123_OK)
      throw EPlayerError("the MP3 decoder cannot start");
  }
#endif
}

TSoundDecoder::~TSoundDecoder() = default;

void TSoundDecoder::TImpl::FeedPcm(const std::uint8_t* data, std::size_t size,
                                   std::vector<std::int16_t>& out, std::size_t maxOut) {
  // In pieces, so the bytes held apart stay few whatever the data's size.
  constexpr std::size_t kPiece = 1 << 16;
  for (std::size_t at = 0; at < size && out.size() < maxOut; at += kPiece) {
    FeedPcmPiece(data + at, std::min(kPiece, size - at), out, maxOut);
  }
}

void TSoundDecoder::TImpl::FeedPcmPiece(const std::uint8_t* data, std::size_t size,
                                        std::vector<std::int16_t>& out, std::size_t maxOut) {
  const int channels = Coding.Stereo ? 2 : 1;
  const std::size_t frameBytes = std::size_t(channels) * (Coding.Bits16 ? 2 : 1);
  Carry.insert(Carry.end(), data, data + size);
  const std::size_t whole = Carry.size() / frameBytes;
  std::vector<std::int16_t> stereo;
  stereo.reserve(whole * 2);
  for (std::size_t f = 0; f < whole; ++f) {
    const std::uint8_t* p = Carry.data() + f * frameBytes;
    std::int16_t s[2];
    for (int c = 0; c < channels; ++c) {
      // Format 0 is the author's machine order, which was little-endian everywhere it was made.
      s[c] = Coding.Bits16 ? static_cast<std::int16_t>(p[2 * c] | (p[2 * c + 1] << 8))
                           : static_cast<std::int16_t>((int(p[c]) - 128) << 8);
    }
    stereo.push_back(s[0]);
    stereo.push_back(s[channels - 1]);
  }
  Carry.erase(Carry.begin(), Carry.begin() + static_cast<std::ptrdiff_t>(whole * frameBytes));
  Resampler->Push(stereo, out, maxOut);
}

#ifdef KESTROVA_HAVE_MPG123
void TSoundDecoder::TImpl::FeedMp3(const std::uint8_t* data, std::size_t size,
                                   std::vector<std::int16_t>& out, std::size_t maxOut) {
  // In pieces: the decoder keeps a copy of what it is fed.
  constexpr std::size_t kPiece = 1 << 16;
  for (std::size_t at = 0; at < size && out.size() < maxOut; at += kPiece) {
    DrainMp3(data + at, std::min(kPiece, size - at), out, maxOut);
  }
}

void TSoundDecoder::TImpl::DrainMp3(const std::uint8_t* data, std::size_t size,
                                    std::vector<std::int16_t>& out, std::size_t maxOut) {
  std::vector<std::uint8_t> buffer(1 << 15);
  const unsigned char* in = data;
  std::size_t inSize = size;
  for (;;) {
    std::size_t done = 0;
    const int rc = mpg123_decode(Mp3, in, inSize, buffer.data(), buffer.size(), &done);
    in = nullptr;
    inSize = 0;
    if (rc == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, encoding = 0;
      mpg123_getformat(Mp3, &rate, &channels, &encoding);
      Mp3Channels = channels == 2 ? 2 : 1;
      Mp3Resampler = std::make_unique<TResampler>(static_cast<int>(rate));
    }
    if (done > 0 && Mp3Resampler) {
      const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
      const std::size_t count = done / 2;
      std::vector<std::int16_t> stereo;
      stereo.reserve(count / Mp3Channels * 2);
      for (std::size_t i = 0; i + Mp3Channels <= count; i += Mp3Channels) {
        stereo.push_back(samples[i]);
        stereo.push_back(samples[i + Mp3Channels - 1]);
      }
      Mp3Resampler->Push(stereo, out, maxOut);
    }
    if (rc == MPG123_NEED_MORE || rc == MPG123_DONE || out.size() >= maxOut) return;
    if (rc == MPG123_ERR)
      throw EPlayerError(std::string("its MP3 data is damaged (") + mpg123_strerror(Mp3) + ")");
  }
}
#endif

void TSoundDecoder::Feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out,
                         std::size_t maxOut) {
  if (out.size() >= maxOut) return;
  switch (FImpl->Coding.Format) {
    case 1: {
      // Source frames enough for the room left, at the slowest rate's eightfold expansion.
      const std::size_t room = (maxOut - out.size()) / 2;
      const std::size_t sourceFrames =
          room / (kMixRate / kRates[FImpl->Coding.RateCode & 3]) + 4096;
      std::vector<std::int16_t> stereo;
      DecodeAdpcm(data, size, FImpl->Coding.Stereo ? 2 : 1, stereo, sourceFrames);
      FImpl->Resampler->Push(stereo, out, maxOut);
      break;
    }
#ifdef KESTROVA_HAVE_MPG123
    case 2:
      FImpl->FeedMp3(data, size, out, maxOut);
      break;
#endif
    default:
      FImpl->FeedPcm(data, size, out, maxOut);
      break;
  }
}

}  // namespace kestrova
