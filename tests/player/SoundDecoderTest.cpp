#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "player/Player.h"
#include "player/SoundDecoder.h"

namespace kestrova {
namespace {

const int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// A 4-bit mono ADPCM piece the usual way (the IMA encoder): the code size, then one packet.
std::vector<std::uint8_t> EncodeAdpcm4(const std::vector<std::int16_t>& s) {
  std::vector<std::uint8_t> out;
  int bits = 0;
  unsigned acc = 0;
  auto put = [&](unsigned v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1);
      if (++bits == 8) {
        out.push_back(std::uint8_t(acc));
        bits = 0;
        acc = 0;
      }
    }
  };
  put(2, 2);  // 4-bit codes
  int predicted = s[0], index = 20;
  put(std::uint16_t(s[0]), 16);
  put(unsigned(index), 6);
  for (std::size_t i = 1; i < s.size() && i < 4096; ++i) {
    const int step = kSteps[index];
    int diff = s[i] - predicted;
    unsigned code = 0;
    if (diff < 0) {
      code = 8;
      diff = -diff;
    }
    int delta = step >> 3;
    if (diff >= step) code |= 4, diff -= step, delta += step;
    if (diff >= step / 2) code |= 2, diff -= step / 2, delta += step >> 1;
    if (diff >= step / 4) code |= 1, delta += step >> 2;
    predicted = std::clamp(code & 8 ? predicted - delta : predicted + delta, -32768, 32767);
    index = std::clamp(index + kIndex4[code & 7], 0, 88);
    put(code, 4);
  }
  while (bits != 0) put(0, 1);
  return out;
}

TEST(SoundDecoder, AdpcmDecodesToTheSignalItWasMadeOf) {
  std::vector<std::int16_t> tone(4000);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = std::int16_t(10000 * std::sin(2 * M_PI * 441 * double(i) / 44100));
  }
  TSoundDecoder decoder({1, 3, true, false});
  std::vector<std::int16_t> out;
  const auto data = EncodeAdpcm4(tone);
  decoder.Feed(data.data(), data.size(), out);
  // Stereo pairs at 44100 Hz; the bits that pad the last byte may make one more sample (the
  // format has no count: an event sound's sample count cuts it).
  ASSERT_GE(out.size(), tone.size() * 2);
  ASSERT_LE(out.size(), tone.size() * 2 + 2);
  double error = 0;
  for (std::size_t i = 0; i < tone.size(); ++i) {
    EXPECT_EQ(out[2 * i], out[2 * i + 1]);
    error += std::abs(out[2 * i] - tone[i]);
  }
  // ADPCM follows the wave within a few percent of its amplitude.
  EXPECT_LT(error / double(tone.size()), 300);
}

TEST(SoundDecoder, PcmIsResampledAndCutPiecesJoin) {
  // 8-bit unsigned stereo at 11025 Hz, fed a byte at a time.
  TSoundDecoder decoder({3, 1, false, true});
  std::vector<std::int16_t> out;
  for (int i = 0; i < 1000; ++i) {
    const std::uint8_t b[2] = {std::uint8_t(i % 2 ? 255 : 128), 0};
    decoder.Feed(b, 1, out);
    decoder.Feed(b + 1, 1, out);
  }
  // 1000 frames at a quarter of the mix rate: about 4000 frames out.
  EXPECT_NEAR(double(out.size()) / 2, 4000, 4);
  EXPECT_EQ(out[1], -32768);  // right channel: 0 is the lowest level
  EXPECT_THROW(TSoundDecoder({6, 3, true, false}), EPlayerError);  // Nellymoser
}

// Every prefix of damaged data: the decoders stop at its end (the sanitizers see any read past
// it) and make no more sound than the bytes can hold.
TEST(SoundDecoder, DamagedAdpcmAndMp3EndWithinTheirData) {
  const std::uint8_t junk[7] = {0xFF, 0x00, 0xFF, 0xFB, 0x12, 0x34, 0x56};
  for (std::uint8_t format : {1, 2}) {
    if (!SoundFormatDecoded(format)) continue;
    for (std::size_t n = 0; n <= sizeof junk; ++n) {
      SCOPED_TRACE(std::to_string(format) + ": " + std::to_string(n) + " bytes");
      TSoundDecoder decoder({format, 3, true, true});
      std::vector<std::int16_t> out;
      try {
        decoder.Feed(junk, n, out);
      } catch (const EPlayerError&) {
      }
      // At least two bits a sample and channel, and one first sample a packet.
      EXPECT_LE(out.size(), 2 * (n * 8 / 4 + 1));
    }
  }
}

}  // namespace
}  // namespace kestrova
