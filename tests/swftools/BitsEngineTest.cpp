#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>

#include "swftools/SWFTools.h"

namespace kestrova {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Written(const std::function<void(TBitsEngine&)>& write) {
  TMemoryStream m;
  TBitsEngine be(m);
  write(be);
  return m.Bytes();
}

struct GoldenCase {
  const char* what;
  std::function<void(TBitsEngine&)> write;
  Bytes expected;
};

TEST(BitsEngine, GoldenBytes) {
  const GoldenCase cases[] = {
      {"5 in 3 bits, 1 in 5 bits",
       [](TBitsEngine& be) {
         be.WriteBits(5u, 3);
         be.WriteBits(1u, 5);
         be.FlushLastByte();
       },
       {0xA1}},
      {"3 in 2 bits, flushed",
       [](TBitsEngine& be) {
         be.WriteBits(3u, 2);
         be.FlushLastByte(true);
       },
       {0xC0}},
      {"flush without write drops",
       [](TBitsEngine& be) {
         be.WriteBits(3u, 2);
         be.FlushLastByte(false);
       },
       {}},
      {"high bits dropped",
       [](TBitsEngine& be) {
         be.WriteBits(0xFFu, 4);
         be.FlushLastByte();
       },
       {0xF0}},
      {"32 bits straddling",
       [](TBitsEngine& be) {
         be.WriteBit(true);
         be.WriteBits(0x80000001u, 32);
         be.FlushLastByte();
       },
       {0xC0, 0x00, 0x00, 0x00, 0x80}},
      {"WriteByte keeps the bit field going",
       [](TBitsEngine& be) {
         be.WriteBit(true);
         be.WriteByte(0xFF);
         be.FlushLastByte();
       },
       {0xFF, 0x80}},
      {"WriteWord aligns first",
       [](TBitsEngine& be) {
         be.WriteBit(true);
         be.WriteWord(0x1234);
       },
       {0x80, 0x34, 0x12}},
      {"WriteDWord little-endian",
       [](TBitsEngine& be) { be.WriteDWord(0x12345678u); },
       {0x78, 0x56, 0x34, 0x12}},
      {"WriteRGB ignores pending bits",
       [](TBitsEngine& be) {
         be.WriteBit(true);
         be.WriteRGB(SWFRGB(1, 2, 3));
         be.FlushLastByte();
       },
       {0x01, 0x02, 0x03, 0x80}},
      {"WriteRGBA", [](TBitsEngine& be) { be.WriteRGBA(SWFRGBA(1, 2, 3, 4)); }, {1, 2, 3, 4}},
      {"RECT 0,11000,0,8000",
       [](TBitsEngine& be) {
         be.WriteRect(TSWFRectRec{0, 11000, 0, 8000});
       },
       {0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00}},
      {"RECT of zeros", [](TBitsEngine& be) { be.WriteRect(TSWFRectRec{}); }, {0x00}},
      {"RECT from TRect is normalised, not scaled",
       [](TBitsEngine& be) {
         be.WriteRect(TRect{0, 8000, 11000, 0});
       },
       {0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00}},
      {"RECT with -1: 2 bits",
       [](TBitsEngine& be) {
         be.WriteRect(TSWFRectRec{-1, 0, 0, 0});
       },
       {0x16 /* 00010 11 0 */, 0x00}},
      {"default MATRIX", [](TBitsEngine& be) { be.WriteMatrix(TSWFMatrixRec{}); }, {0x00}},
      {"MATRIX scale 1.0: count 18",
       [](TBitsEngine& be) { be.WriteMatrix(MakeMatrix(true, false, 65536, 65536, 0, 0, 0, 0)); },
       // 1 10010 then 0x10000 in 18 bits twice, 0 (no skew), 00000 translate
       {0xC9, 0x00, 0x00, 0x40, 0x00, 0x00}},
      {"MATRIX skew order: SkewY first",
       [](TBitsEngine& be) { be.WriteMatrix(MakeMatrix(false, true, 0, 0, 1, -1, 0, 0)); },
       // 0, 1, 00010, SkewY=-1 '11', SkewX=1 '01', 00000
       {0x45, 0xA0}},
      {"MATRIX translate 20,-20",
       [](TBitsEngine& be) { be.WriteMatrix(MakeMatrix(false, false, 0, 0, 0, 0, 20, -20)); },
       // 0 0 00110 010100 101100
       {0x0C, 0xA5, 0x80}},
      {"CXFORM no flags",
       [](TBitsEngine& be) { be.WriteColorTransform(TSWFColorTransformRec{}); },
       {0x00}},
      {"CXFORM only MultR=256",
       [](TBitsEngine& be) {
         TSWFColorTransformRec c;
         c.HasMult = true;
         c.MultR = 256;
         be.WriteColorTransform(c);
       },
       {0x69, 0x00, 0x00, 0x00, 0x00}},
      {"CXFORMWITHALPHA add only",
       [](TBitsEngine& be) {
         TSWFColorTransformRec c;
         c.HasAdd = c.HasAlpha = true;
         c.AddR = 1;
         c.AddA = -1;
         be.WriteColorTransform(c);
       },
       // 1 0 0010 01 00 00 11
       {0x89, 0x0C}},
      {"string plain", [](TBitsEngine& be) { be.WriteString("A\xE9"); }, {0x41, 0xE9, 0x00}},
      {"string to UTF-8",
       [](TBitsEngine& be) { be.WriteString("\xE9\x80", false, true); },
       {0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
      {"bytes with terminator, count 0 and negative",
       [](TBitsEngine& be) {
         const std::uint8_t d[] = {7, 8};
         be.WriteBytes(d, 2, true);
         be.WriteBytes(d, 0);
         be.WriteBytes(d, -5);
       },
       {7, 8, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Written(c.write), c.expected) << c.what;
  }
}

TEST(BitsEngine, ReadsBitsAndPrimitives) {
  TMemoryStream m(Bytes{0xE0, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 'h', 'i', 0, 'x', 'y', 0, 'z'});
  TBitsEngine be(m);
  EXPECT_EQ(be.ReadBits(0), 0u);
  EXPECT_EQ(m.Position(), 0u);
  EXPECT_EQ(be.ReadSBits(3), -1);
  EXPECT_EQ(be.ReadBits(5), 0u);
  EXPECT_EQ(be.ReadWord(), 0x1234);
  EXPECT_EQ(be.ReadDWord(), 0x12345678u);
  EXPECT_EQ(be.ReadString(), "hi");
  EXPECT_EQ(be.ReadFixedString(4), "xy");
  EXPECT_THROW(be.ReadString(), EStreamError);  // no terminator before the end
}

TEST(BitsEngine, ReadsTheGoldenRecords) {
  {
    TMemoryStream m(Bytes{0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0xAB});
    TBitsEngine be(m);
    EXPECT_EQ(be.ReadRect(), (TRect{0, 0, 11000, 8000}));
    EXPECT_EQ(be.ReadByte(), 0xAB);
  }
  {
    TMemoryStream m(Bytes{0x45, 0xA0});
    TBitsEngine be(m);
    EXPECT_EQ(be.ReadMatrix(), MakeMatrix(false, true, 0, 0, 1, -1, 0, 0));
  }
  {
    TMemoryStream m(Bytes{0x69, 0x00, 0x00, 0x00, 0x00});
    TBitsEngine be(m);
    TSWFColorTransformRec c = be.ReadColorTransform(false);
    EXPECT_TRUE(c.HasMult);
    EXPECT_FALSE(c.HasAdd);
    EXPECT_EQ(c.MultR, 256);
    EXPECT_EQ(m.Position(), 5u);
  }
}

TEST(BitsEngine, SeededRoundTripOfRecords) {
  std::mt19937 rng(20261210);
  auto value = [&](int bits) {
    // Symmetric: a count field announces widths from magnitudes, so -2^(bits-1) needs one more.
    std::uniform_int_distribution<std::int64_t> d(-(std::int64_t(1) << (bits - 1)) + 1,
                                                  (std::int64_t(1) << (bits - 1)) - 1);
    return static_cast<std::int32_t>(d(rng));
  };
  auto width = [&](int maxBits) { return std::uniform_int_distribution<int>(1, maxBits)(rng); };
  auto flag = [&] { return (rng() & 1) != 0; };
  for (int i = 0; i < 3000; ++i) {
    const int rb = width(31);
    const TSWFRectRec rect{value(rb), value(rb), value(rb), value(rb)};
    TSWFMatrixRec matrix;
    matrix.HasScale = flag();
    matrix.HasSkew = flag();
    const int mb = width(31);
    if (matrix.HasScale) matrix.ScaleX = value(mb), matrix.ScaleY = value(mb);
    if (matrix.HasSkew) matrix.SkewX = value(mb), matrix.SkewY = value(mb);
    matrix.TranslateX = value(width(31));
    matrix.TranslateY = value(width(31));
    TSWFColorTransformRec cx;
    cx.HasAdd = flag();
    cx.HasMult = flag();
    cx.HasAlpha = flag();
    const int cb = width(15);
    if (cx.HasAdd) {
      cx.AddR = value(cb), cx.AddG = value(cb), cx.AddB = value(cb);
      if (cx.HasAlpha) cx.AddA = value(cb);
    }
    if (cx.HasMult) {
      cx.MultR = value(cb), cx.MultG = value(cb), cx.MultB = value(cb);
      if (cx.HasAlpha) cx.MultA = value(cb);
    }
    const std::uint8_t odd = static_cast<std::uint8_t>(rng() % 8);
    TMemoryStream m;
    TBitsEngine w(m);
    w.WriteBits(0x5Au, odd);  // start off a byte boundary: records must flush before their end
    w.FlushLastByte();
    w.WriteRect(rect);
    w.WriteMatrix(matrix);
    w.WriteColorTransform(cx);
    m.SetPosition(0);
    TBitsEngine r(m);
    r.ReadBits(odd);
    r.FlushLastByte(false);
    const TRect back = r.ReadRect();
    ASSERT_EQ((TSWFRectRec{back.Left, back.Right, back.Top, back.Bottom}), rect) << i;
    ASSERT_EQ(r.ReadMatrix(), matrix) << i;
    ASSERT_EQ(r.ReadColorTransform(cx.HasAlpha), cx) << i;
    ASSERT_EQ(m.Position(), m.Size()) << i;
  }
}

TEST(BitsEngine, SeededRoundTripOfBitFields) {
  std::mt19937 rng(7);
  std::vector<std::pair<std::uint32_t, std::uint8_t>> fields;
  TMemoryStream m;
  TBitsEngine w(m);
  for (int i = 0; i < 20000; ++i) {
    const auto n = static_cast<std::uint8_t>(rng() % 33);
    const std::uint32_t v = n == 32 ? rng() : (rng() & ((1u << n) - 1));
    w.WriteBits(v, n);
    fields.emplace_back(v, n);
  }
  w.FlushLastByte();
  m.SetPosition(0);
  TBitsEngine r(m);
  for (const auto& [v, n] : fields) ASSERT_EQ(r.ReadBits(n), v);
}

TEST(BitsEngine, ReadingPastTheEndThrows) {
  TMemoryStream m(Bytes{0xFF});
  TBitsEngine be(m);
  EXPECT_THROW(be.ReadBits(9), EStreamError);
  TMemoryStream m2(Bytes{0x78, 0x00});  // a RECT that announces 15-bit fields
  TBitsEngine be2(m2);
  EXPECT_THROW(be2.ReadRect(), EStreamError);
}

TEST(FreeFunctions, BitCountsAndFixedPoint) {
  EXPECT_EQ(GetBitsCount(1, 1), 2);
  EXPECT_EQ(GetBitsCount(-1, 1), 2);
  EXPECT_EQ(GetBitsCount(-4, 1), 4);
  EXPECT_EQ(GetBitsCount(0, 1), 0);
  EXPECT_EQ(GetBitsCount(0u), 0);
  EXPECT_EQ(GetBitsCount(0x80000000u), 0);
  EXPECT_EQ(GetBitsCount(0x7FFFFFFFu), 31);
  EXPECT_EQ(MaxAbs(3, -7), 7u);
  EXPECT_EQ(MaxAbs(3, -7, 9, -10), 10u);
  EXPECT_TRUE(CheckBit(0x8000, 16));
  EXPECT_FALSE(CheckBit(0x10000, 17));
  EXPECT_TRUE(CheckBit(1, 1));
  EXPECT_EQ(SingleToWord(12), 0x0C00);
  EXPECT_EQ(SingleToWord(12.5f), 0x0C80);
  EXPECT_EQ(SingleToWord(0.999f), 0x0100);  // the rounded fraction carries
  EXPECT_FLOAT_EQ(WordToSingle(0x0C80), 12.5f);
  EXPECT_EQ(SingleToFixed(-0.5f), -32768);
  EXPECT_EQ(SingleToFixed(1.99999f), 131071);
  EXPECT_EQ(SWFRGB(0x00332211u), (TSWFRGBRec{0x11, 0x22, 0x33}));
  EXPECT_EQ(SWFRGBA(0x00332211u, 9), (TSWFRGBARec{0x11, 0x22, 0x33, 9}));
  EXPECT_EQ(RectToSWFRect(TRect{5, 6, 1, 2}, true), (TSWFRectRec{20, 100, 40, 120}));
}

TEST(ValueClasses, SettersKeepTheirInvariants) {
  TSWFRect r;
  r.SetXMax(20);
  r.SetXMin(10);
  r.SetXMax(5);
  EXPECT_EQ(r.XMin(), 5);
  EXPECT_EQ(r.XMax(), 10);
  r.SetRect(TRect{3, 9, 1, 2});
  EXPECT_EQ(r.GetRec(), (TSWFRectRec{1, 3, 2, 9}));

  TSWFRGBA noAlpha(false);
  EXPECT_EQ(noAlpha.A(), 255);
  TSWFRGBA withAlpha(true);
  EXPECT_EQ(withAlpha.A(), 0);
  noAlpha.SetA(128);
  EXPECT_TRUE(noAlpha.HasAlpha());
  noAlpha.SetRGB(SWFRGB(1, 2, 3));
  EXPECT_EQ(noAlpha.A(), 255);
  EXPECT_TRUE(noAlpha.HasAlpha());
  noAlpha.SetRGBA(0x80030201u);
  EXPECT_EQ(noAlpha.GetRGBA(), 0x80030201u);
  TSWFRGB plain;
  plain.SetRGB(SWFRGB(9, 8, 7));
  noAlpha.Assign(plain);
  EXPECT_EQ(noAlpha.GetRGBA(), 0xFF070809u);

  TSWFMatrix m;
  m.SetTranslate(5, 6);
  EXPECT_FALSE(m.HasScale);
  m.SetScaleY(2.0f);
  EXPECT_TRUE(m.HasScale);
  EXPECT_EQ(m.ScaleY(), 131072);
  m.SetSkew(0.5f, -0.5f);
  EXPECT_EQ(m.GetRec(), MakeMatrix(true, true, 0, 131072, 32768, -32768, 5, 6));

  TSWFColorTransform c;
  c.SetAddA(70000);  // truncated to 16 bits by GetRec
  EXPECT_TRUE(c.HasAdd);
  EXPECT_TRUE(c.HasAlpha);
  EXPECT_FALSE(c.HasMult);
  EXPECT_EQ(c.GetRec().AddA, static_cast<std::int16_t>(70000));
  c.SetMultR(256);
  TSWFColorTransformRec rec = c.GetRec();
  rec.HasAdd = false;
  TSWFColorTransform d;
  d.SetRec(rec);
  EXPECT_FALSE(d.HasAdd);
  EXPECT_TRUE(d.HasMult);
  EXPECT_EQ(d.MultR(), 256);
}

TEST(Cp1252, ConvertsEveryByteBothWays) {
  struct Row {
    unsigned char byte;
    const char* utf8;
  };
  const Row rows[] = {{0x80, "\u20AC"}, {0x82, "\u201A"}, {0x8A, "\u0160"}, {0x99, "\u2122"},
                      {0x9F, "\u0178"}, {0x81, "\u0081"}, {0x9D, "\u009D"}, {0xA0, "\u00A0"},
                      {0xE9, "\u00E9"}, {0xFF, "\u00FF"}, {0x41, "A"}};
  for (const auto& row : rows) {
    const std::string one(1, static_cast<char>(row.byte));
    EXPECT_EQ(Cp1252ToUtf8(one), row.utf8) << int(row.byte);
    EXPECT_EQ(Utf8ToCp1252(row.utf8), one) << int(row.byte);
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToCp1252("\u4E2D\xC3"), "??");  // no 1252 form; a cut sequence
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Values too wide for what a record's count field can announce saturate, so the record and
// everything after it stay readable.
TEST(BitsEngine, TooWideValuesSaturateInsteadOfCorruptingTheRecord) {
  TMemoryStream m;
  TBitsEngine w(m);
  w.WriteRect(TSWFRectRec{INT32_MIN, 1 << 30, 0, 5});
  w.WriteByte(0xAB);
  TSWFMatrix matrix;
  matrix.SetScale(16384.0f, 1.0f);
  matrix.SetTranslate(INT32_MAX, -7);
  w.WriteMatrix(matrix.GetRec());
  w.WriteByte(0xCD);
  TSWFColorTransformRec cx;
  cx.HasMult = true;
  cx.MultR = 20000;
  cx.MultG = -20000;
  w.WriteColorTransform(cx);
  w.WriteByte(0xEF);

  m.SetPosition(0);
  TBitsEngine r(m);
  EXPECT_EQ(r.ReadRect(), (TRect{-(1 << 30) + 1, 0, (1 << 30) - 1, 5}));
  EXPECT_EQ(r.ReadByte(), 0xAB);
  const TSWFMatrixRec back = r.ReadMatrix();
  EXPECT_EQ(back.ScaleX, (1 << 30) - 1);
  EXPECT_EQ(back.ScaleY, 65536);
  EXPECT_EQ(back.TranslateX, (1 << 30) - 1);
  EXPECT_EQ(back.TranslateY, -7);
  EXPECT_EQ(r.ReadByte(), 0xCD);
  const TSWFColorTransformRec cxBack = r.ReadColorTransform(false);
  EXPECT_EQ(cxBack.MultR, 16383);
  EXPECT_EQ(cxBack.MultG, -16383);
  EXPECT_EQ(r.ReadByte(), 0xEF);
}

TEST(FreeFunctions, NonFiniteAndHugeFloatsConvertWithoutUndefinedBehaviour) {
  EXPECT_EQ(SingleToFixed(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(SingleToWord(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(SingleToFixed(1e20f), INT32_MAX);
  EXPECT_EQ(SingleToFixed(-1e20f), INT32_MIN);
  SingleToWord(1e20f);  // wraps, as any value beyond 16 bits does; must not be undefined
  SingleToWord(-std::numeric_limits<float>::infinity());
}

TEST(Cp1252, OverlongAndSurrogateSequencesAreMalformed) {
  EXPECT_EQ(Utf8ToCp1252("a\xC0\x80"
                         "b\xC1\x81"),
            "a??b??");
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");  // a UTF-16 surrogate
  EXPECT_EQ(Utf8ToCp1252("\xE0\x81\x81"), "???");  // overlong three-byte form
}

}  // namespace
}  // namespace kestrova
