// The whole-buffer zlib writer and reader: both writers, every level, and damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "swftools/Deflate.h"
#include "swftools/ZStream.h"

namespace kestrova {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sample() {
  Bytes b(100000);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>((i / 7) ^ (i % 13));
  return b;
}

TEST(Deflate, EveryWriterAndLevelGivesAStreamZlibInflates) {
  const Bytes input = Sample();
  for (TDeflateWriter writer : {TDeflateWriter::Zlib, TDeflateWriter::Libdeflate}) {
    for (int level : {-1, 0, 1, 6, 9}) {
      Bytes packed = {0xAA};  // compressing appends
      ZlibCompress(input.data(), input.size(), packed, level, writer);
      EXPECT_EQ(packed[0], 0xAA);
      EXPECT_EQ(packed[1], 0x78) << "zlib header";
      EXPECT_EQ(ZlibDecompress(packed.data() + 1, packed.size() - 1, input.size()), input)
          << DeflateWriterName(writer) << " level " << level;
      if (level != 0) {
        EXPECT_LT(packed.size(), input.size() / 4);
      }
    }
    Bytes empty;
    ZlibCompress(nullptr, 0, empty, -1, writer);
    EXPECT_TRUE(ZlibDecompress(empty.data(), empty.size(), 0).empty());
  }
}

TEST(Deflate, LevelsOutsideZlibsAreRefused) {
  Bytes out;
  EXPECT_THROW(ZlibCompress("a", 1, out, 10), std::invalid_argument);
  EXPECT_THROW(ZlibCompress("a", 1, out, -2), std::invalid_argument);
}

TEST(Deflate, DamagedCutOversizedOrTrailingDataFails) {
  const Bytes input = Sample();
  Bytes packed;
  ZlibCompress(input.data(), input.size(), packed);
  EXPECT_THROW(ZlibDecompress(packed.data(), packed.size(), input.size() - 1), EZlibError);
  EXPECT_THROW(ZlibDecompress(packed.data(), packed.size() / 2, input.size()), EZlibError);
  Bytes trailing = packed;
  trailing.push_back(0);
  EXPECT_THROW(ZlibDecompress(trailing.data(), trailing.size(), input.size()), EZlibError);
  Bytes damaged = packed;
  damaged[0] = 0x12;
  EXPECT_THROW(ZlibDecompress(damaged.data(), damaged.size(), input.size()), EZlibError);
  Bytes checksum = packed;
  checksum.back() ^= 1;
  EXPECT_THROW(ZlibDecompress(checksum.data(), checksum.size(), input.size()), EZlibError);
  EXPECT_THROW(ZlibDecompress(nullptr, 0, 10), EZlibError);
}

}  // namespace
}  // namespace kestrova
